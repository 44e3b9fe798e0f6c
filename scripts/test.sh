#!/usr/bin/env bash
# Sets up, builds and runs every test suite in each build: the default one, asan
# (AddressSanitizer and UBSan) and i386 (32-bit x86), and checks the C/C++ format.
# Every stage runs even when an earlier one failed (a build's tests are skipped only when
# that build failed); a table at the end gives each stage's result and time, and the exit
# status is non-zero when any stage failed. Arguments are passed to every ctest run.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 2

stage_names=()
stage_results=()
stage_seconds=()
failed=0

clock() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }

record() {  # name result seconds
  stage_names+=("$1")
  stage_results+=("$2")
  stage_seconds+=("$3")
}

# Runs one stage: its name, then the command. Returns the command's status.
stage() {
  local name=$1 start=$SECONDS status=0
  shift
  echo "==== test.sh: $name ($(date -u +%H:%M:%S) UTC)"
  "$@" || status=$?
  local took=$((SECONDS - start))
  if [ "$status" -eq 0 ]; then
    record "$name" passed "$took"
  else
    record "$name" "FAILED (exit $status)" "$took"
    failed=1
  fi
  echo "==== test.sh: $name: ${stage_results[-1]} in $(clock "$took")"
  return "$status"
}

skip() {  # name why
  record "$1" "skipped ($2)" 0
  echo "==== test.sh: $1: skipped ($2)"
}

# The default build: installs what is missing (clang-format too), configures, builds.
if stage "default: setup and build" bash scripts/setup.sh; then
  default_built=1
else
  default_built=0
fi
stage "format" bash scripts/check-format.sh
if [ "$default_built" -eq 1 ]; then
  stage "default: tests" ctest --preset default "$@"
else
  skip "default: tests" "build failed"
fi

# The same suites under AddressSanitizer and UBSan (the fuzz targets ran above).
if ! stage "asan: configure" cmake --preset asan; then
  skip "asan: build" "configure failed"
  skip "asan: tests" "configure failed"
elif stage "asan: build" cmake --build --preset asan; then
  stage "asan: tests" ctest --preset asan "$@"
else
  skip "asan: tests" "build failed"
fi

# The 32-bit x86 build (no fuzz targets): its own packages and build folder.
if stage "i386: setup and build" bash scripts/setup.sh i386; then
  stage "i386: tests" ctest --preset i386 "$@"
else
  skip "i386: tests" "build failed"
fi

echo
printf '%-26s %-24s %8s\n' stage result time
for i in "${!stage_names[@]}"; do
  printf '%-26s %-24s %8s\n' "${stage_names[$i]}" "${stage_results[$i]}" "$(clock "${stage_seconds[$i]}")"
done
printf '%-26s %-24s %8s\n' total "" "$(clock "$SECONDS")"
[ -r /proc/loadavg ] && echo "load average (1, 5, 15 min) at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "$failed" -ne 0 ]; then
  echo "test.sh: some stages failed (see above)" >&2
  exit 1
fi
echo "test.sh: every stage passed"
