#!/usr/bin/env bash
# Sets up, builds and runs every test suite, then again under the sanitizers (asan preset).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
ctest --preset default "$@"

# The same suites under AddressSanitizer and UBSan (the fuzz targets ran above).
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
