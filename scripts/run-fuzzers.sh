#!/bin/sh
# run-fuzzers.sh <bin dir> <corpus root> <seconds>: runs every fuzz_<name>
# libFuzzer program for <seconds>, starting from <corpus root>/<name>. New
# inputs go to a scratch directory; the committed corpus is only read.
set -eu
bindir=$1 corpora=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for fuzzer in "$bindir"/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=${fuzzer##*/fuzz_}
  mkdir -p "$scratch/$name"
  echo "== fuzz_$name: ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$scratch/" "$scratch/$name" "$corpora/$name" 2>"$scratch/$name.log"; then
    status=1
    tail -n 60 "$scratch/$name.log"
    for crash in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/oom-* "$scratch"/timeout-*; do
      [ -f "$crash" ] && { echo "input: $crash"; od -c "$crash" | head -20; }
    done
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$scratch/$name.log" || true
done
exit $status
