#!/usr/bin/env bash
# Installs whatever Debian packages are missing, then configures and builds.
# Safe to run again: it installs nothing that is already there.
# With `i386` it does the same for the 32-bit x86 preset (scripts/packages-i386.txt).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
preset=${1:-default}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# A mirror in the middle of a sync fails `apt-get update` for one index now and then: try
# again, then go on with the lists there are (the install says so if they do not serve).
apt_update() {
  local try
  for try in 1 2 3; do
    "${sudo_cmd[@]}" apt-get update -qq && return 0
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep 20
  done
  echo "setup: going on with the package lists already there" >&2
  return 1
}

# A library installed for both architectures must have one version on both. When the
# update could not fetch a suite's i386 index (the security suite mid-sync), its amd64
# versions have no i386 twin: take both sides from the release's own suite instead, and
# where an amd64 package already installed is newer than any i386 one, bring it back to
# the version both have. Only packages the install names as unsatisfiable are touched.
install_i386_from_release() {
  local codename try out pkg twin
  local pinned=()
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  for try in 1 2 3 4 5 6 7 8; do
    if out=$(apt-get install -s -t "$codename" --allow-downgrades --no-install-recommends \
        "$@" "${pinned[@]}" 2>&1); then
      echo "setup: installing from $codename, with the same versions for amd64 and i386${pinned[*]:+: ${pinned[*]}}"
      DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq -t "$codename" \
        --allow-downgrades --no-install-recommends "$@" "${pinned[@]}"
      return
    fi
    local added=0
    while read -r pkg; do
      twin=$(apt-cache policy "$pkg:i386" | awk '/Candidate:/ { print $2 }')
      if [ -n "$twin" ] && [ "$twin" != "(none)" ] \
          && dpkg-query -W -f='${Status}' "$pkg:amd64" 2>/dev/null | grep -q 'install ok installed' \
          && [[ " ${pinned[*]} " != *" $pkg=$twin "* ]]; then
        pinned+=("$pkg=$twin")
        added=1
      fi
    done < <(grep -oP 'Depends: \K[^: ]+(?=:i386 but it is not going to be installed)' <<<"$out" | sort -u)
    [ "$added" -eq 1 ] || break
  done
  echo "$out" >&2
  echo "setup: the i386 packages cannot be installed from the package lists there are" >&2
  return 1
}

# --- i386 preset: the i386 multiarch packages, the amd64 java/javac kept the default ---
if [ "$preset" = i386 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  mapfile -t wanted < <(grep -v -E '^\s*(#|$)' scripts/packages-i386.txt)
  missing=()
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if apt_update; then
      DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    elif ! DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
      install_i386_from_release "${missing[@]}"
    fi
  fi
  # Both JDKs register the same alternatives at the same priority: keep the amd64 one.
  for tool in java javac; do
    amd64_tool=/usr/lib/jvm/java-17-openjdk-amd64/bin/$tool
    if [ -x "$amd64_tool" ] && [ "$(readlink -f "/usr/bin/$tool")" != "$amd64_tool" ]; then
      "${sudo_cmd[@]}" update-alternatives --set "$tool" "$amd64_tool"
    fi
  done
  cmake --preset i386
  cmake --build --preset i386
  exit 0
fi
# --- end of the i386 preset ---

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' scripts/packages.txt)
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update || true
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --preset default
cmake --build --preset default
