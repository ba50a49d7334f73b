// SPDX-License-Identifier: GPL-3.0-or-later
// rundelt-cli batch over a small generated folder, run as a child process: what it loops, refuses
// and reports, each output against `save` with the reported points, its options, its report
// whatever the number of jobs, and Ctrl-C in the middle.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/looped_music.h"
#include "tests/support/wave_bytes.h"

namespace {

namespace fs = std::filesystem;
using testwave::Bytes;
using testwave::RunCli;
using testwave::RunResult;

const char* const kHeader = "path,status,start,end,seam_db,loop_seconds,output,message,kind";

// Looped music of a few seconds: an intro, the loop three times, a second more.
Bytes LoopedSound(testwave::Format format, double loopSeconds, std::uint32_t seed) {
    testwave::LoopedMusic music;
    music.format = format;
    music.introFrames = format.rate * (1 + seed % 2);
    music.loopFrames = static_cast<std::uint32_t>(loopSeconds * format.rate);
    music.totalFrames = music.introFrames + 3 * music.loopFrames + format.rate;
    music.ringAcross = false;
    music.noteEverySeconds = 0.2 + 0.05 * seed;
    return testwave::Wave(format, testwave::RenderLoopedMusic(music));
}

// A report's rows, split into fields (no field the tests write holds a comma or a quote).
struct Row {
    std::string path, status, start, end, seam, seconds, output, message, kind;
};

std::vector<Row> ReadReport(const std::string& path) {
    const Bytes bytes = testwave::ReadFile(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<Row> rows;
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, std::string(kHeader) + "\r");
    while (std::getline(text, line)) {
        EXPECT_TRUE(line.ends_with("\r")) << line;  // RFC 4180: lines end in CRLF
        line.pop_back();
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
        fields.resize(9);
        rows.push_back(Row{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5],
                           fields[6], fields[7], fields[8]});
    }
    return rows;
}

// Every file below a folder, as paths relative to it.
std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory())
            files.push_back(entry.path().lexically_relative(folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        // in/ holds the soundtrack; a file outside it is reached through a link.
        fs::create_directories(In() / "sub" / "deeper");
        Write(In() / "a.wav", LoopedSound(testwave::Pcm(16, 1, 8000), 2.6, 1));
        Write(In() / "sub" / "b.wav", LoopedSound(testwave::Pcm(8, 2, 11025), 2.3, 2));
        Write(In() / "sub" / "deeper" / "c.WAV", LoopedSound(testwave::Pcm(16, 2, 8000), 2.2, 3));
        Write(In() / "名前 の ある.wav", LoopedSound(testwave::Pcm(8, 1, 8000), 2.9, 4));
        Write(In() / "noise.wav",
              testwave::Wave(testwave::Pcm(8, 1, 8000), testwave::Noise(48000)));
        Bytes notWave = testwave::Wave(testwave::Pcm(8, 1, 8000), testwave::Pattern(48000));
        notWave[8] = 'X';
        Write(In() / "refused.wav", notWave);
        Write(In() / "notes.txt", Bytes{'x'});
        Write(Dir() / "outside.wav", LoopedSound(testwave::Pcm(16, 1, 8000), 2.4, 5));
        fs::create_symlink(Dir() / "outside.wav", In() / "link.wav");
        fs::create_directory_symlink(In() / "sub", In() / "loop-back");  // not followed
    }

    fs::path Dir() const { return temp_.path; }
    fs::path In() const { return Dir() / "in"; }
    fs::path Out() const { return Dir() / "out"; }
    std::string Report() const { return (Dir() / "report.csv").string(); }

    static void Write(const fs::path& path, const Bytes& bytes) {
        testwave::WriteFile(path.string(), bytes);
    }

    testwave::TempDir temp_;
};

