#!/usr/bin/env bash
# Fuzzes one libFuzzer target on a scratch copy of its seeds.
#   fuzz/run-target.sh BINARY FUZZ_DIR WORK SECONDS [--fresh]
# BINARY is the built target <name>; its seeds FUZZ_DIR/corpus/<name>/ are only
# read. WORK/corpus starts as a copy of them and keeps what the fuzzer adds
# (--fresh starts it again from the seeds); crash, leak and time-out inputs
# land in WORK/crashes. Exits non-zero when the target failed.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: $0 BINARY FUZZ_DIR WORK SECONDS [--fresh]" >&2; exit 2; }
binary=$1 fuzz_dir=$2 work=$3 seconds=$4 fresh=${5:-}
name=$(basename "$binary")
[ "$fresh" = --fresh ] && rm -rf "$work"
mkdir -p "$work/corpus" "$work/crashes"
cp -R "$fuzz_dir/corpus/$name/." "$work/corpus/"
options=(-max_total_time="$seconds" -timeout=60 -artifact_prefix="$work/crashes/" -print_final_stats=1)
[ -f "$fuzz_dir/$name.dict" ] && options+=(-dict="$fuzz_dir/$name.dict")
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
if "$binary" "${options[@]}" "$work/corpus"; then
  echo "$name: no failure in ${seconds}s; corpus $work/corpus"
else
  echo "$name: FAILED; the input is in $work/crashes (see docs/fuzzing.md: a crash input as a seed)" >&2
  exit 1
fi
