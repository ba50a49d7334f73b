#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The batch's report page, in a real browser.

A small batch (a looped wave file whose name holds <, &, quotes and Japanese, the same as Ogg
Vorbis, and a cut Ogg file that is refused) is reported as a page. Its source loads nothing from
elsewhere and needs no script, and escapes every path. Copied to another folder, the page is
loaded by Debian's chromium, headless: every input has its section in input order, every loop
its pictures and its seam to play, and each preview decodes, four seconds long. A seam is the
window's preview of the loop, byte for byte.

usage: report_page_test.py RUNDELT_CLI [unittest arguments]
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(__file__))
from formats_cli_test import looped_music  # noqa: E402

CLI = ""
NAME = 'a <b> & "c" 日本.wav'
# A page whose name a URL would misread: its previews' links are escaped for the URL too.
PAGE = 'report #1 50% 日本'

# Added to a copy of the page by the test alone: counts what the browser rendered, then loads each
# preview and reads its length.
CHECK = """<script>
const out = {sections: [...document.querySelectorAll("section h2")].map(h => h.textContent),
  joins: document.querySelectorAll("section svg.join polyline.wave").length,
  overviews: document.querySelectorAll("section svg.overview").length, audio: []};
const audios = [...document.querySelectorAll("audio")];
let left = audios.length;
function done() {
  const p = document.createElement("pre"); p.id = "check"; p.textContent = JSON.stringify(out);
  document.body.appendChild(p);
}
if (!left) done();
audios.forEach((a, i) => {
  out.audio[i] = {preload: a.getAttribute("preload")};
  const end = () => { if (--left == 0) done(); };
  a.addEventListener("loadedmetadata", () => { out.audio[i].duration = a.duration; end(); });
  a.addEventListener("error", () => { out.audio[i].error = a.error.code; end(); });
  a.preload = "auto";
  a.load();
});
</script>"""


class ReportPage(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        rips = os.path.join(self.folder, "rips")
        os.makedirs(rips)
        looped_music(os.path.join(rips, NAME))
        ogg = os.path.join(rips, "b.ogg")
        subprocess.run(["sndfile-convert", "-vorbis", os.path.join(rips, NAME), ogg], check=True)
        with open(ogg, "rb") as f:
            data = f.read()
        with open(os.path.join(rips, "c cut.ogg"), "wb") as f:
            f.write(data[: len(data) // 2])
        self.page = os.path.join(self.folder, PAGE + ".html")
        done = subprocess.run([CLI, "batch", rips, "--out", os.path.join(self.folder, "out"),
                               "--dry-run", "--report", self.page], capture_output=True, text=True)
        self.assertEqual(done.returncode, 1, done.stderr)  # the cut file is refused
        self.inputs = [os.path.join(rips, n) for n in sorted([NAME, "b.ogg", "c cut.ogg"])]

    def tearDown(self):
        shutil.rmtree(self.folder)

    def test_the_source_stands_alone_and_escapes_every_path(self):
        with open(self.page, encoding="utf-8") as f:
            source = f.read()
        self.assertNotIn("<script", source)
        self.assertIsNone(re.search(r"(src|href)=\"(https?:)?//", source))
        self.assertIn('a &lt;b&gt; &amp; &quot;c&quot; 日本.wav', source)
        self.assertNotIn("<b>", source)
        self.assertIn('name="viewport"', source)
        self.assertIn("デコードに失敗しました", source)

    def test_a_seam_is_the_windows_preview_sample_for_sample(self):
        found = subprocess.run([CLI, "find", self.inputs[0], "--top", "1"], capture_output=True,
                               text=True, check=True)
        start, end = found.stdout.split()[:2]
        preview = os.path.join(self.folder, "preview.wav")
        subprocess.run([CLI, "preview", self.inputs[0], preview, "--start", start, "--end", end],
                       check=True)
        with open(preview, "rb") as a, open(os.path.join(self.folder, PAGE + ".seams", "001.wav"),
                                            "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_a_name_that_is_not_utf8_leaves_the_page_utf8_and_its_link_whole(self):
        folder = os.fsencode(os.path.join(self.folder, "latin1"))
        os.makedirs(folder)
        name = b"caf\xe9 \xff.wav"  # Latin-1, as an old file system or archive would name it
        shutil.copy(os.fsencode(self.inputs[0]), os.path.join(folder, name))
        page = os.fsencode(os.path.join(self.folder, "l")) + b"\xe9.html"
        done = subprocess.run([os.fsencode(CLI), b"batch", folder, b"--out",
                               os.fsencode(os.path.join(self.folder, "out")), b"--dry-run",
                               b"--report", page], capture_output=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(page, "rb") as f:
            source = f.read().decode("utf-8")  # strict: raises on a byte that is not UTF-8
        self.assertIn("caf\ufffd \ufffd.wav", source)
        links = re.findall(r'<audio controls preload="none" src="([^"]+)"', source)
        self.assertEqual(len(links), 1)
        target = os.path.join(os.path.dirname(page), urllib.parse.unquote_to_bytes(links[0]))
        self.assertTrue(os.path.isfile(target), links[0])

    def test_a_preview_that_cannot_be_written_says_so_in_its_place(self):
        page = os.path.join(self.folder, "blocked.html")
        with open(os.path.join(self.folder, "blocked.seams"), "w") as f:
            f.write("a file where the folder would go")
        done = subprocess.run([CLI, "batch", self.inputs[0], "--out",
                               os.path.join(self.folder, "out"), "--dry-run", "--report", page],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)  # the loop is found all the same
        with open(page, encoding="utf-8") as f:
            source = f.read()
        self.assertNotIn("<audio", source)
        said = re.search(r'継ぎ目の前後2秒ずつ：<span class="write-failed">([^<]+)</span>', source)
        self.assertIsNotNone(said, "no message where the preview would be")

    def test_a_browser_shows_every_section_picture_and_seam(self):
        copy = os.path.join(self.folder, "elsewhere")
        os.makedirs(copy)
        shutil.copy(self.page, copy)
        shutil.copytree(os.path.join(self.folder, PAGE + ".seams"), os.path.join(copy, PAGE + ".seams"))
        with open(os.path.join(copy, PAGE + ".html"), encoding="utf-8") as f:
            page = f.read().replace("</body>", CHECK + "</body>")
        with open(os.path.join(copy, "check.html"), "w", encoding="utf-8") as f:
            f.write(page)
        shown = subprocess.run(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
             "--allow-file-access-from-files", "--virtual-time-budget=20000",
             "--user-data-dir=" + os.path.join(self.folder, "profile"), "--dump-dom",
             "file://" + os.path.join(copy, "check.html")],
            capture_output=True, text=True, timeout=120)
        found = re.search(r'<pre id="check">(.*?)</pre>', shown.stdout)
        self.assertIsNotNone(found, shown.stderr[-2000:])
        out = json.loads(found.group(1).replace("&quot;", '"').replace("&amp;", "&")
                         .replace("&lt;", "<").replace("&gt;", ">"))
        self.assertEqual(out["sections"], self.inputs)
        looped = 2
        self.assertEqual(out["joins"], looped * 2)  # stereo: a lane each
        self.assertEqual(out["overviews"], looped)
        self.assertEqual(len(out["audio"]), looped)
        for audio in out["audio"]:
            self.assertEqual(audio["preload"], "none")
            self.assertNotIn("error", audio)
            self.assertAlmostEqual(audio["duration"], 4.0, delta=0.05)


if __name__ == "__main__":
    CLI = sys.argv[1]
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:])
