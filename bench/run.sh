#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Speed and memory of rundelt-cli on a 10-minute 16-bit stereo 44.1 kHz file, each figure the
# median of RUNS runs (default 5) and set against a baseline measured in the same run:
#   load  (the core's reader, as the window loads): wall time vs one read() of the file; peak
#         memory vs the file size
#   info on a 2 GiB (sparse) file: wall time and peak memory vs one read() of it
#   save  (loop from frame 100000 to 1 s before the end, repeat 2, fade 30): wall time vs cp of
#         a file of the output's size, vs that cp plus sync, and vs a plain save (one read()
#         of the input, one write() per part, fsync); peak memory vs input + tail
#   fade  alone: ns per unit vs one std::pow per unit
#   seam finder (bench/finder_run.sh): find and refine CPU, memory, development-set accuracy
#   batch (bench/batch_run.sh), other formats (bench/formats_run.sh): find on Ogg, tag, memory
#   SoX   doing the same render (intro, loop twice, 30 s fade; its curve differs)
# Usage: bench/run.sh   (RUNS=7 for more runs; BENCH_DIR=... for the scratch folder, which needs
# about 1 GB free and should sit on the disk the user saves to, not on tmpfs; BENCH_BUILD=... for
# another build folder than the release preset's). The release preset is configured with its
# tests, as test.sh configures it; run.sh leaves them out, which rebuilds none of the programs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
runs="${RUNS:-5}"
source scripts/packages.sh
source scripts/steps.sh
step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" libgtest-dev
# SoX is only a point of comparison: without it the rest still runs.
scripts/ensure-packages.sh sox || echo "SoX could not be installed; its comparison is skipped" >&2
bin="${BENCH_BUILD:-$root/build/release}"
quiet_step "configuring the release preset" cmake --preset release -B "$bin" -DBUILD_TESTING=ON
quiet_step "building the benchmark" cmake --build "$bin" --target rundelt-cli bench_measure \
    bench_read_baseline bench_load bench_make_wave bench_fade bench_save_baseline
cli="$bin/cli/rundelt-cli"
# measure ARGS...: "MS KIB", the medians; a failed measurement names itself and ends the script.
measure() {
  local result status=0
  result=$("$bin/bench/bench_measure" "$runs" "$@") || status=$?
  [[ $status -eq 0 && -n $result ]] || steps_failed "measuring ($*)" "$((status == 0 ? 1 : status))"
  echo "$result"
}

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/rundelt-bench.XXXXXX")" ||
  steps_failed "making the scratch folder" 1
trap 'rm -rf "$work"' EXIT
song="$work/song.wav"
step "writing the 10-minute input" "$bin/bench/bench_make_wave" "$song" 600

rate=44100
frames=$((600 * rate))
start=100000
end=$((frames - rate))  # one second before the end
repeat=2
fade=30
fileBytes=$(stat -c %s "$song")
inputBytes=$((fileBytes - 44))
tailBytes=$((fade * rate * 4))
dataBytes=$(((start + (end - start) * repeat + fade * rate) * 4))
outBytes=$((44 + dataBytes))
mib=$((1024 * 1024))

# ratio A B -> A / B to 2 decimals
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# verdict OK-WHEN-TRUE
verdict() { if awk "BEGIN { exit !($1) }"; then echo "ok"; else echo "MISSED"; fi; }

echo "Input: $song, $fileBytes bytes ($(ratio "$fileBytes" $mib) MiB); output $outBytes bytes; $runs runs each, medians"
echo "Scratch folder on: $(df --output=fstype "$work" | tail -1)"
echo

# ---- load ----
read -r loadMs loadKib < <(measure -- "$bin/bench/bench_load" "$song")
read -r readMs readKib < <(measure -- "$bin/bench/bench_read_baseline" "$song")
loadBytes=$((loadKib * 1024))
printf "load wall:        %8.1f ms   one read():   %8.1f ms   ratio %s\n" "$loadMs" "$readMs" "$(ratio "$loadMs" "$readMs")"
printf "load peak memory: %8.1f MiB  file size:    %8.1f MiB  ratio %s  target <= file + 8 MiB: %s (read(): %.1f MiB)\n" \
    "$(ratio "$loadBytes" $mib)" "$(ratio "$fileBytes" $mib)" "$(ratio "$loadBytes" "$fileBytes")" \
    "$(verdict "$loadBytes <= $fileBytes + 8 * $mib")" "$(ratio $((readKib * 1024)) $mib)"

# ---- info on a 2 GiB file ----
# A sparse file just under the reader's limit of 2^31 - 8 bytes. info answers from the headers
# alone; reading the payload, as the window's load must, takes the whole file into memory.
huge="$work/huge.wav"
step "writing the 2 GiB sparse input" /usr/bin/python3 -c '
import os, struct, sys
data = 2**31 - 1 - 8 - 44
with open(sys.argv[1], "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", data + 36) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) + b"data" + struct.pack("<I", data))
os.truncate(sys.argv[1], 44 + data)' "$huge"
read -r hugeInfoMs hugeInfoKib < <(measure -- "$cli" info "$huge")
read -r hugeReadMs hugeReadKib < <(measure -- "$bin/bench/bench_read_baseline" "$huge")
printf "info, 2 GiB file: %8.1f ms   one read():   %8.1f ms   ratio %s  target <= 10 ms: %s\n" "$hugeInfoMs" \
    "$hugeReadMs" "$(ratio "$hugeInfoMs" "$hugeReadMs")" "$(verdict "$hugeInfoMs <= 10")"
