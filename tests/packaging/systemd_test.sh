#!/usr/bin/env bash
# Installs the Debian package on a Debian 12 booted with systemd and runs the agent as a
# till's administrator would: a minbase bookworm tree (made once, then kept in a cache) is
# copied for this run, booted with systemd-nspawn -b, and the package installed in it with
# apt-get (the host's network). Checked: the ORV_HOME the package lays out, the unit starts
# and stays active, the sample agent ran with the unit's ORV_HOME and BREVIN_HOME,
# systemctl stop delivers the stop event and the unit ends cleanly within its stop timeout,
# the launcher printed no warning, the unit's systemd-analyze security exposure, that a
# unit confined as the agent's can have systemd start a unit (as `shutdown` does), and that
# dpkg --purge leaves no unit behind. Only the container this run started is stopped and
# removed. The agent's halt and reboot natives are never called.
#
# Usage (as root, after a build): bash tests/packaging/systemd_test.sh [BUILD_DIR]
# (default: build)
# Environment:
#   ORV_SYSTEMD_TEST_CACHE  cache of the Debian tree and of apt's downloads
#                           (default /var/cache/orvagent-systemd-test)
#   ORV_DEBIAN_MIRROR       Debian mirror (default http://deb.debian.org/debian)
# Needs debootstrap and systemd-container; installs them with apt-get when missing.
set -euo pipefail

readonly max_exposure=5.0
readonly boot_ceiling=180   # seconds for the container's systemd to finish booting
readonly start_ceiling=120  # seconds for the JVM and the sample agent to come up
readonly active_hold=5      # seconds the unit must stay active after the agent came up
readonly poweroff_ceiling=60

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=$(cd "${1:-$source_dir/build}" && pwd)
cache=${ORV_SYSTEMD_TEST_CACHE:-/var/cache/orvagent-systemd-test}
mirror=${ORV_DEBIAN_MIRROR:-http://deb.debian.org/debian}
machine="orvtest-$$-$(date +%s)"
run_dir="$cache/runs/$machine"
out="$cache/runs/$machine.out"  # the package and this run's logs
tree="$cache/bookworm"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "FAIL: $*" >&2; exit 1; }
now() { date -u +%H:%M:%S.%N | cut -c1-12; }
say() { echo "[$(now)] $*"; }

[ "$(id -u)" -eq 0 ] || die "run as root (debootstrap and systemd-nspawn need it)"
[ -f "$build_dir/CPackConfig.cmake" ] || die "$build_dir is not a configured build folder"

