#!/usr/bin/env bash
# Each program's --help and its manual page name the same options: the options named in the
# help text against those in the page's SYNOPSIS, COMMANDS and OPTIONS sections (the other
# sections quote other programs' options, as usermod's).
#   OptionsTest.sh <program> <manual page> [<program> <manual page>]...
set -uo pipefail
# --help must not reach the user's settings (morvane-alpaca reads its own before its options).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work" HOME="$work"

options() { grep -oE '(^|[^A-Za-z0-9-])--?[A-Za-z][A-Za-z-]*' | sed -E 's/^[^-]//' | sort -u; }
failed=0
while [ $# -ge 2 ]; do
  program=$1 page=$2
  shift 2
  name=$(basename "$program")
  if ! help=$("$program" --help 2>&1); then
    echo "FAIL: $name --help failed: $help"
    failed=1
    continue
  fi
  # roff to text: \- is a hyphen, \fB and the like change the font.
  documented=$(sed -E 's/\\-/-/g; s/\\f[BIRP]//g' "$page" |
    awk '/^\.SH/ { keep = ($2 == "SYNOPSIS" || $2 == "COMMANDS" || $2 == "OPTIONS"); next } keep' |
    options)
  named=$(options <<<"$help")
  if [ "$named" != "$documented" ]; then
    echo "FAIL: $name: --help and $(basename "$page") name different options" \
         "(< only in --help, > only in the manual page):"
    diff <(echo "$named") <(echo "$documented") | grep '^[<>]'
    failed=1
  else
    echo "$name:" $named
  fi
done
[ $failed -eq 0 ] && echo PASS
exit $failed
