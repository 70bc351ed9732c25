#!/usr/bin/env bash
# Runs a GUI test binary under a virtual display with the WebEngine settings this machine needs as root.
set -euo pipefail
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
export QT_QUICK_BACKEND=software
# Under the sanitizers: the web engine, D-Bus and fontconfig keep allocations until the process ends, and the
# web engine frees some objects with a sized delete of another type when a page goes. Both are the system
# libraries'; leak checking stays with the core's own tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:new_delete_type_mismatch=0"
if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
exec xvfb-run -a -s "-screen 0 1280x900x24" "$@"
