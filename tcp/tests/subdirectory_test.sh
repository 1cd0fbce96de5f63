#!/bin/sh
# Configures and builds a C project that adds tcp/ as a subdirectory, with
# GoogleTest hidden from it, and runs its program.
#   subdirectory_test.sh <tcp source directory> <cmake>
set -u
source=$1
cmake=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
"$cmake" -S "$source/tests/subdirectory_parent" -B "$work" -DTCP_SOURCE_DIR="$source" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; echo "FAIL: the parent project does not configure"; exit 1; }
"$cmake" --build "$work" --target parent -j2 >"$work/build.log" 2>&1 ||
  { tail -30 "$work/build.log"; echo "FAIL: the parent project does not build"; exit 1; }
out=$("$work/parent")
[ "$out" = "1.234,50 7 8 0" ] || { echo "FAIL: the program printed '$out'"; exit 1; }
echo PASS
