#!/usr/bin/env bash
# Starts the desktop program from a build tree; without a display, runs the headless front end instead.
set -euo pipefail
build=${1:-build/release}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/VandrelShopper" ]; then
  # The embedded browser refuses to start its sandbox as root; a normal user keeps it.
  if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  exec "$build/VandrelShopper"
fi

# No display: a demo search with the headless front end, the bundled engines against the demo store site.
cli="$build/vandrel-shopper-cli"
data="$build/Data"
echo "No display: running the command-line front end on the bundled data." >&2
"$cli" version
work=$(mktemp -d)
trap 'kill "${site:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$cli" demo-stores --port 0 --once-ready-file "$work/port" >/dev/null &
site=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "the demo store site did not start" >&2; exit 1; }
port=$(cat "$work/port")
echo "Demo store site on 127.0.0.1:$port; searching the electronics stores for \"volta\":" >&2
"$cli" search --data "$data" --category buyelectronics --set Keywords=volta \
  --define "DemoStoreAddress=http://127.0.0.1:$port/"
