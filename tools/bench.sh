#!/usr/bin/env bash
# Runs every benchmark of the launcher in one go and prints the figures, each
# beside its reference; fails, naming the figure and the reason, when one cannot
# be measured (tools/bench/bench.py --help tells more; docs/PERFORMANCE.md records
# the figures). Installs what is missing first (as root). Extra arguments go to
# bench.py, e.g. --runs 9 or --skip-monitor.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$here/deps.sh"
command -v xz >/dev/null || { echo "bench: xz is needed (Debian: xz-utils)" >&2; exit 1; }
exec python3 "$here/bench/bench.py" "$@"
