#!/usr/bin/env bash
# Makes src/ui/AboutArt.jpg, the about box's picture, from make_about_art.py.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 scripts/make_about_art.py | convert ppm:- -strip -quality 88 jpg:src/ui/AboutArt.jpg
