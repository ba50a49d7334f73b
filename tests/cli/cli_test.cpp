// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built rundelt-cli as a separate process, the way scripts use it, and checks its
// stdout, stderr, exit code and the files it leaves behind.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/looped_music.h"
#include "tests/support/reference_fade.h"
#include "tests/support/wave_bytes.h"
#include "tests/support/wave_layer.h"
#include "wave/looped_wave.h"
#include "wave/pcm_format.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace {

namespace fs = std::filesystem;
using testwave::Bytes;

using testwave::RunCli;
using testwave::RunResult;

wave::PcmFormat ToPcm(const testwave::Format& f) { return testwave::PcmFormatOf(f); }

Bytes Render(const testwave::Format& f, const Bytes& data, const wave::LoopRequest& request) {
    return testwave::RenderToMemory(ToPcm(f), data, request);
}

// "" when equal; otherwise where the two first part.
std::string Difference(const Bytes& actual, const Bytes& expected) {
    const auto [a, e] =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (a == actual.end() && e == expected.end()) return "";
    return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
           ", first difference at offset " + std::to_string(a - actual.begin());
}

std::uint32_t U32At(const Bytes& bytes, std::size_t offset) {
    return std::uint32_t{bytes.at(offset)} | std::uint32_t{bytes.at(offset + 1)} << 8 |
           std::uint32_t{bytes.at(offset + 2)} << 16 | std::uint32_t{bytes.at(offset + 3)} << 24;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Five seconds each, and HalfWindow 16000 frames, LastFrame 39999 for both.
const testwave::Format kMono8 = testwave::Pcm(8, 1, 8000);      // 40000 bytes
const testwave::Format kStereo16 = testwave::Pcm(16, 2, 8000);  // 160000 bytes

class CliTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::string WriteWave(const std::string& name, const testwave::Format& f, const Bytes& data) {
        const std::string path = Path(name);
        testwave::WriteFile(path, testwave::Wave(f, data));
        return path;
    }

    testwave::TempDir temp_;
    const fs::path dir_{temp_.path};
};

TEST_F(CliTest, InfoPrintsTheSevenLinesExactly) {
    struct Row {
        const char* name;
        testwave::Format format;
        std::size_t dataBytes;
        std::string expectedAfterPath;
    };
    const Row rows[] = {
        {"stereo16", testwave::Pcm(16, 2, 44100), 882000,
         "サンプリングレート      ： 44100Hz\n"
         "サンプリングビット数    ： 16bit\n"
         "ステレオ,モノラル       ： ステレオ\n"
         "1秒あたりのデータサイズ ： 176400byte\n"
         "データサイズ            ： 882000\n"
         "再生時間                ： 5.00秒\n"},
        {"mono8", testwave::Pcm(8, 1, 22050), 110250,
         "サンプリングレート      ： 22050Hz\n"
         "サンプリングビット数    ： 8bit\n"
         "ステレオ,モノラル       ： モノラル\n"
         "1秒あたりのデータサイズ ： 22050byte\n"
         "データサイズ            ： 110250\n"
         "再生時間                ： 5.00秒\n"},
        {"rounded", kMono8, 45352,  // 5.669 seconds
         "サンプリングレート      ： 8000Hz\n"
         "サンプリングビット数    ： 8bit\n"
         "ステレオ,モノラル       ： モノラル\n"
         "1秒あたりのデータサイズ ： 8000byte\n"
         "データサイズ            ： 45352\n"
         "再生時間                ： 5.67秒\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteWave(std::string(row.name) + ".wav", row.format, testwave::Pattern(row.dataBytes));
        // The path is echoed as typed, not normalised.
        const std::string typedPath = dir_.string() + "//" + row.name + ".wav";
        const RunResult r = RunCli({"info", typedPath});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "ファイル名              ： " + typedPath + "\n" + row.expectedAfterPath);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliTest, TextThatCannotBePrintedIsAFailure) {
    const std::string in = WriteWave("in.wav", kMono8, testwave::Pattern(40000));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"info", in}, {"--help"}}) {
        SCOPED_TRACE(args[0]);
        const RunResult r = RunCli(args, "/dev/full");  // every write fails with "no space"
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.ends_with("\n")) << r.err;
    }
    // A file-size limit fails the write too, instead of ending the program with SIGXFSZ.
    const std::string limited = Path("limited.txt");
    testwave::WriteFile(limited, {});
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit small{100, before.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const RunResult r = RunCli({"info", in}, limited.c_str());
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "標準出力に書き込めませんでした\n");
}

