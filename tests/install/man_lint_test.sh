#!/bin/sh
# Checks one man page with mandoc's linter at warning level: any message
# fails. Exit status 77 (skipped) where mandoc is not installed.
set -u
page=$1
if ! command -v mandoc > /dev/null; then
  echo "skipped: mandoc is not installed (Debian package mandoc)"
  exit 77
fi
messages=$(mandoc -T lint -W warning "$page" 2>&1)
status=$?
if [ $status -ne 0 ] || [ -n "$messages" ]; then
  printf '%s\n' "$messages" >&2
  echo "man_lint_test: $page: mandoc -T lint -W warning reports the above (status $status)" >&2
  exit 1
fi
