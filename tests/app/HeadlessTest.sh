#!/usr/bin/env bash
# Morvane without a window, as a dome computer runs it: no display at all, a first start whose
# message goes to standard error while the port opens, a move from morvanectl, SIGHUP applying
# an edited settings file, and SIGTERM ending a coarse run and the program.
#
#   HeadlessTest.sh <morvane binary> <morvanectl binary>
set -uo pipefail
program=$1
ctl=$2

source "$(dirname "$0")/../support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools gdbus
start_work
fail() { echo "FAIL: $*"; echo "--- standard error"; cat "$work/err" 2>/dev/null; exit 1; }
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# Faults at start end in a usage line before Qt starts, never in Qt's abort (exit 134).
"$program" --headles 2>"$work/err"
[ $? -eq 2 ] && grep -q "unknown option '--headles'" "$work/err" ||
  fail "a mistyped option is not told with the usage"
"$program" --simulate 2>"$work/err"
[ $? -eq 2 ] && grep -q -- "--headless runs without a screen" "$work/err" ||
  fail "a window without a display is not told"

# A portable copy: its settings file beside it, missing at the first start.
cp "$program" "$work/morvane"
"$work/morvane" --show-files --simulate | grep -q "^settings  $work/Morvane-sim.ini" ||
  fail "--show-files --simulate does not name the simulator's settings file"
MORVANE_ALSA_DEVICE=null "$work/morvane" --simulate --headless >"$work/out" 2>"$work/err" &
app=$!
pids+=($app)

for _ in $(seq 200); do morvane_property PortOpen | grep -q true && break; sleep 0.1; done
morvane_property PortOpen | grep -q true || fail "the port did not open without a window"
grep -q '^Morvane: .*MORVANE.INI' "$work/err" || fail "the first start's message is not on standard error"
# A simulated run keeps its own settings file.
[ -f "$work/Morvane-sim.ini" ] || fail "no factory settings written"

landed=$(timeout 60 "$ctl" move-to 100 --wait) || fail "morvanectl move-to"
[ "$landed" -ge 98 ] && [ "$landed" -le 102 ] || fail "landed at $landed, not near 100"

# SIGHUP: the edited file is applied (another port).
sed -i 's/^ComPort=.*/ComPort=2\r/' "$work/Morvane-sim.ini"
kill -HUP $app
for _ in $(seq 100); do morvane_property ComPort | grep -q '<2>' && break; sleep 0.1; done
morvane_property ComPort | grep -q '<2>' || fail "SIGHUP did not apply the settings file"
morvane_property PortOpen | grep -q true || fail "the port is closed after SIGHUP"

# SIGTERM during a coarse run: the run is stopped and the program ends by itself.
gdbus call --session -d org.morvane.Morvane -o /org/morvane/Morvane \
  -m org.morvane.Focuser1.StartRun true >/dev/null || fail "StartRun refused"
sleep 0.3
kill -TERM $app
for _ in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
kill -0 $app 2>/dev/null && fail "SIGTERM did not end the program"
wait $app
status=$?
[ $status -eq 0 ] || fail "exit status $status after SIGTERM"

# The session bus ends (a login session closed): the headless copy, which nobody can reach any
# more, closes by itself as on SIGTERM rather than hold the port.
bus_conf="$(dirname "$0")/../support/session-bus.conf"
dbus-daemon --config-file="$bus_conf" --nofork --print-address=1 >"$work/bus" 2>/dev/null &
bus=$!
pids+=($bus)
for _ in $(seq 100); do [ -s "$work/bus" ] && break; sleep 0.05; done
[ -s "$work/bus" ] || fail "the second bus did not start"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") MORVANE_ALSA_DEVICE=null \
  "$work/morvane" --simulate --headless >"$work/out" 2>"$work/err" &
app=$!
pids+=($app)
for _ in $(seq 200); do
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") morvane_property PortOpen | grep -q true && break
  sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") morvane_property PortOpen | grep -q true ||
  fail "Morvane did not come up on the second bus"
# The count written at the clean exit above is back, and trusted.
kept=$(sed -n 's/^Count=//p' "$work/Morvane-sim-position.txt")
[ -n "$kept" ] || fail "no position kept at exit"
for _ in $(seq 50); do
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") morvane_property Position | grep -q "<$kept>" &&
    break
  sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") morvane_property Position | grep -q "<$kept>" ||
  fail "the count $kept kept at exit was not restored"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") morvane_property PositionTrusted |
  grep -q true || fail "a count kept at a clean exit is not trusted"
kill $bus
wait $bus 2>/dev/null
for _ in $(seq 150); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
kill -0 $app 2>/dev/null && fail "Morvane outlived its session bus"
wait $app
status=$?
[ $status -eq 0 ] || fail "exit status $status after the bus ended"
grep -q 'session bus has gone' "$work/err" || fail "the closing was not told on standard error"

# Killed (a crash, a power loss): the next start restores the count but does not trust it,
# until the user sets the position.
MORVANE_ALSA_DEVICE=null "$work/morvane" --simulate --headless >"$work/out" 2>"$work/err" &
app=$!
pids+=($app)
for _ in $(seq 200); do morvane_property PortOpen | grep -q true && break; sleep 0.1; done
"$ctl" sync 321 || fail "morvanectl sync"
kill -KILL $app
wait $app 2>/dev/null
MORVANE_ALSA_DEVICE=null "$work/morvane" --simulate --headless >"$work/out" 2>"$work/err" &
app=$!
pids+=($app)
for _ in $(seq 200); do morvane_property PositionTrusted | grep -q false && break; sleep 0.1; done
morvane_property PositionTrusted | grep -q false || fail "a count kept before a kill is trusted"
morvane_property Position | grep -q '<321>' || fail "the count before the kill was not restored"
"$ctl" status >"$work/status"
[ $? -eq 4 ] || fail "morvanectl status: not exit 4 with the position unverified"
grep -qx 'position  321 (unverified)' "$work/status" || fail "status: $(cat "$work/status")"
grep -qx 'open      yes' "$work/status" || fail "status: $(cat "$work/status")"
"$ctl" sync 321 || fail "morvanectl sync"
morvane_property PositionTrusted | grep -q true || fail "Sync did not confirm the position"
"$ctl" status >"$work/status" || fail "morvanectl status: exit $? when all is well"
grep -qx 'port      COM 2 (simulator)' "$work/status" || fail "status: $(cat "$work/status")"
kill -TERM $app
wait $app
echo "PASS"
