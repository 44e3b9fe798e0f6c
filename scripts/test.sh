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
ctest --preset asan "$@"

# --- the 32-bit x86 build (no fuzz targets), its own packages and build folder ---
"$top/scripts/setup.sh" i386
ctest --preset i386 "$@"
# --- end of the i386 build ---
