#!/bin/sh
# run-fuzzers.sh <bin dir> <corpus root> <seconds>: runs every fuzz_<name>
# libFuzzer program for <seconds>, starting from <corpus root>/<name>. New
# inputs go to a scratch directory; the committed corpus is only read. Ends
# with a table of executions and crashes per target (a target stops at its
# first crash, whose input is shown).
set -eu
bindir=$1 corpora=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
summary=""
total=0
for fuzzer in "$bindir"/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=${fuzzer##*/fuzz_}
  mkdir -p "$scratch/$name" "$scratch/$name.artifacts"
  echo "== fuzz_$name: ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$scratch/$name.artifacts/" "$scratch/$name" "$corpora/$name" \
       2>"$scratch/$name.log"; then
    status=1
    tail -n 60 "$scratch/$name.log"
    for crash in "$scratch/$name.artifacts"/*; do
      [ -f "$crash" ] && { echo "input: $crash"; od -c "$crash" | head -20; }
    done
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$name.log")
  crashes=$(find "$scratch/$name.artifacts" -type f | wc -l)
  total=$((total + ${runs:-0}))
  summary="$summary$(printf '%-22s %14s executions %3s crashes' "fuzz_$name" "${runs:-?}" "$crashes")
"
done
echo "== fuzzing, ${seconds}s per target"
printf '%s' "$summary"
printf '%-22s %14s executions\n' "total" "$total"
exit $status
