#!/bin/sh
# Starts the form example from an interactive dash in a real terminal under
# tmux, ends or stops it by Ctrl-C, kill -TERM, kill -HUP and Ctrl-Z, and
# checks with stty that the terminal has echo and line editing back each
# time (and key mode again after fg).
#   key_mode_tmux_test.sh <path of tcp_form_demo>
# Exits 77 (skipped) where tmux or dash is not installed.
set -u
for tool in tmux dash; do
  command -v $tool >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
program=$1
examples=$(dirname "$0")/../examples
socket="tcp-keys-$$"
pane=keys
. "$(dirname "$0")/tmux_lib.sh"
# "echo icanon" or "-echo -icanon", as stty reads the pane's terminal.
mode() { stty -F "$tty" -a | tr ' ;' '\n\n' | grep -x -e echo -e -echo -e icanon -e -icanon | sort | tr '\n' ' '; }
# Waits up to 5 seconds for the terminal's mode to read $1.
expect_mode() {
  i=0
  while [ "$(mode)" != "$1" ]; do
    i=$((i + 1))
    [ $i -gt 50 ] && fail "the terminal should read '$1' but reads '$(mode)' ($2)"
    sleep 0.1
  done
}
# Starts the form from the shell and waits for it to be in key mode.
start_form() {
  t send-keys -t keys "clear; $program" Enter
  expect_somewhere "  | NAME      ____________________           |"
  expect_mode "-echo -icanon " "while the form runs"
}
# The pid of the form, the shell's child.
form_pid() { ps -o pid= --ppid "$shell_pid" | tr -d ' '; }
# Asks the shell in the pane itself what stty says after the form has ended.
shell_sees_modes_back() {
  t send-keys -t keys "clear; echo MODE \$(stty -a | tr ' ;' '\\n\\n' | grep -c -x -e echo -e icanon)" Enter
  expect_somewhere "MODE 2"
}

t new-session -d -x 80 -y 24 -s keys env PS1='$ ' ENV= dash -i || fail "no tmux session"
tty=$(t display-message -p -t keys '#{pane_tty}')
shell_pid=$(t display-message -p -t keys '#{pane_pid}')
table="/tmp$tty"
for attempt in 1 2 3 4 5; do
  mkdir -p "${table%/*}" && sh "$examples/ansi_table.sh" "$table" 2>/dev/null && break
done
[ -f "$table" ] || fail "cannot write $table"
expect_mode "echo icanon " "before the form"

start_form
t send-keys -t keys C-c
expect_mode "echo icanon " "after Ctrl-C"
shell_sees_modes_back

for signal in TERM HUP; do
  start_form
  pid=$(form_pid)
  [ -n "$pid" ] || fail "no form process"
  kill -$signal "$pid"
  expect_mode "echo icanon " "after kill -$signal"
  shell_sees_modes_back
done

# Ctrl-Z stops the form with the modes back; fg brings key mode back, and the
# form still edits its field (it does not redraw the screen the shell wrote
# on, so the outcome line tells what the field holds).
start_form
t send-keys -t keys C-z
expect_mode "echo icanon " "after Ctrl-Z"
t send-keys -t keys "fg" Enter
expect_mode "-echo -icanon " "after fg"
t send-keys -t keys abc Down F1
expect_somewhere "CANCELLED NAME=abc AMOUNT= DATE="
expect_mode "echo icanon " "after the form ended"
echo "PASS"