printf "info peak memory: %8.1f MiB  one read():   %8.1f MiB  target <= 8 MiB: %s\n" "$(ratio $((hugeInfoKib * 1024)) $mib)" \
    "$(ratio $((hugeReadKib * 1024)) $mib)" "$(verdict "$hugeInfoKib <= 8 * 1024")"
rm -f "$huge"

# ---- save ----
out="$work/out.wav"
step "the first save" "$cli" save "$song" "$out" --start $start --end $end --repeat $repeat --fade $fade
test "$(stat -c %s "$out")" -eq "$outBytes" || { echo "save wrote $(stat -c %s "$out") bytes, expected $outBytes"; exit 1; }
step "copying the output for the cp baseline" cp "$out" "$work/copy-source.wav"
read -r saveMs saveKib < <(measure --remove "$out" -- "$cli" save "$song" "$out" --start $start --end $end \
    --repeat $repeat --fade $fade)
read -r cpMs _ < <(measure --remove "$work/copy.wav" -- cp "$work/copy-source.wav" "$work/copy.wav")
read -r cpSyncMs _ < <(measure --remove "$work/copy.wav" -- sh -c 'cp "$1" "$2" && sync "$2"' sh \
    "$work/copy-source.wav" "$work/copy.wav")
read -r plainSaveMs _ < <(measure --remove "$work/plain.wav" -- "$bin/bench/bench_save_baseline" "$song" \
    "$work/plain.wav" $start $end $repeat $fade)
saveBytes=$((saveKib * 1024))
printf "save wall:        %8.1f ms   cp:           %8.1f ms   ratio %s\n" "$saveMs" "$cpMs" "$(ratio "$saveMs" "$cpMs")"
printf "save wall:        %8.1f ms   cp + sync:    %8.1f ms   ratio %s  target <= 1.3: %s\n" "$saveMs" "$cpSyncMs" \
    "$(ratio "$saveMs" "$cpSyncMs")" "$(verdict "$saveMs <= 1.3 * $cpSyncMs")"
printf "save wall:        %8.1f ms   plain save:   %8.1f ms   ratio %s\n" "$saveMs" "$plainSaveMs" \
    "$(ratio "$saveMs" "$plainSaveMs")"
printf "save peak memory: %8.1f MiB  input + tail: %8.1f MiB  ratio %s  target <= input + tail + 8 MiB: %s\n" \
    "$(ratio "$saveBytes" $mib)" "$(ratio $((inputBytes + tailBytes)) $mib)" \
    "$(ratio "$saveBytes" $((inputBytes + tailBytes)))" "$(verdict "$saveBytes <= $inputBytes + $tailBytes + 8 * $mib")"

# ---- fade alone ----
fadeReport="$("$bin/bench/bench_fade" 7)" || steps_failed "timing the fade" $?
echo "$fadeReport"
for fadeNs in $(echo "$fadeReport" | sed -E 's/.*units: +([0-9.]+) ns.*/\1/'); do
  printf "fade target <= 5 ns per unit (%s ns): %s\n" "$fadeNs" "$(verdict "$fadeNs <= 5")"
done

# ---- seam finder ----
bench/finder_run.sh "$bin" "$work" "$runs"

# ---- batch ----
bench/batch_run.sh "$bin" "$work" "$runs"

# ---- other formats ----
bench/formats_run.sh "$bin" "$work" "$runs"

# ---- SoX ----
# Intro, the loop twice, then 30 s from the loop start fading out, concatenated; timed with and
# without a sync of its output, since our save fsyncs.
if ! command -v sox >/dev/null; then
  echo "SoX: not installed, skipped"
  exit 0
fi
soxOut="$work/sox.wav"
soxRender='sox "|sox \"$1\" -p trim 0s '"${start}"'s" "|sox \"$1\" -p trim '"${start}"'s ='"${end}"'s repeat 1" "|sox \"$1\" -p trim '"${start}"'s '"$((fade * rate))"'s fade t 0 '"${fade}"' '"${fade}"'" -b 16 "$2"'
read -r soxMs _ < <(measure --remove "$soxOut" -- sh -c "$soxRender" sh "$song" "$soxOut")
test "$(stat -c %s "$soxOut")" -eq "$outBytes" || echo "(SoX wrote $(stat -c %s "$soxOut") bytes, ours $outBytes)"
read -r soxSyncMs _ < <(measure --remove "$soxOut" -- sh -c "$soxRender"' && sync "$2"' sh "$song" "$soxOut")
printf "SoX render:       %8.1f ms   ours:         %8.1f ms   SoX / ours %s  target >= 5: %s\n" "$soxMs" "$saveMs" \
    "$(ratio "$soxMs" "$saveMs")" "$(verdict "$soxMs >= 5 * $saveMs")"
printf "SoX + sync:       %8.1f ms   ours:         %8.1f ms   SoX / ours %s\n" "$soxSyncMs" "$saveMs" \
    "$(ratio "$soxSyncMs" "$saveMs")"
