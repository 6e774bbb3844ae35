"""The product code, the launcher's version and the staging folder's name, read
from res/product.txt, the one file the build reads them from too."""
import os

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def identity():
    values = {}
    with open(os.path.join(ROOT, "res", "product.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#") and "=" in line:
                key, _, value = line.partition("=")
                values[key.strip()] = value.strip()
    for key in ("productCode", "launcherVersion", "stagingDirectory"):
        if key not in values:
            raise SystemExit("res/product.txt names no %s" % key)
    return values
