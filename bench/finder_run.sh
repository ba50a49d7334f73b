#!/usr/bin/env bash
# The seam finder's figures, each against a target and, for speed, against a baseline measured in
# the same run:
#   find    CPU per minute of audio on a 3-minute 16-bit stereo 44.1 kHz song (intro, the loop
#           twice, a fade), vs one plain pass that reads every sample
#   refine  CPU of one refine from 0.4 s off each way, radius 0.5 s
#   memory  peak of rundelt-cli find on that song, vs the sound's own size
#   accuracy on the development set rendered by make_loop_set.py: the best candidate has the true
#           length to within 2 frames and a seam that passes
# Usage: bench/finder_run.sh [BUILD_DIR [SCRATCH_DIR [RUNS]]]   (run.sh calls it with its own;
# alone it builds the release preset and uses a temporary folder; SET_SIZE=... for another set)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/packages.sh
source scripts/steps.sh
step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" \
  libgtest-dev
bin="${1:-$root/build/release}"
if [ $# -lt 1 ]; then
  quiet_step "configuring the release preset" cmake --preset release -B "$bin" -DBUILD_TESTING=ON
fi
quiet_step "building the seam finder's benchmark" cmake --build "$bin" --target rundelt-cli bench_measure \
  bench_finder
runs="${3:-${RUNS:-5}}"
scratch="$(mktemp -d "${2:-${BENCH_DIR:-${TMPDIR:-/tmp}}}/rundelt-finder.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
python=/usr/bin/python3
verdict() { if awk "BEGIN { exit !($1) }"; then echo "ok"; else echo "MISSED"; fi; }
mib=$((1024 * 1024))

echo "---- seam finder"
song="$scratch/song.wav"
step "rendering the 3-minute song" "$python" bench/make_loop_set.py --song "$song" 180
speed=$("$bin/bench/bench_finder" speed "$song" "$runs") || steps_failed "timing the finder" $?
read -r findMs baselineMs refineMs minutes <<<"$speed"
printf "find CPU:         %8.1f ms per minute of audio   one pass over the samples: %6.1f ms   ratio %s  target <= 100 ms: %s\n" \
    "$findMs" "$baselineMs" "$(awk -v a="$findMs" -v b="$baselineMs" 'BEGIN { printf "%.1f", a / b }')" \
    "$(verdict "$findMs <= 100")"
printf "refine CPU:       %8.1f ms (0.4 s off each way, radius 0.5 s)   target <= 50 ms: %s\n" "$refineMs" \
    "$(verdict "$refineMs <= 50")"
peak=$("$bin/bench/bench_measure" "$runs" -- "$bin/cli/rundelt-cli" find "$song") ||
  steps_failed "measuring rundelt-cli find" $?
read -r findWallMs findKib <<<"$peak"
soundBytes=$(($(stat -c %s "$song") - 44))
extra=$((findKib * 1024 - soundBytes))
printf "find peak memory: %8.1f MiB  sound: %6.1f MiB  + %.1f MiB  target <= sound + 32 MiB: %s  (rundelt-cli find, %.2f min song: %.0f ms wall)\n" \
    "$(awk -v a=$((findKib * 1024)) -v m=$mib 'BEGIN { printf "%.1f", a / m }')" \
    "$(awk -v a=$soundBytes -v m=$mib 'BEGIN { printf "%.1f", a / m }')" \
    "$(awk -v a=$extra -v m=$mib 'BEGIN { printf "%.1f", a / m }')" "$(verdict "$extra <= 32 * $mib")" "$minutes" "$findWallMs"
rm -f "$song"

set="$scratch/set"
step "rendering the development set" "$python" bench/make_loop_set.py "$set" "${SET_SIZE:-60}"
step "finding the loops of the development set" "$bin/bench/bench_finder" accuracy "$set" >"$scratch/accuracy.txt"
grep MISSED "$scratch/accuracy.txt" | sed 's/^/  missed: /' || true
read -r _ hits items < <(tail -1 "$scratch/accuracy.txt")
printf "development set:  %d of %d items (%s min of audio) of the true length +-2 frames with a passing seam: %.1f %%  target >= 95 %%: %s\n" \
    "$hits" "$items" "$(awk '{ s += $5 / $2 / 60 } END { printf "%.0f", s }' "$set/manifest.tsv")" \
    "$(awk -v h="$hits" -v n="$items" 'BEGIN { printf "%.1f", 100 * h / n }')" "$(verdict "$hits * 100 >= 95 * $items")"
