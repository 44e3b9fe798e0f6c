#!/usr/bin/env bash
# Sets up, builds and runs every test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
ctest --preset default "$@"

# --- the 32-bit x86 build (no fuzz targets), its own packages and build folder ---
"$top/scripts/setup.sh" i386
ctest --preset i386 "$@"
# --- end of the i386 build ---
