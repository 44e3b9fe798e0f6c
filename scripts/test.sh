#!/usr/bin/env bash
# Sets up, builds and runs every test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
ctest --preset default "$@"
