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
# The pages in the middle are drawn with text on them: rendered, they are far from blank (a
# chapter may end on a short page, so they are judged together).
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
pdftoppm -r 30 -gray -f 2 -l 5 "$pdf" "$dir/page"
# Dark pixels (below half grey) in the PGMs' rasters, skipping each one's three header lines.
dark=0
for page in "$dir"/page*.pgm; do
  n=$(tail -n +4 "$page" | od -An -v -tu1 | tr -s ' ' '\n' | awk '$1 != "" && $1 < 128 {n++} END {print n+0}')
  dark=$((dark + n))
done
[ "$dark" -gt 2000 ] || fail "pages 2 to 5 are nearly blank ($dark dark pixels)"
echo "guide: $pages pages, pages 2 to 5 have $dark dark pixels"
