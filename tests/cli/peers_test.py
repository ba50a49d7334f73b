#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Other programs and rundelt-cli reading each other's files.

SmplPeers: libsndfile finds the loop that `save --smpl` marks, and SoX and Python's wave read
the same samples and length as from the file saved without it.
RefusedFiles: the three kinds of file the reader refuses by design get the README's message, and
the README's SoX command turns each into a file rundelt-cli opens, samples unchanged.

usage: peers_test.py RUNDELT_CLI README [unittest arguments]
"""
import os
import re
import shlex
import struct
import subprocess
import sys
import tempfile
import unittest
import wave

CLI = ""
README = ""


def chunk(chunk_id, payload):
    return chunk_id + struct.pack("<I", len(payload)) + payload


def fmt_block(tag, channels, rate, bits):
    align = channels * bits // 8
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)


def pattern(size):
    return bytes((k * 7 + k // 251) & 0xFF for k in range(size))


def plain_wave(channels, rate, bits, data):
    body = b"WAVE" + chunk(b"fmt ", fmt_block(1, channels, rate, bits)) + chunk(b"data", data)
    return chunk(b"RIFF", body)


def run(args, cwd=None):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, check=False)


class WorkDir(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix="rundelt_peers.")
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def cli(self, *args):
        return run([CLI, *args])

    def samples(self, path):
        """(frames, sample bytes) as Python's wave and SoX each read them; they must agree."""
        with wave.open(path, "rb") as w:
            frames = w.getnframes()
            data = w.readframes(frames)
        raw = subprocess.run(["sox", path, "-t", "raw", "-"], capture_output=True, check=True).stdout
        self.assertEqual(raw, data, "SoX and Python's wave read different samples")
        return frames, data


class SmplPeers(WorkDir):
    def test_loop_marked_and_samples_unchanged(self):
        rows = [
            # name, channels, rate, bits, seconds, options; odd data sizes need the pad byte
            ("8-bit mono, odd data size", 1, 8000, 8, 6,
             ["--start", "1001", "--end", "30000"]),
            ("engine asset, 16-bit stereo", 2, 44100, 16, 6,
             ["--start", "12345", "--end", "200000", "--repeat", "1", "--fade", "0"]),
        ]
        for name, channels, rate, bits, seconds, options in rows:
            with self.subTest(name):
                align = channels * bits // 8
                source = self.write("in.wav", plain_wave(channels, rate, bits,
                                                         pattern(rate * seconds * align)))
                plain = os.path.join(self.dir, "plain.wav")
                marked = os.path.join(self.dir, "marked.wav")
                for out, extra in ((plain, []), (marked, ["--smpl"])):
                    r = self.cli("save", source, out, *options, *extra)
                    self.assertEqual(r.returncode, 0, r.stderr)

                start = int(options[options.index("--start") + 1])
                end = int(options[options.index("--end") + 1])
                info = run(["sndfile-info", marked]).stdout
                self.assertEqual(re.findall(r"Loop Count\s*:\s*(\d+)", info), ["1"], info)
                loop = re.search(r"Type\s*:\s*(\d+)\s+Start\s*:\s*(\d+)\s+End\s*:\s*(\d+)"
                                 r"\s+Fraction\s*:\s*(\d+)\s+Count\s*:\s*(\d+)", info)
                self.assertIsNotNone(loop, info)
                self.assertEqual([int(v) for v in loop.groups()], [0, start, end - 1, 0, 0])
                self.assertIn("Midi Note    : 60", info)
                # An odd data size is noted whatever follows it; any other note is about us.
                notes = [line for line in info.splitlines() if line.startswith("***")
                         and "'data' chunk should be an even number" not in line]
                self.assertEqual(notes, [], info)

                self.assertEqual(self.samples(marked), self.samples(plain))
                with open(plain, "rb") as f:
                    plain_bytes = f.read()
                self.assertEqual(self.samples(plain)[1], plain_bytes[44:])


# The header of each refused kind, as the writers named in the README leave it.
def extensible(channels, rate, bits, data):
    align = channels * bits // 8
    pcm_guid = bytes.fromhex("0100000000001000800000aa00389b71")
    block = struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * align, align, bits, 22,
                        bits, 3) + pcm_guid
    return chunk(b"RIFF", b"WAVE" + chunk(b"fmt ", block) + chunk(b"data", data))


def unfilled(riff_size, data_size, data):
    fmt = chunk(b"fmt ", fmt_block(1, 2, 44100, 16))
    return (b"RIFF" + struct.pack("<I", riff_size) + b"WAVE" + fmt +
            b"data" + struct.pack("<I", data_size) + data)


def rf64(data):
    fmt = chunk(b"fmt ", fmt_block(1, 2, 44100, 16))
    ds64 = chunk(b"ds64", struct.pack("<QQQI", 4 + 36 + len(fmt) + 8 + len(data), len(data),
                                      len(data) // 4, 0))
    return (b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + ds64 + fmt +
            b"data" + struct.pack("<I", 0xFFFFFFFF) + data)


def readme_commands():
    """The SoX command lines of the README's section on refused files."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    section = text.split("## Files Rundelt refuses", 1)[1].split("\n## ", 1)[0]
    return [line.strip() for line in section.splitlines() if line.strip().startswith("sox ")]


class RefusedFiles(WorkDir):
    def test_message_and_readme_command(self):
        commands = readme_commands()
        self.assertEqual(len(commands), 2, commands)
        plain_command, deep_command = commands
        data16 = pattern(44100 * 4 * 6)
        data96k = pattern(96000 * 4 * 6)
        rows = [
            # name, file bytes, message, command, frames after it, its samples (None: any)
            ("extensible header", extensible(2, 44100, 16, data16),
             "非圧縮形式以外は未対応です", plain_command, 44100 * 6, data16),
            ("extensible header above 48 kHz", extensible(2, 96000, 16, data96k),
             "非圧縮形式以外は未対応です", plain_command, 96000 * 6, data96k),
            ("sizes left at -1 (ffmpeg to a pipe)", unfilled(0xFFFFFFFF, 0xFFFFFFFF, data16),
             "不正なwaveファイルです", plain_command, 44100 * 6, data16),
            ("sizes left near 2 GiB (espeak-ng --stdout)",
             unfilled(0x7FFFF024, 0x7FFFF000, data16),
             "不正なRIFFヘッダです", plain_command, 44100 * 6, data16),
            ("RF64", rf64(data16), "不正なRIFFヘッダです", plain_command, 44100 * 6, data16),
            ("extensible, 24-bit", extensible(2, 44100, 24, pattern(44100 * 6 * 6)),
             "非圧縮形式以外は未対応です", deep_command, 44100 * 6, None),
        ]
        for name, content, message, command, frames, samples in rows:
            with self.subTest(name):
                args = shlex.split(command)
                refused = self.cli("info", self.write(args[1], content))
                self.assertEqual((refused.returncode, refused.stderr), (1, message + "\n"))

                converted = os.path.join(self.dir, args[-1])
                if os.path.exists(converted):
                    os.remove(converted)
                r = run(args, cwd=self.dir)
                self.assertEqual(r.returncode, 0, r.stderr)
                opened = self.cli("info", converted)
                self.assertEqual(opened.returncode, 0, opened.stderr)
                with wave.open(converted, "rb") as w:
                    self.assertEqual(w.getnframes(), frames)
                    if samples is not None:
                        self.assertEqual(w.readframes(frames), samples)

if __name__ == "__main__":
    CLI, README = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
