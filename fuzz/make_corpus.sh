#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Rebuilds the seed corpus in fuzz/corpus from the generator (make_corpus.cpp). Files the fuzzers
# found (regress_*) are kept; the generated ones are written afresh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/corpus"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRUNDELT_WINDOW=OFF >/dev/null
cmake --build "$build" --target wave_fuzz_corpus >/dev/null
"$build/fuzz/wave_fuzz_corpus" "$root/fuzz/corpus"
for kind in reader writer finder; do echo "$kind: $(ls "$root/fuzz/corpus/$kind" | wc -l) files"; done
