#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The batch command's figures on a generated soundtrack (make_loop_set.py --soundtrack: 12 tracks,
# about 30 minutes in mixed formats, a refused file and one of noise), each a median of RUNS runs:
#   dry run   --dry-run with 1 job and with 2: wall time and the ratio; target 2 jobs >= 1.6x
#   render    the full render (repeat 2, fade 5) with 1 job and with 2, against cp + sync of its
#             outputs; and an extended render (--length 600, ten minutes a track), where the
#             writing outweighs the search; target 2 jobs <= 1.3x cp + sync
#   memory    peak with 2 jobs; target 2 x (the largest input + its tail + 40 MiB)
# Usage: bench/batch_run.sh [BUILD_DIR [SCRATCH_DIR [RUNS]]]   (bench/run.sh calls it with its
# own; alone it builds the release preset and uses a temporary folder)
part_targets=(rundelt-cli bench_measure)
source "$(dirname "$0")/part.sh" "the batch benchmark" batch "$@"
cli="$bin/cli/rundelt-cli"
# A batch of the soundtrack ends with 1 (a file is refused and one has no loop): measure --status 1.

echo "---- batch"
tracks="$scratch/soundtrack"
step "rendering the soundtrack" /usr/bin/python3 bench/make_loop_set.py --soundtrack "$tracks"
minutes=$(awk '{ s += $5 / $2 / 60 } END { printf "%.1f", s }' "$tracks/manifest.tsv")
echo "soundtrack: $(ls "$tracks"/*.wav | wc -l) files, $(du -sm "$tracks" | cut -f1) MiB, $minutes min of looped tracks"
out="$scratch/out"

read -r dry1Ms _ < <(measure --status 1 -- "$cli" batch "$tracks" --out "$out" --dry-run --jobs 1)
read -r dry2Ms _ < <(measure --status 1 -- "$cli" batch "$tracks" --out "$out" --dry-run --jobs 2)
printf "dry run:          1 job %8.1f ms   2 jobs %8.1f ms   speed-up %s  target >= 1.6: %s\n" "$dry1Ms" \
  "$dry2Ms" "$(ratio "$dry1Ms" "$dry2Ms")" "$(verdict "$dry1Ms >= 1.6 * $dry2Ms")"

# render NAME ARGS...: the full render with 1 job and with 2, against cp + sync of its outputs.
render() {
  local name=$1
  shift
  local one two kib copy
  read -r one _ < <(measure --remove "$out" --status 1 -- "$cli" batch "$tracks" --out "$out" \
    --jobs 1 "$@")
  read -r two kib < <(measure --remove "$out" --status 1 -- "$cli" batch "$tracks" --out "$out" \
    --jobs 2 "$@")
  "$cli" batch "$tracks" --out "$out" "$@" 2>/dev/null || true  # the outputs to copy
  read -r copy _ < <(measure --remove "$scratch/copy" -- sh -c 'cp -r "$1" "$2" && sync' sh "$out" \
    "$scratch/copy")
  printf "%-17s 1 job %8.1f ms   2 jobs %8.1f ms   cp + sync of its %s MiB: %8.1f ms   2 jobs / cp + sync %s  target <= 1.3: %s\n" \
    "$name:" "$one" "$two" "$(du -sm "$out" | cut -f1)" "$copy" "$(ratio "$two" "$copy")" \
    "$(verdict "$two <= 1.3 * $copy")"
  peakKib=$kib
}
render "render" --repeat 2 --fade 5
largest=$(ls -S "$tracks"/*.wav | head -1)
largestBytes=$(($(stat -c %s "$largest") - 44))
tailBytes=$(($(od -An -t u4 -j 28 -N 4 "$largest") * 5))  # five seconds of its bytes
limit=$((2 * (largestBytes + tailBytes + 40 * mib)))
printf "peak memory:      2 jobs %8.1f MiB   2 x (largest input + its tail + 40 MiB) %8.1f MiB  target: %s\n" \
  "$(ratio $((peakKib * 1024)) $mib)" "$(ratio $limit $mib)" "$(verdict "$peakKib * 1024 <= $limit")"
render "extended render" --length 600 --fade 5
