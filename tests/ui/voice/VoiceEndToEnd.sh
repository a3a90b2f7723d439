#!/usr/bin/env bash
# The real program speaks the position: copied with its voice bundle into a scratch directory,
# started under Xvfb on the simulated focuser with the male voice, "I" held and released with
# X input; what reaches the sound device (ALSA's file plugin in front of "null") must be the
# male recordings of the readout's characters, in order.
#
#   VoiceEndToEnd.sh <morvane binary> <Res01.rcc> <directory of the recordings>
set -uo pipefail
program=$1 bundle=$2 recordings=$3

source "$(dirname "$0")/../../support/XvfbSession.sh"
own_bus "$0" "$@"
require_tools Xvfb xdotool dbus-monitor sox gdbus
start_work
fail() { cat "$work/out"; echo "FAIL: $*"; ls -l "$work/heard"; exit 1; }
start_xvfb

# Every sound the program plays goes to a file of its own: sound, sound.0001, ...
mkdir -p "$work/home" "$work/heard"
cat >"$work/home/.asoundrc" <<CONF
pcm.morvane_heard { type file slave.pcm "null" file "$work/heard/sound" format "wav" truncate false }
CONF
export HOME=$work/home MORVANE_ALSA_DEVICE=morvane_heard

cp "$program" "$bundle" "$work/"
printf '[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=1\r\n\r\n[FocusControl]\r\nNudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.15\r\nStopFactor=12\r\n' >"$work/Morvane.ini"

dbus-monitor "type='signal',interface='org.morvane.Broadcast',member='MORVANE_MESSAGE'" \
  >"$work/monitor" 2>/dev/null &
pids+=($!)
"$work/morvane" --simulate >"$work/out" 2>&1 &
pids+=($!)
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvane$' | head -1)
[ -n "$wid" ] || fail "no Morvane window"
# The start ends once the port is open (after the first paint).
for _ in $(seq 200); do morvane_property PortOpen | grep -q true && break; sleep 0.05; done
xdotool windowfocus "$wid" 2>/dev/null
# Nothing from outside shows when the keyboard focus has arrived.
sleep 0.3

held=0.5  # a coarse run that counts
xdotool keydown i
sleep $held
xdotool keyup i
# The position broadcast 0.5 s after the release; the readout is spoken 1.5 s after it.
position=
for _ in $(seq 100); do
  position=$(awk '/member=MORVANE_MESSAGE/ {n=0; next} /int32/ {v[n++]=$2; if (n==2 && v[0]==2) p=v[1]} END {print p}' "$work/monitor")
  [ -n "$position" ] && break
  sleep 0.05
done
[ -n "$position" ] && [ "$position" -gt 0 ] || fail "no position after the coarse move"
readout=$(printf '%.4d' "$position")
for _ in $(seq 100); do
  [ "$(ls "$work/heard" | wc -l)" -ge "${#readout}" ] && break
  sleep 0.05
done
sleep 1  # the last sound plays out, and a sound too many would have begun

heard=("$work/heard/sound")
for i in $(seq 1 $((${#readout} - 1))); do heard+=("$work/heard/sound.$(printf '%04d' "$i")"); done
[ "$(ls "$work/heard" | wc -l)" -eq "${#readout}" ] || fail "$(ls "$work/heard" | wc -l) sounds for $readout"
for i in $(seq 0 $((${#readout} - 1))); do
  c=${readout:$i:1}
  name=${c}M
  [ "$c" = "-" ] && name=minusM
  sox "$recordings/$name.wav" -t raw "$work/expected.raw"
  sox "${heard[$i]}" -t raw "$work/got.raw" || fail "sound $i of $readout is not a WAVE file"
  cmp -s -n "$(stat -c %s "$work/expected.raw")" "$work/expected.raw" "$work/got.raw" ||
    fail "sound $i of $readout is not $name"
done
grep -q "no voice" "$work/out" && fail "the sound device failed"
echo "PASS: $readout spoken as ${#readout} male sounds"
