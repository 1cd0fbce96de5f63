#!/bin/sh
# tcp-table --install in a real terminal under tmux, and the shipped demos
# on the table it wrote: the field demo takes arrow keys, Backspace and F2;
# in the form demo's text field F3 to F12, Home, End, Insert, Delete, PgUp
# and PgDn each end editing with their own code and type nothing.
#   tcp_table_tmux_test.sh <tcp-table> <tcp_field_demo> <tcp_form_demo>
# Exits 77 (skipped) where tmux is not installed.
set -u
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }
tool=$1
field_demo=$2
form_demo=$3
socket="tcp-table-test-$$"
pane=demo
. "$(dirname "$0")/../../tests/tmux_lib.sh"
fail_details() { [ -f "$table" ] && { echo "--- table ---"; "$tool" --dump "$table"; }; }

# In the pane: install the table for the pane's own terminal (TERM as tmux
# sets it), then run each demo when told to. Other tests may remove an
# empty /tmp/dev/pts at any moment, so the install is tried a few times.
run='for i in 1 2 3 4 5; do "$0" --install && break; sleep 0.2; done; echo "INSTALLED $? TERM=$TERM"
  read go; "$1"; echo "FIELD EXIT $?"; read go; "$2"; echo "FORM EXIT $?"; read go'
t new-session -d -x 80 -y 24 -s demo sh -c "$run" "$tool" "$field_demo" "$form_demo" ||
  fail "no tmux session"
t set-option -t demo remain-on-exit on >/dev/null
tty=$(t display-message -p -t demo '#{pane_tty}')
table="/tmp$tty"
expect_somewhere "INSTALLED 0 TERM=.*"
[ -f "$table" ] || fail "tcp-table --install wrote no $table"
expect_somewhere "tcp-table: wrote the table for .* at $table"
[ "$(stat -c %a "$table")" = 644 ] || fail "$table has mode $(stat -c %a "$table"), not 644"

# The field demo: an amount edited with the arrows and Backspace and ended
# by F2 (202), then a date ended by the up arrow (26).
t send-keys -t demo Enter
expect_line 4 "  AMOUNT    ____________"
t send-keys -t demo 1234 Left Left 9
expect_line 4 "  AMOUNT    12934_______" "left arrow"
t send-keys -t demo Right BSpace
expect_line 4 "  AMOUNT    1294________" "right arrow and Backspace"
t send-keys -t demo F2
expect_line 4 "  AMOUNT        1.294,00" "F2 ends the field"
t send-keys -t demo 311299 Up
expect_line 6 "  DATE      31/12/1999" "the up arrow ends the field"
expect_line 10 "AMOUNT=1294 DATE=31121999 KEYS=202,26"
t send-keys -t demo Enter
expect_somewhere ".*FIELD EXIT 0"

# The form demo's box is drawn in line-drawing characters (tmux shows them
# as the letters l q k x m j, after Shift Out with -e).
t send-keys -t demo Enter
expect_line 4 "  x NAME      ____________________           x"
top=$(t capture-pane -e -p -t demo | sed -n 2p | tr -d '\017')
[ "$top" = "  $(printf '\016')l$(printf '%42s' '' | tr ' ' q)k" ] ||
  fail "the box top is not drawn in line-drawing characters: $(printf '%s' "$top" | od -c | head -2)"

# The name field: each key, followed by x, must add only the x.
t send-keys -t demo abc
expect_line 4 "  x NAME      abc_________________           x"
for key in F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 Home End IC DC PPage NPage; do
  t send-keys -t demo "$key" x
  expect_line 4 "  x NAME      abcx________________           x" "after $key"
  t send-keys -t demo BSpace
  expect_line 4 "  x NAME      abc_________________           x" "after $key and Backspace"
done
t send-keys -t demo F1
expect_somewhere "CANCELLED NAME=abc AMOUNT= DATE="
expect_somewhere "FORM EXIT 0"
echo "PASS"
