#!/usr/bin/env bash
# Sets up, builds, installs into a scratch BREVIN_HOME and runs the agent under
# the launcher, then stops it the way systemd does: SIGTERM.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
exec "$top/build/demo/run-demo.sh"
