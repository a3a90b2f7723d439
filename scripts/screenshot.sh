#!/usr/bin/env bash
# Makes docs/morvane.png and docs/morvane-night.png, the README's pictures of the window (by
# day and in night vision): the program on the simulated focuser under a private X server,
# after a short run in and a move by +10, the status line showing how that move ended; and
# docs/compensation.png, the guide's picture of the Compensation dialog with both compensations
# on and a few focus marks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON >/dev/null
cmake --build build/normal --target morvane

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(cat "$work/display")
unset QT_QPA_PLATFORM

cp build/normal/src/app/morvane "$work/"
printf '[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n\r\n[FocusControl]\r\nNudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.15\r\nStopFactor=12\r\nStayOnTop=1\r\n\r\n[Position]\r\n' >"$work/Morvane.ini"
shoot() {  # <picture> [program options]
  rm -f "$work/Morvane-sim.ini"
  dbus-run-session -- bash -c '
  "$1/morvane" --simulate "${@:3}" 2>/dev/null &
  app=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^Morvane$" | head -1)
  sleep 0.5
  xdotool windowfocus "$wid" 2>/dev/null || true
  xdotool keydown i; sleep 0.4; xdotool keyup i
  sleep 1
  height=$(xdotool getwindowgeometry --shell "$wid" | sed -n "s/^HEIGHT=//p")
  xdotool mousemove --window "$wid" 232 $((height - 59)) click 1
  sleep 4
  xdotool mousemove 700 500
  sleep 0.3
  import -window "$wid" "$2"
  kill -TERM "$app"; wait "$app"
' _ "$work" "$@"
}
shoot docs/morvane.png
shoot docs/morvane-night.png --night

printf '[Compensation]\r\nBacklash=1\r\nBacklashCodes=20\r\nTempComp=1\r\nTempCoefficient=-8.2\r\nTempSamples=10\r\nTempDeadBand=5\r\nTempReference=12.5\r\n' >>"$work/Morvane.ini"
printf '%s\n' '# Morvane focus marks: UTC time, degrees Celsius, count. Newest last.' \
  '2026-10-14T19:02:11Z 14.1 2012' '2026-10-14T20:31:40Z 12.6 2027' \
  '2026-10-14T22:05:09Z 11.2 2036' '2026-10-15T00:12:55Z 9.4 2053' \
  '2026-10-15T02:40:30Z 8.3 2060' >"$work/Morvane-sim-marks.txt"
rm -f "$work/Morvane-sim.ini"
dbus-run-session -- bash -c '
  "$1/morvane" --simulate 2>/dev/null &
  app=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^Morvane$" | head -1)
  sleep 0.5
  xdotool windowfocus "$wid" 2>/dev/null || true
  xdotool key alt+f c
  dialog=$(timeout 10 xdotool search --sync --onlyvisible --name "^Compensation$" | head -1)
  sleep 1.5
  import -window "$dialog" "$2"
  kill -TERM "$app"; wait "$app"
' _ "$work" docs/compensation.png
echo "wrote docs/morvane.png, docs/morvane-night.png and docs/compensation.png"
