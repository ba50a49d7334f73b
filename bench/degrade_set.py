#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Degraded copies of a development set, as users' rips are degraded.

Usage: degrade_set.py IN_DIR OUT_DIR VARIANT
VARIANT is one of
    vorbis   a Vorbis round trip at quality 2 (oggenc -q 2, then oggdec: 16-bit out)
    sox8     SoX to 22050 Hz, mono, 8-bit with dither
    noise    white noise added 60 dB below the music (its RMS), same format
Writes OUT_DIR/<item>.wav for every line of IN_DIR/manifest.tsv and OUT_DIR/manifest.tsv with the
same columns; where the rate changes, the loop points are moved to the new rate (rounded), and
the true loop length in the new frames may be a fraction; a loop that ends with the file ends
with the copy. A Vorbis round trip must keep the
timeline, or the true loop points would no longer be true: each decoded item is checked to have
the input's length and to line up with it to the frame, and the script fails where one does not.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

from make_loop_set import pcm_header


def read_wave(path):
    with open(path, "rb") as f:
        data = f.read()
    channels = int.from_bytes(data[22:24], "little")
    rate = int.from_bytes(data[24:28], "little")
    bits = int.from_bytes(data[34:36], "little")
    size = int.from_bytes(data[40:44], "little")
    raw = data[44:44 + size]
    if bits == 16:
        samples = np.frombuffer(raw, dtype="<i2").astype(np.float64) / 32768.0
    else:
        samples = (np.frombuffer(raw, dtype=np.uint8).astype(np.float64) - 128.0) / 128.0
    return rate, bits, channels, samples.reshape(-1, channels)


def write_wave(path, rate, bits, samples):
    channels = samples.shape[1]
    if bits == 16:
        data = np.clip(np.round(samples * 32768.0), -32768, 32767).astype("<i2").tobytes()
    else:
        data = (np.clip(np.round(samples * 128.0), -128, 127) + 128).astype(np.uint8).tobytes()
    with open(path, "wb") as f:
        f.write(pcm_header(rate, bits, channels, len(data)) + data)


def check_timeline(src, dst):
    """The decoded sound has the input's length and lines up with it: of the shifts up to 40
    frames either way, none matches a stretch from the middle better than no shift."""
    _, _, _, original = read_wave(src)
    _, _, _, decoded = read_wave(dst)
    if len(original) != len(decoded):
        raise SystemExit("%s: %d frames decoded from %d" % (dst, len(decoded), len(original)))
    middle, n = len(original) // 2, min(20000, len(original) // 4)
    x = original[middle:middle + n, 0]
    shifts = range(-40, 41)
    best = max(shifts, key=lambda s: float(np.dot(x, decoded[middle + s:middle + s + n, 0])))
    if best != 0:
        raise SystemExit("%s: the decoded sound lies %d frames off the input" % (dst, best))


def degrade(variant, src, dst, index, has_loop=True):
    if variant == "vorbis":
        with tempfile.TemporaryDirectory() as tmp:
            ogg = os.path.join(tmp, "x.ogg")
            subprocess.run(["oggenc", "-Q", "-q", "2", "-o", ogg, src], check=True)
            subprocess.run(["oggdec", "-Q", "-o", dst, ogg], check=True)
        if has_loop:  # a file without a loop has no points to keep (and a burst may not line up)
            check_timeline(src, dst)
    elif variant == "sox8":
        # -R: the same dither noise every run, so the figure repeats.
        subprocess.run(["sox", "-R", "-q", src, "-r", "22050", "-c", "1", "-b", "8", "-t", "wavpcm", dst,
                        "dither"], check=True)
    elif variant == "noise":
        rate, bits, _, samples = read_wave(src)
        rng = np.random.default_rng(7000 + index)
        rms = np.sqrt(np.mean(samples ** 2))
        noisy = samples + rng.standard_normal(samples.shape) * rms * 10 ** (-60 / 20)
        write_wave(dst, rate, bits, noisy)
    else:
        raise SystemExit("unknown variant " + variant)


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    in_dir, out_dir, variant = sys.argv[1:]
    os.makedirs(out_dir, exist_ok=True)
    lines = []
    with open(os.path.join(in_dir, "manifest.tsv")) as f:
        items = [line.split("\t") for line in f.read().splitlines() if line]
    for index, (name, rate, bits, channels, frames, start, end, style, *rest) in enumerate(items):
        dst = os.path.join(out_dir, name)
        degrade(variant, os.path.join(in_dir, name), dst, index, style != "none")
        new_rate, new_bits, new_channels, samples = read_wave(dst)
        scale = new_rate / int(rate)
        # A loop that ends with the file ends with the copy too, whatever its rate.
        new_end = len(samples) if int(end) == int(frames) else round(int(end) * scale)
        lines.append("\t".join(str(v) for v in [name, new_rate, new_bits, new_channels, len(samples),
                                               round(int(start) * scale), new_end, style] + rest))
    with open(os.path.join(out_dir, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
