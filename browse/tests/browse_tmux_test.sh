#!/bin/sh
# Runs browse in a real terminal under tmux on the example store and on a
# generated store of 1,000,000 documents, types keys and checks the screen:
# the first invoice, next and previous, a search against the command-line
# query, a window below 80x24, and the terminal mode after SIGTERM, Ctrl-C
# and Ctrl-\.
#   browse_tmux_test.sh <browse> <query> <bench_store> <source directory>
# Exits 77 (skipped) where tmux is not installed.
set -u
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }
browse=$1
query=$2
bench_store=$3
source=$4
socket="browse-test-$$"
big="${TMPDIR:-/tmp}/browse-test-store-$$"
table=""

. "$(dirname "$0")/screen_lib.sh"
cleanup() {
  t kill-server >/dev/null 2>&1
  [ -n "$table" ] && rm -f "$table"
  rm -rf "$big"
  rmdir /tmp/dev/pts /tmp/dev 2>/dev/null
  return 0
}
trap cleanup EXIT
# Starts a session running $1 in a window of $2 x $3; a server that is
# still going away is waited for.
session() {
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    t new-session -d -x "$2" -y "$3" -s b "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  fail "no tmux session"
}
# Starts browse on the form `fac` in directory $1, in a window of $2 x $3;
# the shell reports the exit status and the terminal mode when it ends.
start() {
  t kill-server >/dev/null 2>&1
  [ -n "$table" ] && rm -f "$table"
  session "ulimit -c 0; trap : INT QUIT; cd '$1' && read go && '$browse' fac; s=\$?; echo; echo EXIT=\$s; stty -a | tr ' ;' '\n\n' | grep -x -e -*icanon -e -*echo | tr '\n' ' '; echo; sleep 60" "$2" "$3"
  tty=$(t display-message -p -t b '#{pane_tty}')
  table="/tmp$tty"
  mkdir -p "${table%/*}" && sh "$source/tcp/examples/ansi_table.sh" "$table" || fail "cannot write $table"
  t send-keys -t b Enter
}
browse_pid() { pgrep -P "$(t display-message -p -t b '#{pane_pid}')" -x browse; }

examples="$source/examples/invoices"

# --- The first invoice, next and previous.
start "$examples" 80 24
expect_line 0 "+FACTURA--CLIENTE-----------------------------------------------------+"
expect_line 1 "|000101   C00001|ACME S.A.                           FECHA  05/01/2024|"
expect_line 3 "|IMPORTE    1.250,00   DTO %      5        BULTOS    3                |"
expect_line 7 "|A0000001 Tornillo 4x20 zincado      500       0,05        25,00      |"
expect_line 11 "+---------------------------------------------------------------------+"
expect_somewhere "000101  1 of 12  Up Dn PgUp PgDn"
t send-keys -t b Down
expect_somewhere "000102  2 of 12"
expect_line 1 "|000102   C00002|Ferreteria Norte                    FECHA  09/01/2024|"
expect_line 8 "|                                                                     |"
t send-keys -t b Up
expect_somewhere "000101  1 of 12"
t send-keys -t b l
expect_somewhere "000112  12 of 12"

# --- A search: 'tornillo' in the description (detail field 1), the tenth
# field after the nine of the header; it must walk the documents and lines
# the command-line query prints.
t send-keys -t b f s Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab tornillo C-d
expect_somewhere "000101  1 of 12  match 1"
expect_line 7 "|A0000001 Tornillo 4x20 zincado      500       0,05        25,00      |"
expect_line 8 "|                                                                     |"
for expected in $(cd "$examples" && "$query" fac 'h00;' 'd00;' 'd01;tornillo' | cut -d';' -f1 | uniq); do
  expect_somewhere "^|$expected "
  article=$(cd "$examples" && "$query" fac "h00;$expected" 'd00;' 'd01;tornillo' | cut -d';' -f2 | head -1)
  expect_somewhere "^|$article Tornillo"
  t send-keys -t b Down
done
expect_somewhere "no next document"
t send-keys -t b Up
expect_somewhere "000109  9 of 12  match 4"

