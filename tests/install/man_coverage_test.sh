#!/bin/sh
# Checks that the man page tcp(3) covers the whole header: every routine
# tcp.h declares is named in NAME and has its synopsis, every process-wide
# variable is in the synopsis, and every constant is mentioned.
set -eu
header=$1 page=$2
status=0
missing() {
  echo "man_coverage_test: $page lacks $*" >&2
  status=1
}
routines=$(sed -n 's/^[a-z][a-z ]*[ *]\([a-z0-9_]*\)(.*);.*/\1/p' "$header")
[ -n "$routines" ] || { echo "man_coverage_test: no routine found in $header" >&2; exit 1; }
for name in $routines; do
  grep -q "^\.Nm $name\( ,\)\{0,1\}$" "$page" || missing "$name in NAME"
  grep -q "^\.Fn $name " "$page" || missing "the synopsis of $name"
done
# shellcheck disable=SC2013  # the names are words
for name in $(sed -n 's/^extern [a-z]* \([A-Za-z0-9_]*\).*;.*/\1/p' "$header"); do
  grep -q "^\.Vt extern .* ${name}[[;]" "$page" || missing "the variable $name"
done
# shellcheck disable=SC2013
for name in $(sed -n 's/^ *\([A-Z][A-Z0-9_]*\) = [0-9]*,\{0,1\} *\(\/\/.*\)\{0,1\}$/\1/p' "$header"); do
  grep -q "$name" "$page" || missing "the constant $name"
done
exit $status
