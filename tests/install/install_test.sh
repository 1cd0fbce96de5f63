#!/bin/sh
# Installs the build into a fresh temporary prefix and checks one way of
# using what landed there:
#   cmake-package  a separate CMake project (C and C++) and the README's
#                  example project (C only) with tcp/examples/amount.c find
#                  the package, build their programs and run them;
#   pkg-config     a C program compiled and linked with gcc and
#                  `pkg-config --cflags --libs tcp`, then run;
#   files          the programs, library, header, package files and man
#                  pages are where the layout puts them, with modes 0755
#                  and 0644 under umask 000, and the package files name
#                  the prefix and no path of the build.
# Nothing is written to the source tree or the build's own install prefix;
# the install manifest goes to the build's install_manifest_query_tool.txt
# (the component named), never over install_manifest.txt.
#
# Usage: install_test.sh MODE SOURCE_DIR BUILD_DIR LIBDIR MANDIR CXX SANITIZED HAS_TCP_TABLE
# Exit status 77: skipped.
set -eu
mode=$1 source_dir=$2 build_dir=$3 libdir=$4 mandir=$5 cxx=$6 sanitized=$7 has_tcp_table=$8
here=$source_dir/tests/install

fail() {
  echo "install_test ($mode): $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tcp-install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unset DESTDIR
# A permissive umask must not leave an installed file writable by others.
umask 000
cmake --install "$build_dir" --prefix "$prefix" --component query_tool > "$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

# What the C program prints, its keys being ESC [ D and x.
expected_c_output() {
  printf '%s\n' \
    'punto 1234567.891 2 [1.234.567,89]' \
    'punto -0.004 2 [-0,00]' \
    'punto  2 []' \
    'entries 1 5 9 11 18 21' \
    'keys 8 26 10 21 6 27 180' \
    'tcpstat 1' \
    'tcpkeys -1' \
    'pos <3,4>' \
    'key 21 eof 0' \
    'key 120 eof 0' \
    'key -1 eof 1' \
    'input <5,2>_____<5,2>ab' \
    'input 27 [ab]'
}

# Runs program $1 with the C program's keys and compares its output.
check_c_program() {
  printf '\033[Dx' | "$1" > "$work/out.txt" || fail "$1 failed"
  expected_c_output > "$work/expected.txt"
  diff -u "$work/expected.txt" "$work/out.txt" >&2 || fail "$1 printed the wrong output"
}

skip_if_sanitized() {
  if [ "$sanitized" = 1 ]; then
    echo "skipped: the library of a sanitizer build needs the sanitizer runtime to link;" \
         "the plain build runs this test"
    exit 77
  fi
}

case $mode in
cmake-package)
  skip_if_sanitized
  # The README's example project, a C program through CMake's C linker,
  # with the shipped tcp/examples/amount.c.
  readme=$work/readme-example
  mkdir -p "$readme"
  awk '/^```cmake$/ { block = ""; inside = 1; next }
       inside && /^```$/ { inside = 0; if (block ~ /find_package\(tcp/) { printf "%s", block; exit } }
       inside { block = block $0 "\n" }' "$source_dir/README.md" > "$readme/CMakeLists.txt"
  grep -q 'find_package(tcp' "$readme/CMakeLists.txt" || fail "no find_package example in the README"
  cp "$source_dir/tcp/examples/amount.c" "$readme/amount.c"
  for project in "$here/consumer" "$readme"; do
    consumer=$work/build-$(basename "$project")
    if ! cmake -S "$project" -B "$consumer" -DCMAKE_PREFIX_PATH="$prefix" \
           -DCMAKE_CXX_COMPILER="$cxx" > "$work/configure.log" 2>&1 ||
       ! cmake --build "$consumer" > "$work/build.log" 2>&1; then
      cat "$work/configure.log" "$work/build.log" >&2 2>/dev/null || true
      fail "the project $project did not configure and build against the prefix"
    fi
    found=$(sed -n 's/^tcp_DIR:PATH=//p' "$consumer/CMakeCache.txt")
    [ "$found" = "$prefix/$libdir/cmake/tcp" ] || fail "find_package(tcp) found $found, not the prefix"
  done
  check_c_program "$work/build-consumer/tcp_check"
  # Keys from a pipe: no terminal, so no table; the amount typed is saved.
  printf '12.5\n' | "$work/build-readme-example/amount" > "$work/out.txt" ||
    fail "amount failed"
  tail -n 1 "$work/out.txt" | grep -qx '12.5' || fail "amount did not print the amount typed"
  grep -q 'SAVED' "$work/out.txt" || fail "amount did not report the amount saved"
  "$work/build-consumer/number_display" > "$work/out.txt" || fail "number_display failed"
  printf '%s\n' '1234567.891 -> 1.234.567,89' '999.996 -> 1.000,00' \
    '12345678901 -> 12.345.678.901,00' 'abc -> 0,00' '(11;49)' > "$work/expected.txt"
  diff -u "$work/expected.txt" "$work/out.txt" >&2 || fail "number_display printed the wrong output"
  ;;
pkg-config)
  skip_if_sanitized
  command -v pkg-config > /dev/null || { echo "skipped: pkg-config is not installed"; exit 77; }
  command -v gcc > /dev/null || { echo "skipped: gcc is not installed"; exit 77; }
  export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
  flags=$(pkg-config --cflags --libs tcp) || fail "pkg-config does not know tcp"
  case $flags in
    *"-I$prefix/include"*"-L$prefix/$libdir"*) ;;
    *) fail "pkg-config gives flags outside the prefix: $flags" ;;
  esac
  # shellcheck disable=SC2086  # the flags are words
  gcc -std=c99 -Wall -Wextra -Wpedantic -Werror "$here/tcp_check.c" -o "$work/tcp_check" $flags ||
    fail "gcc could not build the C program with: $flags"
  check_c_program "$work/tcp_check"
  ;;
files)
  expect=". bin/query bin/browse $libdir/libtcp.a include/tcp.h
    $libdir/cmake/tcp/tcpConfig.cmake $libdir/cmake/tcp/tcpConfigVersion.cmake
    $libdir/cmake/tcp/tcpTargets.cmake $libdir/pkgconfig/tcp.pc
    $mandir/man1/query.1 $mandir/man1/browse.1 $mandir/man3/tcp.3"
  [ "$has_tcp_table" = 1 ] && expect="$expect bin/tcp-table"
  [ "$has_tcp_table" = 1 ] && expect="$expect $mandir/man1/tcp-table.1"
  for file in $expect; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
  done
  for program in bin/query bin/browse bin/tcp-table; do
    [ ! -e "$prefix/$program" ] || [ -x "$prefix/$program" ] || fail "$program is not executable"
  done
  # The program, the CMake package and the pkg-config file give one version.
  version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$prefix/$libdir/cmake/tcp/tcpConfigVersion.cmake")
  [ -n "$version" ] || fail "tcpConfigVersion.cmake names no version"
  [ "$("$prefix/bin/query" --version)" = "query $version" ] ||
    fail "the installed query does not run, or its version is not $version"
  grep -qx "Version: $version" "$prefix/$libdir/pkgconfig/tcp.pc" || fail "tcp.pc is not version $version"
  cmp "$source_dir/tcp/tcp.h" "$prefix/include/tcp.h" || fail "include/tcp.h differs from tcp/tcp.h"
  # The installed header stands alone.
  if grep -n '^#include' "$prefix/include/tcp.h" >&2; then fail "tcp.h includes other headers"; fi
  # A package that names the build or source tree breaks once they are gone.
  for file in "$prefix/$libdir/cmake/tcp/"*.cmake "$prefix/$libdir/pkgconfig/tcp.pc"; do
    if grep -n -e "$source_dir" -e "$build_dir" "$file" >&2; then fail "$file names a build path"; fi
  done
  grep -qx "prefix=$prefix" "$prefix/$libdir/pkgconfig/tcp.pc" || fail "tcp.pc does not name the prefix"
  grep -qx "$prefix/$libdir/pkgconfig/tcp.pc" "$build_dir/install_manifest_query_tool.txt" ||
    fail "tcp.pc is missing from the install manifest"
  # Installed under umask 000 (below), whatever modes the checkout has: the
  # programs 0755, every other file 0644, none writable by other accounts.
  for file in $expect; do
    [ -d "$prefix/$file" ] && continue
    case $file in bin/*) want=755 ;; *) want=644 ;; esac
    got=$(stat -c %a "$prefix/$file")
    [ "$got" = "$want" ] || fail "$file is installed with mode $got, not $want"
  done
  if command -v man > /dev/null; then
    for page in "1 query" "1 browse" "3 tcp"; do
      # shellcheck disable=SC2086  # section and name
      found=$(MANPATH="$prefix/$mandir" man -w $page 2>/dev/null) || fail "man finds no $page"
      case $found in "$prefix/"*) ;; *) fail "man $page finds $found outside the prefix" ;; esac
    done
  fi
  ;;
*)
  fail "unknown mode"
  ;;
esac
