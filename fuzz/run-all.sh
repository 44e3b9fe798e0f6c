#!/usr/bin/env bash
# Runs every libFuzzer target for longer than CI does, one after another:
#   bash fuzz/run-all.sh [seconds per target, default 600] [build folder, default build]
# Seeds come from the folders in <build>/fuzz/<name>.args (fuzz/corpus/<name>/ and test
# data, with the target's other options); new inputs go to <build>/fuzz/corpus/<name>/, crashes to <build>/fuzz/artifacts/.
# Exits non-zero when any target found something.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=${2:-$top/build}
cmake --build "$build" --target all -j 2 >/dev/null
failed=()
for exe in "$build"/fuzz/*_fuzzer; do
  name=$(basename "$exe" _fuzzer)
  mkdir -p "$build/fuzz/corpus/$name" "$build/fuzz/artifacts"
  # The first folder is the one libFuzzer writes to: the build's, never a seed folder.
  mapfile -t args < <(grep -v '^$' "$build/fuzz/$name.args")
  echo "fuzz: $name for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/fuzz/artifacts/$name-" \
       "$build/fuzz/corpus/$name" "${args[@]}" 2>"$build/fuzz/$name.log"; then
    failed+=("$name")
    tail -30 "$build/fuzz/$name.log"
  fi
  grep -E '^stat::number_of_executed_units' "$build/fuzz/$name.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: found something in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all clean"
