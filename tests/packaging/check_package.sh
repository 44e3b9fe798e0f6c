#!/usr/bin/env bash
# Builds the Debian package with cpack into a scratch folder and checks it without
# installing it: unpacked with dpkg-deb -x into a scratch root, its files, control
# fields, run paths and unit checked, its launcher run with the sample agent (the
# unpacked prefix as BREVIN_HOME) and stopped with SIGTERM, and lintian run on it.
# Environment (set by CTest): BUILD_DIR, SCRATCH, PACKAGE, VERSION, ARCH, PREFIX (the
# package's BREVIN_HOME), UNIT_DIR, ORV_HOME_EXPECTED, JRE_PACKAGE, JVM_DIR (the
# packaged JRE's lib/server), BUILD_JVM_DIR, OWN_PEGASUS (ON/OFF), CPACK, MAX_EXPOSURE
# (the highest systemd-analyze security figure the unit may have).
set -euo pipefail

readonly start_ceiling=120  # seconds for the JVM and the agent to come up
readonly stop_ceiling=60    # seconds for the relay, the 5 s grace pause and the exit

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "FAIL: $*" >&2; exit 1; }

launcher_pid=
cleanup() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill -KILL "$launcher_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

rm -rf "$SCRATCH"
mkdir -p "$SCRATCH/out"

# ---- build ----
echo "== cpack -G DEB"
"$CPACK" --config "$BUILD_DIR/CPackConfig.cmake" -G DEB -B "$SCRATCH/out" >"$SCRATCH/cpack.log" 2>&1 ||
  { cat "$SCRATCH/cpack.log" >&2; die "cpack failed"; }
