#!/bin/sh
# Writes a terminal table for an ANSI terminal (xterm, tmux, the Linux
# console) to the file named by the first argument, for example
#   sh ansi_table.sh "/tmp$(tty)"
# Coordinates are counted from 0 (start = 1). Messages go to row 23 in
# reverse video. Boxes are drawn with + - |. The arrow keys give KEY_CTRL_Z
# (up), KEY_NEWLINE (down), KEY_LEFT and KEY_RIGHT; Delete gives
# KEY_BACKSPACE; F1 gives KEY_ESCAPE and F2 the extended key 202. Entry 0,
# which no library routine reads, holds the clear-screen string for programs
# that want one.
set -eu
{
  printf '\027\001\000'            # TICS 23, start 1, cmpar 0
  printf '\033[H\033[2J\000'       # 0  clear screen (for programs)
  printf '\033[%%d;%%dH\000'       # 1  TC_CURSOR: row, column
  printf '\033[7m\000'             # 2  TC_MSG_ON: reverse video
  printf '\033[m\000'              # 3  TC_MSG_OFF: normal
  printf '\000'                    # 4  unused
  printf '\027\000'                # 5  TC_MSG_ROW: row 23
  printf '\177\000'                # 6  TC_KEY_BACKSPACE: Delete
  printf '\033[A\000'              # 7  TC_KEY_CTRL_Z: up arrow
  printf '\033[B\000'              # 8  TC_KEY_NEWLINE: down arrow
  printf '\033[D\000'              # 9  TC_KEY_LEFT: left arrow
  printf '\033[C\000'              # 10 TC_KEY_RIGHT: right arrow
  printf '\000\000'                # 11, 12 box begin and end: nothing
  printf '+\000+\000+\000+\000'    # 13-16 corners
  printf '|\000-\000'              # 17, 18 sides
  printf '\000\000'                # 19, 20 unused
  printf '\033OP\000'              # 21 TC_KEY_ESCAPE: F1
  printf '\033OQ\000'              # 22 extended key 202: F2
  printf '\377'                    # end of the table
} > "$1"
