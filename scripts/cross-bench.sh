#!/bin/sh
# cross-bench.sh <native build dir> [<cross build dir>...]: the driver's
# overhead per call (bench_commands' ConsultarSAT_overhead: wall time less the
# device's pauses, median of 15 calls) for each build in one run, beside the
# first's. Each runs under the harness with the first build's simulator; a
# program this machine cannot run goes through qemu-user.
set -eu
top=$(cd "$(dirname -- "$0")/.." && pwd)
sim=$top/$1/bin/satvaro-sim
out=$(mktemp -d "${TMPDIR:-/tmp}/satvaro-cross-bench.XXXXXX")
trap 'rm -rf -- "$out"' EXIT
first=""
for build in "$@"; do
  program=$top/$build/bin/bench_commands
  case $(file -b "$program") in
    *80386*) emulator=qemu-i386
             # Natively where the kernel runs 32-bit programs.
             ! /lib/ld-linux.so.2 --version >/dev/null 2>&1 || emulator="" ;;
    *aarch64*) emulator=qemu-aarch64 ;;
    *ARM,*) emulator=qemu-arm ;;
    *) emulator="" ;;
  esac
  # shellcheck disable=SC2086
  "$top/sim/satvaro-harness" --sim "$sim" -- $emulator "$program" \
    --benchmark_filter=ConsultarSAT_overhead --benchmark_out="$out/$build.json" \
    --benchmark_out_format=json >/dev/null
  ms=$(python3 -c 'import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
print(next(r["real_time"] for r in runs if r.get("aggregate_name") == "median"))' "$out/$build.json")
  first=${first:-$ms}
  awk -v build="$build" -v how="${emulator:-native}" -v ms="$ms" -v first="$first" -v base="$1" \
    'BEGIN { printf "%-20s %-14s %8.3f ms  %6.2f x %s\n", build, how, ms, ms / first, base }'
done
