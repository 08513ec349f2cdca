#!/bin/sh
# man_pages_test.sh <man page dir> <exported-functions program>: every page
# renders without a warning from groff (-ww) or man, and libsatvaro(3) covers
# every exported function of the list of SAT functions (each command with its
# time-out and request limit), the reply buffer, each CodigoErro value and the
# log files.
set -eu
pages=$1 table=$2
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
for word in $("$table" | cut -d' ' -f1) g_resp logsDrs/logDrsYYYYMMDD.log; do
  printf '%s\n' "$api" | grep -qw -- "$word" || fail "libsatvaro(3) does not mention $word"
done
for value in 0 1 2 4 32768; do
  printf '%s\n' "$api" | grep -qE "^ +$value +[a-z]" || fail "libsatvaro(3) does not explain CodigoErro $value"
done

# A command's entry in the page's source: from its ".TP" to the next one.
"$table" | while read -r name result timeout limit kinds; do
  [ "$timeout" != - ] || continue
  said="Time\\-out $((timeout / 1000)) s; the request holds at most $(printf '%s' "$limit" |
    sed ':a;s/\B[0-9]\{3\}\>/,&/;ta') bytes."
  awk -v entry=".B $name" 'prev == ".TP" && $0 == entry {on = 1} on && /^\.(TP|SS)/ {exit}
    on {print} {prev = $0}' "$pages/libsatvaro.3" | grep -qxF -- "$said" ||
    { echo "FAIL: libsatvaro(3) does not say of $name: $said" >&2; exit 1; }
done || status=1
exit $status
