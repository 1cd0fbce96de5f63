#!/bin/sh
# Enters and changes documents with browse --edit in a real terminal under
# tmux, on a copy of the example store, and checks what the query then
# prints: a whole invoice typed in (a client key its table lacks, then
# corrected; a refused date, then corrected; three lines; the total
# computed), saved; a line changed and one deleted; cancel with and without
# changes; a save refused because another writer changed the document,
# which is then loaded again; the checker passes; and browse without --edit
# writes nothing.
#   entry_tmux_test.sh <browse> <query> <source directory> <store_change_tool>
# Exits 77 (skipped) where tmux is not installed.
set -u
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }
browse=$1
query=$2
source=$3
change_tool=$4
socket="entry-test-$$"
store="${TMPDIR:-/tmp}/entry-test-store-$$"
table=""

. "$(dirname "$0")/screen_lib.sh"
cleanup() {
  t kill-server >/dev/null 2>&1
  [ -n "$table" ] && rm -f "$table"
  rm -rf "$store"
  return 0
}
trap cleanup EXIT
# Starts `browse $1 fac` on the store copy in an 80 x 24 window.
start() {
  t kill-server >/dev/null 2>&1
  [ -n "$table" ] && rm -f "$table"
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    t new-session -d -x 80 -y 24 -s b "ulimit -c 0; cd '$store' && read go && '$browse' $1 fac; echo EXIT=\$?; sleep 60" 2>/dev/null && break
    sleep 0.2
  done
  tty=$(t display-message -p -t b '#{pane_tty}')
  table="/tmp$tty"
  mkdir -p "${table%/*}" && sh "$source/tcp/examples/ansi_table.sh" "$table" || fail "cannot write $table"
  t send-keys -t b Enter
  expect_somewhere "000101  1 of 12"
}
q() { (cd "$store" && "$query" fac "$@"); }

rm -rf "$store" && mkdir -p "$store" && cp "$source"/examples/invoices/* "$store"/ || fail "cannot copy the store"
before=$(cd "$store" && cat INFO HEAD DOC H | cksum)

# --- Without --edit, n and e write nothing.
start ""
t send-keys -t b n e
expect_somewhere "browse shows documents only"
t send-keys -t b q
expect_somewhere "EXIT=0"
[ "$(cd "$store" && cat INFO HEAD DOC H | cksum)" = "$before" ] || fail "browse without --edit changed the store"

# --- A whole invoice from the keyboard.
start --edit
t send-keys -t b n
expect_somewhere "NEW DOCUMENT  F2:save"
t send-keys -t b 000113 Tab C99999 Tab
expect_somewhere "h01: no 'C99999' in clients.db"
t send-keys -t b Up BSpace BSpace BSpace BSpace BSpace BSpace C00002 Tab
expect_line 2 "|CIUDAD   Bilbao                                                      |"
t send-keys -t b 310224 Tab
expect_somewhere "ERROR EN CAMPO FECHA"
t send-keys -t b BSpace BSpace BSpace BSpace BSpace BSpace 290224 Tab
expect_line 1 "|000113   C00002|Ferreteria Norte                    FECHA  29/02/2024|"
t send-keys -t b 100 Tab 10 Tab 4 Tab
expect_line 4 "|TOTAL           90,00 /BULTO        22,50                            |"
t send-keys -t b A0000002 Tab 3 Tab 2.50 Tab A0000001 Tab 10 Tab 1 Tab A0000004 Tab 1 Tab 48.90 Tab
expect_line 7 "|A0000002 Tuerca M4                    3       2,50         7,50      |"
expect_line 9 "|A0000004 Cable 2,5mm rollo 100m       1      48,90        48,90      |"
t send-keys -t b F2
expect_somewhere "saved  000113  13 of 13"
[ "$(q 'h00;' 'h01;' 'h03;' 'h04;' 'h06;' 'd00;' 'd02;' 'd03;' 'd04' | tail -3)" = "000113;C00002|Ferreteria Norte              ;29022024;    100.00;90.00;A0000002;    3;      2.50;7.50
000113;C00002|Ferreteria Norte              ;29022024;    100.00;90.00;A0000001;   10;      1.00;10.00
000113;C00002|Ferreteria Norte              ;29022024;    100.00;90.00;A0000004;    1;     48.90;48.90" ] ||
  fail "the query prints the new invoice otherwise: $(q 'h00;' 'h01;' 'h03;' 'h04;' 'h06;' 'd00;' 'd02;' 'd03;' 'd04' | tail -3)"

# --- Its second line changed, its first deleted; a key already in use refused.
t send-keys -t b e
expect_somewhere "CHANGING 000113"
t send-keys -t b BSpace BSpace BSpace BSpace BSpace BSpace 000101 F2
expect_somewhere "not saved: the key '000101' is already the key of document"
t send-keys -t b BSpace BSpace BSpace BSpace BSpace BSpace 000113
t send-keys -t b Tab Tab Tab Tab Tab Tab C-y
expect_line 7 "|________                                                             |"
t send-keys -t b Tab Tab Tab Tab BSpace BSpace 25 Tab F2
expect_somewhere "saved  000113  13 of 13"
[ "$(q 'h00;000113' 'd00;' 'd02;' 'd04')" = "000113;A0000001;   25;25.00
000113;A0000004;    1;48.90" ] || fail "the changed invoice reads otherwise: $(q 'h00;000113' 'd00;' 'd02;' 'd04')"

# --- Cancel without changes leaves at once; with changes it asks first.
saved=$(cd "$store" && cat INFO HEAD DOC H | cksum)
t send-keys -t b e
expect_somewhere "CHANGING 000113"
t send-keys -t b Escape
expect_somewhere "nothing saved  000113"
t send-keys -t b e Tab Tab Tab Tab 999 Escape
expect_somewhere "discard the changes?"
t send-keys -t b n
expect_somewhere "CHANGING 000113"
t send-keys -t b Escape
expect_somewhere "discard the changes?"
t send-keys -t b y
expect_somewhere "nothing saved  000113"

# --- Another writer changes the document while it is typed in: the save is
# refused, and the document is loaded again as it now is.
t send-keys -t b f
expect_somewhere "000101  1 of 13"
t send-keys -t b e Tab Tab Tab Tab 5
expect_somewhere "CHANGING 000101"
"$change_tool" counter "$store" 1 1 >/dev/null || fail "store_change_tool counter failed"
t send-keys -t b Tab F2
expect_somewhere "changed on disk since it was loaded"
t send-keys -t b y
expect_somewhere "loaded again as it is on disk"
expect_somewhere "^|IMPORTE    1.251,00   DTO %      5 "
t send-keys -t b Escape
expect_somewhere "nothing saved  000101"
saved=$(cd "$store" && cat INFO HEAD DOC H | cksum)
t send-keys -t b q
expect_somewhere "EXIT=0"
[ "$(cd "$store" && cat INFO HEAD DOC H | cksum)" = "$saved" ] || fail "a cancelled change was written"
(cd "$store" && "$query" --check fac >/dev/null) || fail "query --check fails after the changes: $(cd "$store" && "$query" --check fac 2>&1)"
echo "entry under tmux: all passed"
