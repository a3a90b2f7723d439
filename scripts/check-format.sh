#!/usr/bin/env bash
# Fails on a C++ file that differs from .clang-format. The tree is formatted with Debian 12's
# clang-format 14; another major version formats some constructs otherwise, so there the check
# is skipped rather than failing on lines nobody changed.
#
#   check-format.sh <source root>     (clang-format -i FILE... mends what it names)
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 1
command -v clang-format >/dev/null || { echo "SKIPPED: clang-format is not installed"; exit 77; }
major=$(clang-format --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
if [ "$major" != 14 ]; then
  echo "SKIPPED: clang-format $major, the tree is formatted with clang-format 14"
  exit 77
fi
mapfile -t files < <(find src tests tools bench fuzz -name '*.cpp' -o -name '*.h' | sort)
if ! clang-format --dry-run --Werror "${files[@]}" 2>"${TMPDIR:-/tmp}/morvane-format.$$"; then
  grep 'error:' "${TMPDIR:-/tmp}/morvane-format.$$" | cut -d: -f1,2 | head -40
  echo "FAIL: these files differ from .clang-format (clang-format -i FILE mends them)"
  rm -f "${TMPDIR:-/tmp}/morvane-format.$$"
  exit 1
fi
rm -f "${TMPDIR:-/tmp}/morvane-format.$$"
echo "PASS: ${#files[@]} files"
