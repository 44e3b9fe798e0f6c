#!/usr/bin/env bash
# Builds and runs every benchmark under bench/ and prints one table: each figure next to its
# reference (measured in the same run, or a constant the benchmark names), their ratio
# (ours / reference), and the figure's goal where it has one, with whether it is met.
#
#   bash bench/run-all.sh [--no-build] [--build-dir DIR]
#
# Each benchmark prints its usual human-readable lines (shown as it runs) and one line per
# figure, "FIGURE name|value|unit|reference name|reference value" (reference value empty when
# nothing in the run is one); the table is made from those lines only.  The table is also
# written to DIR/bench/figures.md.  Exits non-zero when a benchmark failed; a benchmark that
# skips itself (the spawn benchmark without a mount namespace) gives a "skipped" row.
set -euo pipefail

# Sizes given on the command line: the benchmarks' own defaults (the whole run takes a minute or
# two on 2 shared cores).  The other sizes are constants in the benchmarks' sources.
readonly NETINFO_ADDRESS=127.0.0.1
readonly NETINFO_CALLS=20000
readonly SPAWNS=200
# The CIM-XML figures are the median of this many runs of each case (about 10 s a run).
readonly CIMXML_REPETITIONS=3

# Goals, one a line: figure name (or its start) | reference name (empty: any) | unit (or its
# end; empty: any) | kind | limit.  Kinds: ratio (ours / reference at most the limit),
# at-most and at-least (the figure itself, in its unit).
readonly GOALS='bridge getInstance (100 properties)|bare getInstance + getClass||ratio|1.4
bridge enumerateInstanceNames (10,000)|bare enumerateInstanceNames||ratio|1.8
client CPU, EnumerateInstanceNames 10,000|||ratio|0.5
client CPU, GetInstance 100 properties|||ratio|0.5
client CPU on recorded answers, EnumerateInstanceNames 9,990|reference client||ratio|0.5
client CPU on recorded answers, GetInstance 100 properties|reference client||ratio|0.5
server wall, EnumerateInstanceNames 10,000|||ratio|0.5
server wall, GetInstance 100 properties|||ratio|0.5
minicimd resident memory, 10,000 instances||MiB|at-most|120
bridge indication||ms|at-most|0.2
bridge indication||/s|at-least|5000'

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build="$root/build"
build_first=1

while (($#)); do
  case "$1" in
    --no-build) build_first=0 ;;
    --build-dir) build=$(cd "$2" && pwd); shift ;;
    -h | --help) sed -n '2,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-all.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if ((build_first)); then
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    (cd "$root" && cmake --preset default)
  fi
  cmake --build "$build" --target bench_programs
fi

env_file="$build/bench/run-all.env"
if [[ ! -f "$env_file" ]]; then
  echo "run-all.sh: $env_file missing; configure and build first" >&2
  exit 1
fi
# shellcheck source=/dev/null
source "$env_file"

work=$(mktemp -d /tmp/bench-all.XXXXXX)
trap 'rm -rf "$work"' EXIT
: >"$work/figures"
failed=()
started=$SECONDS

# run NAME COMMAND...: runs one benchmark, shows its output, keeps its FIGURE lines.
run() {
  local name=$1
  shift
  local t0=$SECONDS
  echo
  echo "=== $name"
  if "$@" >"$work/$name.out" 2>&1; then
    grep -v '^FIGURE ' "$work/$name.out" || true
    grep '^FIGURE ' "$work/$name.out" | sed "s/^FIGURE /$name|/" >>"$work/figures" || true
  else
    cat "$work/$name.out"
    echo "--- $name failed (exit status $?)"
    failed+=("$name")
  fi
  echo "--- $name: $((SECONDS - t0)) s"
}

run cimxml "$ORV_BENCH_CIMXML" "--benchmark_repetitions=$CIMXML_REPETITIONS" \
  --benchmark_report_aggregates_only=true
if [[ -n "$ORV_BENCH_BRIDGE" ]]; then
  run bridge "$ORV_BENCH_BRIDGE"
