#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own, or when a plain C++
# layer includes Qt. Run by CTest as LayerCheck; the layers are described in HACKING.md.
# Usage: scripts/check-layers.sh [source dir, default src]
set -uo pipefail
src=${1:-"$(dirname "$0")/../src"}

# Folder, its layer (a file may include its own folder and any lower layer, never a folder of
# its own layer or above), and for the programs beside Morvane the only folders they may use.
layers='
platform            0
sim                 1
controller          1
busclient           1
motion              2
host                3
widgets             3
settings            4
ui/bus              5
ui/voice            5
console             6
ui                  7
app                 8
morvanectl          8 platform busclient
indi_morvane_focus  8 platform busclient
alpaca              8 platform busclient settings
'
# Folders whose code is plain C++20 and POSIX: no Qt header.
plain='platform sim controller busclient motion'

declare -A rank only
while read -r folder level rest; do
  [[ -z $folder ]] && continue
  rank[$folder]=$level
  only[$folder]=$rest
done <<<"$layers"

# The folder a path (a file's below src, or an include's) belongs to.
folder_of() {
  case $1 in
    ui/bus/*) echo ui/bus ;;
    ui/voice/*) echo ui/voice ;;
    */*) echo "${1%%/*}" ;;
    *) echo "" ;;
  esac
}

status=0
complain() { echo "$1"; status=1; }
while IFS= read -r file; do
  rel=${file#"$src"/}
  from=$(folder_of "$rel")
  if [[ -z ${rank[$from]+set} ]]; then
    complain "$rel: folder '$from' has no layer in scripts/check-layers.sh"
    continue
  fi
  while IFS=: read -r line text; do
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      target=${BASH_REMATCH[1]}
      to=$(folder_of "$target")
      [[ -z $to || $to == "$from" ]] && continue  # generated or own-folder header
      if [[ -z ${rank[$to]+set} ]]; then
        complain "$rel:$line: includes $target from '$to', a folder with no layer"
      elif [[ -n ${only[$from]} && " ${only[$from]} " != *" $to "* ]]; then
        complain "$rel:$line: includes $target; $from may use only: ${only[$from]}"
      elif ((rank[$to] >= rank[$from])); then
        complain "$rel:$line: includes $target from '$to', not below '$from'"
      fi
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*)[/\>] ]] &&
         [[ " $plain " == *" $from "* ]]; then
      complain "$rel:$line: includes Qt <${BASH_REMATCH[1]}> in plain C++ code"
    fi
  done < <(grep -n '#[[:space:]]*include' "$file")
done < <(find "$src" -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
((status == 0)) && echo "Every include points to a lower layer."
exit $status
