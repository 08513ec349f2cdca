#!/bin/sh
# pkgconfig_test.sh <installed libdir> <version> <program.c> <work dir>: builds
# a program against the installed library with the flags of satvaro.pc alone
# and runs it.
set -eu
libdir=$1 version=$2 source=$3 work=$4
export PKG_CONFIG_PATH="$libdir/pkgconfig"

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

[ "$(pkg-config --modversion satvaro)" = "$version" ] || fail "version is not $version"
[ "$(pkg-config --print-requires-private satvaro)" = zlib ] || fail "Requires.private is not zlib"
pkg-config --static --libs satvaro | grep -q -- '-lz' || fail "a static link does not get -lz"

rm -rf "$work" && mkdir -p "$work"
# shellcheck disable=SC2046
cc -std=c99 -pedantic -Wall -Wextra -Werror -o "$work/consumer" "$source" \
  $(pkg-config --cflags --libs satvaro)
LD_LIBRARY_PATH="$libdir" ldd "$work/consumer" | grep -q "libsatvaro.so.1 => $libdir/" ||
  fail "the program does not load the installed library"
LD_LIBRARY_PATH="$libdir" "$work/consumer" || fail "the program failed"
exit $status
