#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
need=(cmake ninja-build g++ pkg-config qt6-base-dev libdbus-1-dev libgtest-dev libgmock-dev dbus locales
      xdg-utils xvfb xdotool imagemagick openbox x11-utils libglib2.0-bin)
need+=(libelf-dev libjpeg-dev poppler-utils)  # version note, about box picture, guide test
need+=(clang-format)  # the format check of the suite
# The spoken readout: recordings made at build time, sound through ALSA.
need+=(espeak-ng sox libasound2-dev)

need+=(indi-bin libindi-dev)  # the INDI focuser driver and its tests
need+=(libcpp-httplib-dev nlohmann-json3-dev)  # morvane-alpaca: HTTP server and JSON
need+=(curl)  # the Alpaca tests send requests as a user would
# The Debian package and Debian's own checkers of it, its desktop entry and AppStream data.
need+=(dpkg-dev file lintian appstream desktop-file-utils)
need+=(librsvg2-bin)  # the bitmap icons, drawn from the SVG at build time
need+=(fonts-dejavu-core)  # the fonts of the user's guide, which the package's copyright names
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing missing Debian packages: ${missing[*]} (needs root)"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
