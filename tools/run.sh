#!/usr/bin/env bash
# Starts the desktop program from a build tree; without a display, runs the headless front end instead.
set -euo pipefail
build=${1:-build/release}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/VandrelShopper" ]; then
  # The embedded browser refuses to start its sandbox as root; a normal user keeps it.
  if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  exec "$build/VandrelShopper"
fi
echo "No display: running the command-line front end on the bundled data." >&2
exec "$build/vandrel-shopper-cli" version
