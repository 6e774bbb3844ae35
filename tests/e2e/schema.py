"""What a scenario file may say: every key the runner knows, and the fields it
needs. A key that is not here is a typo or a wish, never something to ignore:
the file is refused with the file and the field named."""
import json
import os

ANY = object()  # a value whose inside is not checked here (content, values, ...)

CONTENT_FILES = {"omit": [str], "files": ANY, "readonly": [str], "dirs": [str], "junctions": ANY}
REGISTRY_ENTRY = {"view": str, "key": str, "values": ANY, "delete": bool}
WINDOW = {"caption": str, "text": str, "richedit": str, "statics": [str], "buttons": [str], "default": str,
          "icon": ANY, "sysmenu": bool, "progress": ANY}
STARTED = {"module": str, "cmdline": str, "cwd": str, "files": [str]}
EXPECT = {"started": [STARTED], "windows": [WINDOW], "sequential": bool, "staging": ANY,
          "medium_absent": [str], "medium_present": [str], "second_launcher": ANY, "exit_within_ms": int,
          "registry": [{"view": str, "key": str, "values": ANY, "absent": bool}],
          "files": {"present": [str], "absent": [str]}}
SCENARIO = {
    "name": str, "medium": CONTENT_FILES, "medium_name": str, "medium_length": int, "temp_length": int,
    "launcher_name": str, "maint_dir": str, "second_launcher": int,
    "installed": {"version": ANY, "name": ANY, "uninstall": ANY},
    "engine": {"installed": str}, "follow": int,
    "maintenance": CONTENT_FILES, "staging_before": CONTENT_FILES, "registry": [REGISTRY_ENTRY],
    "windows": ANY, "native_first": ANY, "hosts": [str], "hosts_reason": str, "env": ANY, "cwd": str,
    "locale": str, "edition": str, "plan": ANY, "confirm": ANY, "answers": ANY, "timeout_ms": int, "expect": EXPECT,
}
REQUIRED = {"scenario": ["expect"], "expect": ["started"], "registry entry": ["view", "key"],
            "expected key": ["view", "key"]}
ANSWER = {"press": str, "do": str, "delay": int, "hold": int, "shot": str, "quiet": int}
HOSTS = ("wine", "windows")


def check(value, shape, where, errors):
    """Appends to errors every place where value does not have the shape."""
    if shape is ANY:
        return
    if isinstance(shape, dict):
        if not isinstance(value, dict):
            errors.append("%s: expected an object" % where)
            return
        for key, inner in value.items():
            if key not in shape:
                errors.append("%s: unknown key \"%s\"" % (where, key))
            else:
                check(inner, shape[key], "%s.%s" % (where, key), errors)
    elif isinstance(shape, list):
        if not isinstance(value, list):
            errors.append("%s: expected a list" % where)
            return
        for i, item in enumerate(value):
            check(item, shape[0], "%s[%d]" % (where, i), errors)
    elif shape is int:
        if not isinstance(value, int) or isinstance(value, bool):
            errors.append("%s: expected a number" % where)
    elif not isinstance(value, shape):
        errors.append("%s: expected %s" % (where, {str: "a text", bool: "true or false"}.get(shape, shape.__name__)))


def require(value, fields, where, errors):
    for field in fields:
        if isinstance(value, dict) and field not in value:
            errors.append("%s: missing required field \"%s\"" % (where, field))


def validate(sc, where):
    errors = []
    check(sc, SCENARIO, where, errors)
    if not isinstance(sc, dict):
        return errors
    require(sc, REQUIRED["scenario"], where, errors)
    expect = sc.get("expect")
    require(expect, REQUIRED["expect"], where + ".expect", errors)
    for i, e in enumerate(sc.get("registry", []) if isinstance(sc.get("registry"), list) else []):
        require(e, REQUIRED["registry entry"], "%s.registry[%d]" % (where, i), errors)
    if isinstance(expect, dict):
        for i, e in enumerate(expect.get("registry", []) if isinstance(expect.get("registry"), list) else []):
            require(e, REQUIRED["expected key"], "%s.expect.registry[%d]" % (where, i), errors)
    for i, a in enumerate(sc.get("answers", []) if isinstance(sc.get("answers"), list) else []):
        if isinstance(a, dict):
            check(a, ANSWER, "%s.answers[%d]" % (where, i), errors)
        elif not isinstance(a, str):
            errors.append("%s.answers[%d]: expected a text or an object" % (where, i))
    for h in sc.get("hosts", []) if isinstance(sc.get("hosts"), list) else []:
        if h not in HOSTS:
            errors.append("%s.hosts: unknown host \"%s\" (known: %s)" % (where, h, ", ".join(HOSTS)))
    if "hosts" in sc and "hosts_reason" not in sc:
        errors.append("%s: \"hosts\" needs a \"hosts_reason\"" % where)
    return errors


def load(path):
    """([(name, scenario), ...], [problems]) of one file: the file is one scenario,
    or holds a list of them under "scenarios" (each with a "name"), with an
    optional "about"."""
    try:
        data = json.load(open(path, encoding="utf-8"))
    except (OSError, ValueError) as e:
        return [], ["cannot be read as JSON: %s" % e]
    stem = os.path.splitext(os.path.basename(path))[0]
    if not isinstance(data, dict):
        return [], ["expected an object at the top"]
    if "scenarios" not in data:
        return [(stem, data)], validate(data, stem)
    errors = ["unknown key \"%s\" beside \"scenarios\"" % k for k in data if k not in ("scenarios", "about")]
    loaded, names = [], set()
    for i, sc in enumerate(data["scenarios"] if isinstance(data["scenarios"], list) else []):
        name = sc.get("name") if isinstance(sc, dict) else None
        if not isinstance(name, str) or not name:
            errors.append("scenarios[%d]: missing required field \"name\"" % i)
            continue
        if name in names:
            errors.append("scenarios[%d]: the name \"%s\" is used twice" % (i, name))
        names.add(name)
        errors += validate(sc, "%s/%s" % (stem, name))
        loaded.append((stem + "/" + name, sc))
    if not loaded and not errors:
        errors.append("\"scenarios\" holds no scenario")
    return loaded, errors
