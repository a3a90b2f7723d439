#!/usr/bin/env bash
# The user's guide as a reader gets it: the PDF opens, holds its chapters, and its pages are
# printed pages, not a title alone.
#   GuideTest.sh <guide.pdf>
set -euo pipefail
pdf=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -s "$pdf" ] || fail "no guide at $pdf"
pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
[ "${pages:-0}" -ge 8 ] || fail "only ${pages:-0} pages"
text=$(pdftotext -layout "$pdf" -)
for heading in "Kestrum and Morvane User's Guides" "What Morvane does" \
    "Installing and starting Morvane" "Wiring the focuser" "USB serial adapters and the encoder" \
    "The Setup dialog" "Tuning the nudges and the stop factor" "Focusing" \
    "The temperature panel" "The spoken readout" "Other programs" "morvanectl" \
    "The named events" "Troubleshooting" "Could not open COM" "dialout" "latency_timer" \
    "[Devices]" "MORVANE_MESSAGE" "-100.0 °C"; do
  grep -qF -- "$heading" <<<"$text" || fail "\"$heading\" not found in the guide"
done
# A page in the middle is drawn with text on it: rendered, it is far from a blank page.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
middle=$((pages / 2))
pdftoppm -r 30 -gray -f "$middle" -l "$middle" "$pdf" "$dir/page"
page=$(ls "$dir"/page*.pgm)
# Dark pixels (below half grey) in the PGM's raster, skipping its three header lines.
dark=$(tail -n +4 "$page" | od -An -v -tu1 | tr -s ' ' '\n' | awk '$1 != "" && $1 < 128 {n++} END {print n+0}')
[ "$dark" -gt 500 ] || fail "page $middle is nearly blank ($dark dark pixels)"
echo "guide: $pages pages, page $middle has $dark dark pixels"
