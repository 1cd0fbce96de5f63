#!/bin/sh
# Checks that the form example shown in doc/terminal_library.md is
# tcp/examples/form_demo.cc as built and tested.
#   doc_example_test.sh <source directory>
set -u
root=$1
failures=0
for doc in "$root/doc/terminal_library.md"; do
  shown=$(awk '/^### Example: a form of three fields/ { found = 1 }
               found && /^```cpp$/ { inside = 1; next }
               inside && /^```$/ { exit }
               inside { print }' "$doc")
  if [ "$shown" != "$(cat "$root/tcp/examples/form_demo.cc")" ]; then
    echo "FAIL: the form example in $doc differs from tcp/examples/form_demo.cc"
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] && echo PASS
exit $failures
