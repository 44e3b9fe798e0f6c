#!/usr/bin/env bash
# The main job: sets up and builds, installs into a scratch BREVIN_HOME, starts the
# development CIM server on a local socket (with OpenPegasus-style local
# authentication), runs the sample agent under the installed agentlauncher, shows
# what the agent saw and what the native libraries told it (network facts of the
# loopback interface, a CIM connection through the bridge), then stops it the way
# systemd does (SIGTERM) and shows what the agent was told. Exits 0 only if all of
# that went right.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"

readonly start_ceiling=60   # seconds for the JVM and the agent to come up
readonly stop_ceiling=60    # seconds for the relay, the 5 s grace pause and the exit

brevin_home=$(mktemp -d /tmp/orv-demo-brevin.XXXXXX)
orv_home=$(mktemp -d /tmp/orv-demo-orv.XXXXXX)
launcher_pid=
server_pid=
cleanup() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill -KILL "$launcher_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$brevin_home" "$orv_home"
}
trap cleanup EXIT

fail() { echo "demo: FAILED: $*" >&2; exit 1; }

echo "demo: installing into BREVIN_HOME=$brevin_home"
cmake --install build --prefix "$brevin_home" >/dev/null
mkdir -p "$orv_home/user/brevin/ext"
report="$brevin_home/agent-report.txt"
log="$brevin_home/launcher.log"

socket="$orv_home/cimxml.socket"
server_log="$orv_home/minicimd.log"
echo "demo: starting minicimd on $socket (local authentication on)"
share="$brevin_home/share/minicimd"
"$brevin_home/bin/minicimd" --socket "$socket" --local-auth \
  --namespace root/cimv2 --mof "$share/dmtf-2.41-subset" --mof "$share/orv-demo.mof" \
  --namespace root/test --mof "$share/minicimd-test.mof" >"$server_log" 2>&1 &
server_pid=$!
for ((i = 0; i < start_ceiling * 10; i++)); do
  [ -S "$socket" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -S "$socket" ] || { cat "$server_log" >&2; fail "minicimd did not open its socket"; }

echo "demo: starting $brevin_home/bin/agentlauncher (ORV_HOME=$orv_home)"
ORV_HOME="$orv_home" BREVIN_HOME="$brevin_home" CIM_LOCAL_SOCKET="$socket" ORV_AGENT_TOUR=1 \
  "$brevin_home/bin/agentlauncher" >"$log" 2>&1 &
launcher_pid=$!

for ((i = 0; i < start_ceiling * 10; i++)); do
  grep -qx 'main.returned' "$report" 2>/dev/null && break
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 0.1
done
grep -qx 'main.returned' "$report" 2>/dev/null || {
  cat "$log" >&2
  fail "the sample agent did not report its start"
}

echo "demo: the agent runs inside the launcher (pid $launcher_pid) and saw:"
grep -E '^(pid|main\.args)=|^property\.(java\.vm\.name|java\.version|brevin\.home|com\.zandor\.retail\.orv\.mgmt\.(deviceId|config\.dir)|java\.library\.path)=' "$report" |
  sed 's/^/    /'
echo "    JVM options: $(grep -c '^input\.arg=' "$report") given besides the class path"
echo "demo: what the agent asked the native libraries, and what came back:"
grep '^tour\.step=' "$report" | cut -d= -f2- |
  awk -F'|' '{ printf "    %-28s %s\n    %-28s -> %s  (%.3f ms)\n", $1, $2, "", $3, $4 / 1000 }'
echo "demo: the bridge's trace of one getInstance (first lines):"
grep '^tour\.trace=' "$report" | cut -d= -f2- | head -6 | sed 's/^/    /'
if grep -q '^tour\.failed=' "$report"; then
  echo "demo: steps that went wrong:"
  grep '^tour\.failed=' "$report" | cut -d= -f2- | sed 's/^/    /'
fi

echo "demo: sending SIGTERM"
stopped_at=${EPOCHREALTIME/./}
kill -TERM "$launcher_pid"
status=0
for ((i = 0; i < stop_ceiling * 10; i++)); do
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$launcher_pid" 2>/dev/null; then
  fail "the launcher did not exit within ${stop_ceiling} s of SIGTERM"
fi
wait "$launcher_pid" || status=$?
launcher_pid=
elapsed_ms=$(( (${EPOCHREALTIME/./} - stopped_at) / 1000 ))
took=$(printf '%d.%03d' $((elapsed_ms / 1000)) $((elapsed_ms % 1000)))

echo "demo: the agent recorded:"
grep -E '^(event=|shutdown\.)' "$report" | sed 's/^/    /' || true
echo "demo: agentlauncher exited with status $status after ${took} s"
if [ -s "$log" ]; then
  echo "demo: launcher messages:"
  sed 's/^/    /' "$log"
fi

kill -TERM "$server_pid"
wait "$server_pid" || fail "minicimd did not stop cleanly"
server_pid=

! grep -q '^tour\.failed=' "$report" || fail "a step of the tour went wrong"
for step in netinfo.mask netinfo.mac cim.version cim.setup cim.enumerateClassNames cim.enumerateInstanceNames \
  cim.getInstance cim.getClass cim.getProperty cim.getProperties cim.setProperty cim.createInstance \
  cim.deleteInstance cim.subscribe cim.indication cim.toggleNativeTrace cim.teardown cim.invokeMethod; do
  grep -q "^tour\.step=$step|" "$report" || fail "the tour has no step $step"
done
grep -q '^tour\.step=netinfo\.mask|.*|255\.0\.0\.0|' "$report" || fail "netinfo gave no loopback mask"
grep -q '^tour\.step=cim\.setProperty|.*|Card reader link|' "$report" || fail "setProperty did not read back"
grep -q '^tour\.step=cim\.invokeMethod|.*|callback: code 0, result hello from the till' "$report" ||
  fail "invokeMethod's callback did not bring the result"
grep -q '^tour\.step=cim\.indication|.*|CIM_InstCreation at ' "$report" || fail "no indication reached the agent"
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
[ "$(grep -c '^event=' "$report")" -eq 1 ] || fail "expected exactly one service event"
grep -qx 'event=1' "$report" || fail "the shutdown event (1) was not relayed"
echo "demo: OK"
