#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the installation as a user and Debian would see it:
# the installed command line finds its own Data/ and Web/ and runs a demo search from a fresh root, the
# desktop file and metainfo validate, and the .deb lists its dependencies and passes lintian.
# Usage: tools/test-install.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/vandrel-install-XXXXXX)
demo_pid=
cleanup() {
  if [ -n "$demo_pid" ]; then kill "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-install: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vandrel-shopper-cli bin/vandrel-script share/VandrelShopper/Web/Welcome.htm \
         share/applications/vandrel-shopper.desktop share/metainfo/com.vandrelsoft.VandrelShopper.metainfo.xml \
         share/icons/hicolor/48x48/apps/vandrel-shopper.png share/icons/hicolor/scalable/apps/vandrel-shopper.svg \
         share/man/man1/vandrel-shopper-cli.1.gz share/man/man1/vandrel-script.1.gz \
         share/VandrelShopper/webextension/manifest.json share/doc/vandrel-shopper/copyright; do
  [ -e "$prefix/$f" ] || fail "missing after install: $f"
done
ls "$prefix"/lib*/vandrel-shopper/libvandrel_uninstall.so >/dev/null || fail "missing: the uninstall library"
[ -n "$(find "$prefix/share/VandrelShopper/Data" -name '*.cca' -print -quit)" ] || fail "no compiled definitions installed"
if [ -e "$build/vandrel-update-site" ]; then
  [ -e "$prefix/bin/vandrel-update-site" ] && [ -e "$prefix/share/man/man1/vandrel-update-site.1.gz" ] \
    || fail "vandrel-update-site or its man page not installed"
fi

desktop-file-validate "$prefix/share/applications/vandrel-shopper.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/com.vandrelsoft.VandrelShopper.metainfo.xml" \
  || fail "appstreamcli validate"

# The installed program, started from the prefix with a fresh root and settings folder.
cli=$prefix/bin/vandrel-shopper-cli
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$cli" demo-stores --port 0 --once-ready-file "$work/port" >/dev/null 2>&1 &
demo_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the demo store site did not start"
port=$(cat "$work/port")
root=$work/root
search=(search --root "$root" --category buybooks --set Title=glass --json --define "DemoStoreAddress=http://127.0.0.1:$port/")
if ! "$cli" "${search[@]}" >"$work/results" 2>"$work/errors"; then
  if grep -q -- "--data and --category are required" "$work/errors"; then
    # A command line that still needs its data folder named: the installed one.
    "$cli" "${search[@]}" --data "$prefix/share/VandrelShopper/Data" >"$work/results" 2>"$work/errors" \
      || { cat "$work/errors" >&2; fail "the installed program's search failed"; }
  else
    cat "$work/errors" >&2
    fail "the installed program's search failed"
  fi
fi
grep -q '"Rank"' "$work/results" || { cat "$work/results" "$work/errors" >&2; fail "the search found nothing"; }
echo "test-install: installed search found $(grep -c '"Rank"' "$work/results") results"

# The package, from the same build.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack"
deb=$(ls "$work"/package/*.deb)
dpkg-deb -I "$deb" >"$work/info"
grep -E '^ Depends: .*libc6' "$work/info" || { cat "$work/info" >&2; fail "the package lists no run-time dependencies"; }
# Listed to a file first: grep -q stops reading early, and pipefail would count dpkg-deb's broken pipe.
dpkg-deb -c "$deb" >"$work/contents"
grep -q './usr/bin/vandrel-shopper-cli' "$work/contents" || fail "the package holds no program"
lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian reports errors"
echo "test-install: ok"
