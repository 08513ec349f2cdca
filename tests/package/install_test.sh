#!/bin/sh
# install_test.sh <build dir> <prefix> <libdir> <udev rules dir>: installs the
# build into a scratch prefix and checks that exactly the shipped files land
# there: the library with its soname and unversioned links, the programs, the
# hub's configuration (mode 0600) and systemd unit, the header, pkg-config and
# CMake files, the udev rule, man pages and examples.
set -eu
build=$1 prefix=$2 libdir=$3 rulesdir=$4

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

expected=$(sort <<EOF_LIST
bin/satvaro-harness
bin/satvaro-hub
bin/satvaro-sim
bin/zozivodivo
etc/satvaro/hub.conf
include/satvaro.h
$libdir/cmake/satvaro/satvaroConfig.cmake
$libdir/cmake/satvaro/satvaroConfigVersion.cmake
$libdir/cmake/satvaro/satvaroTargets-BUILDTYPE.cmake
$libdir/cmake/satvaro/satvaroTargets.cmake
$libdir/libsatvaro.so
$libdir/libsatvaro.so.1
$libdir/libsatvaro.so.1.0.1
$libdir/pkgconfig/satvaro.pc
$rulesdir/60-satvaro.rules
lib/systemd/system/satvaro-hub.service
share/doc/satvaro/README.md
share/doc/satvaro/examples/README.md
share/doc/satvaro/examples/c/Makefile
share/doc/satvaro/examples/c/consultar.c
share/doc/satvaro/examples/fimAfim.xml
share/doc/satvaro/examples/python/satvaro_ctypes.py
share/doc/satvaro/examples/venda.xml
share/doc/satvaro/simulator.md
share/man/man1/satvaro-harness.1
share/man/man1/satvaro-sim.1
share/man/man1/zozivodivo.1
share/man/man3/libsatvaro.3
share/man/man8/satvaro-hub.8
EOF_LIST
)
# The targets file of the build type is named after it.
actual=$(cd "$prefix" && find . ! -type d | sed -e 's|^\./||' \
  -e 's|satvaroTargets-[a-z]*\.cmake$|satvaroTargets-BUILDTYPE.cmake|' | sort)
if [ "$actual" != "$expected" ]; then
  fail "installed files differ from the list (< missing, > unexpected):"
  printf '%s\n' "$expected" > "$prefix.expected"
  printf '%s\n' "$actual" | diff "$prefix.expected" - >&2 || true
  rm -f "$prefix.expected"
fi

lib=$prefix/$libdir
[ "$(readlink "$lib/libsatvaro.so")" = libsatvaro.so.1 ] || fail "libsatvaro.so is not a link to libsatvaro.so.1"
[ "$(readlink "$lib/libsatvaro.so.1")" = libsatvaro.so.1.0.1 ] || fail "libsatvaro.so.1 is not a link to libsatvaro.so.1.0.1"
readelf -d "$lib/libsatvaro.so.1.0.1" | grep -q 'Library soname: \[libsatvaro.so.1\]' || fail "soname is not libsatvaro.so.1"
! readelf -d "$lib/libsatvaro.so.1.0.1" | grep -q 'R.*PATH' || fail "the library carries a run path"

for program in zozivodivo satvaro-sim satvaro-harness satvaro-hub; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
# The console loads the library by name at run time; it must not link it.
! readelf -d "$prefix/bin/zozivodivo" | grep -q 'NEEDED.*libsatvaro' || fail "zozivodivo links libsatvaro"

grep -qx "prefix=$prefix" "$lib/pkgconfig/satvaro.pc" || fail "satvaro.pc does not name the prefix $prefix"
[ "$(stat -c %a "$prefix/etc/satvaro/hub.conf")" = 600 ] || fail "etc/satvaro/hub.conf is not mode 0600"
exit $status
