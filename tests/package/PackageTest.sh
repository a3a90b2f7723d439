#!/usr/bin/env bash
# The Debian packages as a user meets them: morvane, indi-morvane and morvane-alpaca built by
# CPack from this build tree, each holding its own files and depending on what they need,
# passed by Debian's own checkers (lintian --pedantic with no error or warning, appstreamcli,
# desktop-file-validate), unpacked into a scratch root whose programs answer --version and
# --help, and whose morvane, started offscreen on the simulator, finds its guide, voice and
# settings folder and is driven by the unpacked morvanectl.
#
#   PackageTest.sh <build directory> <source directory>
set -uo pipefail
build=$1
source_dir=$2

source "$source_dir/tests/support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools cpack lintian appstreamcli desktop-file-validate dpkg-deb gdbus pdffonts
start_work
fail() { echo "FAIL: $*"; cat "$work/morvane.out" 2>/dev/null; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.out" 2>&1 ||
  { cat "$work/cpack.out"; fail "cpack failed"; }
declare -A debs
for package in morvane indi-morvane morvane-alpaca; do
  debs[$package]=$(ls "$work"/pkg/"${package}"_*.deb 2>/dev/null | head -1)
done
[ -n "${debs[morvane]}" ] || fail "no morvane_*.deb made"
# The driver and the server are packed when they were built (libindi, cpp-httplib present).
built=(morvane)
[ -x "$build/src/indi_morvane_focus/indi_morvane_focus" ] && built+=(indi-morvane)
[ -x "$build/src/alpaca/morvane-alpaca" ] && built+=(morvane-alpaca)
version=$(dpkg-deb --field "${debs[morvane]}" Version)

root="$work/root"
for package in "${built[@]}"; do
  deb=${debs[$package]}
  [ -n "$deb" ] || fail "no ${package}_*.deb made"
  echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
  dpkg-deb --field "$deb" Package Version Section Depends Recommends Suggests Source
  # Every package has its copyright, changelog and README.
  listing=$(dpkg-deb -c "$deb")
  for f in copyright changelog.gz README.md.gz; do
    grep -q " \./usr/share/doc/$package/$f\$" <<<"$listing" ||
      fail "$package lacks /usr/share/doc/$package/$f"
  done
  # lintian, pedantic: no error and no warning; what is left (pedantic and informational
  # tags) is printed for the reader. No hardening tag: the programs are built as Debian's are.
  lintian --pedantic --display-info --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
  status=$?
  cat "$work/lintian"
  [ $status -eq 0 ] || fail "lintian reports errors or warnings on $package"
  grep ' hardening-' "$work/lintian" && fail "lintian finds $package's programs not hardened"
  dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $package failed"
done

# What each package holds and needs: the window's package brings in neither the INDI library
# nor the HTTP server; each of the others holds its program and depends on Morvane of the
# same build, whose bus it is a client of.
# (Each read whole before it is searched: grep -q would leave dpkg-deb a broken pipe.)
depends() { dpkg-deb --field "${debs[$1]}" Depends; }
contents() { dpkg-deb -c "${debs[$1]}" | sed -E 's|^.* \./|./|' | grep -v '/$'; }
grep -Eq 'libindi|httplib' <<<"$(depends morvane)" && fail "morvane depends on libindi or cpp-httplib"
grep -q 'libqt6widgets6' <<<"$(depends morvane)" || fail "morvane does not depend on Qt's widgets"
grep -E 'indi|alpaca' <<<"$(contents morvane)" && fail "morvane holds the INDI driver's or the server's files"
for f in usr/bin/morvane usr/bin/morvanectl usr/share/man/man1/morvane.1.gz \
         usr/share/man/man1/morvanectl.1.gz usr/share/morvane/Res01.rcc \
         "usr/share/morvane/Kestrum and Morvane User's Guides.pdf" \
         usr/share/applications/org.morvane.Morvane.desktop \
         usr/share/metainfo/org.morvane.Morvane.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/morvane.svg \
         usr/share/icons/hicolor/48x48/apps/morvane.png \
         usr/share/bash-completion/completions/morvanectl \
         usr/lib/systemd/user/morvane.service \
         usr/share/dbus-1/interfaces/org.morvane.Focuser1.xml usr/share/doc/morvane/copyright; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
# The guide embeds only the fonts that morvane's copyright names.
guide="$root/usr/share/morvane/Kestrum and Morvane User's Guides.pdf"
fonts=$(pdffonts "$guide" | tail -n +3 | awk '{print $1}' | sed 's/^[A-Z]*+//' | sort -u)
echo "the guide's fonts:" $fonts
grep -v '^DejaVuSans' <<<"$fonts" && fail "the guide embeds fonts other than DejaVu"
grep -q 'DejaVu Sans and DejaVu Sans Mono' "$root/usr/share/doc/morvane/copyright" ||
  fail "morvane's copyright does not name the guide's fonts"
file "$root/usr/share/icons/hicolor/48x48/apps/morvane.png" | grep -q 'PNG image data, 48 x 48' ||
  fail "the 48 px icon is no 48 x 48 PNG"
if [[ " ${built[*]} " == *" indi-morvane "* ]]; then
  diff <(contents indi-morvane | sort) - <<EOF || fail "indi-morvane holds other files"
./usr/bin/indi_morvane_focus
./usr/share/doc/indi-morvane/README.md.gz
./usr/share/doc/indi-morvane/changelog.gz
./usr/share/doc/indi-morvane/copyright
./usr/share/indi/indi_morvane_focus.xml
./usr/share/man/man1/indi_morvane_focus.1.gz
EOF
  # The driver's version as INDI clients see it, and as its entry lists it, is one.
  # (Its input is held open until it has answered: at end of input it leaves at once.)
  mkfifo "$work/indi.in"
  "$root/usr/bin/indi_morvane_focus" <"$work/indi.in" >"$work/indi.out" 2>/dev/null &
  pids+=($!)
  exec 7>"$work/indi.in"
  echo '<getProperties version="1.7"/>' >&7
  shown=
  for _ in $(seq 100); do
    shown=$(sed -n "/name='DRIVER_VERSION'/,/defText>/p" "$work/indi.out" |
      sed -n 's/^ *\([0-9][0-9.]*\)$/\1/p')
    [ -n "$shown" ] && break
    sleep 0.1
  done
  exec 7>&-
  listed=$(sed -n 's|.*<version>\(.*\)</version>.*|\1|p' "$root/usr/share/indi/indi_morvane_focus.xml")
  [ -n "$shown" ] && [ "$shown" = "$listed" ] ||
    fail "the INDI driver shows version '$shown', its XML lists '$listed'"
  echo "INDI driver version $shown, in the driver and its XML"
  grep -q 'libindidriver' <<<"$(depends indi-morvane)" || fail "indi-morvane does not depend on libindidriver"
  grep -qF "morvane (= $version)" <<<"$(depends indi-morvane)" || fail "indi-morvane does not depend on morvane"
fi
if [[ " ${built[*]} " == *" morvane-alpaca "* ]]; then
  diff <(contents morvane-alpaca | sort) - <<EOF || fail "morvane-alpaca holds other files"
./usr/bin/morvane-alpaca
./usr/share/doc/morvane-alpaca/README.md.gz
./usr/share/doc/morvane-alpaca/changelog.gz
./usr/share/doc/morvane-alpaca/copyright
./usr/share/man/man1/morvane-alpaca.1.gz
EOF
  grep -q 'libcpp-httplib' <<<"$(depends morvane-alpaca)" || fail "morvane-alpaca does not depend on cpp-httplib"
  grep -qF "morvane (= $version)" <<<"$(depends morvane-alpaca)" || fail "morvane-alpaca does not depend on morvane"
  # nlohmann-json is compiled in: its copyright and licence go with the program.
  grep -q 'Niels Lohmann' "$root/usr/share/doc/morvane-alpaca/copyright" &&
    grep -q '^License: Expat$' "$root/usr/share/doc/morvane-alpaca/copyright" ||
    fail "morvane-alpaca's copyright does not name nlohmann-json and its licence"
fi

appstreamcli validate --no-net "$source_dir/data/org.morvane.Morvane.metainfo.xml" ||
  fail "appstreamcli rejects the metainfo"
desktop-file-validate "$source_dir/data/org.morvane.Morvane.desktop" ||
  fail "desktop-file-validate rejects the desktop entry"

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
