#!/bin/sh
# console_session.sh <work dir> <sale document> <console command...>: the
# session a newcomer tries first, run under satvaro-harness (--sim-arg
# --activated): the activation code, a query, the sample sale, its
# cancellation, quit. Each reply and the driver's log must be there.
set -eu
work=$1 sale=$2
shift 2
rm -rf "$work" && mkdir -p "$work" && cd "$work"
status=0
session=$(printf '12345678\n1\n6\n7\nq\n' | "$@" -f "$sale" 2>&1) || status=$?
fail() {
  printf '%s\n' "$session"
  echo "FAIL: $*" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "the console ended with status $status"
for expected in "Driver Sat Varo v01.00.01.001" "|08000|" "|06000|" "|07000|" "Saindo..."; do
  case $session in *"$expected"*) ;; *) fail "the session lacks $expected" ;; esac
done
ls logsDrs/logDrs*.log >/dev/null 2>&1 || fail "no driver log in the console's directory"
