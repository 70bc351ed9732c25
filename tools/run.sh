#!/usr/bin/env bash
# Starts the desktop program from a build tree; without a display, runs the headless front end instead.
set -euo pipefail
build=${1:-build/release}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/VandrelShopper" ]; then
  # The embedded browser refuses to start its sandbox as root; a normal user keeps it.
  if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  exec "$build/VandrelShopper"
fi

# No display: show the headless front end at work on the bundled demo store site.
cli="$build/vandrel-shopper-cli"
echo "No display: running the command-line front end on the bundled data." >&2
"$cli" version
work=$(mktemp -d)
trap 'kill "${site:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$cli" demo-stores --port 0 --once-ready-file "$work/port" &
site=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
echo "Demo store site on 127.0.0.1:$port; first result page of one store, fetched as an engine would:" >&2
"$cli" fetch "http://127.0.0.1:$port/pageturner/search?q=harry+potter" -o "$work/page.html"
grep -o '<td class="title"><a [^>]*>[^<]*' "$work/page.html" | sed 's/<[^>]*>//g; s/^/  /'
