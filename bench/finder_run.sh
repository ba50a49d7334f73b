#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The seam finder's figures, each against a target and, for speed, against a baseline measured in
# the same run:
#   find    CPU per minute of audio on a 3-minute 16-bit stereo 44.1 kHz song (intro, the loop
#           twice, a fade), vs one plain pass that reads every sample; target 30 ms
#   refine  CPU of one refine from 0.4 s off each way, radius 0.5 s; target 50 ms
#   memory  peak of rundelt-cli find on that song and on an hour of it, vs the sound's own size;
#           target the sound + 32 MiB
#   accuracy on the development set rendered by make_loop_set.py, on its copies degraded by
#           degrade_set.py (Vorbis round trip, SoX to 22050 Hz mono 8-bit, noise 60 dB below),
#           and on recordings of three to six passes: the best candidate is one pass of the true
#           length (within 2 frames) with a seam within 3 dB of the true loop's own or at 20 dB;
#           targets 98 % clean, 97 % each of the others; and on each set, refine from a seamless
#           loop's points moved up to the radius (0.5 s) apart and the same way: seamless for
#           every item that find gets right
# Usage: bench/finder_run.sh [BUILD_DIR [SCRATCH_DIR [RUNS]]]   (run.sh calls it with its own;
# alone it builds the release preset and uses a temporary folder; SET_SIZE=... for another set)
part_targets=(rundelt-cli bench_measure bench_finder)
source "$(dirname "$0")/part.sh" "the seam finder's benchmark" finder "$@"
python=/usr/bin/python3
mebibytes() { awk -v a="$1" -v m=$mib 'BEGIN { printf "%.1f", a / m }'; }
# memory_line WHAT PEAK_KIB SOUND_BYTES [NOTE]: find's peak against the sound it held.
memory_line() {
  local extra=$(($2 * 1024 - $3))
  printf "find peak memory: %8.1f MiB  %s: %6.1f MiB  + %.1f MiB  target <= sound + 32 MiB: %s%s\n" \
    "$(mebibytes $(($2 * 1024)))" "$1" "$(mebibytes "$3")" "$(mebibytes "$extra")" \
    "$(verdict "$extra <= 32 * $mib")" "${4:-}"
}

echo "---- seam finder"
song="$scratch/song.wav"
step "rendering the 3-minute song" "$python" bench/make_loop_set.py --song "$song" 180
speed=$("$bin/bench/bench_finder" speed "$song" "$runs") || steps_failed "timing the finder" $?
read -r findMs baselineMs refineMs minutes <<<"$speed"
printf "find CPU:         %8.1f ms per minute of audio   one pass over the samples: %6.1f ms   ratio %s  target <= 30 ms: %s\n" \
    "$findMs" "$baselineMs" "$(awk -v a="$findMs" -v b="$baselineMs" 'BEGIN { printf "%.1f", a / b }')" \
    "$(verdict "$findMs <= 30")"
printf "refine CPU:       %8.1f ms (0.4 s off each way, radius 0.5 s)   target <= 50 ms: %s\n" "$refineMs" \
    "$(verdict "$refineMs <= 50")"
peak=$("$bin/bench/bench_measure" "$runs" -- "$bin/cli/rundelt-cli" find "$song") ||
  steps_failed "measuring rundelt-cli find" $?
read -r findWallMs findKib <<<"$peak"
soundBytes=$(($(stat -c %s "$song") - 44))
memory_line sound "$findKib" "$soundBytes" \
  "$(printf "  (rundelt-cli find, %.2f min song: %.0f ms wall)" "$minutes" "$findWallMs")"

# An hour of the song, for the memory target: the features must not grow past it.
hour="$scratch/hour.wav"
step "making an hour of sound" "$python" bench/repeat_wave.py "$song" "$hour" 20
rm -f "$song"
peak=$("$bin/bench/bench_measure" 1 -- "$bin/cli/rundelt-cli" find "$hour") ||
  steps_failed "measuring rundelt-cli find on an hour" $?
read -r _ hourKib <<<"$peak"
memory_line "an hour of it" "$hourKib" $(($(stat -c %s "$hour") - 44))
rm -f "$hour"

# accuracy NAME DIR TARGET: the share of the set's items whose best candidate is one pass of the
# true length (within 2 frames at the file's rate) with a seam within 3 dB of the true loop's own
# or at 20 dB.
accuracy() {
  local name=$1 dir=$2 target=$3 hits items
  "$bin/bench/bench_finder" accuracy "$dir" >"$scratch/accuracy-$name.txt" ||
    steps_failed "finding the loops of the $name set" $?
  grep -E '  MISSED$' "$scratch/accuracy-$name.txt" | sed "s/^/  missed ($name): /" || true
  grep 'REFINE MISSED' "$scratch/accuracy-$name.txt" | sed "s/^/  refine missed ($name): /" || true
  read -r _ hits items < <(grep '^ACCURACY ' "$scratch/accuracy-$name.txt")
  read -r _ refineHits refineTries < <(grep '^REFINE ' "$scratch/accuracy-$name.txt")
  printf "%-26s %3d of %3d items (%3s min of audio): %5.1f %%  target >= %s %%: %s\n" "$name" \
    "$hits" "$items" "$(awk '{ s += $5 / $2 / 60 } END { printf "%.0f", s }' "$dir/manifest.tsv")" \
    "$(awk -v h="$hits" -v n="$items" 'BEGIN { printf "%.1f", 100 * h / n }')" "$target" \
    "$(verdict "$hits * 100 >= $target * $items")"
  # Refine keeps its promise wherever find does: from points moved within the radius, a loop
  # as clean as find's.
  printf "%-26s refine from points up to 0.5 s off: %3d of %3d seamless  target: every one find has: %s\n" \
    "" "$refineHits" "$refineTries" "$(verdict "$refineHits >= 2 * $hits")"
}

echo "development sets: one pass of the true length (+-2 frames), a seam within 3 dB of the loop's own or at 20 dB"
set="$scratch/set"
step "rendering the development set" "$python" bench/make_loop_set.py "$set" "${SET_SIZE:-60}"
accuracy "clean" "$set" 98
for variant in vorbis sox8 noise; do
  step "degrading the development set ($variant)" "$python" bench/degrade_set.py "$set" \
    "$scratch/$variant" "$variant"
  case $variant in
    vorbis) label="Vorbis q2 round trip" ;;
    sox8) label="SoX 22050 Hz mono 8-bit" ;;
    noise) label="noise 60 dB below" ;;
  esac
  accuracy "$label" "$scratch/$variant" 97
  rm -rf "${scratch:?}/$variant"
done
rm -rf "$set"
step "rendering the recordings of several passes" "$python" bench/make_loop_set.py "$scratch/multi" \
  "${SET_SIZE:-60}" --multipass
accuracy "three to six passes" "$scratch/multi" 97
