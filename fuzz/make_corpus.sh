#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Rebuilds the seed corpus in fuzz/corpus from the generator (make_corpus.cpp) and, for the sound
# files, from the reference encoders (flac, oggenc, opusenc, lame, sox). Files the fuzzers found
# (regress_*) are kept; the generated ones are written afresh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/corpus"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRUNDELT_WINDOW=OFF >/dev/null
cmake --build "$build" --target wave_fuzz_corpus >/dev/null
"$build/fuzz/wave_fuzz_corpus" "$root/fuzz/corpus"

# Every format the reader takes, a fraction of a second each: small enough to mutate quickly,
# and decoded all the same, as the sound check lifts the reader's five-second minimum. Fixed
# stream serial numbers, so that a rebuild writes the same bytes.
sound="$root/fuzz/corpus/sound"
mkdir -p "$sound"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
notes=(synth 0.3 sine 440 sine 660 fade 0 0.3 0.1)
sox -D -n -r 8000 -c 1 -b 16 "$work/mono.wav" "${notes[@]}"
sox -D -n -r 11025 -c 2 -b 16 "$work/stereo.wav" "${notes[@]}"
sox -D -n -r 8000 -c 2 -b 24 "$work/stereo24.wav" "${notes[@]}"
sox -D -n -r 8000 -c 1 -b 8 "$work/mono8.wav" "${notes[@]}"
sox -D "$work/mono.wav" -t raw "$work/mono.raw"
flac --silent --no-padding -f -o "$sound/flac_16bit_1ch.flac" "$work/mono.wav"
flac --silent --no-padding -f -o "$sound/flac_24bit_2ch.flac" "$work/stereo24.wav"
flac --silent --no-padding -f -o "$sound/flac_8bit_1ch.flac" "$work/mono8.wav"
flac --silent --no-padding --force-raw-format --endian=little --sign=signed --channels=1 --bps=16 \
  --sample-rate=8000 -c - <"$work/mono.raw" >"$sound/flac_piped_no_length.flac"
oggenc --quiet --serial 1 -q 0 -o "$sound/vorbis_1ch.ogg" "$work/mono.wav"
opusenc --quiet --serial 1 --bitrate 8 "$work/mono.wav" "$sound/opus_1ch.opus"
opusenc --quiet --serial 1 --bitrate 12 "$work/stereo.wav" "$sound/opus_2ch.opus"
lame --quiet -V 9 "$work/mono.wav" "$sound/mp3_vbr_xing.mp3"
lame --quiet -V 9 -t "$work/mono.wav" "$sound/mp3_vbr_no_xing.mp3"
lame --quiet -b 16 --tt Title --add-id3v2 "$work/stereo.wav" "$sound/mp3_cbr_id3v2.mp3"
sox -D "$work/stereo.wav" "$sound/aiff_16bit_2ch.aiff"
sox -D "$work/stereo24.wav" "$sound/wav_24bit_2ch.wav"
sox -D "$work/mono.wav" -e floating-point -b 32 "$sound/wav_float_1ch.wav"
for kind in reader writer finder sound; do echo "$kind: $(ls "$root/fuzz/corpus/$kind" | wc -l) files"; done
