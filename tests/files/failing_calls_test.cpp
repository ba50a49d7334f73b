// SPDX-License-Identifier: GPL-3.0-or-later
// A save on a sick disk: one system call fails (a write, a flush, a rename, the naming of the
// unnamed file), sometimes the removal after it too. Whatever fails, the old file stays as it
// was, no temporary name is left (or the message names the one that could not be removed), and
// the message gives the reason. Each save runs in its own process with the failing-call shim
// preloaded.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/wave_bytes.h"
#include "tests/support/wave_layer.h"

namespace {

namespace fs = std::filesystem;
using testwave::Bytes;

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Runs the save helper with the shim failing `calls`, on a file system with unnamed files or,
// for kind "named", without; returns what it printed, or a note on how it ended otherwise.
std::string SaveWithFailing(const std::string& kind, const std::string& calls,
                            const std::vector<std::string>& arguments) {
    int out[2];
    if (::pipe(out) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        // A sanitized helper would refuse a library loaded before its own runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string asanOptions =
            std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
        ::setenv("LD_PRELOAD", RUNDELT_FAILING_CALLS, 1);
        ::setenv("RUNDELT_FAIL_CALLS", calls.c_str(), 1);
        if (kind == "named") ::setenv("RUNDELT_NO_UNNAMED_FILES", "1", 1);
        std::vector<char*> argv{const_cast<char*>(RUNDELT_SAVE_UNDER_FAULTS)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    const std::string printed = testwave::ReadToEnd(out[0]);
    const int status = testwave::WaitForChild(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "helper ended with status " + std::to_string(status);
    }
    return printed;
}

TEST(FailingCalls, ASaveOnASickDiskLosesNothingAndLeavesNothing) {
    constexpr int kEIO = EIO, kENOSPC = ENOSPC;
    const std::string failed = "保存に失敗しました：";
    const std::string ioError = "入出力エラーが起きました";
    const std::string noSpace = "ディスクの空き容量が足りません";
    enum Outcome { Kept, Saved, TempLeft };
    struct Row {
        const char* kind;   // how the file is made before it is named
        std::string calls;  // what fails
        std::string message;
        Outcome outcome = Kept;
    };
    const auto fail = [](const char* call, int error, int at = 1) {
        return std::string(call) + ":" + std::to_string(error) + ":" + std::to_string(at);
    };
    const std::vector<Row> rows = {
        {"unnamed", fail("write", kEIO), failed + ioError},
        {"named", fail("write", kENOSPC), failed + noSpace},
        {"unnamed", fail("write", kEIO, 3), failed + ioError},
        {"unnamed", fail("fsync", kEIO), failed + ioError},
        {"named", fail("fsync", kEIO), failed + ioError},
        {"unnamed", fail("linkat", kENOSPC), failed + noSpace},
        {"unnamed", fail("rename", kEIO), failed + ioError},
        {"named", fail("rename", kENOSPC), failed + noSpace},
        {"unnamed", fail("fsync", kEIO, 2),
         "保存しましたが、ディスクに確実に書き込めたか確かめられませんでした：" + ioError, Saved},
        {"named", fail("fsync", kEIO, 2),
         "保存しましたが、ディスクに確実に書き込めたか確かめられませんでした：" + ioError, Saved},
        {"named", fail("write", kEIO) + "," + fail("unlink", kEIO), failed + ioError, TempLeft},
        {"unnamed", fail("rename", kEIO) + "," + fail("unlink", kEIO), failed + ioError, TempLeft},
    };

    testwave::TempDir dir;
    const std::string in = dir.path + "/in.wav";
    const std::string out = dir.path + "/out.wav";
    const wave::PcmFormat format = testwave::PcmFormatOf(16, 2, 1000);
    const Bytes sound = testwave::Pattern(400000);  // several writes' worth once looped
    const wave::LoopRequest request{1000, 90000, 3, 2};
    testwave::WriteFile(in, testwave::Wave(testwave::Pcm(16, 2, 1000), sound));
    const Bytes rendered = testwave::RenderToMemory(format, sound, request);
    const Bytes old = testwave::Pattern(5000);

    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.kind) + " " + row.calls);
        testwave::WriteFile(out, old);
        const std::set<std::string> before = Entries(dir.path);
        const std::string message =
            SaveWithFailing(row.kind, row.calls, {in, out, "1000", "90000", "3", "2"});

        std::set<std::string> after = Entries(dir.path);
        if (row.outcome == TempLeft) {
            std::vector<std::string> added;
            for (const std::string& name : after)
                if (!before.contains(name)) added.push_back(name);
            ASSERT_EQ(added.size(), 1u) << "the one temporary file that could not be removed";
            EXPECT_TRUE(added[0].starts_with(".rundelt-")) << added[0];
            const std::string left = dir.path + "/" + added[0];
            EXPECT_EQ(message, row.message + "（一時ファイルを消せませんでした：" + left + "）");
            fs::remove(left);
            after = Entries(dir.path);
        } else {
            EXPECT_EQ(message, row.message);
        }
        EXPECT_EQ(after, before) << "a name was left behind";
        EXPECT_TRUE(testwave::ReadFile(out) == (row.outcome == Saved ? rendered : old))
            << (row.outcome == Saved ? "the new file is not in place" : "the old file changed");
    }
}

}  // namespace
