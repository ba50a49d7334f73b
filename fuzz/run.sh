#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the four fuzzers side by side for SECONDS (default 60): ./fuzz/run.sh SECONDS
# New inputs collect in build/fuzz/corpus/, crashes in build/fuzz/crashes/; the seed corpus in
# fuzz/corpus is read, never written. Prints each fuzzer's executions and coverage; exits 1 when
# a fuzzer found a crash. Copy a crash into fuzz/corpus/<reader|writer|finder>/regress_<what> once
# fixed.
set -euo pipefail
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/packages.sh
source scripts/steps.sh
step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" libgtest-dev clang libclang-rt-14-dev
quiet_step "configuring the fuzz preset" cmake --preset fuzz
quiet_step "building the fuzzers" cmake --build --preset fuzz --target wave_fuzz loop_fuzz finder_fuzz \
  sound_fuzz

build="$root/build/fuzz"
mkdir -p "$build/crashes"
status=0
pids=()
# The sound files' seeds are whole encoded files: a Vorbis setup header alone takes 3 KiB.
for run in wave_fuzz:reader:4096 loop_fuzz:writer:4096 finder_fuzz:finder:4096 \
    sound_fuzz:sound:16384; do
  IFS=: read -r fuzzer seeds longest <<<"$run"
  mkdir -p "$build/corpus/$seeds"
  # The decoders' libraries leak on some broken input; those leaks, named, are not ours.
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
  "$build/fuzz/$fuzzer" -max_total_time="$seconds" -max_len="$longest" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$fuzzer-" \
      "$build/corpus/$seeds" "$root/fuzz/corpus/$seeds" >"$build/$fuzzer.log" 2>&1 &
  pids+=("$!")
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

for fuzzer in wave_fuzz loop_fuzz finder_fuzz sound_fuzz; do
  log="$build/$fuzzer.log"
  executions="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)"
  coverage="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)"
  echo "$fuzzer: $executions executions, $coverage (log: $log)"
  if grep -q -E 'ERROR: |check failed|runtime error' "$log"; then
    grep -m 5 -E 'ERROR: |check failed|runtime error|Test unit written' "$log"
    status=1
  fi
done
exit "$status"