TEST_F(BatchTest, LoopsEveryWaveFileAsSaveWouldAndReportsEachInInputOrder) {
    const RunResult r = RunCli({"batch", In().string(), "--out", Out().string(), "--report",
                                Report(), "--repeat", "3", "--fade", "1", "--jobs", "2"});
    EXPECT_EQ(r.exitCode, 1) << r.err;  // the noise and the refused file are not looped
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("ループ作成 5、ループなし 1、拒否 1、書き込み失敗 0\n"
                         "ループの種類：繰り返しから 5、ファイル末尾まで 0\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find('\033'), std::string::npos) << "no control characters off a terminal";

    // Sorted paths below the folder; the link to a file taken, the link to a folder not.
    const struct {
        const char* path;
        const char* status;
        const char* output;
    } expected[] = {
        {"a.wav", "looped", "a.wav"},
        {"link.wav", "looped", "link.wav"},
        {"noise.wav", "no-loop", ""},
        {"refused.wav", "refused", ""},
        {"sub/b.wav", "looped", "sub/b.wav"},
        {"sub/deeper/c.WAV", "looped", "sub/deeper/c.wav"},
        {"名前 の ある.wav", "looped", "名前 の ある.wav"},
    };
    const std::vector<Row> rows = ReadReport(Report());
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        const Row& row = rows[i];
        EXPECT_EQ(row.path, (In() / expected[i].path).string());
        EXPECT_EQ(row.status, expected[i].status);
        if (row.status == "no-loop") {
            EXPECT_EQ(row.message, "ループ候補が見つかりませんでした");
        } else if (row.status == "refused") {
            EXPECT_EQ(row.message, "不正なRIFFヘッダです");
        }
        if (row.status != "looped") {
            EXPECT_EQ(row.output, "");
            EXPECT_EQ(row.kind, "");
            continue;
        }
        EXPECT_EQ(row.kind, "passes");  // recordings of three passes
        EXPECT_EQ(row.output, (Out() / expected[i].output).string());
        EXPECT_EQ(row.message, "");
        // Byte for byte what save writes with the reported points.
        const std::string again = (Dir() / "again.wav").string();
        const RunResult save = RunCli({"save", row.path, again, "--start", row.start, "--end",
                                       row.end, "--repeat", "3", "--fade", "1"});
        ASSERT_EQ(save.exitCode, 0) << save.err;
        EXPECT_EQ(testwave::ReadFile(row.output), testwave::ReadFile(again));
    }
    EXPECT_EQ(FilesBelow(Out()),
              (std::vector<std::string>{"a.wav", "link.wav", "sub/b.wav", "sub/deeper/c.wav",
                                        "名前 の ある.wav"}));
}

