#!/bin/sh
# query-serve as a process: SIGTERM lets a streamed response in flight
# finish whole and exits 0; a client that stops sending in the middle of
# its request is cut off after the I/O timeout, and one that drips its
# request a byte a second after the request deadline; a bad command line
# exits 2; threads the system refuses leave the connections to the others.
# Skipped (77) without curl or bash.
#
#   process_test.sh QUERY_SERVE QUERY BENCH_STORE
set -u
serve=$1 query=$2 bench_store=$3
command -v curl >/dev/null 2>&1 || { echo "skipped: no curl"; exit 77; }
command -v bash >/dev/null 2>&1 || { echo "skipped: no bash"; exit 77; }
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Whole seconds since boot: a clock the wall clock's steps (NTP, a
# container's first sync) do not move, for measuring how long a wait took.
now() { cut -d. -f1 /proc/uptime; }

"$serve" >/dev/null 2>&1; [ $? -eq 2 ] || fail "no form: not exit 2"
"$serve" --encoding ebcdic fac >/dev/null 2>"$work/err"; [ $? -eq 2 ] || fail "bad encoding: not exit 2"
grep -q "query-serve: --encoding must be cp437, latin1 or utf8, not 'ebcdic'" "$work/err" || fail "bad encoding message"
"$serve" --store /nonexistent fac >/dev/null 2>"$work/err"; [ $? -eq 1 ] || fail "no store: not exit 1"
grep -q "^query-serve: form '/nonexistent/fac\|^query-serve: form 'fac'" "$work/err" || fail "no store: message does not name the form: $(cat "$work/err")"

"$bench_store" "$work/store" 20000 5 500 500 >/dev/null || fail "cannot generate a store"
"$serve" --listen 127.0.0.1:0 --store "$work/store" fac >/dev/null 2>"$work/log" &
pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's|.*at http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || fail "the service did not start: $(cat "$work/log")"

# A client that sends half a request line and then nothing is cut off.
start=$(now)
bash -c "exec 3<>/dev/tcp/127.0.0.1/$port; printf 'GET /fac HT' >&3; timeout 20 cat <&3 >/dev/null" ||
  fail "the slow client's connection was not closed by the service"
elapsed=$(( $(now) - start ))
[ "$elapsed" -le 8 ] || fail "the slow client was held for $elapsed s"

# A client that sends a byte a second (never pausing for the I/O timeout)
# is cut off 10 s after it connected, and the log says why.
start=$(now)
bash -c "exec 3<>/dev/tcp/127.0.0.1/$port
  for i in \$(seq 30); do printf a >&3 2>/dev/null || exit 0; sleep 1; done" 2>/dev/null
elapsed=$(( $(now) - start ))
[ "$elapsed" -ge 9 ] && [ "$elapsed" -le 13 ] || fail "the dripping client was held for $elapsed s"
grep -q "sent no whole request within 10 s; connection closed" "$work/log" || fail "no log line for the late request"

# A slow download of every line is in flight when SIGTERM comes.
(cd "$work/store" && "$query" fac 'h00;' 'd01;' 'd04;') > "$work/expected"
curl -s --limit-rate 400k -o "$work/got" "http://127.0.0.1:$port/api/fac/rows?arg=h00;&arg=d01;&arg=d04;" &
curl_pid=$!
sleep 1
kill -TERM "$pid"
wait "$curl_pid" || fail "the download in flight was cut (curl exit $?)"
wait "$pid"; status=$?
pid=""
[ "$status" -eq 0 ] || fail "query-serve exited $status after SIGTERM"
cmp -s "$work/expected" "$work/got" || fail "the download in flight is not the query's whole output"
grep -q "stopping on SIGTERM" "$work/log" || fail "no stop message"
# A system that refuses most threads (here a limit on address space against
# stacks of 1 GiB each) leaves the connections to the workers it started, or
# to the accepting thread when it started none: the service says so in its
# log and answers. Skipped where the service cannot start under such a limit
# at all (the sanitizer builds).
(cd "$work/store" && "$query" fac 'h00;' 'd01;') > "$work/expected-limited"
for address_space in 3500000 2400000; do
  (ulimit -s 1048576 && ulimit -v "$address_space" &&
    exec "$serve" --listen 127.0.0.1:0 --store "$work/store" fac) >/dev/null 2>"$work/limited-log" &
  pid=$!
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's|.*at http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/limited-log")
    [ -n "$port" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$port" ]; then
    echo "skipped: the service cannot start under a limit on address space here"
    kill "$pid" 2>/dev/null
    pid=""
    break
  fi
  for _ in 1 2; do
    curl -s -o "$work/got-limited" "http://127.0.0.1:$port/api/fac/rows?arg=h00;&arg=d01;" ||
      fail "no answer with threads refused ($address_space KiB): $(cat "$work/limited-log")"
    cmp -s "$work/expected-limited" "$work/got-limited" ||
      fail "the answer with threads refused ($address_space KiB) is not the query's output"
  done
  grep -q "query-serve: the system refused threads: serving" "$work/limited-log" ||
    fail "no log line for the refused threads ($address_space KiB): $(cat "$work/limited-log")"
  kill -TERM "$pid"
  wait "$pid"; status=$?
  pid=""
  [ "$status" -eq 0 ] || fail "query-serve with threads refused exited $status after SIGTERM: $(cat "$work/limited-log")"
done
echo "process tests passed"
