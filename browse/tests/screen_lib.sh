# Reading browse's screen in a tmux session named b on the server
# "$socket", for the tmux tests: sourced after `socket` is set.

t() { tmux -L "$socket" -f /dev/null "$@"; }
fail() {
  echo "FAIL: $1"
  echo "--- screen ---"
  t capture-pane -p -t b
  exit 1
}
screen() { t capture-pane -p -t b | sed 's/ *$//'; }
line() { screen | sed -n "$(($1 + 1))p"; }
# Waits up to 10 seconds for line $1 to read $2.
expect_line() {
  i=0
  while [ "$(line "$1")" != "$2" ]; do
    i=$((i + 1))
    [ $i -gt 100 ] && fail "line $1 should read '$2' but reads '$(line "$1")'"
    sleep 0.1
  done
}
# Waits up to 10 seconds for some line to hold $1 (a grep pattern).
expect_somewhere() {
  i=0
  until screen | grep -q -e "$1"; do
    i=$((i + 1))
    [ $i -gt 100 ] && fail "no line holds '$1'"
    sleep 0.1
  done
}
