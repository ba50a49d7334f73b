#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The batch command's figures on a generated soundtrack (make_loop_set.py --soundtrack: 12 tracks,
# about 30 minutes in mixed formats, a refused file and one of noise), each a median of RUNS runs:
#   dry run   --dry-run with 1 job and with 2: wall time and the ratio; target 2 jobs >= 1.6x
#   render    the full render (repeat 2, fade 5) with 1 job and with 2, against cp + sync of its
#             outputs; and an extended render (--length 600, ten minutes a track), where the
#             writing outweighs the search; target 2 jobs <= 1.3x cp + sync
#   memory    peak with 2 jobs; target 2 x (the largest input + its tail + 40 MiB)
#   page      a 50-file batch with 2 jobs reported as a page with its seam previews, vs the
#             same with a CSV report; target at most 10 % more
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

# The report page: 50 files (the soundtrack's tracks over again, linked), looped with 2 jobs, with
# a CSV report and with the page and its seam previews; target the page at most 10 % more.
fifty="$scratch/fifty"
mkdir -p "$fifty"
mapfile -t tracklist < <(ls "$tracks"/*.wav)
for k in $(seq 1 50); do
  ln -s "${tracklist[$(((k - 1) % ${#tracklist[@]}))]}" "$fifty/$(printf %02d "$k").wav"
done
# The two alternate run by run and the ratio is the median of the pairs' ratios.
pairs=$(rounds)
csvRuns=() pageRuns=() pairRatios=()
for _ in $(seq "$pairs"); do
  read -r csv _ < <(runs=1 measure --remove "$out" --status 1 -- "$cli" batch "$fifty" --out "$out" \
    --jobs 2 --report "$scratch/report.csv")
  read -r page _ < <(runs=1 measure --remove "$out" --status 1 -- "$cli" batch "$fifty" --out "$out" \
    --jobs 2 --report "$scratch/report.html")
  csvRuns+=("$csv") pageRuns+=("$page") pairRatios+=("$(awk -v a="$page" -v b="$csv" 'BEGIN { print a / b }')")
done
pageRatio=$(median "${pairRatios[@]}")
printf "report page:      50 files, %d pairs: CSV %8.1f ms   page and previews %8.1f ms (%s MiB)   ratio %.2f  target <= 1.1: %s\n" \
  "$pairs" "$(median "${csvRuns[@]}")" "$(median "${pageRuns[@]}")" \
  "$(du -sm "$scratch/report.html" "$scratch/report.seams" | awk '{ s += $1 } END { print s }')" \
  "$pageRatio" "$(verdict "$pageRatio <= 1.1")"
