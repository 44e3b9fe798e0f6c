#!/usr/bin/env bash
# Checks that every tracked C and C++ source is formatted as .clang-format says, and names
# the files that are not. Fix them with:  clang-format -i <file>...
# (clang-format is in scripts/packages.txt, so scripts/setup.sh installs it.)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if ! command -v clang-format >/dev/null; then
  echo "format: clang-format is not installed (run scripts/setup.sh)" >&2
  exit 2
fi

patterns=('*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp')
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -d '' files < <(git ls-files -z -- "${patterns[@]}")
else
  # An unpacked copy without git: the same sources, build folders left out.
  name_args=()
  for p in "${patterns[@]}"; do name_args+=(-o -name "$p"); done
  mapfile -d '' files < <(find . -path './build*' -prune -o -path './.git' -prune \
                            -o -type f \( "${name_args[@]:1}" \) -print0)
fi

# One run over all files; only when it fails, one run per file to name the culprits.
unformatted=()
if [ ${#files[@]} -gt 0 ] && ! printf '%s\0' "${files[@]}" | xargs -0 -r clang-format --dry-run --Werror >/dev/null 2>&1; then
  for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
  done
fi

if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format: ${#unformatted[@]} of ${#files[@]} C/C++ files differ from .clang-format:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "format: fix them with  clang-format -i <file>...  ($(clang-format --version))" >&2
  exit 1
fi
echo "format: all ${#files[@]} C/C++ files match .clang-format"
