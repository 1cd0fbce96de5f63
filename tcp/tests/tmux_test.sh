#!/bin/sh
# Runs an example program in a real 80x24 terminal under tmux, types keys
# into it and checks the screen.
#   tmux_test.sh tcp_demo|tcp_field_demo|tcp_form_demo <path of the program>
# Exits 77 (skipped) where tmux is not installed.
set -u
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }
which=$1
program=$2
examples=$(dirname "$0")/../examples
socket="tcp-test-$$"
pane=demo
. "$(dirname "$0")/tmux_lib.sh"
blanks() { printf "%$1s" ""; }
# Waits up to 5 seconds for the cursor to stand at column $1, row $2.
expect_cursor() {
  i=0
  while [ "$(t display-message -p -t demo '#{cursor_x},#{cursor_y}')" != "$1,$2" ]; do
    i=$((i + 1))
    [ $i -gt 50 ] && fail "the cursor should be at $1,$2 but is at $(t display-message -p -t demo '#{cursor_x},#{cursor_y}')"
    sleep 0.1
  done
}

# The program waits for a line first, so that its table is in place before
# it starts: the table is named after the terminal tmux gives it.
# The form runs three times, on a UTF-8 terminal: saved, cancelled, and with
# keys from a pipe that ends.
run='read go; exec "$0"'
[ "$which" = tcp_form_demo ] && run='read go; "$0"; echo "EXIT $?"; read go; "$0"; echo "EXIT $?";
  printf "Ana\t12\t290201\t" | "$0" >/dev/null 2>&1; echo "PIPED EXIT $?"; read go'
t new-session -d -x 80 -y 24 -s demo env LC_ALL=C.UTF-8 sh -c "$run" "$program" ||
  fail "no tmux session"
t set-option -t demo remain-on-exit on >/dev/null
tty=$(t display-message -p -t demo '#{pane_tty}')
table="/tmp$tty"
for attempt in 1 2 3 4 5; do
  mkdir -p "${table%/*}" && sh "$examples/ansi_table.sh" "$table" 2>/dev/null && break
done
[ -f "$table" ] || fail "cannot write $table"
t send-keys -t demo Enter

case $which in
tcp_demo)
  expect_line 2 "$(blanks 10)+-------------------+"
  expect_line 3 "$(blanks 10)| INSIDE THE BOX    |"
  expect_line 4 "$(blanks 10)|                   |"
  expect_line 5 "$(blanks 10)+-------------------+"
  expect_line 8 "$(blanks 33)HELLO FROM TCP"
  expect_line 23 "$(blanks 34)PRESS A KEY"
  t send-keys -t demo Up
  # The program has ended then, and tmux's notice may scroll the screen.
  expect_somewhere "KEY 26"
  ;;
tcp_field_demo)
  expect_line 4 "  AMOUNT    ____________"
  t send-keys -t demo 1234567.891
  expect_line 4 "  AMOUNT    1234567.891_"
  t send-keys -t demo Enter
  expect_line 4 "  AMOUNT    1.234.567,89"
  expect_line 6 "  DATE      ________"
  t send-keys -t demo 290201 Enter
  expect_line 23 "$(blanks 20)ERROR EN CAMPO FECHA  -  NO ACEPTA DIA"
  t send-keys -t demo x
  t send-keys -t demo BSpace BSpace BSpace BSpace BSpace BSpace
  expect_line 6 "  DATE      ________"
  t send-keys -t demo 311299 Enter
  expect_line 6 "  DATE      31/12/1999"
  expect_line 10 "AMOUNT=1234567.891 DATE=31121999 KEYS=10,10"
  t send-keys -t demo Enter
  ;;
tcp_form_demo)
  expect_line 1 "  +------------------------------------------+"
  expect_line 4 "  | NAME      ____________________           |"
  expect_line 5 "  | AMOUNT    ____________                   |"
  expect_line 6 "  | DATE      ________                       |"
  expect_line 9 "  +------------------------------------------+"
  # An accented letter takes one cell: inserting before it and moving past
  # it leave every character where it belongs.
  t send-keys -t demo "Jos'e" Left Left X
  expect_line 4 "  | NAME      JoXsé_______________           |"
  expect_cursor 17 4
  t send-keys -t demo Right Right !
  expect_line 4 "  | NAME      JoXsé!______________           |"
  expect_cursor 20 4
  t send-keys -t demo Tab 1234.5 Down
  expect_line 5 "  | AMOUNT        1.234,50                   |"
  t send-keys -t demo 290201 Tab
  expect_line 23 "$(blanks 20)ERROR EN CAMPO FECHA  -  NO ACEPTA DIA"
  t send-keys -t demo x
  expect_line 23 ""
  t send-keys -t demo BSpace BSpace BSpace BSpace BSpace BSpace
  expect_line 6 "  | DATE      ________                       |"
  t send-keys -t demo 311299 Up
  expect_line 6 "  | DATE      31/12/1999                     |"
  expect_line 5 "  | AMOUNT    1234.5______                   |"
  expect_cursor 20 5
  t send-keys -t demo Up
  expect_cursor 20 4
  t send-keys -t demo Tab Tab Enter
  expect_somewhere 'SAVED NAME=JoXs\\x82! AMOUNT=1234.5 DATE=31121999'
  expect_somewhere "EXIT 0"
  t send-keys -t demo Enter
  expect_line 4 "  | NAME      ____________________           |"
  t send-keys -t demo abc Down F1
  expect_somewhere "CANCELLED NAME=abc AMOUNT= DATE="
  expect_somewhere "EXIT 0"
  # Keys from a pipe: the end of input ends the form (status 1) at once.
  expect_somewhere "PIPED EXIT 1"
  ;;
*)
  fail "unknown program $which"
  ;;
esac
echo "PASS"
