# Shared by the library's tmux tests: sourced after setting `socket` (the
# tmux server's name) and `pane` (the session the test types into). A test
# that writes a terminal table keeps its path in `table`, removed at exit; a
# test may define fail_details to print more when it fails.
table=""

t() { tmux -L "$socket" -f /dev/null "$@"; }
cleanup() {
  t kill-server >/dev/null 2>&1
  [ -n "$table" ] && rm -f "$table"
  rmdir /tmp/dev/pts /tmp/dev 2>/dev/null
  return 0
}
trap cleanup EXIT
fail() {
  echo "FAIL: $1"
  echo "--- screen ---"
  t capture-pane -p -t "$pane"
  command -v fail_details >/dev/null 2>&1 && fail_details
  exit 1
}
# Line $1 (counted from 0) of the screen, without trailing blanks.
line() { t capture-pane -p -t "$pane" | sed -n "$(($1 + 1))p" | sed 's/ *$//'; }
# Waits up to 5 seconds for line $1 to read $2 ($3: what is being checked).
expect_line() {
  i=0
  while [ "$(line "$1")" != "$2" ]; do
    i=$((i + 1))
    [ $i -gt 50 ] && fail "line $1 should read '$2' but reads '$(line "$1")'${3:+ ($3)}"
    sleep 0.1
  done
}
# Waits up to 5 seconds for some line of the screen to read $1.
expect_somewhere() {
  i=0
  until t capture-pane -p -t "$pane" | sed 's/ *$//' | grep -qx -e "$1"; do
    i=$((i + 1))
    [ $i -gt 50 ] && fail "no line reads '$1'"
    sleep 0.1
  done
}
