#!/bin/sh
# Runs each example program with its keys from a file that ends, and checks
# that it ends within 5 seconds with a bounded output instead of spinning.
#   end_of_input_test.sh <tcp_demo> <tcp_field_demo> <tcp_form_demo>
set -u
demo=$1
field_demo=$2
form_demo=$3
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

# check NAME PROGRAM KEYS EXPECTED-STATUS
check() {
  printf "$3" > "$work/keys"
  status=$( { timeout 5 "$2" < "$work/keys" 2>"$work/err"; echo $? > "$work/status"; } |
            head -c 1000000 | wc -c)
  bytes=$status
  status=$(cat "$work/status")
  if [ "$status" != "$4" ] || [ "$bytes" -gt 10000 ]; then
    echo "FAIL: $1: status $status (want $4), $bytes bytes of output"
    failures=$((failures + 1))
  fi
}

check "box demo, no keys" "$demo" "" 0
check "field demo, no keys" "$field_demo" "" 1
check "field demo, refused date at the end" "$field_demo" '12\n290201\n' 1
check "field demo, refused date acknowledged" "$field_demo" '12\n290201\nx' 1
check "form demo, no keys" "$form_demo" "" 1
check "form demo, refused date at the end" "$form_demo" 'Ana\t12\t290201\t' 1
check "form demo, refused date in the middle" "$form_demo" 'Ana\t12\t290201\tx\t' 1
check "form demo, saved" "$form_demo" 'Ana\t12\t31121999\n' 0
grep -q "tcp-table --install" "$work/err" ||
  { echo "FAIL: the form demo does not say how to make a table"; failures=$((failures + 1)); }
[ $failures -eq 0 ] && echo PASS
exit $failures