fi
run minicimd "$ORV_BENCH_MINICIMD"
run client-replay "$ORV_BENCH_CLIENT_REPLAY"
run mof-chain "$ORV_BENCH_MOF_CHAIN"
run indications "$ORV_BENCH_INDICATIONS"
run listener "$ORV_BENCH_LISTENER"
run netinfo "$ORV_BENCH_JAVA" -cp "$ORV_BENCH_NETINFO_CP" \
  "-Djava.library.path=$ORV_BENCH_NETINFO_LP" NetinfoBench "$NETINFO_ADDRESS" "$NETINFO_CALLS"
if [[ -n "$ORV_BENCH_SPAWN" ]]; then
  # Starts only the tests' stand-in, in a mount namespace where /sbin/shutdown is that
  # stand-in; without the namespace it measures nothing and says so.
  run spawn "$ORV_BENCH_SPAWN" "$SPAWNS"
fi

# Rows the table always has, in this order; a benchmark that gave no figure shows why.
expected=(
  "cimxml|CIM-XML reading, EnumerateInstanceNames 10,000 paths"
  "cimxml|CIM-XML reading, GetInstance 100 properties (recorded)"
  "cimxml|CIM-XML reading, GetInstance 100 properties (all values)"
  "bridge|bridge getInstance (100 properties)"
  "bridge|bridge enumerateInstanceNames (10,000)"
  "minicimd|client CPU, EnumerateInstanceNames 10,000"
  "minicimd|client CPU, GetInstance 100 properties"
  "minicimd|server wall, EnumerateInstanceNames 10,000, minicimd + client"
  "minicimd|server wall, GetInstance 100 properties, minicimd + client"
  "minicimd|minicimd resident memory, 10,000 instances"
  "minicimd|minicimd GetInstance, 1 client"
  "minicimd|minicimd GetInstance, 8 clients"
  "minicimd|minicimd EnumerateInstanceNames (10,000), 1 client"
  "minicimd|minicimd EnumerateInstanceNames (10,000), 8 clients"
  "client-replay|client CPU on recorded answers, EnumerateInstanceNames 9,990"
  "client-replay|client CPU on recorded answers, GetInstance 100 properties"
  "listener|listener indications, amplifying bodies"
  "listener|listener peak memory, amplifying bodies"
  "listener|listener indications, trickling connections"
  "listener|listener peak memory, trickling connections"
  "netinfo|netinfo getNetworkMask($NETINFO_ADDRESS)"
  "spawn|spawn of the shutdown stand-in, SystemActions.reboot (median)"
)
for row in "${expected[@]}"; do
  bench=${row%%|*}
  if ! grep -qF "$row|" "$work/figures"; then
    why="not run"
    for f in "${failed[@]+"${failed[@]}"}"; do [[ "$f" == "$bench" ]] && why="failed"; done
    [[ -f "$work/$bench.out" ]] && grep -q 'skipped' "$work/$bench.out" && why="skipped"
    [[ -f "$work/$bench.out" && "$why" == "not run" ]] && why="no figure"
    echo "$row|$why|||" >>"$work/missing"
  fi
done
[[ -f "$work/missing" ]] && cat "$work/missing" >>"$work/figures"