# --- Home, End, PgDn and PgUp as tmux sends them (no entry of the table
# names them), once a key has ended the search.
t send-keys -t b k 000103 Down
expect_somewhere "000103  3 of 12  Up Dn"
t send-keys -t b Home
expect_somewhere "000101  1 of 12  Up"
t send-keys -t b NPage
expect_somewhere "000111  11 of 12"
t send-keys -t b NPage
expect_somewhere "000112  12 of 12"
t send-keys -t b PPage
expect_somewhere "000102  2 of 12"
t send-keys -t b End
expect_somewhere "000112  12 of 12"
t send-keys -t b Home
expect_somewhere "000101  1 of 12"
# A note leaves the key list whole.
t send-keys -t b Up
expect_line 23 "    no previous document  000101  Up Dn PgUp PgDn f l k:key s:search q:quit"

# --- A document by its whole key: part of one finds nothing.
t send-keys -t b k 00010 Down
expect_somewhere "no document has the key 00010  Up Dn"
t send-keys -t b k 000107 Down
expect_somewhere "000107  7 of 12  Up Dn"
expect_line 1 "|000107   C00005|Quimica Levante                     FECHA  23/02/2024|"

# --- A window below 80x24: cut at its edge, the fields off it named once,
# the message on its last row; nothing wraps; a number cut at the edge
# shows as stars, not as cut digits.
t resize-window -t b -x 50 -y 12
expect_line 1 " 000107   C00005|Quimica Levante"
line 11 | grep -q "not on the screen: h03" || fail "the hidden fields are not named on the last row"
[ "$(screen | awk 'length > 50' | wc -l)" -eq 0 ] || fail "a line is wider than the window"
expect_line 7 " A0000004 Cable 2,5mm rollo 100m      40 *********"
t send-keys -t b Down
expect_somewhere "000108  8 of 12"
t resize-window -t b -x 80 -y 24
expect_line 11 "+---------------------------------------------------------------------+"

# --- A resize while the search prompt is open: the form is drawn again on
# the new window, the prompt stays open, and what is typed goes to its field.
t send-keys -t b s
expect_somewhere "SEARCH  Tab/Down:next field"
t resize-window -t b -x 80 -y 30
expect_line 29 "$(printf '%4s' '')SEARCH  Tab/Down:next field  Up:previous  Ctrl-D:search  Escape:cancel"
expect_line 0 "+FACTURA--CLIENTE-----------------------------------------------------+"
t send-keys -t b 000108
expect_somewhere "^|000108   ______"
t send-keys -t b Escape
expect_somewhere "000108  8 of 12"
t resize-window -t b -x 80 -y 24
expect_line 23 "$(printf '%10s' '')000108  8 of 12  Up Dn PgUp PgDn f l k:key s:search q:quit"

# --- Ctrl-Z (SIGTSTP) restores the terminal while browse is stopped; on
# SIGCONT key mode comes back and the screen is drawn again.
modes() { stty -F "$tty" -a | tr ' ;' '\n\n' | grep -x -e -*icanon -e -*echo | tr '\n' ' '; }
pid=$(browse_pid)
[ -n "$pid" ] || fail "browse is not running"
t send-keys -t b C-z
i=0
until [ "$(modes)" = "icanon echo " ]; do
  i=$((i + 1)); [ $i -gt 50 ] && fail "stopped, the terminal has '$(modes)'"; sleep 0.1
done
kill -CONT "$pid"
i=0
until [ "$(modes)" = "-icanon -echo " ]; do
  i=$((i + 1)); [ $i -gt 50 ] && fail "continued, the terminal has '$(modes)'"; sleep 0.1
done
expect_somewhere "000108  8 of 12"
# The same while the search prompt is open: the screen, wiped meanwhile, is
# drawn again with the prompt still open.
t send-keys -t b s
expect_somewhere "SEARCH  Tab/Down:next field"
t send-keys -t b C-z
i=0
until [ "$(modes)" = "icanon echo " ]; do
  i=$((i + 1)); [ $i -gt 50 ] && fail "stopped in the prompt, the terminal has '$(modes)'"; sleep 0.1
done
printf '\033[H\033[2J' > "$tty"
kill -CONT "$pid"
expect_line 0 "+FACTURA--CLIENTE-----------------------------------------------------+"
expect_somewhere "SEARCH  Tab/Down:next field"
t send-keys -t b Escape
expect_somewhere "000108  8 of 12"
t send-keys -t b Up
expect_somewhere "000107  7 of 12"

