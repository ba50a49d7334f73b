#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Renders the loop finder's development set: synthetic looped music with the true loop known.

Every item is rendered the way a sequencer renders game music: an intro, then the loop's notes
twice, then the loop going on under a fade. Each note is rendered whole, so notes ring on past
the point where their section ends: the intro's tails sound over the start of the first pass,
the loop's own tails over the start of the second. The loop's length is drawn in frames, so it
is neither a whole number of seconds nor of beats.

The set mixes styles (plucked notes with long tails, chords and drums, a noise bed, a steady
tone held across the loop, a loop made of a phrase and its variation, slow pads), formats
(8/16-bit, mono/stereo, 11025 to 96000 Hz), loop lengths (3 to 60 s), intros (none, short, long
and distinct, a pickup that plays the loop's last bars) and fades (none, 3 to 12 s), some with
dither. After the COUNT items (not with --multipass) come four songs: a loop of 80 to 110 s made of eight-beat phrases,
some heard twice in a row, that opens with a dense section under a loud wash of noise, played
twice after a long intro, then faded.

Usage: make_loop_set.py OUT_DIR [COUNT] [--multipass]   (COUNT defaults to 60)
Writes OUT_DIR/NN_style.wav and OUT_DIR/manifest.tsv with one line per item:
    file  rate  bits  channels  frames  loop_start  loop_end  style
With --multipass each item is a recording of several passes, as a game's music recorded for a few
minutes: the intro, the loop three to six times, then the fade (other music than the plain set,
loops of 3 to 30 s).
Or:    make_loop_set.py --song OUT.wav SECONDS
Writes one 16-bit stereo 44.1 kHz item in the style with drums, about SECONDS long, for timing.
Or:    make_loop_set.py --soundtrack OUT_DIR
Writes a soundtrack for the batch command: 12 tracks of about 2.5 minutes (an intro, the loop
three times, a fade) in every style, 8/16-bit, mono/stereo, at 22050 to 48000 Hz; a file the
reader refuses (an extensible format header); and one of noise, without repetition. The manifest
lists the tracks.
"""
import os
import sys

import numpy as np

RATES = [11025, 22050, 32000, 44100, 48000, 96000]
FORMATS = [(16, 2), (16, 1), (8, 2), (8, 1)]
STYLES = ["pluck", "band", "steady", "noise", "phrase", "pads"]
SONGS = 4


def pluck(rate, freq, seconds, decay, rng):
    """Sharp attack, harmonics decaying at their own rates: a plucked string or piano."""
    n = int(seconds * rate)
    t = np.arange(n) / rate
    out = np.zeros(n)
    for h in range(1, 6):
        f = freq * h
        if f >= rate * 0.45:
            break
        out += np.sin(2 * np.pi * f * t + rng.uniform(0, 2 * np.pi)) * np.exp(-t * h / decay) / h
    attack = np.minimum(t / 0.002, 1.0)
    return out * attack


def steady(rate, freq, seconds):
    """An organ tone: constant harmonics, soft edges of 20 ms."""
    n = int(seconds * rate)
    t = np.arange(n) / rate
    out = np.zeros(n)
    for h, amp in ((1, 1.0), (2, 0.5), (3, 0.3)):
        if freq * h < rate * 0.45:
            out += amp * np.sin(2 * np.pi * freq * h * t)
    edge = np.minimum(1.0, np.minimum(t, t[::-1]) / 0.02)
    return out * edge


def pad(rate, freq, seconds):
    """A slow pad: detuned tones, slow attack, a release that rings two seconds past the note."""
    n = int((seconds + 2.0) * rate)
    t = np.arange(n) / rate
    out = np.zeros(n)
    for detune in (0.997, 1.0, 1.004):
        out += np.sin(2 * np.pi * freq * detune * t)
    env = np.minimum(t / 0.4, 1.0)
    release = t > seconds
    env[release] *= np.exp(-(t[release] - seconds) / 0.6)
    return out * env / 3


def kick(rate):
    t = np.arange(int(0.35 * rate)) / rate
    freq = 50 + 90 * np.exp(-t / 0.04)
    return np.sin(2 * np.pi * np.cumsum(freq) / rate) * np.exp(-t / 0.12)


def snare(rate, rng):
    t = np.arange(int(0.25 * rate)) / rate
    noise = rng.standard_normal(len(t))
    return (0.6 * noise + 0.5 * np.sin(2 * np.pi * 190 * t)) * np.exp(-t / 0.07)


def hat(rate, rng):
    t = np.arange(int(0.08 * rate)) / rate
    noise = np.diff(rng.standard_normal(len(t) + 1))  # a first difference tilts it to the top
    return 0.4 * noise * np.exp(-t / 0.02)


def noise_bed(rate, seconds, rng):
    """Breath-like noise, low-passed by a running mean, swelling in and out."""
    n = int(seconds * rate)
    width = max(1, rate // 2000)
    noise = np.convolve(rng.standard_normal(n + width), np.ones(width) / width, "valid")[:n]
    t = np.arange(n) / rate
    return 0.5 * noise * np.sin(np.pi * t / seconds) ** 2


def note_freq(midi):
    return 440.0 * 2 ** ((midi - 69) / 12)


class Score:
    """Events as (time in seconds, signal, left gain, right gain)."""

    def __init__(self):
        self.events = []

    def add(self, when, signal, pan=0.0, gain=1.0):
        left = gain * np.sqrt(0.5 * (1 - pan))
        right = gain * np.sqrt(0.5 * (1 + pan))
        self.events.append((when, signal, left, right))


def compose(style, rate, beat, loop_seconds, rng, intro):
    """The notes of the loop (or of the intro, which uses other material), times from 0."""
    score = Score()
    seconds = loop_seconds
    scale = [0, 2, 4, 5, 7, 9, 11] if not intro else [0, 3, 5, 7, 10]
    root = rng.integers(45, 57) + (7 if intro else 0)
    beats = int(seconds / beat)

    def melody(step, decay, octave=12, gain=0.5, until=None):
        end = seconds if until is None else until
        t = 0.0
        while t < end - 0.05:
            midi = root + octave + scale[rng.integers(len(scale))] + 12 * rng.integers(0, 2)
            score.add(t, pluck(rate, note_freq(midi), min(3 * decay, 4.0), decay, rng),
                      pan=rng.uniform(-0.7, 0.7), gain=gain * rng.uniform(0.6, 1.0))
            t += step * rng.choice([1, 1, 2, 0.5])

    def chords(length, kind):
        for b in range(0, beats, length):
            base = root + scale[rng.integers(len(scale))]
            for interval in (0, 4, 7, 11)[: rng.integers(3, 5)]:
                f = note_freq(base + interval)
                if kind == "pad":
                    score.add(b * beat, pad(rate, f, length * beat), gain=0.18)
                else:
                    score.add(b * beat, pluck(rate, f, 2.5, 0.8, rng), gain=0.22, pan=rng.uniform(-0.5, 0.5))

    def drums(dense):
        kick_sig, snare_sig, hat_sig = kick(rate), snare(rate, rng), hat(rate, rng)
        for b in range(beats):
            if b % 2 == 0:
                score.add(b * beat, kick_sig, gain=0.7)
            else:
                score.add(b * beat, snare_sig, gain=0.35, pan=0.1)
            for k in range(2 if dense else 1):
                score.add((b + k / 2 + 0.5 * (not dense)) * beat, hat_sig, gain=0.25, pan=-0.4)

    if style == "pluck":
        melody(beat / 2, rng.uniform(0.6, 1.5))
        chords(4, "pluck")
    elif style == "band":
        drums(dense=True)
        melody(beat / 2, 0.3, octave=-12, gain=0.4)  # bass line
        chords(2, "pluck")
        melody(beat, 0.8, gain=0.35)
    elif style == "steady":
        # One tone held through almost the whole section: every multiple of its period looks
        # like a loop to a correlation taken over a single stretch.
        f = note_freq(root + 12)
        score.add(0.0, steady(rate, f, seconds * rng.uniform(0.7, 0.95)), gain=0.45)
        melody(beat * 2, 0.4, octave=24, gain=0.2, until=seconds)
    elif style == "noise":
        for b in range(0, beats, 4):
            score.add(b * beat, noise_bed(rate, 4 * beat, rng), gain=0.5, pan=rng.uniform(-0.5, 0.5))
        drums(dense=False)
        melody(beat * 2, 1.0, gain=0.3)
    elif style == "phrase":
        # A phrase and its variation: the loop is the pair, not the phrase.
        half = Score()
        saved, score = score, half
        melody(beat / 2, 0.7, until=seconds / 2)
        chords(4, "pluck")
        score = saved
        for when, sig, left, right in half.events:
            if when < seconds / 2:
                score.events.append((when, sig, left, right))
                last_bar = when > seconds / 2 - 4 * beat
                variation = pluck(rate, note_freq(root + 19), 1.0, 0.5, rng) if last_bar else sig
                score.events.append((when + seconds / 2, variation, left, right))
        drums(dense=False)
    else:  # pads
        chords(8, "pad")
        melody(beat * 2, 2.0, gain=0.3)
    return score


# A song's form: phrases of eight beats from a pool of six. It opens with a dense, noisy section
# (a lossy codec's noise differs most between the passes there, so the song's own seam measures
# poorly in a lossy copy), then lighter phrases, some heard twice in a row: a phrase repeats, and
# its join may measure cleaner, but only the whole song repeats over its whole length.
SONG_FORM = [0, 1, 0, 1, 2, 2, 3, 4, 5, 3, 2, 2, 4, 5, 3, 3, 5, 4, 2, 2, 3, 5, 4, 3, 5, 4, 2, 2]
SONG_PHRASE_STYLES = ["wash", "wash", "pluck", "band", "pads", "band"]


def wash(rate, beat, seconds, rng):
    """A band under a loud, steady wash of noise in both channels (cymbals, distortion, reverb)."""
    score = compose("band", rate, beat, seconds, rng, intro=False)
    n = int(seconds * rate)
    width = max(1, rate // 4000)
    for pan in (-0.8, 0.8):
        noise = np.convolve(rng.standard_normal(n + width), np.ones(width) / width, "valid")[:n]
        score.add(0.0, 0.7 * noise, pan=pan)
    return score


def compose_song(rate, beat, rng):
    """A long loop of varied phrases, and its length in seconds."""
    phrase_seconds = 8 * beat
    pool = [wash(rate, beat, phrase_seconds, rng) if style == "wash" else
            compose(style, rate, beat, phrase_seconds, rng, intro=False)
            for style in SONG_PHRASE_STYLES]
    score = Score()
    for place, phrase in enumerate(SONG_FORM):
        for when, signal, left, right in pool[phrase].events:
            score.events.append((when + place * phrase_seconds, signal, left, right))
    return score, len(SONG_FORM) * phrase_seconds


def render(score, offsets, rate, length, stereo, buffers):
    """Adds the score at each offset (frames); notes run on past their section, cut at `length`."""
    for when, signal, left, right in score.events:
        for base in offsets:
            start = base + int(round(when * rate))
            if start >= length or start + len(signal) <= 0:
                continue
            piece = signal[max(0, -start): length - start]
            start = max(0, start)
            if stereo:
                buffers[0][start:start + len(piece)] += left * piece
                buffers[1][start:start + len(piece)] += right * piece
            else:
                buffers[0][start:start + len(piece)] += (left + right) * 0.7 * piece


def pcm_header(rate, bits, channels, data_bytes):
    """The 44-byte header of a plain PCM wave file holding data_bytes of samples."""
    block = channels * bits // 8
    header = b"RIFF" + (36 + data_bytes).to_bytes(4, "little") + b"WAVE"
    header += b"fmt " + (16).to_bytes(4, "little") + (1).to_bytes(2, "little")
    header += channels.to_bytes(2, "little") + rate.to_bytes(4, "little")
    header += (rate * block).to_bytes(4, "little") + block.to_bytes(2, "little") + bits.to_bytes(2, "little")
    return header + b"data" + data_bytes.to_bytes(4, "little")


def make_item(index, out_dir, song_seconds=None, multipass=False, track_seconds=None,
              long_song=False):
    rng = np.random.default_rng((5000 if multipass else 1000) + index)
    style = STYLES[index % len(STYLES)]
    rate = RATES[(index // len(STYLES)) % len(RATES)]
    bits, channels = FORMATS[(index + index // len(STYLES)) % len(FORMATS)]
    bpm = rng.uniform(72, 168)
    beat = 60.0 / bpm
    longest = 30.0 if multipass else 60.0
    loop_frames = int(np.exp(rng.uniform(np.log(3.0), np.log(longest))) * rate) + int(rng.integers(1, rate // 3))
    pass_count = 3 + index % 4 if multipass else 2
    # No intro; a short one; a long one; a long one in another style; a pickup that plays the
    # loop's own last bars first, so the two passes agree before the loop starts.
    intro_kind = index % 5
    intro_seconds = [0.0, rng.uniform(1.0, 4.0), rng.uniform(6.0, 15.0), rng.uniform(6.0, 15.0),
                     rng.uniform(1.0, 3.0)][intro_kind]
    fade_seconds = 0.0 if rng.random() < 0.15 else rng.uniform(3.0, 12.0)
    if track_seconds is not None:  # a soundtrack's track: an intro, three passes, a fade
        rate = [22050, 32000, 44100, 48000][index % 4]
        loop_frames = int(0.25 * track_seconds * rate) + int(rng.integers(1, rate // 3))
        pass_count, intro_kind = 3, 3
        intro_seconds, fade_seconds = 0.1 * track_seconds, 0.1 * track_seconds
    if song_seconds is not None:  # the timing song: drums, CD format, intro + 2 loops + fade
        style, rate, bits, channels, intro_kind = "band", 44100, 16, 2, 3
        intro_seconds, fade_seconds = 0.1 * song_seconds, 0.1 * song_seconds
        loop_frames = int(0.4 * song_seconds * rate) + 12345
    if long_song:  # a song that runs twice, then fades
        style, rate, bits, channels, intro_kind = "song", [44100, 32000][index % 2], 16, 2, 3
        intro_seconds, fade_seconds = rng.uniform(6.0, 15.0), rng.uniform(5.0, 10.0)
        beat = 60.0 / rng.uniform(120, 168)
        loop_score, song_loop_seconds = compose_song(rate, beat, rng)
        loop_frames = int(song_loop_seconds * rate)
    loop_seconds = loop_frames / rate
    intro_frames = int(intro_seconds * rate)
    total = intro_frames + pass_count * loop_frames + int(fade_seconds * rate)
    stereo = channels == 2

    buffers = [np.zeros(total) for _ in range(channels)]
    if not long_song:
        loop_score = compose(style, rate, beat, loop_seconds, rng, intro=False)
    passes = range(0, total // loop_frames + 2)
    render(loop_score, [intro_frames + p * loop_frames for p in passes], rate, total, stereo, buffers)
    if intro_kind == 4:
        render(loop_score, [intro_frames - loop_frames], rate, total, stereo, buffers)
    elif intro_frames > 0:
        intro_score = compose(style if intro_kind < 3 else STYLES[(index + 1) % len(STYLES)],
                              rate, beat, intro_seconds, rng, intro=True)
        render(intro_score, [0], rate, total, stereo, buffers)  # its last notes ring into the loop

    fade_from = intro_frames + pass_count * loop_frames
    ramp = np.ones(total)
    ramp[fade_from:] = 10 ** (-60 / 20 * np.arange(total - fade_from) / max(1, total - fade_from))
    mix = np.stack(buffers, axis=1) * ramp[:, None]
    mix *= 0.85 / max(1e-9, np.max(np.abs(mix)))
    if index % 7 == 6:  # some items carry dither, so the passes differ by a step here and there
        step = 1.0 / (128 if bits == 8 else 32768)
        mix += (rng.random(mix.shape) - rng.random(mix.shape)) * step
    if bits == 16:
        data = np.clip(np.round(mix * 32767), -32768, 32767).astype("<i2").tobytes()
    else:
        data = (np.clip(np.round(mix * 127), -128, 127) + 128).astype(np.uint8).tobytes()

    name = "%02d_%s.wav" % (index, style) if song_seconds is None else out_dir
    with open(name if song_seconds is not None else os.path.join(out_dir, name), "wb") as f:
        f.write(pcm_header(rate, bits, channels, len(data)) + data)
    return "\t".join(str(v) for v in (name, rate, bits, channels, total, intro_frames,
                                       intro_frames + loop_frames, style))


# The shipped form of game music: the file holds the loop once and ends where the loop ends, as
# engines loop it (LOOPSTART + LOOPLENGTH = the file's length). Half the assets loop as a whole
# file; the others open with an intro of each kind the development set has (short, long, in
# another style, a pickup that plays the loop's last bars), then one pass.
ASSET_FORMS = ["whole", "intro-short", "intro-long", "intro-other", "intro-pickup"]
ASSET_RATES = [22050, 32000, 44100, 48000, 11025, 96000]
# Files with no loop, which must stay without one: a song that ends on a chord ringing out or on
# a fade, a sound effect, noise and a decaying one-shot.
NON_LOOPS = ["ending", "fadeout", "effect", "noise", "oneshot", "pinknoise"]


def quantise(mix, bits, rng, dither):
    mix = mix * (0.85 / max(1e-9, np.max(np.abs(mix))))
    if dither:  # the passes differ by a step here and there
        step = 1.0 / (128 if bits == 8 else 32768)
        mix = mix + (rng.random(mix.shape) - rng.random(mix.shape)) * step
    if bits == 16:
        return np.clip(np.round(mix * 32767), -32768, 32767).astype("<i2").tobytes()
    return (np.clip(np.round(mix * 127), -128, 127) + 128).astype(np.uint8).tobytes()


def write_item(out_dir, name, rate, bits, channels, data):
    with open(os.path.join(out_dir, name), "wb") as f:
        f.write(pcm_header(rate, bits, channels, len(data)) + data)


def make_asset(index, out_dir, song=False):
    """One loop in the shipped form: the whole file, or an intro and one pass."""
    rng = np.random.default_rng(9000 + index)
    form = "whole" if index % 2 == 0 else ASSET_FORMS[1 + (index // 12) % 4]
    style = STYLES[(index // 2) % len(STYLES)]
    rate = ASSET_RATES[(index // 3) % len(ASSET_RATES)]
    bits, channels = FORMATS[(index + index // 4) % len(FORMATS)]
    beat = 60.0 / rng.uniform(72, 168)
    loop_frames = int(np.exp(rng.uniform(np.log(6.0), np.log(60.0))) * rate) + int(rng.integers(1, rate // 3))
    if song:  # a song of phrases, some heard twice in a row: a phrase repeats inside the loop
        style, rate, bits, channels = "song", [44100, 32000][index % 2], 16, 2
        beat = 60.0 / rng.uniform(120, 168)
        loop_score, seconds = compose_song(rate, beat, rng)
        loop_frames = int(seconds * rate)
    else:
        loop_score = compose(style, rate, beat, loop_frames / rate, rng, intro=False)
    intro_kind = ASSET_FORMS.index(form)
    intro_seconds = [0.0, rng.uniform(1.0, 4.0), rng.uniform(6.0, 15.0), rng.uniform(6.0, 15.0),
                     rng.uniform(1.0, 3.0)][intro_kind]
    intro_frames = int(intro_seconds * rate)
    total = intro_frames + loop_frames
    stereo = channels == 2
    buffers = [np.zeros(total) for _ in range(channels)]
    if form == "whole":
        # The pass after the first, cut out: its start holds the tails of the pass before, so
        # the file's end flows into its start as the loop plays on.
        render(loop_score, [-2 * loop_frames, -loop_frames, 0], rate, total, stereo, buffers)
    else:
        render(loop_score, [intro_frames], rate, total, stereo, buffers)
        if intro_kind == 4:
            render(loop_score, [intro_frames - loop_frames], rate, total, stereo, buffers)
        else:
            intro_score = compose(style if intro_kind < 3 or song else STYLES[(index + 1) % len(STYLES)],
                                  rate, beat, intro_seconds, rng, intro=True)
            render(intro_score, [0], rate, total, stereo, buffers)  # its last notes ring into the loop
            if (index // 2) % 3 != 2:
                # Made to loop: the tails of the loop's last notes are laid over its start too, so
                # that the end flows into the start as it would into a second pass (the intro's
                # tails sound there as well). One in three is left as rendered, cut at the end.
                tails = [np.zeros(total) for _ in range(channels)]
                render(loop_score, [intro_frames - loop_frames], rate, total, stereo, tails)
                for buffer, tail in zip(buffers, tails):
                    buffer[intro_frames:] += tail[intro_frames:]
            else:
                form += "-cut"
    data = quantise(np.stack(buffers, axis=1), bits, rng, index % 7 == 6)
    name = "%02d_%s_%s.wav" % (index, style, form)
    write_item(out_dir, name, rate, bits, channels, data)
    return "\t".join(str(v) for v in (name, rate, bits, channels, total, intro_frames, total, style, form))


def make_non_loop(index, out_dir):
    """A file that has no loop: its end flows into no start."""
    rng = np.random.default_rng(9500 + index)
    kind = NON_LOOPS[index % len(NON_LOOPS)]
    rate = [44100, 22050, 32000, 48000][index % 4]
    bits, channels = FORMATS[index % len(FORMATS)]
    stereo = channels == 2
    beat = 60.0 / rng.uniform(80, 150)
    if kind in ("ending", "fadeout"):
        # A song played once: its last chord left to ring out, or its last seconds faded out. Not
        # the style of a phrase and its variation: played once and faded, that is a recording of
        # a loop's two passes.
        style = [s for s in STYLES if s != "phrase"][index % (len(STYLES) - 1)]
        seconds = rng.uniform(12.0, 40.0)
        score = compose(style, rate, beat, seconds, rng, intro=False)
        ring = 4.0 if kind == "ending" else 0.5
        body = int(seconds * rate)
        total = body + int(ring * rate)
        buffers = [np.zeros(total) for _ in range(channels)]
        render(score, [0], rate, body, stereo, buffers)
        chord = Score()
        root = rng.integers(45, 57)
        for interval in (0, 4, 7, 12):
            chord.add(0.0, pluck(rate, note_freq(root + interval), ring + 1.0, 1.2, rng), gain=0.3)
        render(chord, [body], rate, total, stereo, buffers)
        mix = np.stack(buffers, axis=1)
        if kind == "fadeout":
            fade = int(rng.uniform(4.0, 10.0) * rate)
            mix[body - fade:body] *= np.linspace(1.0, 0.0, fade)[:, None]
            mix[body:] = 0.0
    elif kind == "effect":
        # An explosion: a burst of noise and a falling rumble, dying away.
        total = int(rng.uniform(5.5, 9.0) * rate)
        t = np.arange(total) / rate
        noise = np.convolve(rng.standard_normal(total + 8), np.ones(8) / 8, "valid")[:total]
        rumble = np.sin(2 * np.pi * np.cumsum(40 + 80 * np.exp(-t / 0.5)) / rate)
        mono = (noise * np.exp(-t / 0.6) + 0.8 * rumble * np.exp(-t / 1.5)) * np.minimum(t / 0.005, 1)
        mix = np.stack([mono] * channels, axis=1)
    elif kind in ("noise", "pinknoise"):
        total = int(rng.uniform(6.0, 40.0) * rate)
        white = rng.standard_normal((total, channels))
        if kind == "pinknoise":  # a 3 dB per octave tilt, through the spectrum
            spectrum = np.fft.rfft(white, axis=0)
            spectrum[1:] /= np.sqrt(np.arange(1, len(spectrum)))[:, None]
            white = np.fft.irfft(spectrum, total, axis=0)
        mix = white
    else:  # oneshot: a bell struck once, left to decay
        total = int(rng.uniform(6.0, 20.0) * rate)
        t = np.arange(total) / rate
        f = note_freq(rng.integers(57, 76))
        mono = sum(np.sin(2 * np.pi * f * h * t) * np.exp(-t * h / 3.0) / h for h in (1, 2.76, 5.4, 8.93))
        mix = np.stack([mono * np.minimum(t / 0.002, 1)] * channels, axis=1)
    data = quantise(mix, bits, rng, False)
    name = "%02d_none_%s.wav" % (index, kind)
    write_item(out_dir, name, rate, bits, channels, data)
    return "\t".join(str(v) for v in (name, rate, bits, channels, len(data) // (bits // 8 * channels),
                                       0, 0, "none", kind))


def write_assets(out_dir, count):
    os.makedirs(out_dir, exist_ok=True)
    lines = [make_asset(i, out_dir) for i in range(count)]
    lines += [make_asset(count + i, out_dir, song=True) for i in range(SONGS)]
    first = count + SONGS
    lines += [make_non_loop(first + i, out_dir) for i in range(max(len(NON_LOOPS), count // 5))]
    with open(os.path.join(out_dir, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def write_soundtrack(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    lines = [make_item(i, out_dir, track_seconds=150.0) for i in range(12)]
    rng = np.random.default_rng(77)
    noise = (rng.standard_normal(44100 * 60) * 3000).astype("<i2").tobytes()  # a minute, mono
    with open(os.path.join(out_dir, "12_noise.wav"), "wb") as f:
        f.write(pcm_header(44100, 16, 1, len(noise)) + noise)
    # The extensible format header that ffmpeg writes above 48 kHz: the reader refuses it.
    ext = b"fmt " + (40).to_bytes(4, "little") + (0xFFFE).to_bytes(2, "little") + (2).to_bytes(2, "little")
    ext += (96000).to_bytes(4, "little") + (384000).to_bytes(4, "little") + (4).to_bytes(2, "little")
    ext += (16).to_bytes(2, "little") + (22).to_bytes(2, "little") + bytes(22)
    data = bytes(384000 * 6)
    with open(os.path.join(out_dir, "13_extensible.wav"), "wb") as f:
        f.write(b"RIFF" + (4 + len(ext) + 8 + len(data)).to_bytes(4, "little") + b"WAVE" + ext +
                b"data" + len(data).to_bytes(4, "little") + data)
    with open(os.path.join(out_dir, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--soundtrack":
        write_soundtrack(sys.argv[2])
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == "--song":
        make_item(1, sys.argv[2], float(sys.argv[3]))
        return 0
    args = [a for a in sys.argv[1:] if a not in ("--multipass", "--assets")]
    multipass = "--multipass" in sys.argv[1:]
    if len(args) not in (1, 2) or (multipass and "--assets" in sys.argv[1:]):
        sys.stderr.write(__doc__)
        return 2
    out_dir = args[0]
    count = int(args[1]) if len(args) == 2 else 60
    if "--assets" in sys.argv[1:]:
        write_assets(out_dir, count)
        return 0
    os.makedirs(out_dir, exist_ok=True)
    lines = [make_item(i, out_dir, multipass=multipass) for i in range(count)]
    if not multipass:  # and songs whose loop is long and made of phrases that come back
        lines += [make_item(count + i, out_dir, long_song=True) for i in range(SONGS)]
    with open(os.path.join(out_dir, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
