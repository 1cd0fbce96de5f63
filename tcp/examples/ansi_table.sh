#!/bin/sh
# Writes the example terminal table for an ANSI terminal (xterm, tmux, the
# Linux console) to the file named by the first argument, for example
#   sh ansi_table.sh ansi.table
# To give the terminal you are on its table, run `tcp-table --install`
# there instead: it builds the table from the terminal database and puts it
# where the library looks for it.
#
# Coordinates are counted from 0 (start = 1). Messages go to row 23 in
# reverse video. Boxes are drawn with + - |. The arrow keys give KEY_CTRL_Z
# (up), KEY_NEWLINE (down), KEY_LEFT and KEY_RIGHT; Delete gives
# KEY_BACKSPACE; F1 gives KEY_ESCAPE and F2 the extended key 202. Entry 0,
# which no library routine reads, holds the clear-screen string for programs
# that want one.
#
# The file is written under a temporary name beside it and renamed into
# place with mode 0644. The script refuses a target that is a symbolic link,
# no regular file or another user's, and a folder on its path that is a
# symbolic link, belongs to another user than you or root, or may be
# written by others (unless sticky, as /tmp is): the library would not load
# a table there, and writing through it could overwrite someone's file.
set -eu
if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: sh ansi_table.sh FILE" >&2
  exit 2
fi
target=$1
me=$(id -u)

refuse() {
  echo "ansi_table.sh: $1; nothing written" >&2
  exit 1
}

# Refuses the folder $1 when it is a link, no folder, or not trusted.
check_folder() {
  [ -L "$1" ] && refuse "'$1' is a symbolic link"
  [ -d "$1" ] || refuse "'$1' is no folder"
  owner=$(stat -c %u -- "$1") mode=$(stat -c %a -- "$1")
  [ "$owner" = "$me" ] || [ "$owner" = 0 ] || refuse "the folder '$1' belongs to another user (uid $owner)"
  if [ $((0$mode & 022)) -ne 0 ] && [ $((0$mode & 01000)) -eq 0 ]; then
    refuse "the folder '$1' may be written by others"
  fi
}

# Every folder from the first one named down to the target's own.
folder=$(dirname -- "$target")
case $folder in /*) path="" ;; *) check_folder . && path=. ;; esac
old_ifs=$IFS
IFS=/
for part in $folder; do
  [ -z "$part" ] && continue
  path="$path/$part"
  check_folder "$path"
done
IFS=$old_ifs

if [ -L "$target" ]; then refuse "'$target' is a symbolic link"; fi
if [ -e "$target" ]; then
  [ -f "$target" ] || refuse "'$target' is no regular file"
  owner=$(stat -c %u -- "$target")
  [ "$owner" = "$me" ] || [ "$owner" = 0 ] || refuse "'$target' belongs to another user (uid $owner)"
fi

temporary=$(mktemp -- "$folder/.ansi_table.XXXXXX") || refuse "cannot create a file in '$folder'"
trap 'rm -f -- "$temporary"' EXIT
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
} > "$temporary"
chmod 0644 "$temporary"
# -T: a folder planted at the target meanwhile is not moved into.
mv -f -T -- "$temporary" "$target"
trap - EXIT
