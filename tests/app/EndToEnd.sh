#!/usr/bin/env bash
# The real program under Xvfb and openbox on the simulated focuser, with its own session bus and
# a scratch settings directory: hold "I" and release it, click "+10", and check the broadcasts
# seen on the bus, the window position written at close (to the simulated run's own settings
# file) and a screenshot that is not blank; between them, the Focus menu's compensation scene.
#
#   EndToEnd.sh <path of the morvane binary> <path of morvanectl>
set -uo pipefail
program=$1
morvanectl=$2

source "$(dirname "$0")/../support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools Xvfb xdotool dbus-monitor import identify openbox gdbus
start_work
fail() { cat "$work/out"; echo "FAIL: $*"; echo "--- broadcasts"; cat "$work/messages" 2>/dev/null; exit 1; }
start_xvfb
# A window mapped while openbox starts may stay unmapped: the program waits until it runs.
openbox --startup "touch $work/openbox" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -e "$work/openbox" ] && break; sleep 0.05; done

# The program beside its own settings file, in command mode, without voice.
cp "$program" "$work/morvane"
printf '[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n\r\n[FocusControl]\r\nNudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.15\r\nStopFactor=12\r\nStayOnTop=1\r\n\r\n[Position]\r\n' >"$work/Morvane.ini"

dbus-monitor "type='signal',interface='org.morvane.Broadcast',member='MORVANE_MESSAGE'" \
  >"$work/monitor" 2>/dev/null &
pids+=($!)
"$work/morvane" --simulate >"$work/out" 2>&1 &
app=$!
pids+=($app)

wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvane$' | head -1)
[ -n "$wid" ] || fail "no Morvane window"
# The start ends once the port is open (after the first paint): the window is then left where
# it is moved.
for _ in $(seq 200); do morvane_property PortOpen | grep -q true && break; sleep 0.05; done
xdotool windowmove "$wid" 200 150
timeout 10 xdotool windowactivate --sync "$wid" || fail "the window did not take the keyboard"

# The broadcasts seen so far, one "w l" line each.
messages() {
  awk '/member=MORVANE_MESSAGE/ {n=0; next} /int32/ {v[n++]=$2; if (n==2) print v[0], v[1]}' \
    "$work/monitor" >"$work/messages"
  cat "$work/messages"
}
wait_for() {  # a "w l" line, up to 10 s
  for _ in $(seq 200); do messages | grep -qx "$1" && return 0; sleep 0.05; done
  return 1
}

# A stray Space after the start resets nothing and moves nothing. Nothing marks the moment a
# reset or a move would have been broadcast: they would follow the key at once.
watch=0.5
xdotool key space
sleep $watch
messages | grep -q '^8 \|^6 0$' && fail "a stray key reset or moved the focuser"

# Hold "I" for a second (the X server's auto-repeat sends release-press pairs) and release.
held=1
xdotool keydown i
sleep $held
xdotool keyup i
wait_for "6 1" || fail "no idle broadcast after releasing I"
# A second idle or moving broadcast would come from a repeat pair still queued behind the
# release.
sleep $watch
messages >/dev/null
[ "$(grep -c '^6 1$' "$work/messages")" -eq 1 ] || fail "auto-repeat ran the release path"
[ "$(grep -c '^6 0$' "$work/messages")" -eq 1 ] || fail "auto-repeat announced the run again"
grep -q '^6 0$' "$work/messages" || fail "no moving broadcast while I was held"
grep -q '^2 ' "$work/messages" || fail "no position broadcast after the coarse move"
# The motor coasts on after the release's broadcast: ask for the position it came to rest at,
# as another program would.
answers=$(grep -c '^2 ' "$work/messages")
dbus-send --session --type=signal /org/morvane/Morvane org.morvane.Broadcast.MORVANE_MESSAGE \
  int32:1 int32:0
for _ in $(seq 200); do
  [ "$(messages | grep -c '^2 ')" -gt "$answers" ] && break
  sleep 0.05
done
position=$(grep '^2 ' "$work/messages" | tail -1 | cut -d' ' -f2)
[ "$(grep -c '^2 ' "$work/messages")" -gt "$answers" ] || fail "no answer to the position query"
[ "$position" -gt 0 ] || fail "the coarse move went nowhere ($position)"

# Click "+10": the last button of the fine-focus row, 25 pixels above the status line (34).
height=$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^HEIGHT=//p')
xdotool mousemove --window "$wid" 232 $((height - 59)) click 1
# A move lands on its target or one past it.
wait_for "2 $((position + 10))" || wait_for "2 $((position + 11))" ||
  fail "the +10 move from $position did not land: $(grep '^2 ' "$work/messages" | tail -1)"

# Focus > Compensation... by keyboard: a final approach inward, 20 codes past the target, OK
# with Enter; the settings file and the bus agree.
xdotool key alt+f c
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Compensation$' | head -1)
timeout 10 xdotool windowactivate --sync "${dialog:-0}" || fail "no Compensation dialog"
xdotool key alt+m Down alt+p ctrl+a 2 0 Return
keys() { sed -n '/^\[Compensation\]/,/^\[/{/^Backlash/p}' "$work/Morvane-sim.ini" | tr -d '\r\n'; }
for _ in $(seq 100); do [ "$(keys)" = Backlash=1BacklashCodes=20 ] && break; sleep 0.05; done
bus="$(morvane_property BacklashMode)$(morvane_property BacklashCodes)"
[ "$(keys)$bus" = "Backlash=1BacklashCodes=20(<1>,)(<20>,)" ] || fail "saved $(keys), bus $bus"

# Focus > Mark Focus Here: the simulator's module is read and logged beside the settings.
timeout 10 xdotool windowactivate --sync "$wid" || fail "the window did not take the keyboard"
here=$(morvane_property Position | tr -dc '0-9-')
xdotool key alt+f m
marks="$work/Morvane-sim-marks.txt"
for _ in $(seq 100); do grep -q "Z 12.5 $here$" "$marks" 2>/dev/null && break; sleep 0.05; done
grep -q "Z 12.5 $here$" "$marks" || fail "no mark at $here: $(cat "$marks" 2>/dev/null)"

# morvanectl measure-backlash answers once the focuser is back (on its start or one past).
result=$("$morvanectl" measure-backlash) && [[ $result == *[Pp]"lay between the motor"* ]] ||
  fail "measure-backlash: $result"
[ "$(morvane_property Idle)" = "(<true>,)" ] || fail "answered while the way back ran: $result"
off=$(($(morvane_property Position | tr -dc '0-9-') - here))
[ "${off#-}" -le 1 ] || fail "left $off codes from $here: $result"

import -window "$wid" "$work/shot.png" || fail "no screenshot"
colours=$(identify -format '%k' "$work/shot.png")
[ "$colours" -gt 20 ] || fail "the screenshot is blank ($colours colours)"

# Close as a logout would; the position is written at close.
kill -TERM "$app"
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app" 2>/dev/null && fail "the program did not end"
wait "$app"
status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
# A simulated run keeps its own settings file, begun as a copy: the real one is untouched.
grep -q '^Left=200' "$work/Morvane-sim.ini" || fail "Left not written: $(cat "$work/Morvane-sim.ini")"
grep -q '^Top=150' "$work/Morvane-sim.ini" || fail "Top not written"
grep -q '^Commands=0' "$work/Morvane-sim.ini" || fail "the simulated run's file is no copy"
grep -q '^Left=' "$work/Morvane.ini" && fail "the simulated run wrote the real settings file"
echo "PASS: $(wc -l <"$work/messages") broadcasts, position $position then $((position + 10)), $colours colours"
