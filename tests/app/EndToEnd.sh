#!/usr/bin/env bash
# The real program under Xvfb and a window manager on the simulated focuser, with its own
# session bus and a scratch settings directory: hold "I" and release it, click "+10", set
# backlash compensation by keyboard, mark focus from the menu, measure the backlash with
# morvanectl, and check the broadcasts seen on the bus, the settings and marks files, the bus's
# properties, the window position written at close (to the simulated run's own settings file)
# and a screenshot that is not blank.
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
openbox >/dev/null 2>&1 &
pids+=($!)

# Until the window manager has given the window (of a program that may be busy) the keyboard.
activate() {
  for _ in $(seq 100); do
    xdotool windowactivate "$1" 2>/dev/null
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

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
sleep 0.5
xdotool windowmove "$wid" 200 150
activate "$wid" || fail "the window did not take the keyboard"


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

# A stray Space after the start resets nothing and moves nothing.
xdotool key space
sleep 0.5
messages | grep -q '^8 \|^6 0$' && fail "a stray key reset or moved the focuser"

# Hold "I" for a second (the X server's auto-repeat sends release-press pairs) and release.
xdotool keydown i
sleep 1
xdotool keyup i
wait_for "6 1" || fail "no idle broadcast after releasing I"
sleep 1
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
# with Enter. The settings file and the bus say the same.
xdotool key alt+f c
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Compensation$' | head -1)
[ -n "$dialog" ] && activate "$dialog" || fail "no Compensation dialog"
xdotool key alt+m Down alt+p ctrl+a 2 0 Return
compensation() { sed -n '/^\[Compensation\]/,/^\[/p' "$work/Morvane-sim.ini" | tr -d '\r'; }
for _ in $(seq 100); do compensation | grep -qx 'BacklashCodes=20' && break; sleep 0.05; done
compensation | grep -qx 'Backlash=1' && compensation | grep -qx 'BacklashCodes=20' ||
  fail "[Compensation] not saved: $(compensation | tr '\n' ' ')"
[ "$(morvane_property BacklashMode) $(morvane_property BacklashCodes)" = "(<1>,) (<20>,)" ] ||
  fail "the bus says $(morvane_property BacklashMode) $(morvane_property BacklashCodes)"

# Focus > Mark Focus Here: the simulator's module reads, and a line lands beside the settings.
activate "$wid" || fail "the window did not take the keyboard back"
here=$(morvane_property Position | tr -dc '0-9-')
xdotool key alt+f m
marks="$work/Morvane-sim-marks.txt"
for _ in $(seq 100); do grep -q '^[0-9]' "$marks" 2>/dev/null && break; sleep 0.05; done
read -r _ celsius count < <(grep '^[0-9]' "$marks" 2>/dev/null)
[ "${celsius:-}" = 12.5 ] && [ "${count:-}" = "$here" ] ||
  fail "mark at $here not logged: $(cat "$marks" 2>/dev/null)"

# morvanectl measure-backlash moves the focuser, says what it found, and has brought it back
# (a move lands on its target or one past) when it answers.
result=$("$morvanectl" measure-backlash) || fail "measure-backlash failed: $result"
case "$result" in *[Pp]"lay between the motor and the encoder"*) ;; *) fail "no result: $result" ;; esac
[ "$(morvane_property Idle)" = "(<true>,)" ] || fail "answered while the way back ran: $result"
back=$(morvane_property Position | tr -dc '0-9-')
off=$((back - here))
[ "${off#-}" -le 1 ] || fail "measured from $here, left at $back: $result"

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
echo "PASS: $(wc -l <"$work/messages") broadcasts, position $position then $here, $colours colours"
echo "backlash: $result"