debs=("$SCRATCH"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
[ "$(basename "$deb")" = "${PACKAGE}_${VERSION}_${ARCH}.deb" ] || fail "package file name $(basename "$deb")"
echo "$deb"

root="$SCRATCH/root"
dpkg-deb -x "$deb" "$root"
home="$root$PREFIX"
echo "== contents"
dpkg-deb -c "$deb" | awk '{print $1, $6}'

# ---- control fields ----
echo "== control"
dpkg-deb -f "$deb" | tee "$SCRATCH/control"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$PACKAGE" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$VERSION" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$ARCH" ] || fail "Architecture: $(field Architecture)"
for f in Maintainer Description Section Priority Installed-Size; do
  [ -n "$(field "$f")" ] || fail "no $f field"
done
depends=$(field Depends)
# One alternative per entry, versions stripped: "libc6", "libcurl4", ...
dep_names=$(echo "$depends" | tr ',' '\n' | sed -E 's/\(.*\)//; s/^ +//; s/ +$//')
has_dep() { echo "$dep_names" | grep -Eqx "$1( \|.*)?"; }
has_dep "$JRE_PACKAGE" || fail "Depends lacks $JRE_PACKAGE: $depends"
has_dep 'libc6' || fail "Depends lacks libc6: $depends"
has_dep 'libstdc\+\+6' || fail "Depends lacks libstdc++6: $depends"
if [ "$OWN_PEGASUS" = ON ]; then
  has_dep 'libcurl[0-9]+(-gnutls|-nss)?' || fail "Depends lacks libcurl: $depends"
  has_dep 'libexpat1' || fail "Depends lacks libexpat1: $depends"
  has_dep 'libmicrohttpd[0-9]+' || fail "Depends lacks libmicrohttpd: $depends"
fi
if echo "$dep_names" | grep -q 'peg'; then
  fail "Depends names a package for our own client libraries: $depends"
fi

echo "== maintainer scripts"
mkdir -p "$SCRATCH/control.d"
dpkg-deb -e "$deb" "$SCRATCH/control.d"
for s in postinst prerm postrm; do
  script="$SCRATCH/control.d/$s"
  [ -x "$script" ] || { fail "no executable $s"; continue; }
  [ "$(head -1 "$script")" = "#!/bin/sh" ] || fail "$s does not start with #!/bin/sh"
  grep -qx 'set -e' "$script" || fail "$s lacks set -e"
  sh -n "$script" || fail "$s does not parse"
  if grep -Eq 'systemctl +(start|enable|restart)|deb-systemd-helper +enable' "$script"; then
    fail "$s starts or enables the unit"
  fi
done

# ---- layout ----
echo "== layout"
expected=(
  "$PREFIX/bin/agentlauncher"
  "$PREFIX/lib/libcimbridge.so" "$PREFIX/lib/libnetinfo.so" "$PREFIX/lib/libsysactions.so"
  "$PREFIX/orvmgmt.jar" "$PREFIX/orvwbem.jar" "$PREFIX/orvutil.jar"
  "$UNIT_DIR/agentlauncher.service"
  "/usr/share/doc/$PACKAGE/copyright" "/usr/share/doc/$PACKAGE/changelog.gz")
ours=("$PREFIX/bin/minicimd" "$PREFIX/share/minicimd/minicimd-test.mof"
      "$PREFIX/lib/libpegcommon.so" "$PREFIX/lib/libpegclient.so" "$PREFIX/lib/libpeglistener.so")
unexpected=("$PREFIX/lib/systemd")
if [ "$OWN_PEGASUS" = ON ]; then
  expected+=("${ours[@]}")
else
  unexpected+=("${ours[@]}")
fi
for f in "${expected[@]}"; do
  [ -f "$root$f" ] || fail "missing from the package: $f"
done
for f in "${unexpected[@]}"; do
  [ ! -e "$root$f" ] || fail "in the package, should not be: $f"
done
[ -x "$home/bin/agentlauncher" ] || fail "agentlauncher is not executable"
# Nothing outside the prefix but the unit, the docs and the lintian overrides.
while IFS= read -r f; do
  case "$f" in
    ".$PREFIX"/*|".$UNIT_DIR/agentlauncher.service"|"./usr/share/doc/$PACKAGE"/*|\
    "./usr/share/lintian/overrides/$PACKAGE") ;;
    *) fail "unexpected file in the package: $f" ;;
  esac
done < <(cd "$root" && find . \( -type f -o -type l \))
# Every program and library is built for the package's architecture.
case "$ARCH" in
  amd64) elf_class='ELF 64-bit LSB .*x86-64' ;;
  i386) elf_class='ELF 32-bit LSB .*Intel 80386' ;;
  *) elf_class='ELF' ;;
esac
while IFS= read -r f; do
  kind=$(file -b "$f")
  case "$kind" in ELF*) grep -Eq "$elf_class" <<<"$kind" || fail "not $ARCH: $f: $kind" ;; esac
done < <(find "$root" -type f)

# ---- run paths ----
echo "== run paths"
dyn() { readelf -d "$1" | sed -nE "s/.*\\($2\\).*\\[(.*)\\]$/\\1/p"; }
runpath=$(dyn "$home/bin/agentlauncher" RUNPATH)
rpath=$(dyn "$home/bin/agentlauncher" RPATH)
echo "agentlauncher RUNPATH=$runpath RPATH=$rpath"
[ "$runpath" = "$JVM_DIR" ] && [ -z "$rpath" ] ||
  fail "agentlauncher: RUNPATH '$runpath' RPATH '$rpath', expected RUNPATH '$JVM_DIR' only"
libs=(cimbridge netinfo sysactions)
[ "$OWN_PEGASUS" = ON ] && libs+=(pegcommon pegclient peglistener)
for lib in "${libs[@]}"; do
  so="$home/lib/lib$lib.so"
  [ -f "$so" ] || continue
  rp=$(dyn "$so" RUNPATH)$(dyn "$so" RPATH)
  echo "lib$lib.so run path: $rp"
  case "$rp" in *"$BUILD_DIR"*) fail "lib$lib.so looks into the build tree: $rp" ;; esac
  # Output kept before grep -q reads it: under pipefail a writer cut off by grep's early
  # exit (SIGPIPE) would fail the check now and then.
  so_deps=$(ldd "$so")
  if grep -q 'not found' <<<"$so_deps"; then
    ldd "$so" >&2
    fail "lib$lib.so has unresolved libraries"
  fi
done
if [ "$OWN_PEGASUS" = ON ]; then
  # Each client library a packaged library needs is the packaged one, through $ORIGIN.
  for lib in cimbridge pegcommon pegclient peglistener; do
    so="$home/lib/lib$lib.so"
    rp=$(dyn "$so" RUNPATH)
    [ "$rp" = '$ORIGIN' ] || fail "lib$lib.so: RUNPATH '$rp', expected \$ORIGIN"
    for needed in $(dyn "$so" NEEDED | grep '^libpeg' || true); do
      grep -qF "$needed => $home/lib/$needed" <<<"$(ldd "$so")" ||
        fail "lib$lib.so does not find the packaged $needed"
    done
  done
  grep -qx 'libpegclient.so' <<<"$(dyn "$home/lib/libcimbridge.so" NEEDED)" ||
    fail "libcimbridge.so does not need libpegclient.so"
  rp=$(dyn "$home/bin/minicimd" RUNPATH)
  [ "$rp" = '$ORIGIN/../lib' ] || fail "minicimd: RUNPATH '$rp', expected \$ORIGIN/../lib"
fi

# ---- unit ----
echo "== unit"
unit="$root$UNIT_DIR/agentlauncher.service"
cat "$unit"
escaped=${PREFIX//%/%%}
for line in \
    "ExecStart=\"$escaped/bin/agentlauncher\"" \
    "Environment=\"BREVIN_HOME=$escaped\"" \
    "Environment=\"ORV_HOME=${ORV_HOME_EXPECTED//%/%%}\"" \
    "Type=simple" "KillSignal=SIGTERM" "TimeoutStopSec=30"; do
  grep -qxF "$line" "$unit" || fail "the unit lacks the line '$line'"
done

# The unit's confinement, rated as systemctl would rate it once installed.
analyze_help=$(systemd-analyze --help 2>&1 || true)
if grep -q -- '--offline' <<<"$analyze_help"; then
  security=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1 || true)
  exposure=$(sed -nE 's/.*Overall exposure level for [^:]*: ([0-9.]+).*/\1/p' <<<"$security")
  echo "exposure: ${exposure:-?} (at most $MAX_EXPOSURE)"
  awk -v e="${exposure:-99}" -v m="$MAX_EXPOSURE" 'BEGIN { exit !(e <= m) }' ||
    { echo "$security" >&2; fail "the unit's exposure ${exposure:-?} is above $MAX_EXPOSURE"; }
fi
# The maintainer scripts lay out and remove the unit's ORV_HOME.
for s in postinst postrm; do
  grep -qxF "ORV_HOME='$ORV_HOME_EXPECTED'" "$SCRATCH/control.d/$s" || fail "$s does not name ORV_HOME $ORV_HOME_EXPECTED"
done

# ---- the unpacked launcher with the sample agent ----
echo "== run"
orv_home="$SCRATCH/orv"
mkdir -p "$orv_home/user/brevin/ext"
report="$home/agent-report.txt"
log="$SCRATCH/launcher.log"
ld_path=${LD_LIBRARY_PATH:-}
if [ ! -e "$JVM_DIR/libjvm.so" ]; then
  echo "no $JVM_DIR/libjvm.so on this machine: LD_LIBRARY_PATH=$BUILD_JVM_DIR"
  ld_path=$BUILD_JVM_DIR
fi
ORV_HOME="$orv_home" BREVIN_HOME="$home" LD_LIBRARY_PATH="$ld_path" \
  "$home/bin/agentlauncher" >"$log" 2>&1 &
launcher_pid=$!
for ((i = 0; i < start_ceiling * 10; i++)); do
  grep -qx 'main.returned' "$report" 2>/dev/null && break
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 0.1
done
if grep -qx 'main.returned' "$report" 2>/dev/null; then
  grep -E '^property\.(java\.home|brevin\.home|java\.library\.path)=' "$report" || true
  kill -TERM "$launcher_pid"
  for ((i = 0; i < stop_ceiling * 10; i++)); do
    kill -0 "$launcher_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$launcher_pid" 2>/dev/null && fail "the launcher did not exit within ${stop_ceiling} s of SIGTERM"
  status=0
  wait "$launcher_pid" || status=$?
  launcher_pid=
  echo "agentlauncher exited with status $status"
  [ "$status" -eq 0 ] || fail "agentlauncher exit status $status, expected 0"
  grep -qx 'event=1' "$report" || fail "the agent did not get the shutdown event (1)"
else
  fail "the sample agent did not report that main returned"
fi
[ -s "$log" ] && { echo "launcher output:"; sed 's/^/    /' "$log"; }

# ---- lintian ----
echo "== lintian"
# Overridden tags are shown (O:, with the reason as N:) and then count towards the
# exit status 2, so errors are judged by the E: lines; 1 means lintian itself failed.
lintian_rc=0
lintian --allow-root --display-info --show-overrides "$deb" >"$SCRATCH/lintian.log" 2>&1 || lintian_rc=$?
cat "$SCRATCH/lintian.log"
if [ "$lintian_rc" -ne 0 ] && [ "$lintian_rc" -ne 2 ]; then
  fail "lintian failed (exit status $lintian_rc)"
elif grep -q '^E: ' "$SCRATCH/lintian.log"; then
  fail "lintian reports errors"
fi
if grep -q 'unused-override\|malformed-override' "$SCRATCH/lintian.log"; then
  fail "the lintian overrides no longer match the package"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
rm -rf "$SCRATCH"
echo "package OK"
