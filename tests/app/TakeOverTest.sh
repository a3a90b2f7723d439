#!/usr/bin/env bash
# One focuser, one Morvane: a window started while a copy without a window runs takes the
# focuser over (the headless copy closes cleanly, the window opens the port and owns the bus
# name, with the count kept); a second copy without a window, or a second window, ends with
# the status the user unit does not restart on. The unit itself passes systemd's checker.
#
#   TakeOverTest.sh <morvane binary> <source directory>
set -uo pipefail
program=$1
source_dir=$2

source "$(dirname "$0")/../support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools gdbus
start_work
fail() {
  echo "FAIL: $*"
  for f in headless window second; do echo "--- $f"; cat "$work/$f.err" 2>/dev/null; done
  exit 1
}
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export MORVANE_ALSA_DEVICE=null

# The statuses the unit does not restart on.
unit="$source_dir/data/morvane.service.in"
no_restart=" $(sed -n 's/^RestartPreventExitStatus=//p' "$unit") "

owner_pid() {
  local owner
  owner=$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetNameOwner org.morvane.Morvane 2>/dev/null) || return 1
  owner=$(echo "$owner" | sed "s/^('\(.*\)',)$/\1/")
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetConnectionUnixProcessID "$owner" | sed 's/^(uint32 \(.*\),)$/\1/'
}

cp "$program" "$work/morvane"
"$work/morvane" --simulate --headless >/dev/null 2>"$work/headless.err" &
headless=$!
pids+=($headless)
for _ in $(seq 300); do morvane_property PortOpen | grep -q true && break; sleep 0.1; done
morvane_property PortOpen | grep -q true || fail "the headless copy did not open its port"
gdbus call --session -d org.morvane.Morvane -o /org/morvane/Morvane \
  -m org.morvane.Focuser1.Sync 1234 >/dev/null || fail "Sync refused"

# A second copy without a window leaves the first alone.
timeout 60 "$work/morvane" --simulate --headless >/dev/null 2>"$work/second.err"
status=$?
[[ "$no_restart" == *" $status "* ]] || fail "a second headless copy ended with $status"
grep -q "already running" "$work/second.err" || fail "the second headless copy did not say why"
[ "$(owner_pid)" = "$headless" ] || fail "the first copy lost the bus name"

# A window takes over while the headless copy drives the motor (a long move).
gdbus call --session -d org.morvane.Morvane -o /org/morvane/Morvane \
  -m org.morvane.Focuser1.MoveBy 100000 >/dev/null || fail "MoveBy refused"
for _ in $(seq 100); do morvane_property Idle | grep -q false && break; sleep 0.1; done
morvane_property Idle | grep -q false || fail "the move did not start"
QT_QPA_PLATFORM=offscreen "$work/morvane" --simulate --unattended >/dev/null \
  2>"$work/window.err" &
window=$!
pids+=($window)
for _ in $(seq 300); do kill -0 $headless 2>/dev/null || break; sleep 0.1; done
kill -0 $headless 2>/dev/null && fail "the headless copy did not close for the window"
wait $headless
status=$?
[ $status -eq 0 ] || fail "the headless copy ended with $status when handing over"
grep -q "a window has taken over" "$work/headless.err" || fail "the hand-over was not told"
for _ in $(seq 300); do
  [ "$(owner_pid)" = "$window" ] && morvane_property PortOpen | grep -q true && break
  sleep 0.1
done
[ "$(owner_pid)" = "$window" ] || fail "the window does not own the bus name"
morvane_property PortOpen | grep -q true || fail "the window did not open the port"
grep -o "took over from.*" "$work/window.err" || fail "the window did not tell the take-over"
# The move was stopped short and the count the headless copy kept at its clean close is the
# window's, and trusted.
kept=$(sed -n 's/^Count=//p' "$work/Morvane-sim-position.txt")
[ -n "$kept" ] && [ "$kept" -gt 1234 ] && [ "$kept" -lt 101234 ] ||
  fail "not the count of a move stopped short kept at the hand-over: '$kept'"
for _ in $(seq 100); do morvane_property Position | grep -q "<$kept>" && break; sleep 0.1; done
morvane_property Position | grep -q "<$kept>" || fail "the count $kept was not handed over"
morvane_property PositionTrusted | grep -q true || fail "a handed-over count is not trusted"
morvane_property Idle | grep -q true || fail "a move goes on after the hand-over"
grep -q "Move to 101234 from 1234, asked by a program on the bus" "$work/morvane-sim.log" ||
  fail "the log lacks the move"
grep -q "Handing the focuser over to a window starting" "$work/morvane-sim.log" ||
  fail "the log lacks the hand-over"

# Neither a second window nor a copy without one takes over from a window.
for mode in "--unattended" "--headless"; do
  QT_QPA_PLATFORM=offscreen timeout 60 "$work/morvane" --simulate $mode >/dev/null \
    2>"$work/second.err"
  status=$?
  [[ "$no_restart" == *" $status "* ]] || fail "morvane $mode beside a window ended with $status"
  grep -q "already running" "$work/second.err" || fail "morvane $mode did not say why"
  [ "$(owner_pid)" = "$window" ] || fail "morvane $mode took the name from the window"
done
kill -0 $window 2>/dev/null || fail "the window ended"
kill -TERM $window
wait $window

# The user unit as systemd reads it: no warning at all.
if command -v systemd-analyze >/dev/null; then
  sed "s|@MORVANE_BINDIR@|$work|" "$unit" >"$work/morvane.service"
  (cd "$work" && systemd-analyze verify ./morvane.service) >"$work/verify" 2>&1
  [ -s "$work/verify" ] && { cat "$work/verify"; fail "systemd-analyze verify complains"; }
fi
echo "PASS"
