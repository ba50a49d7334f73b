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
#   assets  the same generator's music in the form games ship it (make_loop_set.py --assets: the
#           whole file loops, or an intro of each kind and one pass, the file ending where the
#           loop ends; and files with no loop), clean and after a Vorbis round trip: every
#           whole-file loop right (its end the file's, its start within 10 ms), at least 70 % of
#           the intros, no phrase first for any of them, no loop for a file without one; and the
#           finder's CPU per minute of audio over the set
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

# assets NAME DIR: the shipped forms, each form's share right, and the goals.
assets() {
  local name=$1 dir=$2 right items phrases
  "$bin/bench/bench_finder" assets "$dir" >"$scratch/assets-$name.txt" ||
    steps_failed "finding the loops of the $name assets" $?
  grep -E '  MISSED$' "$scratch/assets-$name.txt" | sed "s/^/  missed ($name): /" || true
  read -r _ right items phrases < <(grep '^ASSETS ' "$scratch/assets-$name.txt")
  form() { awk -v f="$1" '$1 == "FORM" && $2 ~ f { r += $3; n += $4 } END { printf "%d %d\n", r, n }' \
    "$scratch/assets-$name.txt"; }
  read -r wholeRight wholeItems < <(form '^whole$')
  read -r introRight introItems < <(form '^intro-')
  read -r noneRight noneItems < <(form '^none$')
  printf "%-26s %3d of %3d right; whole file %d of %d  target all: %s\n" "assets, $name" "$right" \
    "$items" "$wholeRight" "$wholeItems" "$(verdict "$wholeRight == $wholeItems")"
  printf "%-26s intros %d of %d (%.0f %%)  target >= 70 %%: %s\n" "" "$introRight" "$introItems" \
    "$(awk -v r="$introRight" -v n="$introItems" 'BEGIN { print n ? 100 * r / n : 0 }')" \
    "$(verdict "$introRight * 100 >= 70 * $introItems")"
  printf "%-26s a phrase first: %d  target 0: %s;  no loop where none: %d of %d  target all: %s\n" \
    "" "$phrases" "$(verdict "$phrases == 0")" "$noneRight" "$noneItems" \
    "$(verdict "$noneRight == $noneItems")"
  grep '^FORM intro' "$scratch/assets-$name.txt" | awk '{ printf "%-26s   %s: %d of %d\n", "", $2, $3, $4 }'
  printf "%-26s find CPU %.1f ms per minute of audio over the set  target <= 30 ms: %s\n" "" \
    "$(awk '$1 == "CPU" { print $2 }' "$scratch/assets-$name.txt")" \
    "$(verdict "$(awk '$1 == "CPU" { print $2 }' "$scratch/assets-$name.txt") <= 30")"
}

echo "assets in the shipped form: the loop ends with the file, its start within 10 ms"
step "rendering the assets" "$python" bench/make_loop_set.py "$scratch/assets" "${SET_SIZE:-60}" \
  --assets
assets "clean" "$scratch/assets"
step "degrading the assets (vorbis)" "$python" bench/degrade_set.py "$scratch/assets" \
  "$scratch/assets-vorbis" vorbis
assets "Vorbis q2 round trip" "$scratch/assets-vorbis"
rm -rf "$scratch/assets" "$scratch/assets-vorbis"

step "rendering the recordings of several passes" "$python" bench/make_loop_set.py "$scratch/multi" \
  "${SET_SIZE:-60}" --multipass
accuracy "three to six passes" "$scratch/multi" 97
