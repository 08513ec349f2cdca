#!/bin/sh
# valgrind-console.sh VALGRIND CONSOLE LIBDIR SALE TEMPLATE: an operator's
# session of the console under valgrind memcheck, in a scratch directory
# (run it under the harness): query, status, sale, cancellation, end-to-end
# test, device log, quit. Fails on any invalid access or definite/indirect
# leak, or when the console does not end cleanly.
set -eu
valgrind=$1 console=$2 libdir=$3 sale=$4 template=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '12345678' > codigoRuv.bin
cp "$template" fimAfim.xml
printf '1\n2\n6\n7\n8\n3\nq\n' |
  LD_LIBRARY_PATH=$libdir "$valgrind" --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=99 "$console" -f "$sale" >/dev/null
grep -q '|07000|' retUltimoCmd.bin || { echo "the sale was not cancelled" >&2; exit 1; }
