#!/usr/bin/env bash
# Runs a GUI test binary under a virtual display with the WebEngine settings this machine needs as root.
set -euo pipefail
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
export QT_QUICK_BACKEND=software
if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
exec xvfb-run -a -s "-screen 0 1280x900x24" "$@"
