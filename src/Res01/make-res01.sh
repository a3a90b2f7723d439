#!/usr/bin/env bash
# Makes the voice bundle Res01.rcc: the ten digits and "minus", each spoken by espeak-ng in a
# female and a male voice, trimmed of silence by sox and packed by Qt's rcc as resources of
# the type WAVE ("/WAVE/0F" ... "/WAVE/minusM"). Nothing is downloaded; the same tools give
# the same sounds on every build.
#
#   make-res01.sh ESPEAK-NG SOX RCC WORKDIR OUTPUT
set -euo pipefail
espeak=$1 sox=$2 rcc=$3 work=$4 out=$5

words=(zero one two three four five six seven eight nine minus)
names=(0 1 2 3 4 5 6 7 8 9 minus)
# Voice letter and espeak-ng voice: American English with a female and a male variant.
voices=(F:en-us+f3 M:en-us+m3)

rm -rf "$work"
mkdir -p "$work" "$(dirname "$out")"
qrc=$work/Res01.qrc
printf '<RCC>\n  <qresource prefix="/WAVE">\n' >"$qrc"
for v in "${voices[@]}"; do
  letter=${v%%:*} voice=${v#*:}
  for i in "${!words[@]}"; do
    name=${names[$i]}$letter
    "$espeak" -v "$voice" -s 170 -w "$work/raw-$name.wav" "${words[$i]}"
    # Cut the silence before and after the word (a readout of five characters then takes
    # about two seconds) and keep a short tail so that digits in a row stay apart.
    "$sox" "$work/raw-$name.wav" "$work/$name.wav" \
      silence 1 0.02 1% reverse silence 1 0.02 1% reverse pad 0 0.03
    printf '    <file alias="%s">%s.wav</file>\n' "$name" "$name" >>"$qrc"
  done
done
printf '  </qresource>\n</RCC>\n' >>"$qrc"
# Uncompressed: speech hardly compresses, and the program then reads the sounds in place.
"$rcc" --binary --no-compress -o "$out.tmp" "$qrc"
mv "$out.tmp" "$out"
