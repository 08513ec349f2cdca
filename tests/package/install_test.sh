#!/bin/sh
# install_test.sh <build dir> <prefix> <libdir> <udev rules dir>: installs the
# build into a scratch prefix and checks that exactly the files of
# installed_files.txt land there, the library with its soname and links, the
# console not linked to the library, the hub's configuration its owner's alone.
# The examples test and deb_test.sh run the installed programs.
set -eu
build=$1 prefix=$2 libdir=$3 rulesdir=$4

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

expected=$prefix.expected
sed -e "s|@LIBDIR@|$libdir|" -e "s|@RULESDIR@|$rulesdir|" "$(dirname -- "$0")/installed_files.txt" |
  sort > "$expected"
# The targets file of the build type is named after it.
(cd "$prefix" && find . ! -type d) | sed -e 's|^\./||' \
  -e 's|satvaroTargets-[a-z]*\.cmake$|satvaroTargets-BUILDTYPE.cmake|' | sort |
  diff "$expected" - >&2 || fail "installed files differ from the list (< missing, > unexpected)"
rm -f "$expected"

lib=$prefix/$libdir
[ "$(readlink "$lib/libsatvaro.so")" = libsatvaro.so.1 ] || fail "libsatvaro.so is not a link to libsatvaro.so.1"
[ "$(readlink "$lib/libsatvaro.so.1")" = libsatvaro.so.1.0.1 ] || fail "libsatvaro.so.1 is not a link to libsatvaro.so.1.0.1"
readelf -d "$lib/libsatvaro.so.1.0.1" | grep -q 'Library soname: \[libsatvaro.so.1\]' || fail "soname is not libsatvaro.so.1"
! readelf -d "$lib/libsatvaro.so.1.0.1" | grep -q 'R.*PATH' || fail "the library carries a run path"

# The console loads the library by name at run time; it must not link it.
! readelf -d "$prefix/bin/zozivodivo" | grep -q 'NEEDED.*libsatvaro' || fail "zozivodivo links libsatvaro"

grep -qx "prefix=$prefix" "$lib/pkgconfig/satvaro.pc" || fail "satvaro.pc does not name the prefix $prefix"
[ "$(stat -c %a "$prefix/etc/satvaro/hub.conf")" = 600 ] || fail "etc/satvaro/hub.conf is not mode 0600"
exit $status