TEST_F(CliTest, AHugeInputIsAnsweredFromItsHeaders) {
    // A sparse file just under the reader's 2 GiB limit: reading its payload would take 2 GiB.
    const std::string in = Path("huge.wav");
    const std::uint32_t dataBytes = 0x7FFFFFFFu - 8 - 44;
    Bytes header = testwave::Wave(testwave::Pcm(16, 2, 44100), {});
    for (int i = 0; i < 4; ++i) {
        header[4 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>((dataBytes + 36) >> (8 * i));
        header[40 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
    }
    testwave::WriteFile(in, header);
    fs::resize_file(in, 44u + dataBytes);
    fs::create_directory(Path("folder"));

    struct Row {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const Row rows[] = {
        {"info", {"info", in}, 0, ""},
        {"save too large",
         {"save", in, Path("out.wav"), "--start", "0", "--end", "441000", "--repeat", "10000"},
         1,
         "保存に失敗しました：ファイルが大きすぎます\n"},
        {"save to a missing folder",
         {"save", in, Path("missing/out.wav"), "--start", "0", "--end", "441000"},
         1,
         "保存に失敗しました：保存先のフォルダがありません\n"},
        {"preview to a folder",
         {"preview", in, Path("folder"), "--start", "0", "--end", "441000"},
         1,
         "保存に失敗しました：通常のファイルではありません\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const RunResult r = RunCli(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode);
        EXPECT_EQ(r.err, row.err);
        EXPECT_LT(r.peakKiB, 256 * 1024) << "the payload was read";
    }
    EXPECT_TRUE(RunCli({"info", in}).out.find("データサイズ            ： 2147483595\n") !=
                std::string::npos);
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(CliTest, RefusedInputGivesTheReadersMessageAndWritesNothing) {
    Bytes notRiff = testwave::Wave(kMono8, testwave::Pattern(40000));
    notRiff[3] = 'X';
    testwave::WriteFile(Path("notriff.wav"), notRiff);
    WriteWave("short.wav", testwave::Pcm(16, 2, 44100), testwave::Pattern(881999));
    struct Row {
        const char* file;
        std::string message;
    };
    const Row rows[] = {
        {"short.wav", "ファイルが短すぎます。5秒以上のファイルを選択してください"},
        {"notriff.wav", "不正なRIFFヘッダです"},
        {"missing.wav", std::string(wave::UserMessage(wave::WaveError::CannotOpen))},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"info"},
        {"save", "--start", "0", "--end", "16000"},
        {"preview", "--start", "0", "--end", "16000"},
        {"find"}};
    for (const Row& row : rows) {
        for (const auto& command : commands) {
            SCOPED_TRACE(std::string(row.file) + " " + command[0]);
            std::vector<std::string> args = command;
            args.insert(args.begin() + 1, Path(row.file));
            if (command[0] == "save" || command[0] == "preview")
                args.insert(args.begin() + 2, Path("out.wav"));
            const RunResult r = RunCli(args);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, row.message + "\n");
            EXPECT_FALSE(fs::exists(Path("out.wav")));
        }
    }
}

TEST_F(CliTest, SaveWritesWhatTheCoreRenders) {
    struct Row {
        const char* name;
        testwave::Format format;
        std::size_t dataBytes;
        std::vector<std::string> options;
        wave::LoopRequest request;
        std::uint32_t expectedDataBytes;  // D, worked out by hand
    };
    const Row rows[] = {
        {"defaults",
         kMono8,
         40000,
         {"--start", "1000", "--end", "30000"},
         {1000, 30000, 2, 5},
         1000 + 29000 * 2 + 5 * 8000},
        {"options",
         kStereo16,
         160000,
         {"--fade", "0", "--repeat", "3", "--end", "16000", "--start", "0"},
         {0, 16000, 3, 0},
         16000 * 3 * 4},
        {"last one wins",
         kMono8,
         40000,
         {"--repeat", "9", "--start", "1", "--repeat", "0", "--fade", "1", "--start", "23999",
          "--end", "39999"},
         {23999, 39999, 0, 1},
         23999 + 8000},
        {"signs",
         kStereo16,
         160000,
         {"--start", "-0", "--end", "+16000", "--fade", "+2"},
         {0, 16000, 2, 2},
         (32000 + 16000) * 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes data = testwave::Pattern(row.dataBytes);
        const std::string in = WriteWave("in.wav", row.format, data);
        const std::string out = Path("out.wav");
        testwave::WriteFile(out, Bytes(300000, 0xEE));  // a longer file must be replaced whole
        std::vector<std::string> args = {"save", in, out};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const RunResult r = RunCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        const Bytes written = testwave::ReadFile(out);
        ASSERT_EQ(written.size(), 44 + std::size_t{row.expectedDataBytes});
        EXPECT_EQ(U32At(written, 4), row.expectedDataBytes + 36);
        EXPECT_EQ(U32At(written, 40), row.expectedDataBytes);
        EXPECT_EQ(Difference(written, Render(row.format, data, row.request)), "");
    }
}

TEST_F(CliTest, SmplSaveEndsWithTheChunkTheCoreRenders) {
    const Bytes data = testwave::Pattern(40000);
    const std::string in = WriteWave("in.wav", kMono8, data);
    const std::string out = Path("out.wav");
    // An odd data size (1001 + 28999 * 2 + 40000 bytes), so the pad byte is there too.
    const RunResult r = RunCli({"save", "--smpl", in, out, "--start", "1001", "--end", "30000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    wave::LoopRequest request{1001, 30000, 2, 5};
    request.samplerLoop = true;
    EXPECT_EQ(Difference(testwave::ReadFile(out), Render(kMono8, data, request)), "");
}

TEST_F(CliTest, LoopRulesAreCheckedBeforeAnythingIsWritten) {
    // HalfWindow 16000, LastFrame 39999.
    struct Row {
        const char* start;
        const char* end;
        bool accepted;
    };
    const Row rows[] = {
        {"0", "16000", true},     {"23999", "39999", true},   {"-1", "16000", false},
        {"0", "15999", false},    {"100", "16099", false},    {"23999", "40000", false},
        {"30000", "1000", false}, {"0", "2147483647", false}, {"-2147483648", "0", false},
    };
    WriteWave("in.wav", kMono8, testwave::Pattern(40000));
    for (const Row& row : rows) {
        for (const char* command : {"save", "preview"}) {
            SCOPED_TRACE(std::string(command) + " " + row.start + " " + row.end);
            const std::string out = Path(std::string(command) + row.start + "_" + row.end + ".wav");
            const RunResult r =
                RunCli({command, Path("in.wav"), out, "--start", row.start, "--end", row.end});
            EXPECT_EQ(r.out, "");
            if (row.accepted) {
                EXPECT_EQ(r.exitCode, 0) << r.err;
                EXPECT_TRUE(fs::exists(out));
            } else {
                EXPECT_EQ(r.exitCode, 2);
                EXPECT_TRUE(StartsWith(r.err, "ループ範囲が不正です：")) << r.err;
                EXPECT_NE(r.err.find("39999"), std::string::npos) << r.err;  // states the limit
                EXPECT_TRUE(r.err.ends_with("\n"));
                EXPECT_FALSE(fs::exists(out));
            }
        }
    }
}

TEST_F(CliTest, UsageErrorsExitTwoWithoutWriting) {
    const std::string in = WriteWave("in.wav", kMono8, testwave::Pattern(40000));
    const std::string out = Path("out.wav");
    const std::vector<std::vector<std::string>> rows = {
        {"mix", in, out},
        {"--loud"},
        {"save", in, out, "--start", "0", "--end", "16000", "--loop", "5"},
        {"save", in, out, "--start", "0", "--end"},
        {"save", in, out, "--start", "12a", "--end", "16000"},
        {"save", in, out, "--start", "", "--end", "16000"},
        {"save", in, out, "--start", "+", "--end", "16000"},
        {"save", in, out, "--start", "1.5", "--end", "16000"},
        {"save", in, out, "--start", " 5", "--end", "16000"},
        {"save", in, out, "--start", "0x10", "--end", "16000"},
        {"save", in, out, "--start", "0", "--end", "2147483648"},
        {"save", in, out, "--start", "-2147483649", "--end", "16000"},
        {"save", in, out, "--start", "0", "--end", "16000", "--repeat", "-1"},
        {"save", in, out, "--start", "0", "--end", "16000", "--fade", "-1"},
        {"save", in, out, "--start", "0"},
        {"save", in, out, "--end", "16000"},
        {"save", in, "--start", "0", "--end", "16000"},
        {"save", in, out, "extra.wav", "--start", "0", "--end", "16000"},
        {"preview", in, out, "--start", "0", "--end", "16000", "--repeat", "2"},
        {"info", in, "--start", "0"},
        {"info"},
        {"save", in, out, "--start", "0", "--end", "16000", "--smpl", "--repeat", "0"},
        {"preview", in, out, "--start", "0", "--end", "16000", "--smpl"},
        {"info", in, "--smpl"},
        {"find"},
        {"find", in, out},
        {"find", in, "--start", "0"},
        {"find", in, "--top", "0"},
        {"find", in, "--top"},
        {"find", in, "--near", "0"},
        {"find", in, "--near", "0", "1.5"},
        {"find", in, "--radius", "-1"},
        {"find", in, "--radius", "10.5"},
        {"find", in, "--radius", "1e1"},
        {"find", in, "--radius", ".5"},
        {"find", in, "--radius", "0.5.1"},
        {"save", in, out, "--start", "0", "--end", "16000", "--top", "3"},
        {"find", in, "--min-length", "-1"},
        {"find", in, "--min-length", "1e1"},
        {"find", in, "--max-length", ".5"},
        {"find", in, "--max-length", "x"},
        {"find", in, "--max-length"},
        {"find", in, "--min-length", "5", "--max-length", "4.5"},
        {"save", in, out, "--start", "0", "--end", "16000", "--min-length", "3"},
        {"save", in, "", "--start", "0", "--end", "16000"},
        {"save", "", out, "--start", "0", "--end", "16000"},
        {"info", ""},
        {"--version", "x"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(testwave::Bracketed(args));
        const RunResult r = RunCli(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(r.err.ends_with("\n"));
        EXPECT_FALSE(StartsWith(r.err, "ループ範囲"))
            << "a usage error, not a loop check: " << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(CliTest, HelpGoesToStdoutAndNoArgumentsToStderr) {
    const RunResult help = RunCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_NE(help.out.find("rundelt-cli save"), std::string::npos);
    EXPECT_NE(help.out.find("rundelt-cli find"), std::string::npos);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-h"}, {"help"}, {"save", "--help"}}) {
        SCOPED_TRACE(args.back());
        const RunResult r = RunCli(args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, help.out);
        EXPECT_EQ(r.err, "");
    }
    const RunResult none = RunCli({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, help.out);
    const RunResult version = RunCli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("rundelt-cli ") + RUNDELT_VERSION + "\n");
}

TEST_F(CliTest, PreviewHoldsTheTwoSecondsAroundTheSeam) {
    struct Row {
        const char* name;
        testwave::Format format;
        std::size_t dataBytes;
        std::int32_t start;
        std::int32_t end;
    };
    const Row rows[] = {
        {"mono8", kMono8, 40000, 1000, 30000},
        {"stereo16", kStereo16, 160000, 2000, 39999},
        {"tightest loop", kMono8, 40000, 0, 16000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes data = testwave::Pattern(row.dataBytes);
        const std::string in = WriteWave("in.wav", row.format, data);
        const std::string out = Path(std::string(row.name) + ".wav");
        const RunResult r = RunCli({"preview", in, out, "--start", std::to_string(row.start),
                                    "--end", std::to_string(row.end)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");

        const std::uint32_t half = row.format.avgBytes * 2;
        const std::uint32_t halfWindowFrames = row.format.rate * 2;
        Bytes expected;
        testwave::PutId(expected, "RIFF");
        testwave::PutU32(expected, 2 * half + 36);
        testwave::PutId(expected, "WAVE");
        testwave::PutChunk(expected, "fmt ", testwave::FmtPayload(row.format));
        testwave::PutId(expected, "data");
        testwave::PutU32(expected, 2 * half);
        const auto firstByte = static_cast<std::ptrdiff_t>(
            (static_cast<std::uint32_t>(row.end) - halfWindowFrames) * row.format.blockAlign);
        const auto secondByte = static_cast<std::ptrdiff_t>(static_cast<std::uint32_t>(row.start) *
                                                            row.format.blockAlign);
        expected.insert(expected.end(), data.begin() + firstByte, data.begin() + firstByte + half);
        expected.insert(expected.end(), data.begin() + secondByte,
                        data.begin() + secondByte + half);
        EXPECT_EQ(Difference(testwave::ReadFile(out), expected), "");
    }
}

TEST_F(CliTest, PreviewOfAnInconsistentFormatDoesWhatTheCoreDecides) {
    // Twice the bytes per second the rate and block size imply: four seconds of bytes from
    // LoopEnd - HalfWindow would run past the end of the sound.
    const testwave::Format format{1, 1, 8000, 16000, 1, 8};
    const Bytes data = testwave::Pattern(80000);
    const std::string in = WriteWave("in.wav", format, data);
    const std::string out = Path("out.wav");
    Bytes preview(64000);
    const std::string message = wave::FillPreview(ToPcm(format), data, 0, 79999, preview);

    const RunResult r = RunCli({"preview", in, out, "--start", "0", "--end", "79999"});
    if (message.empty()) {
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Bytes expected = wave::WaveHeader(ToPcm(format), 64000);
        expected.insert(expected.end(), preview.begin(), preview.end());
        EXPECT_EQ(Difference(testwave::ReadFile(out), expected), "");
    } else {
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, message + "\n");
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(CliTest, FailedWritesReportAndLeaveTheDestinationAsItWas) {
    const std::string in = WriteWave("in.wav", kMono8, testwave::Pattern(40000));
    const std::string inFolderThatDoesNotExist = Path("no such folder/out.wav");
    for (const char* command : {"save", "preview"}) {
        SCOPED_TRACE(command);
        const RunResult r =
            RunCli({command, in, inFolderThatDoesNotExist, "--start", "1000", "--end", "30000"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(StartsWith(r.err, wave::kSaveFailed)) << r.err;
        EXPECT_TRUE(r.err.ends_with("\n"));
        EXPECT_FALSE(fs::exists(fs::path(inFolderThatDoesNotExist).parent_path()));
    }

    // 29000 frames repeated 2147483647 times cannot fit the header's 32-bit sizes.
    const std::string out = Path("out.wav");
    const Bytes previous = {'o', 'l', 'd'};
    testwave::WriteFile(out, previous);
    const RunResult r =
        RunCli({"save", in, out, "--start", "1000", "--end", "30000", "--repeat", "2147483647"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(StartsWith(r.err, wave::kSaveFailed)) << r.err;
    EXPECT_EQ(testwave::ReadFile(out), previous);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 2)
        << "no temporary file may be left beside the destination";
}

TEST_F(CliTest, FindPrintsLoopsBestFirstOnePerLine) {
    testwave::LoopedMusic music;
    music.format = testwave::Pcm(16, 1, 8000);
    music.introFrames = 8000;
    music.loopFrames = 26411;
    music.totalFrames = 8000 + 2 * 26411 + 8000;
    music.ringAcross = false;  // the passes agree from the loop's first frame: one exact answer
    const std::string in = WriteWave("in.wav", music.format, testwave::RenderLoopedMusic(music));
    const std::string loop = "8000 34411";
    const std::string start = std::to_string(8000 + 1600);  // 0.2 s off, each way
    const std::string end = std::to_string(34411 - 1600);
    struct Row {
        std::vector<std::string> options;
        std::string firstLoop;
        std::size_t maxLines;
    };
    const Row rows[] = {
        {{}, loop, 5},
        {{"--top", "1"}, loop, 1},
        {{"--near", start, end}, loop, 5},
        {{"--radius", "0.25", "--near", start, end, "--top", "2"}, loop, 2},
        {{"--near", "8000", "34411", "--radius", "0", "--top", "1"}, loop, 1},
    };
    const std::regex line(R"((\d+) (\d+) (-?\d+\.\d) passes)");
    for (const Row& row : rows) {
        std::vector<std::string> args = {"find", in};
        args.insert(args.end(), row.options.begin(), row.options.end());
        SCOPED_TRACE(testwave::Bracketed(args));
        const RunResult r = RunCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_TRUE(r.out.ends_with("\n"));
        std::vector<std::string> lines;
        std::istringstream out(r.out);
        for (std::string text; std::getline(out, text);) lines.push_back(text);
        EXPECT_LE(lines.size(), row.maxLines);
        for (const std::string& text : lines) EXPECT_TRUE(std::regex_match(text, line)) << text;
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(StartsWith(lines[0], row.firstLoop + " ")) << lines[0];
    }
}

TEST_F(CliTest, FindWithoutALoopOrWithAWrongNearLoop) {
    const std::string in = WriteWave("noise.wav", kMono8, testwave::Noise(40000));
    const RunResult none = RunCli({"find", in});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "ループ候補が見つかりませんでした\n");

    const RunResult outside = RunCli({"find", in, "--near", "100", "16099"});  // HalfWindow 16000
    EXPECT_EQ(outside.exitCode, 2);
    EXPECT_EQ(outside.out, "");
    EXPECT_TRUE(StartsWith(outside.err, "ループ範囲が不正です：")) << outside.err;
}

// A recording of five passes: the pass first, twice the pass where the bounds ask for it, and
// with --near only loops within the radius of the points given, or none.
TEST_F(CliTest, FindNearAndWithinLengthBounds) {
    testwave::LoopedMusic music;
    music.format = testwave::Pcm(16, 1, 8000);
    music.introFrames = 8000;
    music.loopFrames = 26411;  // 3.3 s
    music.totalFrames = 8000 + 5 * 26411 + 8000;
    const std::string in = WriteWave("five.wav", music.format, testwave::RenderLoopedMusic(music));
    struct Row {
        std::vector<std::string> options;
        std::int64_t length;                      // of every loop printed; 0: none, exit 1
        std::int64_t nearStart, nearEnd, radius;  // every loop this close to these points
    };
    const Row rows[] = {
        {{}, 26411, 0, 0, -1},
        {{"--min-length", "5"}, 2 * 26411, 0, 0, -1},
        {{"--min-length", "3", "--max-length", "4"}, 26411, 0, 0, -1},
        {{"--max-length", "3"}, 0, 0, 0, -1},
        {{"--near", "19000", "46011"}, 26411, 19000, 46011, 4000},
        {{"--near", "19000", "46011", "--radius", "0.2"}, 26411, 19000, 46011, 1600},
        // The finder's best loop, 17915 44326, starts 1.5 radii from the start given: not printed.
        {{"--near", "23915", "44326"}, 26411, 23915, 44326, 4000},
        {{"--near", "20000", "60000"}, 0, 0, 0, -1},  // nothing of that length repeats
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"find", in};
        args.insert(args.end(), row.options.begin(), row.options.end());
        SCOPED_TRACE(testwave::Bracketed(args));
        const RunResult r = RunCli(args);
        if (row.length == 0) {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "ループ候補が見つかりませんでした\n");
            continue;
        }
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::istringstream out(r.out);
        std::int64_t start = 0;
        std::int64_t end = 0;
        double quality = 0.0;
        std::string kind;
        bool first = true;
        while (out >> start >> end >> quality >> kind) {
            EXPECT_EQ(kind, "passes");
            if (first) {
                EXPECT_LE(std::llabs(end - start - row.length), 2) << start << " " << end;
            }
            first = false;
            if (row.radius >= 0) {
                EXPECT_LE(std::llabs(start - row.nearStart), row.radius) << start;
                EXPECT_LE(std::llabs(end - row.nearEnd), row.radius) << end;
            }
        }
        EXPECT_FALSE(first) << "nothing printed";
    }
}

// A file that plays its loop once, the whole file: our own commands take the loop that ends with
// the sound (the end exclusive, up to the number of frames), find calls it "file-end", and the
// window's commands keep their limit, message for message.
TEST_F(CliTest, ALoopThatEndsWithTheSound) {
    testwave::LoopedMusic music;
    music.format = testwave::Pcm(16, 1, 8000);
    music.loopFrames = 49600;  // 6.2 s
    const Bytes samples = testwave::RenderShippedMusic(music, testwave::Shipped::WholeFile);
    const std::string in = WriteWave("whole.wav", music.format, samples);
    const std::string out = Path("out.wav");
    const std::string frames = "49600";
    const auto outside = [](const std::string& last, const std::string& end) {
        return "ループ範囲が不正です：0 ≤ 開始、開始 + 16000 ≤ 終了 ≤ " + last +
               " にしてください（開始 0、終了 " + end + "）\n";
    };
    struct Row {
        std::vector<std::string> args;
        int exitCode;
        std::string out;  // the start of stdout
        std::string err;  // all of stderr
    };
    const Row rows[] = {
        {{"find", in, "--top", "1"}, 0, "0 49600 ", ""},
        {{"find", in, "--near", "0", frames}, 0, "0 49600 ", ""},
        {{"find", in, "--near", "0", "49601"}, 2, "", outside("49600", "49601")},
        {{"tag", in, "--start", "0", "--end", frames, "--dry-run"}, 0, "", ""},
        {{"tag", in, "--start", "0", "--end", "49601", "--dry-run"}, 1, "", ""},
        {{"save", in, out, "--start", "0", "--end", frames}, 2, "", outside("49599", frames)},
        {{"preview", in, out, "--start", "0", "--end", frames}, 2, "", outside("49599", frames)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testwave::Bracketed(row.args));
        const RunResult r = RunCli(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_TRUE(StartsWith(r.out, row.out)) << r.out;
        if (row.args[0] == "find" && row.exitCode == 0) {
            EXPECT_TRUE(r.out.ends_with(" file-end\n")) << r.out;
        }
        if (!row.err.empty() || row.args[0] != "tag") {
            EXPECT_EQ(r.err, row.err);
        } else if (row.exitCode == 1) {
            EXPECT_NE(r.err.find(outside("49600", "49601").substr(0, 40)), std::string::npos)
                << r.err;
        } else {
            EXPECT_NE(r.err.find("ループの種類：繰り返しから 0、ファイル末尾まで 1\n"),
                      std::string::npos)
                << r.err;
        }
        EXPECT_FALSE(fs::exists(out));
    }
}

// batch renders a loop that ends with the sound as any other: the intro (none here), the passes
// and the fade in which the loop plays on from its start, byte for byte.
TEST_F(CliTest, BatchRendersALoopThatEndsWithTheSound) {
    testwave::LoopedMusic music;
    music.format = testwave::Pcm(16, 2, 8000);
    music.loopFrames = 47200;  // 5.9 s
    const Bytes samples = testwave::RenderShippedMusic(music, testwave::Shipped::WholeFile);
    fs::create_directory(Path("in"));
    WriteWave("in/whole.wav", music.format, samples);
    const RunResult r = RunCli({"batch", Path("in"), "--out", Path("looped"), "--repeat", "2",
                                "--fade", "1", "--report", Path("report.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Bytes report = testwave::ReadFile(Path("report.csv"));
    EXPECT_NE(std::string(report.begin(), report.end()).find(",looped,0,47200,"),
              std::string::npos);
    EXPECT_TRUE(std::string(report.begin(), report.end()).ends_with(",,file-end\r\n"));

    Bytes tail(samples.begin(), samples.begin() + 8000 * 4);  // the loop from its start, 1 s
    testwave::ReferenceFade(tail, 16);
    Bytes expected = samples;
    expected.insert(expected.end(), samples.begin(), samples.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    const Bytes written = testwave::ReadFile(Path("looped/whole.wav"));
    ASSERT_EQ(written.size(), 44 + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin() + 44));
}

}  // namespace
