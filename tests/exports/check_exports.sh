#!/bin/sh
# The shared library must export exactly the plain C names of its interface.
set -eu
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
wanted=$(sort "$expected")
if [ "$actual" != "$wanted" ]; then
  echo "exported symbols differ from $expected:"
  printf '%s\n' "$actual" > "${TMPDIR:-/tmp}/satvaro-exports.$$"
  printf '%s\n' "$wanted" | diff - "${TMPDIR:-/tmp}/satvaro-exports.$$" || true
  rm -f "${TMPDIR:-/tmp}/satvaro-exports.$$"
  exit 1
fi
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
[ "$soname" = "libsatvaro.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }
