#!/usr/bin/env bash
# Starts the desktop program from a build tree beside the demo store site, so a first search finds merged
# results offline; without a display, runs a demo search with the headless front end instead.
set -euo pipefail
build=${1:-build/release}
cli="$build/vandrel-shopper-cli"

work=$(mktemp -d)
trap 'kill "${site:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$cli" demo-stores --port 0 --once-ready-file "$work/port" >/dev/null &
site=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "the demo store site did not start" >&2; exit 1; }
address="http://127.0.0.1:$(cat "$work/port")/"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/VandrelShopper" ]; then
  # The embedded browser refuses to start its sandbox as root; a normal user keeps it.
  if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  echo "Demo store site on $address, stopped when the window closes." >&2
  # Not exec: the site goes when the program ends. A program already running takes this start's command
  # line and keeps the store site it was started with.
  status=0
  "$build/VandrelShopper" --define "DemoStoreAddress=$address" "${@:2}" || status=$?
  exit "$status"
fi

echo "No display: running the command-line front end on the bundled data." >&2
"$cli" version
echo "Demo store site on $address; searching the electronics stores for \"volta\":" >&2
# --no-update: the demo is offline, and no update site runs beside the store site.
"$cli" search --data "$build/Data" --category buyelectronics --set Keywords=volta --no-update \
  --define "DemoStoreAddress=$address"
