#!/usr/bin/env bash
# The real program under Xvfb with a window manager (openbox): the window comes back where it
# was closed, start after start, and Factory Defaults leaves its title bar on the screen.
#
#   WindowPlace.sh <path of the morvane binary>
set -uo pipefail
program=$1

source "$(dirname "$0")/../support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools Xvfb xdotool xwininfo openbox
start_work
fail() { cat "$work/out";  echo "FAIL: $*"; exit 1; }
start_xvfb
# A window mapped while openbox starts may stay unmapped: the program waits until it runs.
openbox --startup "touch $work/openbox" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -e "$work/openbox" ] && break; sleep 0.05; done

cp "$program" "$work/morvane"
printf '[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n\r\n[FocusControl]\r\nStayOnTop=0\r\n\r\n[Position]\r\nSavePosition=1\r\nLeft=300\r\nTop=300\r\n' >"$work/Morvane.ini"

app=
start() {
  "$work/morvane" --simulate >>"$work/out" 2>&1 &
  app=$!
  pids+=($app)
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvane$' | head -1)
  [ -n "$wid" ] || fail "no Morvane window"
  # The settings place the window once it has been shown, and correct the place once the
  # frame is known: the frame passes through the place asked for on its way, so nothing seen
  # from outside says the placing is over.
  sleep 1.5
}
stop() {
  kill -TERM "$app"
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
  wait "$app" || fail "the program ended with status $?"
}
# The outer frame's top-left corner as the window manager drew it: the client's absolute place
# less openbox's frame extents.
frame_place() {
  local x y l t
  x=$(xwininfo -id "$wid" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$wid" | sed -n 's/.*Absolute upper-left Y: *//p')
  read -r l _ t _ < <(xprop -id "$wid" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo "$((x - l)) $((y - t))"
}

for run in 1 2 3; do
  start
  place=$(frame_place)
  [ "$place" = "300 300" ] || fail "start $run: the frame is at $place, not 300 300"
  stop
  grep -q '^Left=300' "$work/Morvane-sim.ini" && grep -q '^Top=300' "$work/Morvane-sim.ini" ||
    fail "start $run: saved $(grep -E '^(Left|Top)=' "$work/Morvane-sim.ini" | tr '\r\n' '  ')"
done

# Factory Defaults from the setup dialog: the title bar stays on the screen.
start
xdotool mousemove --window "$wid" 20 10 click 1
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Setup$' | head -1)
[ -n "$dialog" ] || fail "no setup dialog"
# Nothing from outside shows when the dialog takes clicks, nor when the window manager has
# carried out a move: each step is given a time far above what it needs.
settle=0.5
sleep $settle
xdotool mousemove --window "$dialog" 377 247 click 1
sleep $settle
xdotool key --window "$dialog" Escape 2>/dev/null
sleep 1  # the window manager carries out the move to the factory place
read -r fx fy < <(frame_place)
[ "$fx" -ge 0 ] && [ "$fy" -ge 0 ] || fail "after Factory Defaults the frame is at $fx $fy"
echo "PASS: three starts at 300 300; Factory Defaults put the frame at $fx $fy"
