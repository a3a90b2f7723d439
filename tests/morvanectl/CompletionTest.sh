#!/usr/bin/env bash
# morvanectl's bash completion, loaded as bash loads it: what a user gets for each partly
# typed word, taken from the program's own --help.
#   CompletionTest.sh <morvanectl> <completion file>
set -uo pipefail
program=$1
source "$2"
failed=0
# check <expected candidates> <words typed, the last one at the cursor...>
check() {
  local expected=$1
  shift
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _morvanectl
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  if [ "$got" != "$expected" ]; then
    echo "FAIL: morvanectl $* <TAB>: '$got', not '$expected'"
    failed=1
  fi
}
#     candidates, sorted                                    words typed
check "mark-focus measure-backlash move-by move-to"          "m"
check "move-by move-to"                                      "move-"
check "wait-move watch"                                      "wa"
check "sync"                                                 "sy"
check "status stop"                                          "st"
check "--wait"                                               "move-to" "40" "--w"
check "--help --json --timeout --version --wait"             "--"
check "--timeout"                                            "wait-move" "--t"
# After the command its own words (a count, on or off) are the user's.
check ""                                                     "tempcomp" ""
check ""                                                     "nonsense"
# A command added to --help is completed with no other list to edit.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\nprintf "usage: x\\n\\nCommands:\\n  limits    show\\n  set-limits A B\\n\\nOptions:\\n  --wait\\n"\n' \
  >"$work/morvanectl"
chmod +x "$work/morvanectl"
program="$work/morvanectl"
check "limits"                                               "l"
check "set-limits"                                           "se"
[ $failed -eq 0 ] && echo PASS
exit $failed
