# Sourced by the medium scripts.

# product_value KEY prints KEY's value from res/product.txt, the one place that
# says which product this launcher belongs to and which version it is; it fails,
# saying so, when the key is missing.
product_value() {
  local file value
  file="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/res/product.txt"
  [ -r "$file" ] || { echo "cannot read $file" >&2; return 1; }
  value=$(tr -d '\r' <"$file" | sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*//p" | head -n 1 | sed 's/[[:space:]]*$//')
  [ -n "$value" ] || { echo "$file has no $1=" >&2; return 1; }
  printf '%s\n' "$value"
}

# oneline: its input as one line, blanks squeezed; for quoting a tool's message
# (xargs would trip over the quotes in it).
oneline() { tr -s '\n\t ' ' ' | sed 's/^ //; s/ $//'; }
