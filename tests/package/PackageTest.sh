#!/usr/bin/env bash
# The Debian package as a user meets it: built by CPack from this build tree, passed by
# Debian's own checkers (lintian with no error, appstreamcli, desktop-file-validate), unpacked
# into a scratch root whose programs answer --version and --help, and whose morvane, started
# offscreen on the simulator, finds its guide, voice and settings folder and is driven by the
# unpacked morvanectl.
#
#   PackageTest.sh <build directory> <source directory>
set -uo pipefail
build=$1
source_dir=$2

source "$source_dir/tests/support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools cpack lintian appstreamcli desktop-file-validate dpkg-deb gdbus
start_work
fail() { echo "FAIL: $*"; cat "$work/morvane.out" 2>/dev/null; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.out" 2>&1 ||
  { cat "$work/cpack.out"; fail "cpack failed"; }
deb=$(ls "$work"/pkg/morvane_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no morvane_*.deb made"
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Section Depends Recommends

# lintian: no error; the warnings left are printed for the reader.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
status=$?
cat "$work/lintian"
[ $status -eq 0 ] || fail "lintian reports errors"

appstreamcli validate --no-net "$source_dir/data/org.morvane.Morvane.metainfo.xml" ||
  fail "appstreamcli rejects the metainfo"
desktop-file-validate "$source_dir/data/org.morvane.Morvane.desktop" ||
  fail "desktop-file-validate rejects the desktop entry"

root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
for f in usr/bin/morvane usr/bin/morvanectl usr/share/man/man1/morvane.1.gz \
         usr/share/man/man1/morvanectl.1.gz usr/share/morvane/Res01.rcc \
         "usr/share/morvane/Kestrum and Morvane User's Guides.pdf" \
         usr/share/applications/org.morvane.Morvane.desktop \
         usr/share/metainfo/org.morvane.Morvane.metainfo.xml \
         usr/share/dbus-1/interfaces/org.morvane.Focuser1.xml usr/share/doc/morvane/copyright; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
# Nothing but programs in /usr/bin.
for f in "$root"/usr/bin/*; do [ -x "$f" ] || fail "$f in /usr/bin is no program"; done

"$root/usr/bin/morvane" --version | grep -qx 'morvane 1\.4\.0\.23' || fail "morvane --version"
"$root/usr/bin/morvanectl" --help | grep -q '^usage: morvanectl' || fail "morvanectl --help"
for extra in morvane-alpaca indi_morvane_focus; do
  if [ -x "$root/usr/bin/$extra" ]; then
    "$root/usr/bin/$extra" --version | grep -q "^$extra " || fail "$extra --version"
    [ -e "$root/usr/share/man/man1/$extra.1.gz" ] || fail "no manual page for $extra"
  fi
done
[ -e "$root/usr/lib/systemd/user/morvane.service" ] ||
  fail "the package lacks /usr/lib/systemd/user/morvane.service"
# No bus service file: a client's call must never start a hidden Morvane.
[ -e "$root/usr/share/dbus-1/services/org.morvane.Morvane.service" ] &&
  fail "the package installs a bus service file"
# The unpacked program's files: settings in the configuration folder (never beside the
# program, though root could write there), guide and voice in its data folder.
export XDG_CONFIG_HOME="$work/config"
files=$("$root/usr/bin/morvane" --show-files) || fail "morvane --show-files"
echo "$files"
echo "$files" | grep -qx "settings  $XDG_CONFIG_HOME/Morvane/Morvane.ini (missing)" ||
  fail "settings not in the configuration folder"
echo "$files" | grep -q "^guide .*/usr/share/morvane/Kestrum and Morvane User's Guides.pdf$" ||
  fail "guide not found in the data folder"
echo "$files" | grep -q '^voice .*/usr/share/morvane/Res01.rcc$' || fail "voice not found"

# The unpacked program on the simulator with the voice on, driven by the unpacked morvanectl.
mkdir -p "$XDG_CONFIG_HOME/Morvane"
printf '[Device/Ports]\r\nComPort=3\r\nCommands=0\r\nVoice=0\r\n\r\n[FocusControl]\r\nStayOnTop=0\r\n\r\n[Position]\r\n' \
  >"$XDG_CONFIG_HOME/Morvane/Morvane.ini"
QT_QPA_PLATFORM=offscreen MORVANE_ALSA_DEVICE=null "$root/usr/bin/morvane" --simulate \
  >"$work/morvane.out" 2>&1 &
app=$!
pids+=($app)
for _ in $(seq 200); do morvane_property PortOpen | grep -q true && break; sleep 0.1; done
morvane_property PortOpen | grep -q true || fail "the unpacked morvane did not open its port"
morvane_property ComPort | grep -q '<3>' || fail "the unpacked morvane did not read its settings file"
landed=$(timeout 60 "$root/usr/bin/morvanectl" move-to 40 --wait) || fail "morvanectl move-to"
echo "landed at $landed"
[ "$landed" -ge 38 ] && [ "$landed" -le 42 ] || fail "the move landed at $landed, not near 40"
sleep 2  # the voice speaks the landed position from the bundle
grep -q 'Resource DLL Load Failed\|Res01' "$work/morvane.out" && fail "the voice bundle was not found"
kill -TERM $app
wait $app 2>/dev/null
echo "PASS"