# --- SIGTERM restores the terminal.
pid=$(browse_pid)
[ -n "$pid" ] || fail "browse is not running"
kill -TERM "$pid"
expect_somewhere "^EXIT=143"
expect_somewhere "^icanon echo$"

# --- Escape key (F1 in the table) ends browse normally.
start "$examples" 80 24
expect_somewhere "000101  1 of 12"
t send-keys -t b F1
expect_somewhere "^EXIT=0"
expect_somewhere "^icanon echo$"

# --- Ctrl-C (SIGINT) restores the terminal and ends browse as SIGINT does,
# the shell's lines below the form.
start "$examples" 80 24
expect_somewhere "000101  1 of 12"
t send-keys -t b C-c
expect_somewhere "^EXIT=130"
expect_somewhere "^icanon echo$"
screen | grep -n "^EXIT=130" | cut -d: -f1 | grep -qx -e 22 -e 23 -e 24 ||
  fail "after Ctrl-C the shell writes at line $(screen | grep -n '^EXIT=130' | cut -d: -f1), in the form"

# --- Ctrl-\ (SIGQUIT) restores the terminal and ends browse as SIGQUIT does.
start "$examples" 80 24
expect_somewhere "000101  1 of 12"
t send-keys -t b 'C-\'
expect_somewhere "^EXIT=131"
expect_somewhere "^icanon echo$"

# --- No table file: the table is built from the terminal database, and the
# message row says so once.
t kill-server >/dev/null 2>&1
rm -f "$table"
table=""
session "cd '$examples' && '$browse' fac; s=\$?; echo; echo EXIT=\$s; sleep 60" 80 24
expect_somewhere "no table file: table built from the terminal database for "
expect_somewhere "000101   C00001|ACME S.A.                           FECHA  05/01/2024"
t send-keys -t b Down
expect_somewhere "000102  2 of 12"
t send-keys -t b q
expect_somewhere "^EXIT=0"

# --- Neither a table file nor a terminal the database knows: a message
# telling how to make one, terminal untouched.
t kill-server >/dev/null 2>&1
session "cd '$examples' && TERM=no-such-terminal '$browse' fac; s=\$?; echo; echo EXIT=\$s; sleep 60" 80 24
expect_somewhere "^EXIT=1"
expect_somewhere "no terminal table"
expect_somewhere "make one with 'tcp-table --install'"
screen | grep -q -e "ansi_table" -e "mkdir" && fail "the advice writes through /tmp by hand"

# --- A table others may write: the reason, and only the safe advice.
t kill-server >/dev/null 2>&1
session "cd '$examples' && read go && TERM=no-such-terminal '$browse' fac; s=\$?; echo; echo EXIT=\$s; sleep 60" 200 24
tty=$(t display-message -p -t b '#{pane_tty}')
table="/tmp$tty"
mkdir -p "${table%/*}" && sh "$source/tcp/examples/ansi_table.sh" "$table" && chmod 666 "$table" ||
  fail "cannot write $table"
t send-keys -t b Enter
expect_somewhere "^EXIT=1"
expect_somewhere "the terminal table $table cannot be used: the table is writable by group or others"
expect_somewhere "by its owner or root), make the table with 'tcp-table --install'$"
rm -f "$table"
table=""

# --- 1,000,000 generated documents: the first, the last, a search.
"$bench_store" "$big" 1000000 1 100 100 >/dev/null || fail "cannot generate the store"
start "$big" 80 24
expect_somewhere " 1 of 1000000 "
t send-keys -t b l
last=$(tail -c 8 "$big/H")
expect_somewhere "$last  1000000 of 1000000 "
client=$(head -c 14 "$big/HEAD" | cut -c 9-14)
t send-keys -t b f s Tab "$client" C-d
expect_somewhere "^.00000000 "
expect_somewhere "^|$client"
expect_somewhere "1 of 1000000  match 1"
t send-keys -t b Down
expect_somewhere "match 2"
t send-keys -t b k "$last" Down
expect_somewhere "1000000 of 1000000  Up Dn"
t send-keys -t b q
expect_somewhere "^EXIT=0"
echo "PASS"
