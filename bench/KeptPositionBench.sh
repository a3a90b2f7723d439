#!/usr/bin/env bash
# The kept count on the simulator over restarts: three clean exits and three kills after a
# move, each followed by a start; per round the count restored, whether it is trusted, the
# shaft the simulator kept, and the time from the start to the count restored on the bus.
#
#   bench/KeptPositionBench.sh <morvane binary> <morvanectl binary>
set -uo pipefail
program=$1; ctl=$2
source "$(dirname "$0")/../tests/support/XvfbSession.sh"
own_bus "$0" "$@"
start_work
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
cp "$program" "$work/morvane"
start() {
  t0=$(date +%s.%N)
  MORVANE_ALSA_DEVICE=null "$work/morvane" --simulate --headless >"$work/out" 2>"$work/err" &
  app=$!; pids+=($app)
}
pos() { morvane_property Position | sed -n 's/.*<\(-\{0,1\}[0-9]*\)>.*/\1/p'; }
wait_restored() { # $1 expected count
  for _ in $(seq 2000); do
    [ "$(pos)" = "$1" ] && morvane_property PortOpen | grep -q true && break; sleep 0.01; done
  t1=$(date +%s.%N)
}
start
for _ in $(seq 300); do morvane_property PortOpen | grep -q true && break; sleep 0.1; done
target=500
landed=$(timeout 60 "$ctl" move-to $target --wait)
sleep 0.5
for kind in TERM TERM TERM KILL KILL KILL; do
  kill -$kind $app; wait $app 2>/dev/null
  start
  wait_restored "$landed"
  trusted=$(morvane_property PositionTrusted | tr -d '(),<> ')
  shaft=$(sed -n 's/^Shaft=//p' "$work/Morvane-sim-shaft.txt")
  printf "%-5s expected %s count %s trusted %s shaft %s restored after %.2f s\n" $kind "$landed" "$(pos)" "$trusted" "$shaft" "$(echo "$t1 - $t0" | bc)"
  target=$((target + 37))
  landed=$(timeout 60 "$ctl" move-to $target --wait)
  sleep 0.5
done
kill -TERM $app; wait $app 2>/dev/null
