#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""rundelt-cli on a folder of mixed rips, checked with the reference tools.

Tags: libsndfile's own sndfile-convert encodes looped music as FLAC, Ogg Vorbis, Opus and MP3;
`tag` writes every loop in one command, and metaflac, vorbiscomment, opusinfo and mediainfo read
LOOPSTART and LOOPLENGTH back as the first comments, the other tags kept, the decoded samples
unchanged; `batch --format flac --tags` renders FLAC files that carry the same loops.
BadInput: truncated, corrupt, empty and misnamed files are refused with their message, and a
file that may not be written, or a disk that fills, leaves the original as it was. Only our words
reach stderr (never a decoder's), an output's rate is refused before the decode, and --verbose
tells what the reader noticed.

usage: formats_cli_test.py RUNDELT_CLI FAILING_CALLS [unittest arguments]
"""
import csv
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import wave

CLI = ""
FAILING_CALLS = ""
RATE = 48000
INTRO, LOOP = int(1.1 * RATE), int(3.3 * RATE)


def looped_music(path):
    """An intro, then the same notes every LOOP frames, each note dying within its pass."""
    def notes(seed, length):
        out = [0.0] * length
        step = RATE // 4
        for n, onset in enumerate(range(0, length - step, step)):
            hz = 110.0 * 2 ** (((seed * 7 + n * 5) % 24) / 12)
            for t in range(step):
                out[onset + t] += 0.3 * math.sin(2 * math.pi * hz * t / RATE) * math.exp(-t / 2400)
        return out
    intro, loop = notes(3, INTRO), notes(11, LOOP)
    samples = intro + loop * 3 + loop[:RATE]
    frames = b"".join(struct.pack("<hh", int(s * 32767), int(s * 30000)) for s in samples)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames)


def run(*args, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, **kwargs)


def decoded(path):
    """The samples as libsndfile decodes them."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "d.wav")
        subprocess.run(["sndfile-convert", "-pcm16", path, out], check=True, capture_output=True)
        with wave.open(out) as w:
            return w.readframes(w.getnframes())


def first_comments(kind, path):
    """The comments in file order, as the format's reference tool prints them."""
    if kind == "flac":
        text = run("metaflac", "--export-tags-to=-", path).stdout
    elif kind == "ogg":
        text = run("vorbiscomment", "-l", path).stdout
    elif kind == "opus":
        text = run("opusinfo", path).stdout
        text = text.split("User comments section follows...", 1)[1]
    else:
        text = run("mediainfo", path).stdout
        return ["%s=%s" % m for m in re.findall(r"^(LOOP\w+)\s*:\s*(\d+)", text, re.M)]
    return [line.strip() for line in text.splitlines() if "=" in line]


KINDS = [("flac", ".flac", "-pcm16"), ("ogg", ".ogg", "-vorbis"), ("opus", ".opus", "-opus"),
         ("mp3", ".mp3", None)]


class Tags(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.source = os.path.join(cls.folder, "music.wav")
        looped_music(cls.source)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def make_rips(self, name):
        rips = os.path.join(self.folder, name)
        os.makedirs(rips)
        for kind, extension, encoding in KINDS:
            path = os.path.join(rips, "Track " + kind.upper() + extension)
            subprocess.run(["sndfile-convert"] + ([encoding] if encoding else []) +
                           [self.source, path], check=True, capture_output=True)
        flac, ogg = (os.path.join(rips, "Track FLAC.flac"), os.path.join(rips, "Track OGG.ogg"))
        subprocess.run(["metaflac", "--set-tag=TITLE=Kept", "--set-tag=LoopEnd=5", flac],
                       check=True)
        subprocess.run(["vorbiscomment", "-a", "-t", "ARTIST=Kept", "-t", "loop_start=5", ogg],
                       check=True)
        return rips

    def test_tag_writes_every_loop_first_and_changes_no_sample(self):
        rips = self.make_rips("tagged")
        files = {name: open(os.path.join(rips, name), "rb").read() for name in os.listdir(rips)}
        dry = run(CLI, "tag", rips, "--dry-run")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        for name, data in files.items():
            self.assertEqual(open(os.path.join(rips, name), "rb").read(), data, "a dry run wrote")
        before = {name: decoded(os.path.join(rips, name)) for name in os.listdir(rips)}
        report = os.path.join(self.folder, "tagged.csv")
        done = run(CLI, "tag", rips, "--jobs", "2", "--report", report)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(report, encoding="utf-8") as f:
            rows = {os.path.basename(r["path"]): r for r in csv.DictReader(f)}
        for kind, extension, _ in KINDS:
            with self.subTest(kind):
                name = "Track " + kind.upper() + extension
                row = rows[name]
                start, length = int(row["start"]), int(row["end"]) - int(row["start"])
                self.assertLessEqual(abs(length - LOOP), 2)
                comments = first_comments(kind, os.path.join(rips, name))
                self.assertEqual(comments[:2], ["LOOPSTART=%d" % start, "LOOPLENGTH=%d" % length])
                self.assertFalse([c for c in comments[2:] if c.upper().startswith("LOOP")])
                self.assertEqual(decoded(os.path.join(rips, name)), before[name])
        self.assertIn("TITLE=Kept", first_comments("flac", os.path.join(rips, "Track FLAC.flac")))
        self.assertIn("ARTIST=Kept", first_comments("ogg", os.path.join(rips, "Track OGG.ogg")))

    def test_find_reads_what_the_window_refuses_for_its_samples(self):
        mp3 = os.path.join(self.folder, "no-info.mp3")
        subprocess.run(["sndfile-convert", self.source, mp3], check=True)
        with open(mp3, "r+b") as f:  # an MP3 without the header that gives its length
            data = f.read()
            f.seek(0)
            f.write(data.replace(b"Info", b"None", 1).replace(b"Xing", b"None", 1))
        for name, encoding in [("24-bit.wav", "-pcm24"), ("float.wav", "-float32"),
                               ("plain.aiff", "-pcm16"), ("no-info.mp3", None)]:
            with self.subTest(name):
                path = os.path.join(self.folder, name)
                if encoding:
                    subprocess.run(["sndfile-convert", encoding, self.source, path], check=True)
                done = run(CLI, "find", path, "--top", "1")
                self.assertEqual(done.returncode, 0, done.stderr)
                if name.endswith(".mp3"):
                    continue  # read whole; its timeline keeps the encoder's delay
                start, end, _ = done.stdout.split()[:3]
                self.assertLessEqual(abs(int(end) - int(start) - LOOP), 2)
                if name.endswith(".wav"):  # the window's own commands refuse it as the window does
                    self.assertEqual(run(CLI, "info", path).returncode, 1)

    def test_batch_renders_flac_that_carries_its_loop(self):
        rips = self.make_rips("rendered")
        out = os.path.join(self.folder, "flac")
        report = os.path.join(self.folder, "rendered.csv")
        done = run(CLI, "batch", rips, "--out", out, "--format", "flac", "--tags", "--repeat",
                   "1", "--fade", "1", "--report", report)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(report, encoding="utf-8") as f:
            for row in csv.DictReader(f):
                with self.subTest(row["path"]):
                    self.assertTrue(row["output"].endswith(".flac"))
                    start, end = int(row["start"]), int(row["end"])
                    self.assertEqual(first_comments("flac", row["output"])[:2],
                                     ["LOOPSTART=%d" % start, "LOOPLENGTH=%d" % (end - start)])
                    frames = int(run("metaflac", "--show-total-samples", row["output"]).stdout)
                    self.assertEqual(frames, end + RATE)


class BadInput(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        os.chmod(cls.folder, 0o755)
        cls.source = os.path.join(cls.folder, "music.wav")
        looped_music(cls.source)
        for kind, extension, encoding in KINDS:
            subprocess.run(["sndfile-convert"] + ([encoding] if encoding else []) +
                           [cls.source, os.path.join(cls.folder, "whole" + extension)],
                           check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def file(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def whole(self, extension):
        with open(os.path.join(self.folder, "whole" + extension), "rb") as f:
            return f.read()

    def test_refusals(self):
        flac = bytearray(self.whole(".flac"))
        for k in range(len(flac) // 2, len(flac) // 2 + 400):
            flac[k] ^= 0x5A
        cases = [
            ("truncated Ogg Vorbis", "cut.ogg", self.whole(".ogg")[: len(self.whole(".ogg")) * 6 // 10],
             "デコードに失敗しました：%s（フレーム "),
            ("truncated FLAC", "cut.flac", self.whole(".flac")[: len(self.whole(".flac")) // 2],
             "デコードに失敗しました：%s（フレーム "),
            ("truncated Opus", "cut.opus", self.whole(".opus")[: len(self.whole(".opus")) // 2],
             "デコードに失敗しました：%s（フレーム "),
            ("truncated MP3", "cut.mp3", self.whole(".mp3")[: len(self.whole(".mp3")) // 2],
             "デコードに失敗しました：%s（フレーム "),
            ("corrupt FLAC", "bad.flac", bytes(flac), "デコードに失敗しました：%s（フレーム "),
            ("empty", "empty.ogg", b"", "不正なRIFFヘッダです"),
            ("text named .ogg", "text.ogg", b"not a sound at all, only words\n" * 40,
             "不正なRIFFヘッダです"),
        ]
        for name, file_name, data, message in cases:
            with self.subTest(name):
                path = self.file(file_name, data)
                expected = message % path if "%s" in message else message
                for command in (["find", path], ["info", path], ["tag", path]):
                    done = run(CLI, *command)
                    if command[0] == "info" and "フレーム" in message:
                        continue  # info reads the headers only, which are whole
                    self.assertEqual(done.returncode, 1, command)
                    self.assertIn(expected, done.stderr, command)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), data)

    def test_only_our_words_reach_stderr(self):
        mp3 = bytearray(self.whole(".mp3"))
        flips = random.Random(3)
        for _ in range(3000):  # inside the frames, so that the decoder complains as it goes
            mp3[flips.randrange(len(mp3) // 10, len(mp3))] ^= flips.randrange(1, 256)
        path = self.file("flipped.mp3", bytes(mp3))
        # Two MP3s of two rates one after the other: libmpg123 warns of the first one's Xing
        # header and fails to set its output for the second, in English, whatever it is asked.
        slower = os.path.join(self.folder, "22k.wav")
        subprocess.run(["sox", self.source, "-r", "22050", slower], check=True)
        subprocess.run(["sndfile-convert", slower, slower + ".mp3"], check=True)
        with open(slower + ".mp3", "rb") as f:
            joined = self.file("joined.mp3", self.whole(".mp3") + f.read())
        for command in (["find", path], ["info", path], ["tag", path, "--dry-run"],
                        ["find", path, "--verbose"], ["find", joined], ["info", joined]):
            with self.subTest(" ".join(command)):
                done = run(CLI, *command)
                for line in done.stderr.splitlines():
                    # Every line of ours holds Japanese; the libraries write English.
                    self.assertRegex(line, r"[\u3040-\u30ff\u4e00-\u9fff]", command)

    def test_an_outputs_rate_is_refused_before_the_decode(self):
        source = os.path.join(self.folder, "96k.wav")
        subprocess.run(["sox", self.source, "-r", "96000", source], check=True)
        flac = os.path.join(self.folder, "96k.flac")
        subprocess.run(["flac", "--silent", "-f", "-o", flac, source], check=True)
        with open(flac, "rb") as f:
            data = f.read()
        # Cut: a decode would refuse it with the frame where it stops; the rate comes first.
        cut = self.file("96k-cut.flac", data[: len(data) // 2])
        done = run(CLI, "save", cut, os.path.join(self.folder, "out.mp3"), "--start", "0",
                   "--end", "400000")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, "保存に失敗しました：MP3 は 96000Hz に対応していません"
                         "（8000、11025、12000、16000、22050、24000、32000、44100、48000Hz のみ）\n")
        fast = os.path.join(self.folder, "384k.wav")  # beyond what libvorbis encodes
        subprocess.run(["sox", "-D", "-n", "-r", "384000", "-c", "1", "-b", "16", fast, "synth",
                        "5.5", "sine", "440"], check=True)
        done = run(CLI, "save", fast, os.path.join(self.folder, "out.ogg"), "--start", "0",
                   "--end", "800000")
        self.assertEqual((done.returncode, done.stderr),
                         (1, "保存に失敗しました：Ogg Vorbis は 384000Hz の音を書き出せません\n"))
        report = os.path.join(self.folder, "rates.csv")
        for output, message in (("mp3", "MP3 は 96000Hz"), ("opus", "Opus は 96000Hz")):
            with self.subTest(output):
                done = run(CLI, "batch", cut, "--out", os.path.join(self.folder, "rates"),
                           "--format", output, "--report", report)
                self.assertEqual(done.returncode, 1)
                with open(report, encoding="utf-8") as f:
                    row = next(csv.DictReader(f))
                self.assertEqual(row["status"], "refused")
                self.assertIn(message, row["message"])

    def test_verbose_tells_what_the_reader_noticed(self):
        raw = os.path.join(self.folder, "music.raw")
        with wave.open(self.source) as w, open(raw, "wb") as f:
            f.write(w.readframes(w.getnframes()))
        piped = os.path.join(self.folder, "piped.flac")
        with open(raw, "rb") as samples, open(piped, "wb") as out:
            subprocess.run(["flac", "--silent", "--force-raw-format", "--endian=little",
                            "--sign=signed", "--channels=2", "--bps=16", "--sample-rate=48000",
                            "-c", "-"], stdin=samples, stdout=out, check=True)
        quiet = run(CLI, "info", piped)
        self.assertEqual((quiet.returncode, quiet.stderr), (0, ""))
        told = run(CLI, "info", piped, "--verbose")
        self.assertEqual(told.returncode, 0, told.stderr)
        self.assertIn(piped + "：FLAC のヘッダに長さがないため、最後までデコードしました", told.stderr)
        self.assertEqual(told.stdout, quiet.stdout)
        ogg = self.whole(".ogg")
        cut = self.file("page-cut.ogg", ogg[: ogg.rfind(b"OggS")])  # the last page gone
        refused = run(CLI, "find", cut, "--verbose")
        self.assertEqual(refused.returncode, 1)
        lines = refused.stderr.splitlines()
        self.assertIn("Ogg ストリームに終わりの印がなく", lines[0])
        self.assertTrue(lines[-1].startswith("デコードに失敗しました：" + cut), lines)

    def unchanged_after_failed_tag(self, path, message, env=None, as_nobody=False):
        with open(path, "rb") as f:
            before = f.read()
        def drop():
            os.setgid(65534)
            os.setuid(65534)
        done = run(CLI, "tag", path, env=env,
                   preexec_fn=drop if as_nobody and os.geteuid() == 0 else None)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn(message, done.stderr)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertFalse([n for n in os.listdir(self.folder) if n.startswith(".rundelt-")])

    def test_a_file_that_may_not_be_written_stays_as_it_was(self):
        path = self.file("locked.ogg", self.whole(".ogg"))
        os.chmod(path, 0o444)
        self.unchanged_after_failed_tag(path, "書き込みが許可されていません", as_nobody=True)

    def test_a_full_disk_leaves_the_original(self):
        path = self.file("full.flac", self.whole(".flac"))
        env = dict(os.environ, LD_PRELOAD=FAILING_CALLS, RUNDELT_FAIL_CALLS="write:28:1",
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        self.unchanged_after_failed_tag(path, "ディスクの空き容量が足りません", env=env)


if __name__ == "__main__":
    CLI, FAILING_CALLS = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
