#!/bin/sh
# man_pages_test.sh <man page dir> <version script>: every page renders
# without a warning from groff (-ww) or man, and libsatvaro(3) covers every
# function the version script exports, the reply buffer, each CodigoErro value
# and the log files.
set -eu
pages=$1 map=$2
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

for page in "$pages"/*.[0-9]; do
  warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff on ${page##*/}: $warnings"
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man on ${page##*/}: $warnings"
  fi
done

api=$(MANWIDTH=80 man -l "$pages/libsatvaro.3" 2>/dev/null || groff -man -Tutf8 "$pages/libsatvaro.3")
for word in $("$(dirname -- "$0")/../exports/map_names.sh" "$map") g_resp logsDrs/logDrsYYYYMMDD.log; do
  printf '%s\n' "$api" | grep -qw -- "$word" || fail "libsatvaro(3) does not mention $word"
done
for value in 0 1 2 4 32768; do
  printf '%s\n' "$api" | grep -qE "^ +$value +[a-z]" || fail "libsatvaro(3) does not explain CodigoErro $value"
done
exit $status
