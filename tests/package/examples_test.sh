#!/bin/sh
# examples_test.sh <harness> <examples dir> <work dir>: builds the C example
# with its Makefile (pkg-config finds the library) and runs it and the Python
# example on the simulated device. The caller's environment says where the
# library is (PKG_CONFIG_PATH, LD_LIBRARY_PATH) when it is not the system's.
set -eu
harness=$1 examples=$2 work=$3

rm -rf "$work" && mkdir -p "$work"
make -s -C "$work" -f "$examples/c/Makefile" CFLAGS="-O2 -Wall -Wextra -Werror"

echo "== C example"
"$harness" --workdir "$work" -- ./consultar

echo "== Python example"
"$harness" --sim-arg --activated --workdir "$work" -- \
  python3 "$examples/python/satvaro_ctypes.py" --sale "$examples/venda.xml"

# The library's log is where the examples ran.
ls "$work"/logsDrs/logDrs*.log >/dev/null
