#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The other formats' figures, each a median of RUNS runs (find on Ogg: of at least 7 rounds)
# against a baseline measured in the same run; the material is encoded by libsndfile itself (sndfile-convert):
#   find    on a 3-minute song as Ogg Vorbis, vs its plain decode (libsndfile's read loop) plus
#           find on the same audio as a wave file; target <= decode + 1.1 x the wave file's find
#   tag     on a folder of 20 Ogg Vorbis files, with 1 job and with 2; target 2 jobs >= 1.6x
#   memory  peak of find on an hour of 16-bit stereo as FLAC, vs the same hour as a wave file;
#           target the wave file's + 16 MiB
# Usage: bench/formats_run.sh [BUILD_DIR [SCRATCH_DIR [RUNS]]]   (run.sh calls it with its own;
# alone it builds the release preset and uses a temporary folder)
part_targets=(rundelt-cli bench_measure bench_decode)
source "$(dirname "$0")/part.sh" "the formats benchmark" formats "$@"
cli="$bin/cli/rundelt-cli"
python=/usr/bin/python3

echo "---- formats"
song="$scratch/song.wav"
ogg="$scratch/song.ogg"
same="$scratch/same.wav"
step "rendering the 3-minute song" "$python" bench/make_loop_set.py --song "$song" 180
step "encoding it as Ogg Vorbis" sndfile-convert -vorbis "$song" "$ogg"
step "decoding that to a wave file" sndfile-convert -pcm16 "$ogg" "$same"
# The three alternate round by round; the figure is the median of the rounds' shares of what the
# target allows (find on Ogg / (decode + 1.1 x find on the wave file)), at most 1.
decodeRuns=() oggRuns=() waveRuns=() shares=()
for _ in $(seq "$(rounds)"); do
  read -r decode _ < <(runs=1 measure -- "$bin/bench/bench_decode" "$ogg")
  read -r found _ < <(runs=1 measure -- "$cli" find "$ogg")
  read -r wave _ < <(runs=1 measure -- "$cli" find "$same")
  decodeRuns+=("$decode") oggRuns+=("$found") waveRuns+=("$wave")
  shares+=("$(awk -v o="$found" -v d="$decode" -v w="$wave" 'BEGIN { print o / (d + 1.1 * w) }')")
done
share=$(median "${shares[@]}")
printf "find, Ogg Vorbis: %8.1f ms   decode %8.1f ms + find on the wave file %8.1f ms   share of decode + 1.1 x %.2f  target <= 1: %s\n" \
  "$(median "${oggRuns[@]}")" "$(median "${decodeRuns[@]}")" "$(median "${waveRuns[@]}")" "$share" \
  "$(verdict "$share <= 1")"

rips="$scratch/rips"
mkdir -p "$rips"
for k in $(seq -w 1 20); do cp "$ogg" "$rips/track$k.ogg"; done
"$cli" tag "$rips" 2>/dev/null  # tagged once, so every timed run writes the same tags again
quietly='"$0" tag "$1" --jobs "$2" 2>/dev/null'
read -r tag1Ms _ < <(measure -- sh -c "$quietly" "$cli" "$rips" 1)
read -r tag2Ms _ < <(measure -- sh -c "$quietly" "$cli" "$rips" 2)
printf "tag, 20 Ogg files: 1 job %8.1f ms   2 jobs %8.1f ms   speed-up %s  target >= 1.6: %s\n" "$tag1Ms" \
  "$tag2Ms" "$(ratio "$tag1Ms" "$tag2Ms")" "$(verdict "$tag1Ms >= 1.6 * $tag2Ms")"
rm -rf "$rips" "$ogg" "$same"

hour="$scratch/hour.wav"
step "making an hour of sound" "$python" bench/repeat_wave.py "$song" "$hour" 20
rm -f "$song"
step "encoding the hour as FLAC" sndfile-convert "$hour" "$scratch/hour.flac"
read -r _ waveKib < <("$bin/bench/bench_measure" 1 -- "$cli" find "$hour" --top 1)
read -r _ flacKib < <("$bin/bench/bench_measure" 1 -- "$cli" find "$scratch/hour.flac" --top 1)
printf "find peak memory, an hour: FLAC %8.1f MiB   wave file %8.1f MiB   target <= wave + 16 MiB: %s\n" \
  "$(ratio $((flacKib * 1024)) $mib)" "$(ratio $((waveKib * 1024)) $mib)" \
  "$(verdict "$flacKib <= $waveKib + 16 * 1024")"
