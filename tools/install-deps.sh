#!/usr/bin/env bash
# Installs every Debian package that building, testing and running VandrelShopper needs.
# Idempotent: prints nothing and touches nothing when everything is present.
set -euo pipefail

packages=(
  # build
  build-essential cmake ccache pkg-config clang clang-format libclang-rt-14-dev
  # libraries of the core and the desktop program
  libssl-dev zlib1g-dev libgif-dev libglib2.0-dev
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libgl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth libxcb1-dev
  tinyproxy dante-server openssl python3 python3-dbfread pgdbf
  # installing and packaging: desktop file, metainfo and package checks, the extension's test
  desktop-file-utils appstream lintian dpkg-dev nodejs
  # benchmark peers
  libgumbo-dev liblua5.4-dev libsqlite3-dev libcurl4-openssl-dev curl
  # profiling the benchmarks (perf record / perf report)
  linux-perf
  # a German locale, under which tests check that numbers never follow the C locale
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The locale tests switch to de_DE.UTF-8 (comma as the decimal separator); build it once when missing.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
fi
