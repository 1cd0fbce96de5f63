#!/bin/sh
# The browser tests: starts query-serve twice (the hostile example store and
# a generated store of 180 documents) on free loopback ports and runs
# browser.test.mjs in node. Exits 77 (skipped) without chromium, node or
# node_modules (npm ci in this folder installs them).
#
#   run.sh QUERY_SERVE WRITE_TEST_STORE BENCH_STORE EXAMPLES_DIR
set -u
serve=$1 write_store=$2 bench_store=$3 examples=$4
here=$(cd "$(dirname "$0")" && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then echo "browser tests skipped: no chromium at $chromium"; exit 77; fi
if ! command -v node >/dev/null 2>&1; then echo "browser tests skipped: no node"; exit 77; fi
if [ ! -d "$here/node_modules/playwright-core" ]; then
  echo "browser tests skipped: run 'npm ci' in $here first"; exit 77
fi
work=$(mktemp -d)
pids=""
cleanup() { for p in $pids; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT INT TERM
mkdir "$work/hostile" "$work/large"
"$write_store" "$examples" "$work/hostile" || exit 1
"$bench_store" "$work/large" 180 3 50 50 >/dev/null || exit 1

# Starts a service on a free port over store $1, logging to $2.log; sets
# the variable named $3 to its address.
start() {
  "$serve" --listen 127.0.0.1:0 --store "$1" fac >/dev/null 2>"$work/$2.log" &
  pids="$pids $!"
  for _ in $(seq 100); do
    port=$(sed -n 's|.*at http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/$2.log" 2>/dev/null)
    if [ -n "$port" ]; then eval "$3=http://127.0.0.1:$port"; return 0; fi
    sleep 0.05
  done
  cat "$work/$2.log" >&2
  return 1
}
start "$work/hostile" hostile HOSTILE_URL || exit 1
start "$work/large" large LARGE_URL || exit 1
export HOSTILE_URL LARGE_URL CHROMIUM="$chromium"
cd "$here" && node --test --test-concurrency=1 browser.test.mjs