TEST_F(BatchTest, TheSameReportWhateverTheNumberOfJobs) {
    std::string reports[2];
    const char* jobs[2] = {"1", "3"};
    for (int k = 0; k < 2; ++k) {
        fs::remove_all(Out());
        const RunResult r = RunCli({"batch", In().string(), "--out", Out().string(), "--report",
                                    Report(), "--jobs", jobs[k]});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const Bytes bytes = testwave::ReadFile(Report());
        reports[k].assign(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(reports[0], reports[1]);
}

TEST_F(BatchTest, UsageErrorsDoNothing) {
    const std::string in = In().string();
    const std::string out = Out().string();
    const std::vector<std::vector<std::string>> rows = {
        {"batch", in},
        {"batch", "--out", out},
        {"batch", in, "--out", out, "--repeat", "2", "--length", "60"},
        {"batch", in, "--out", out, "--jobs", "0"},
        {"batch", in, "--out", out, "--jobs", "x"},
        {"batch", in, "--out", out, "--length", "1.0000000001"},  // ten decimals
        {"batch", in, "--out", out, "--length", "-5"},
        {"batch", in, "--out", out, "--length", "1000000000"},
        {"batch", in, "--out", out, "--report", ""},
        {"batch", in, "--out", ""},
        {"batch", in, "--out", out, "--min-length", "9", "--max-length", "3"},
        {"batch", in, "--out", out, "--top", "2"},
        {"batch", in, "--out", out, "--smpl", "--repeat", "0"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(testwave::Bracketed(args));
        const RunResult r = RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_FALSE(fs::exists(Out()));
    }
}

// --length: the fewest passes that make the file at least that long with its fade, exactly at
// the edges: the length of N passes gives N, one frame more gives N + 1.
TEST_F(BatchTest, LengthTakesTheFewestPassesThatReachIt) {
    const std::string a = (In() / "a.wav").string();
    const RunResult found =
        RunCli({"batch", a, "--out", Out().string(), "--report", Report(), "--dry-run"});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_FALSE(fs::exists(Out())) << "a dry run writes no sound";
    const std::vector<Row> rows = ReadReport(Report());
    ASSERT_EQ(rows.size(), 1u);
    const std::int64_t start = std::stoll(rows[0].start);
    const std::int64_t loop = std::stoll(rows[0].end) - start;
    const std::int64_t rate = 8000;  // a frame is 0.000125 s, exact in decimals
    const std::int64_t fade = 2;
    const auto seconds = [&](std::int64_t frames) {
        char text[32];
        std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(frames / rate),
                      static_cast<long long>(frames % rate * 1000000 / rate));
        return std::string(text);
    };
    const struct {
        std::string length;
        std::int64_t passes;
    } cases[] = {
        {seconds(start + 3 * loop + fade * rate), 3},
        {seconds(start + 3 * loop + fade * rate + 1), 4},
        {seconds(start + 3 * loop + fade * rate - 1), 3},
        {"0", 1},
        {seconds(start + fade * rate), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        fs::remove_all(Out());
        const RunResult r = RunCli({"batch", a, "--out", Out().string(), "--length", c.length,
                                    "--fade", std::to_string(fade)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Bytes output = testwave::ReadFile((Out() / "a.wav").string());
        const std::int64_t frames = static_cast<std::int64_t>(output.size() - 44) / 2;
        EXPECT_EQ(frames, start + c.passes * loop + fade * rate);
    }
}

TEST_F(BatchTest, AnOutputThatWouldReplaceAnInputIsRefused) {
    const Bytes before = testwave::ReadFile((In() / "a.wav").string());
    const RunResult r =
        RunCli({"batch", In().string(), "--out", In().string(), "--report", Report()});
    EXPECT_EQ(r.exitCode, 1);
    for (const Row& row : ReadReport(Report())) {
        SCOPED_TRACE(row.path);
        // c.WAV's output is c.wav beside it, another file; every other output is its input.
        if (row.path.ends_with("c.WAV")) {
            EXPECT_EQ(row.status, "looped");
            continue;
        }
        EXPECT_EQ(row.status, "refused");
        EXPECT_EQ(row.message, "出力先が入力ファイルと同じです");
    }
    EXPECT_EQ(testwave::ReadFile((In() / "a.wav").string()), before);
}

// Ctrl-C after the first file: the batch stops, exit 130, no partial output anywhere, and the
// report holds the files finished, each output whole.
TEST_F(BatchTest, ControlCStopsWithoutPartialOutputAndKeepsTheReport) {
    for (int k = 0; k < 6; ++k) {
        Write(In() / ("more" + std::to_string(k) + ".wav"),
              LoopedSound(testwave::Pcm(16, 2, 22050), 3.1, static_cast<std::uint32_t>(k)));
    }
    const RunResult r = RunCli({"batch", In().string(), "--out", Out().string(), "--report",
                                Report(), "--jobs", "1", "--fade", "20"},
                               nullptr, "1/13 ");
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("中断"), std::string::npos) << r.err;
    const std::vector<Row> rows = ReadReport(Report());
    EXPECT_GE(rows.size(), 1u);
    EXPECT_LT(rows.size(), 13u);
    std::vector<std::string> written;
    for (const Row& row : rows) {
        if (row.status != "looped") continue;
        written.push_back(fs::path(row.output).lexically_relative(Out()).string());
        const Bytes output = testwave::ReadFile(row.output);
        ASSERT_GE(output.size(), 44u);
        const std::uint32_t riffBytes = std::uint32_t{output[4]} | std::uint32_t{output[5]} << 8 |
                                        std::uint32_t{output[6]} << 16 |
                                        std::uint32_t{output[7]} << 24;
        EXPECT_EQ(output.size() - 8, riffBytes) << "whole, as its header says";
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(FilesBelow(Out()), written) << "nothing but the reported outputs, no hidden file";
}

// Ctrl-C in a batch reported as a page: the page holds the files finished, and the seam
// previews beside it are exactly those the page links, none left linked from nowhere.
TEST_F(BatchTest, ControlCLeavesNoSeamPreviewThePageDoesNotLink) {
    for (int k = 0; k < 6; ++k) {
        Write(In() / ("more" + std::to_string(k) + ".wav"),
              LoopedSound(testwave::Pcm(16, 2, 22050), 3.1, static_cast<std::uint32_t>(k)));
    }
    const fs::path page = Dir() / "report.html";
    const RunResult r = RunCli({"batch", In().string(), "--out", Out().string(), "--report",
                                page.string(), "--jobs", "2", "--fade", "20"},
                               nullptr, "1/13 ");
    EXPECT_EQ(r.exitCode, 130) << r.err;
    const Bytes bytes = testwave::ReadFile(page.string());
    const std::string html(bytes.begin(), bytes.end());
    const std::vector<std::string> previews = FilesBelow(Dir() / "report.seams");
    EXPECT_FALSE(previews.empty());
    for (const std::string& preview : previews) {
        SCOPED_TRACE(preview);
        EXPECT_NE(html.find("src=\"report.seams/" + preview + "\""), std::string::npos);
    }
    std::size_t links = 0;
    for (std::size_t at = 0; (at = html.find("<audio ", at)) != std::string::npos; ++at) ++links;
    EXPECT_EQ(links, previews.size());
}

}  // namespace

// A path is one field of the report whatever it holds: quoted where it has a comma or a quote,
// each quote in it doubled (RFC 4180).
TEST_F(BatchTest, ReportQuotesAPathWithACommaOrAQuoteAndDoublesItsQuotes) {
    const struct {
        const char* name;
        const char* inField;  // the name as the field holds it
        bool quoted;
    } rows[] = {{"plain.wav", "plain.wav", false},
                {"a, b.wav", "a, b.wav", true},
                {"say \"loop\".wav", "say \"\"loop\"\".wav", true},
                {"\".wav", "\"\".wav", true}};
    const fs::path folder = Dir() / "quoted";
    fs::create_directory(folder);
    for (const auto& row : rows)
        Write(folder / row.name, LoopedSound(testwave::Pcm(8, 1, 8000), 2.4, 6));
    const RunResult r = RunCli(
        {"batch", folder.string(), "--out", Out().string(), "--report", Report(), "--dry-run"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const Bytes bytes = testwave::ReadFile(Report());
    const std::string report(bytes.begin(), bytes.end());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = (folder / "").string() + row.inField;
        const std::string field = row.quoted ? "\"" + path + "\"" : path;
        EXPECT_NE(report.find("\r\n" + field + ",looped,"), std::string::npos) << report;
    }
}
