#!/usr/bin/env bash
# The simulated focuser keeps its shaft across runs beside its settings file, so that the
# count kept across starts can be tried end to end: after a clean exit the count comes back
# trusted and the shaft is where it was; after a kill the count comes back unverified, the
# shaft again where it was; a damaged file starts the shaft at its old start.
#
#   SimShaftTest.sh <morvane binary> <morvanectl binary>
set -uo pipefail
program=$1
ctl=$2

source "$(dirname "$0")/../support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools gdbus awk
start_work
fail() { echo "FAIL: $*"; echo "--- standard error"; cat "$work/err" 2>/dev/null; exit 1; }
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

cp "$program" "$work/morvane"
shaft_file=$work/Morvane-sim-shaft.txt

start() {
  MORVANE_ALSA_DEVICE=null "$work/morvane" --simulate --headless >"$work/out" 2>"$work/err" &
  app=$!
  pids+=($app)
  for _ in $(seq 300); do morvane_property PortOpen | grep -q true && break; sleep 0.1; done
  morvane_property PortOpen | grep -q true || fail "the port did not open"
}
stop() {
  kill "-$1" $app
  wait $app 2>/dev/null
}
count() { morvane_property Position | sed -n 's/.*<\(-\{0,1\}[0-9]*\)>.*/\1/p'; }
# The shaft kept in the file, as the count a reader that loses no edge shows (within one).
shaft_near() {
  awk -v c="$1" -F= '/^Shaft=/ { d = $2 - c; if (d < 0) d = -d; found = d <= 1.5 }
                     END { exit found ? 0 : 1 }' "$shaft_file"
}
wait_count() {
  for _ in $(seq 100); do [ "$(count)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}

start
landed=$(timeout 60 "$ctl" move-to 500 --wait) || fail "morvanectl move-to 500"
# Written once the shaft has come to rest.
for _ in $(seq 50); do shaft_near "$landed" && break; sleep 0.1; done
shaft_near "$landed" || fail "shaft file $(cat "$shaft_file" 2>&1) after landing at $landed"
stop TERM

# A clean exit: the count is back, trusted, and the shaft where it was, so that a move lands.
start
wait_count "$landed" || fail "count $(count) after a clean exit, not $landed"
morvane_property PositionTrusted | grep -q true || fail "not trusted after a clean exit"
shaft_near "$landed" || fail "the shaft moved over a clean restart: $(cat "$shaft_file")"
landed=$(timeout 60 "$ctl" move-to 600 --wait) || fail "morvanectl move-to 600"
for _ in $(seq 50); do shaft_near "$landed" && break; sleep 0.1; done
shaft_near "$landed" || fail "count $landed and shaft $(cat "$shaft_file") disagree after a move"

# Killed: the count is back unverified, and the shaft still where it was.
stop KILL
start
for _ in $(seq 100); do morvane_property PositionTrusted | grep -q false && break; sleep 0.1; done
morvane_property PositionTrusted | grep -q false || fail "trusted after a kill"
wait_count "$landed" || fail "count $(count) after a kill, not $landed"
shaft_near "$landed" || fail "the shaft moved over a kill: $(cat "$shaft_file")"
stop TERM

# A damaged file: the shaft starts where it always did; the count is Morvane's own.
echo "Shaft=" >"$shaft_file"
start
timeout 60 "$ctl" move-by 20 --wait >/dev/null || fail "morvanectl move-by"
for _ in $(seq 50); do shaft_near 20 && break; sleep 0.1; done
shaft_near 20 || fail "a damaged file did not start the shaft at 0: $(cat "$shaft_file")"
stop TERM
echo "PASS"
