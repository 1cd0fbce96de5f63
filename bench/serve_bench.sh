#!/bin/sh
# query-serve under wrk on loopback, beside the CGI way (lighttpd's mod_cgi
# running `query` per request), bounded to about 100 seconds.
#
#   bench/serve_bench.sh BUILD_DIR [SECONDS_PER_RUN]
#
# Runs, each for SECONDS_PER_RUN (5), at 1, 16 and 256 connections:
#   doc     GET /api/fac/doc/KEY of the example store (one document by key)
#   search  GET /fac?d01=tornillo on a generated store of 20,000 documents
#           (the first page of a search: 50 documents)
#   cgi     the same document as doc, by lighttpd running query through CGI
# then 256 connections streaming the generated store's every line as JSON
# (about 85,000 rows each) for twice as long, while query-serve's resident
# memory is sampled every half second.
# Prints one line per run: name, connections, requests/s, p50, p99.
# Needs wrk and lighttpd (Debian's); a missing one skips its runs.
set -u
build=$1
seconds=${2:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
serve=$build/serve/query-serve
query=$build/query
bench_store=$build/bench/bench_store
serve_port=${SERVE_PORT:-18181}
cgi_port=${CGI_PORT:-18182}
key=000107

for tool in wrk; do
  command -v $tool >/dev/null 2>&1 || { echo "serve_bench: no $tool; nothing measured"; exit 0; }
done
work=$(mktemp -d)
pids=""
cleanup() { for p in $pids; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT INT TERM

mkdir "$work/large"
"$bench_store" "$work/large" 20000 5 2000 2000 >/dev/null || exit 1
cp -r "$root/examples/invoices" "$work/example"

"$serve" --listen 127.0.0.1:$serve_port --store "$work/example" fac >/dev/null 2>"$work/serve.log" &
serve_pid=$!
pids="$pids $serve_pid"
"$serve" --listen 127.0.0.1:$((serve_port + 2)) --store "$work/large" fac >/dev/null 2>"$work/large.log" &
large_pid=$!
pids="$pids $large_pid"
sleep 1

# wrk's requests/s, p50 and p99 for URL at C connections.
measure() {
  name=$1 connections=$2 url=$3
  threads=2
  [ "$connections" -lt 2 ] && threads=1
  wrk -t$threads -c"$connections" -d"${seconds}s" --latency "$url" >"$work/wrk.out" 2>&1
  rps=$(awk '/^Requests\/sec/ {print $2}' "$work/wrk.out")
  p50=$(awk '$1 == "50%" {print $2}' "$work/wrk.out")
  p99=$(awk '$1 == "99%" {print $2}' "$work/wrk.out")
  errors=$(awk '/Non-2xx|Socket errors/ {printf "%s ", $0}' "$work/wrk.out")
  printf '%-7s %4s conn  %10s req/s  p50 %-9s p99 %-9s %s\n' "$name" "$connections" "$rps" "$p50" "$p99" "$errors"
}

for c in 1 16 256; do measure doc $c "http://127.0.0.1:$serve_port/api/fac/doc/$key"; done
for c in 1 16 256; do measure search $c "http://127.0.0.1:$((serve_port + 2))/fac?d01=tornillo"; done

# The CGI way: lighttpd runs a script that runs query in the store.
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
if [ -x "$lighttpd" ]; then
  mkdir "$work/www"
  cat >"$work/www/doc.cgi" <<CGI
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n'
cd "$work/example" && exec "$query" fac "h00;$key" 'h01;' 'h02;' 'h03;' 'h04;' 'd00;' 'd01;' 'd02;' 'd04;'
CGI
  chmod +x "$work/www/doc.cgi"
  cat >"$work/lighttpd.conf" <<CONF
server.document-root = "$work/www"
server.port = $cgi_port
server.bind = "127.0.0.1"
server.modules = ("mod_cgi")
cgi.assign = (".cgi" => "")
server.max-connections = 1024
server.errorlog = "$work/lighttpd.log"
CONF
  "$lighttpd" -D -f "$work/lighttpd.conf" >/dev/null 2>&1 &
  pids="$pids $!"
  sleep 1
  for c in 1 16 256; do measure cgi $c "http://127.0.0.1:$cgi_port/doc.cgi"; done
else
  echo "cgi: no lighttpd; not measured"
fi

# Memory while 256 connections stream a large result.
rss() { awk '/^VmRSS/ {print $2}' /proc/"$large_pid"/status; }
before=$(rss)
wrk -t2 -c256 -d"$((seconds * 2))s" "http://127.0.0.1:$((serve_port + 2))/api/fac/rows?arg=h00;&arg=d01;&arg=d04;&format=json" \
  >"$work/stream.out" 2>&1 &
wrk_pid=$!
peak=$before
samples=""
while kill -0 $wrk_pid 2>/dev/null; do
  now=$(rss)
  [ "$now" -gt "$peak" ] && peak=$now
  samples="$samples $((now / 1024))"
  sleep 0.5
done
after=$(rss)
echo "stream  256 conn  $(awk '/^Requests\/sec/ {print $2}' "$work/stream.out") results/s  $(awk '/^Transfer\/sec/ {print $2}' "$work/stream.out")/s"
echo "        query-serve RSS: before ${before} kB, peak ${peak} kB, after ${after} kB; every 0.5 s (MiB):$samples"