# The table: figure | ours | reference | ratio | goal | met, columns padded to their widest cell.
printf '%s\n' "$GOALS" >"$work/goals"
{
  echo "Benchmarks, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  awk -F'|' '
    function width(s,   t) { t = s; return length(t) - 2 * gsub(/—|≤|≥/, "", t) }
    function spaces(n) { return sprintf("%" n "s", "") }
    function pad(s, n) { return s spaces(n - width(s)) }
    function lpad(s, n) { return spaces(n - width(s)) s }
    function endsWith(s, e) { return e == "" || (length(s) >= length(e) && substr(s, length(s) - length(e) + 1) == e) }
    # goals: name|reference|unit|kind|limit
    FNR == NR { gname[++goals] = $1; gref[goals] = $2; gunit[goals] = $3; gkind[goals] = $4; glimit[goals] = $5; next }
    {
      # bench|name|value|unit|reference name|reference value
      name[NR] = $2
      goal[NR] = "—"; met[NR] = "—"
      if ($4 == "") { ours[NR] = $3; ref[NR] = "—"; ratio[NR] = "—" }
      else {
        ours[NR] = $3 " " $4
        if ($6 == "") { ref[NR] = "—"; ratio[NR] = "—" }
        else {
          ref[NR] = $5 ": " $6 " " $4
          ratio[NR] = ($6 + 0 == 0) ? "—" : sprintf("%.2f", $3 / $6)
        }
      }
      for (k = 1; k <= goals; k++) {
        if (index($2, gname[k]) != 1 || (gref[k] != "" && gref[k] != $5) || !endsWith($4, gunit[k])) continue
        if (gkind[k] == "ratio") {
          goal[NR] = "ratio ≤ " glimit[k]
          if (ratio[NR] != "—") met[NR] = (ratio[NR] + 0 <= glimit[k] + 0) ? "yes" : "no"
        } else if (gkind[k] == "at-most") {
          goal[NR] = "≤ " glimit[k] " " $4
          if ($3 != "") met[NR] = ($3 + 0 <= glimit[k] + 0) ? "yes" : "no"
        } else {
          goal[NR] = "≥ " glimit[k] " " $4
          if ($3 != "") met[NR] = ($3 + 0 >= glimit[k] + 0) ? "yes" : "no"
        }
        break
      }
      if ($3 == "not run" || $3 == "failed" || $3 == "skipped" || $3 == "no figure") met[NR] = "—"
    }
    END {
      h[1] = "figure"; h[2] = "ours"; h[3] = "reference"; h[4] = "ratio"; h[5] = "goal"; h[6] = "met"
      for (c = 1; c <= 6; c++) w[c] = width(h[c])
      for (i = 1; i <= NR; i++) {
        if (!(i in name)) continue
        if (width(name[i]) > w[1]) w[1] = width(name[i])
        if (width(ours[i]) > w[2]) w[2] = width(ours[i])
        if (width(ref[i]) > w[3]) w[3] = width(ref[i])
        if (width(ratio[i]) > w[4]) w[4] = width(ratio[i])
        if (width(goal[i]) > w[5]) w[5] = width(goal[i])
        if (width(met[i]) > w[6]) w[6] = width(met[i])
      }
      printf "| %s | %s | %s | %s | %s | %s |\n", pad(h[1], w[1]), pad(h[2], w[2]), pad(h[3], w[3]), pad(h[4], w[4]), pad(h[5], w[5]), pad(h[6], w[6])
      printf "|%s|%s|%s|%s:|%s|%s|\n", spaces(w[1] + 2), spaces(w[2] + 2), spaces(w[3] + 2), spaces(w[4] + 1), spaces(w[5] + 2), spaces(w[6] + 2)
      for (i = 1; i <= NR; i++) {
        if (!(i in name)) continue
        printf "| %s | %s | %s | %s | %s | %s |\n", pad(name[i], w[1]), pad(ours[i], w[2]), pad(ref[i], w[3]), lpad(ratio[i], w[4]), pad(goal[i], w[5]), pad(met[i], w[6])
      }
    }' "$work/goals" "$work/figures" | sed -e '2s/ /-/g'
  echo
  echo "ratio = ours / reference: for MB/s the share of expat's throughput (higher is better),"
  echo "for us, us/call, ms and MiB the cost relative to the reference (lower is better).  The"
  echo "client's CPU, the server's wall time and memory stand beside the reference client's and"
  echo "server's, measured on a machine like this one and kept in the minicimd benchmark;"
  echo "on recorded answers, beside the reference client's on the same answers (client-replay:"
  echo "a production server's bytes, larger than minicimd's)."
  echo "minicimd: nothing in the run is a reference for the server's own rates (—); the client"
  echo "library and minicimd share the machine's cores, 8 clients included."
} >"$work/table"

mkdir -p "$build/bench"
cp "$work/table" "$build/bench/figures.md"
echo
echo "=== all benchmarks: $((SECONDS - started)) s (table also in $build/bench/figures.md)"
echo
cat "$work/table"

if ((${#failed[@]})); then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
