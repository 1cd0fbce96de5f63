#!/bin/sh
# Runs the form in the library's mode for today's terminals in a real
# terminal under tmux: keys the table does not name are not typed, UTF-8
# letters are kept, a wide number shows as stars, a two-digit year follows
# today, and after the window grows the form is drawn again and messages go
# to its new bottom row.
#   mode_tmux_test.sh <path of tcp_mode_form> <TERM for the pane>
# Exits 77 (skipped) where tmux is not installed.
set -u
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }
program=$1
term=$2
examples=$(dirname "$0")/../examples
socket="tcp-mode-$$"
pane=mode
. "$(dirname "$0")/tmux_lib.sh"

t new-session -d -x 80 -y 24 -s mode env LC_ALL=C.UTF-8 TERM="$term" sh -c 'read go; "$0"; echo "EXIT $?"; read go' "$program" ||
  fail "no tmux session"
t set-option -t mode remain-on-exit on >/dev/null
t set-option -t mode window-size manual >/dev/null 2>&1
tty=$(t display-message -p -t mode '#{pane_tty}')
table="/tmp$tty"
for attempt in 1 2 3 4 5; do
  mkdir -p "${table%/*}" && sh "$examples/ansi_table.sh" "$table" 2>/dev/null && break
done
[ -f "$table" ] || fail "cannot write $table"
t send-keys -t mode Enter

expect_line 4 "  | NAME      ____________________           |"
# Shift-Tab, Ctrl-Left, Home and End are named by no entry of the table.
t send-keys -t mode "M" BTab C-Left Home End "álaga:~"
expect_line 4 "  | NAME      Málaga:~____________           |"
t send-keys -t mode Tab -1234567.89 Tab
expect_line 5 "  | AMOUNT    ************                   |"
# The window grows: the form is drawn again (values without underscores), and a refused date's message
# lands on the new bottom row.
t resize-window -t mode -y 40
# Keys are typed once the form is drawn again, not while the resize is on
# its way to the program.
expect_line 4 "  | NAME      Málaga:~                       |"
t send-keys -t mode 3202 Enter
expect_line 39 "$(printf '%20s' '')ERROR EN CAMPO FECHA  -  NO ACEPTA DIA"
# The key that dismisses the message is typed into the date.
t send-keys -t mode BSpace
expect_line 6 "  | DATE      320_____                       |"
t send-keys -t mode BSpace BSpace BSpace 150324 Enter
expect_somewhere "SAVED NAME=M\\\\xA0laga:~ AMOUNT=-1234567.89 DATE=15032024"
expect_somewhere "EXIT 0"
echo "PASS"