# ---- host tools ----
missing=()
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v systemd-nspawn >/dev/null || missing+=(systemd-container)
if [ ${#missing[@]} -ne 0 ]; then
  say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

nspawn_pid=
init_pid=
# Stops and removes this run's container and nothing else: systemd-nspawn turns SIGTERM into
# a clean power-off of the container's systemd; if that does not end in time, the
# container's init is killed, which ends everything in its PID namespace.
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill -TERM "$nspawn_pid" 2>/dev/null || true
    for ((i = 0; i < poweroff_ceiling * 10; i++)); do
      kill -0 "$nspawn_pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$nspawn_pid" 2>/dev/null; then
      echo "the container did not power off within ${poweroff_ceiling} s: killing it" >&2
      [ -n "$init_pid" ] && kill -KILL "$init_pid" 2>/dev/null || true
      kill -KILL "$nspawn_pid" 2>/dev/null || true
    fi
    wait "$nspawn_pid" 2>/dev/null || true
  fi
  # The container's mounts lived in its own mount namespace: nothing of it is mounted here.
  # systemd-nspawn's lock of the tree stays behind if it was killed.
  rm -rf --one-file-system "$run_dir" "$out" "$cache/runs/.#$machine.lck"
}
trap cleanup EXIT

# ---- the Debian tree, made once ----
mkdir -p "$cache/runs" "$cache/archives/partial"
(
  flock 9
  if [ ! -e "$tree/.complete" ]; then
    say "debootstrap --variant=minbase bookworm (once; kept in $tree)"
    rm -rf "$tree.new"
    debootstrap --variant=minbase --include=systemd,systemd-sysv bookworm "$tree.new" "$mirror" \
      >"$cache/debootstrap.log" 2>&1 || { tail -20 "$cache/debootstrap.log" >&2; exit 1; }
    # The container's apt caches its downloads in the cache's archives (bound in below).
    rm -f "$tree.new"/var/cache/apt/archives/*.deb
    touch "$tree.new/.complete"
    rm -rf "$tree"
    mv "$tree.new" "$tree"
  fi
) 9>"$cache/.lock" || die "could not make the Debian tree"

# ---- the package ----
# From the build as it is (cmake --build first): cpack installs what was built.
say "building the package"
mkdir -p "$run_dir" "$out"
cmake_command=$(sed -n 's/^CMAKE_COMMAND:INTERNAL=//p' "$build_dir/CMakeCache.txt")
"$(dirname "$cmake_command")/cpack" --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; die "cpack failed"; }
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
package=$(dpkg-deb -f "$deb" Package)
say "package $(basename "$deb")"

# ---- boot ----
say "copying the tree for machine $machine"
cp -a --reflink=auto "$tree/." "$run_dir/"
cp "$deb" "$run_dir/srv/"
say "booting $machine"
# Neither registered with systemd-machined nor put in a scope of its own: the host needs
# no systemd of its own (and no system bus) for this.
systemd-nspawn --quiet --boot --register=no --keep-unit --console=pipe --machine="$machine" \
  --directory="$run_dir" --resolv-conf=copy-host --bind="$cache/archives:/var/cache/apt/archives" \
  </dev/null >"$out/console.log" 2>&1 &
nspawn_pid=$!

for ((i = 0; i < 100; i++)); do
  init_pid=$(ps -o pid= --ppid "$nspawn_pid" | tr -d ' ' | head -1 || true)
  [ -n "$init_pid" ] && [ "$(cat "/proc/$init_pid/comm" 2>/dev/null)" = systemd ] && break
  init_pid=
  kill -0 "$nspawn_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$init_pid" ] || { cat "$out/console.log" >&2; die "the container's systemd did not start"; }

# Runs a command inside the container (its namespaces, root and a clean environment).
in_box() {
  nsenter --target "$init_pid" --mount --uts --ipc --net --pid --cgroup --root --wd \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb HOME=/root "$@"
}
# Until systemd answers on its socket and has finished starting everything.
state=
for ((i = 0; i < boot_ceiling * 2; i++)); do
  state=$(in_box systemctl is-system-running 2>/dev/null || true)
  case "$state" in running | degraded | maintenance | stopping) break ;; esac
  kill -0 "$nspawn_pid" 2>/dev/null || break
  sleep 0.5
done
say "booted: $state"
case "$state" in
  running) ;;
  degraded) in_box systemctl --failed --no-legend --plain || true ;;
  *) cat "$out/console.log" >&2; die "the container did not boot ($state)" ;;
esac

# ---- install ----
say "apt-get install ./$(basename "$deb")"
# apt's download cache is shared by the runs: one apt-get at a time uses it.
exec 8>"$cache/.archives.lock"
flock 8
in_box sh -c "apt-get update -q && cd /srv && DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends ./$(basename "$deb")" >"$out/apt.log" 2>&1 ||
  { tail -40 "$out/apt.log" >&2; die "apt-get install failed"; }
flock -u 8
grep -E '^(Setting up|Unpacking) ' "$out/apt.log" | sed 's/^/    /' | tail -5
status=$(in_box dpkg-query -W -f='${Status}' "$package" || true)
[ "$status" = 'install ok installed' ] || fail "$package is not installed: $status"

unit=agentlauncher.service
show() { in_box systemctl show -P "$1" "$unit"; }
environment=$(show Environment)
orv_home=$(tr ' ' '\n' <<<"$environment" | sed -n 's/^ORV_HOME=//p')
brevin_home=$(tr ' ' '\n' <<<"$environment" | sed -n 's/^BREVIN_HOME=//p')
echo "unit: ORV_HOME=$orv_home BREVIN_HOME=$brevin_home"
[ -n "$orv_home" ] && [ -n "$brevin_home" ] || die "the unit sets no ORV_HOME or BREVIN_HOME"
[ "$(show UnitFileState)" = disabled ] || fail "installing enabled the unit: $(show UnitFileState)"
[ "$(show ActiveState)" = inactive ] || fail "installing started the unit: $(show ActiveState)"

# ---- ORV_HOME as the package laid it out ----
say "ORV_HOME"
for entry in ".:755" "user:755" "user/brevin:755" "user/brevin/classes:755" \
    "user/brevin/ext:755" "orvlogs:750"; do
  dir=$orv_home/${entry%%:*}
  got=$(in_box stat -c '%U:%G %a %F' "$dir" 2>/dev/null || echo missing)
  echo "    $dir: $got"
  [ "$got" = "root:root ${entry##*:} directory" ] || fail "$dir: $got, expected root:root ${entry##*:}"
done

# ---- exposure ----
say "systemd-analyze security"
in_box systemd-analyze security --no-pager "$unit" >"$out/security.log" 2>&1 || true
exposure=$(sed -nE 's/.*Overall exposure level for [^:]*: ([0-9.]+).*/\1/p' "$out/security.log")
# The same service without its sandboxing: the unit's own lines that say what to run.
in_box sh -c "grep -E '^(\[|Description=|Type=|Environment=|ExecStart=|WantedBy=)' \
  /lib/systemd/system/$unit >/run/systemd/system/orvtest-bare.service && systemctl daemon-reload"
bare=$(in_box systemd-analyze security --no-pager orvtest-bare.service 2>&1 |
  sed -nE 's/.*Overall exposure level for [^:]*: ([0-9.]+).*/\1/p')
in_box sh -c "rm /run/systemd/system/orvtest-bare.service && systemctl daemon-reload"
grep -E '^✗' "$out/security.log" | sed 's/^/    /' || true
echo "exposure: ${bare:-?} without the unit's sandboxing, ${exposure:-?} with it (goal: at most $max_exposure)"
if [ -z "$exposure" ]; then
  cat "$out/security.log" >&2
  fail "no exposure figure from systemd-analyze security"
elif ! awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }'; then
  fail "exposure $exposure is above $max_exposure"
fi

# ---- start ----
# The sample agent writes its report in its working folder, BREVIN_HOME, which the unit
# keeps read-only: for this run a drop-in lets it write that one file.
report=$brevin_home/agent-report.txt
in_box sh -c "rm -f '$report' && touch '$report' && mkdir -p /run/systemd/system/$unit.d && \
  printf '[Service]\nReadWritePaths=%s\n' '$report' >/run/systemd/system/$unit.d/orvtest.conf && \
  systemctl daemon-reload"
started_at=$(in_box date +%s.%N)
say "systemctl start $unit"
in_box systemctl start "$unit" || fail "systemctl start failed"
for ((i = 0; i < start_ceiling * 10; i++)); do
  # The container's files, read from here: its root is a folder of this file system.
  grep -qx main.returned "$run_dir$report" 2>/dev/null && break
  [ "$(show ActiveState)" = active ] || break
  sleep 0.1
done
came_up=$(in_box date +%s.%N)
if grep -qx main.returned "$run_dir$report" 2>/dev/null; then
  say "the agent is up ($(awk -v a="$started_at" -v b="$came_up" 'BEGIN { printf "%.1f", b - a }') s after start)"
else
  fail "the sample agent did not report that main returned"
fi
sleep "$active_hold"
[ "$(show ActiveState)" = active ] || fail "the unit did not stay active: $(show ActiveState) $(show SubState)"
[ "$(show NRestarts)" = 0 ] || fail "the unit restarted $(show NRestarts) time(s)"
agent_pid=$(show MainPID)
in_box sh -c "grep -E '^property\.(brevin\.home|com\.zandor\.retail\.orv\.mgmt\.config\.dir|user\.dir|java\.class\.path)=' '$report'" |
  sed 's/^/    /'
in_box grep -qxF "property.brevin.home=$brevin_home" "$report" || fail "the agent's brevin.home is not $brevin_home"
in_box grep -qxF "property.user.dir=$brevin_home" "$report" || fail "the agent did not run in $brevin_home"
in_box grep -qxF "property.com.zandor.retail.orv.mgmt.config.dir=$orv_home/user/brevin" "$report" ||
  fail "the agent's configuration folder is not in $orv_home"

# ---- stop ----
timeout_usec=$(show TimeoutStopUSec)
say "systemctl stop $unit (main PID $agent_pid, stop timeout $timeout_usec)"
stop_from=$(in_box date +%s.%N)
in_box systemctl stop "$unit" || fail "systemctl stop failed"
stop_to=$(in_box date +%s.%N)
stop_secs=$(awk -v a="$stop_from" -v b="$stop_to" 'BEGIN { printf "%.1f", b - a }')
say "stopped after $stop_secs s: $(show ActiveState), Result=$(show Result), status $(show ExecMainStatus)"
in_box grep -qx 'event=1' "$report" || fail "the agent did not get the stop event (1)"
[ "$(show ActiveState)" = inactive ] || fail "the unit is $(show ActiveState) after stop"
[ "$(show Result)" = success ] || fail "the unit's result is $(show Result), expected success"
[ "$(show ExecMainStatus)" = 0 ] || fail "the launcher's exit status $(show ExecMainStatus), expected 0"
# The launcher's grace pause is 5 s; the stop must end by itself before the stop timeout.
awk -v s="$stop_secs" 'BEGIN { exit !(s >= 5) }' || fail "the stop took $stop_secs s, shorter than the grace pause"
in_box journalctl --no-pager -u "$unit" -o cat >"$out/journal.log" 2>&1 || true
echo "the unit's journal:"
sed 's/^/    /' "$out/journal.log"
grep -Eqi 'timed out|killing' "$out/journal.log" && fail "systemd had to kill what the stop left"

# ---- what the launcher and the agent printed ----
# Only the lines of the unit's processes (the journal above has systemd's own as well).
in_box journalctl --no-pager _SYSTEMD_UNIT="$unit" -o cat >"$out/unit.log" 2>&1 || true
if grep -Eqi 'warn|error|cannot|denied|fail' "$out/unit.log"; then
  fail "the launcher or the agent printed a warning or an error"
fi

# ---- asking systemd from inside the confinement ----
# `shutdown` asks systemd to start its halt or reboot target. The same request for a
# harmless unit, from a unit confined as the agent's is, shows the confinement allows it.
say "a request to systemd from a unit confined as the agent's"
in_box sh -c "printf '[Service]\nType=oneshot\nRemainAfterExit=yes\nExecStart=/bin/true\n' \
    >/run/systemd/system/orvtest-mark.service && \
  sed -E -e 's|^ExecStart=.*|ExecStart=/bin/systemctl start orvtest-mark.service|' \
    -e 's|^Type=.*|Type=oneshot|' -e '/^Restart/d' /lib/systemd/system/$unit \
    >/run/systemd/system/orvtest-probe.service && systemctl daemon-reload"
in_box systemctl start orvtest-probe.service || fail "the confined unit's systemctl failed"
[ "$(in_box systemctl is-active orvtest-mark.service || true)" = active ] ||
  fail "a unit confined as the agent's could not have systemd start a unit"
in_box sh -c "systemctl stop orvtest-mark.service && \
  rm /run/systemd/system/orvtest-mark.service /run/systemd/system/orvtest-probe.service && \
  systemctl daemon-reload"

# ---- purge ----
in_box sh -c "rm -rf /run/systemd/system/$unit.d '$report' && systemctl daemon-reload"
say "dpkg --purge $package"
in_box dpkg --purge "$package" >"$out/purge.log" 2>&1 || { cat "$out/purge.log" >&2; fail "dpkg --purge failed"; }
sed 's/^/    /' "$out/purge.log"
in_box test ! -e "/lib/systemd/system/$unit" || fail "the unit file is still there"
[ "$(show LoadState)" = not-found ] || fail "systemd still knows the unit: $(show LoadState)"
in_box test ! -e "$orv_home" || fail "$orv_home is still there after a purge of an unused ORV_HOME"
in_box test ! -e "$brevin_home" || fail "$brevin_home is still there"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
say "systemd test OK"
