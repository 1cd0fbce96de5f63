#!/bin/sh
# Checks that the C example shown in tcp(3) is tcp/examples/amount.c, the
# file the install test builds through the installed package.
#   man_example_test.sh <tcp.3> <amount.c>
set -u
page=$1 example=$2
# The first literal block after the page names the file, with the roff
# escape \e turned back into a backslash.
shown=$(awk '/^\.Pa tcp\/examples\/amount\.c$/ { found = 1 }
             found && /^\.Bd -literal/ { inside = 1; next }
             inside && /^\.Ed$/ { exit }
             inside { gsub(/\\e/, "\\"); print }' "$page")
if [ -z "$shown" ]; then
  echo "man_example_test: $page shows no example after naming tcp/examples/amount.c" >&2
  exit 1
fi
if [ "$shown" != "$(cat "$example")" ]; then
  printf '%s\n' "$shown" | diff -u "$example" - >&2
  echo "man_example_test: the example in $page differs from $example" >&2
  exit 1
fi
