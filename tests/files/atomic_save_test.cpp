// SPDX-License-Identifier: GPL-3.0-or-later
// Saving never loses data: every failure leaves the destination exactly as it was (bytes and
// permission bits), leaves no temporary file beside it, and says "保存に失敗しました"; a save
// that succeeds leaves exactly the rendered file. Failures that need a smaller world (a size
// limit, fewer rights) run in a forked child so the test process keeps its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "files/atomic_save.h"
#include "files/looped_wave_file.h"
#include "files/save_errors.h"
#include "files/wave_file.h"
#include "tests/support/child_process.h"
#include "tests/support/wave_bytes.h"
#include "tests/support/wave_layer.h"
#include "wave/looped_wave.h"
#include "wave/pcm_format.h"
#include "wave/user_texts.h"
#include "wave/wave_reader.h"

namespace {

namespace fs = std::filesystem;
using testwave::Bytes;
using wave::LoopRequest;
using wave::PcmFormat;

// 16-bit stereo at 1000 frames per second, 6 seconds.
PcmFormat Format() {
    PcmFormat f;
    f.wFormatTag = 1;
    f.nChannels = 2;
    f.nSamplesPerSec = 1000;
    f.nAvgBytesPerSec = 4000;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    return f;
}

const Bytes& Sound() {
    static const Bytes sound = testwave::Pattern(24000);
    return sound;
}

// D = (1000 + 2 * 3000 + 1000) frames * 4 bytes = 32000.
constexpr LoopRequest kRequest{1000, 4000, 2, 1};

Bytes Rendered(const PcmFormat& format, const Bytes& sound, const LoopRequest& request) {
    return testwave::RenderToMemory(format, sound, request);
}

// What a path holds, as lstat sees it, to compare before and after. Only a regular file is
// opened (a pipe would block); a link is described by its text, a folder by its entries.
struct Snapshot {
    bool exists = false;
    mode_t type = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::string link;
    Bytes bytes;
    std::set<std::string> entries;
    std::map<std::string, std::string> attributes;  // extended ones, the access list among them

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::map<std::string, std::string> AttributesOf(const std::string& path) {
    std::map<std::string, std::string> attributes;
    std::string names(65536, '\0');
    const ssize_t listed = ::llistxattr(path.c_str(), names.data(), names.size());
    for (ssize_t at = 0; at < listed; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
        std::string value(65536, '\0');
        const ssize_t got = ::lgetxattr(path.c_str(), &names[at], value.data(), value.size());
        if (got >= 0) attributes[&names[at]] = value.substr(0, static_cast<std::size_t>(got));
    }
    return attributes;
}

Snapshot Take(const std::string& path) {
    Snapshot s;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.type = st.st_mode & S_IFMT;
    s.mode = st.st_mode & 07777;
    s.owner = st.st_uid;
    s.group = st.st_gid;
    if (S_ISDIR(st.st_mode)) s.entries = Entries(path);
    if (S_ISLNK(st.st_mode)) s.link = fs::read_symlink(path).string();
    if (S_ISREG(st.st_mode)) s.bytes = testwave::ReadFile(path);
    s.attributes = AttributesOf(path);
    return s;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// An access list in the kernel's own form: owner read-write, user 65534 read-write, owning
// group read, mask read-write, others nothing. The mode bits it gives the file are 0660.
std::string AccessList() {
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    constexpr std::uint32_t kVersion = 2, kNoId = 0xFFFFFFFF;
    const Entry entries[] = {
        {0x01, 6, kNoId}, {0x02, 6, 65534}, {0x04, 4, kNoId}, {0x10, 6, kNoId}, {0x20, 0, kNoId}};
    std::string list(reinterpret_cast<const char*>(&kVersion), sizeof kVersion);
    list.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return list;
}

bool StartsWithSaveFailed(const std::string& message) {
    return message.rfind(wave::kSaveFailed, 0) == 0;
}

// Runs `body` in a forked child and returns the string it produced. The child leaves with _exit,
// so nothing of the test framework runs twice.
std::string InChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        const std::string result = body();
        const char* p = result.data();
        std::size_t left = result.size();
        while (left > 0) {
            const ssize_t put = ::write(fds[1], p, left);
            if (put <= 0) ::_exit(3);
            p += put;
            left -= static_cast<std::size_t>(put);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    const std::string result = testwave::ReadToEnd(fds[0]);
    const int status = testwave::WaitForChild(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child did not finish normally";
    return result;
}

class SaveTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir.path + "/" + name; }

    // An existing destination with contents and permission bits of its own.
    std::string OldFile(const std::string& name, mode_t mode = 0644) {
        const std::string path = Path(name);
        testwave::WriteFile(path, testwave::Pattern(5000));
        ::chmod(path.c_str(), mode);
        return path;
    }

    // The failure contract for a save to `target`: message, target unchanged, folder unchanged.
    void ExpectRefusedSave(const std::string& target, const std::string& message,
                           const Snapshot& before, const std::set<std::string>& folderBefore) {
        EXPECT_TRUE(StartsWithSaveFailed(message)) << message;
        EXPECT_TRUE(Take(target) == before) << "the destination changed";
        EXPECT_EQ(Entries(dir.path), folderBefore) << "a file was left behind or removed";
    }

    testwave::TempDir dir;
};

TEST_F(SaveTest, RefusedSavesLeaveEverythingAsItWas) {
    const std::string existing = OldFile("existing.wav", 0640);
    struct Row {
        const char* name;
        std::string target;
        LoopRequest request;
    };
    for (const Row& row :
         {Row{"repeat at INT32_MAX, new file", Path("new.wav"), {1000, 4000, 2147483647, 1}},
          Row{"repeat at INT32_MAX, over a file", existing, {1000, 4000, 2147483647, 1}},
          Row{"fade at INT32_MAX", existing, {1000, 4000, 2, 2147483647}},
          Row{"D fits 32 bits, D + 36 does not", existing, {1000, 1001, 536869903, 0}}}) {
        SCOPED_TRACE(row.name);
        const Snapshot before = Take(row.target);
        const std::set<std::string> folderBefore = Entries(dir.path);
        const std::string message =
            files::WriteLoopedWaveFile(row.target, Format(), Sound(), row.request);
        ExpectRefusedSave(row.target, message, before, folderBefore);
    }
}

TEST_F(SaveTest, FileSizeLimitMidWriteLeavesTheFileAsItWas) {
    // A full disk, as near as a test can get: writes past 10000 bytes fail with EFBIG. The save
    // itself must keep SIGXFSZ from ending the process, so the child leaves it as it is.
    const std::string target = OldFile("out.wav", 0640);
    const Snapshot before = Take(target);
    const std::set<std::string> folderBefore = Entries(dir.path);
    const std::string message = InChild([&] {
        const rlimit limit{10000, 10000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
        return files::WriteLoopedWaveFile(target, Format(), Sound(), kRequest);
    });
    EXPECT_EQ(message, "保存に失敗しました：ファイルが大きすぎます");
    ExpectRefusedSave(target, message, before, folderBefore);
}

TEST_F(SaveTest, SavingOverTheLoadedFileWritesTheRightResult) {
    const std::string song = Path("song.wav");
    testwave::WriteFile(song, testwave::Wave(testwave::Pcm(16, 2, 1000), Sound()));
    const wave::ParseResult loaded = files::ReadWaveFile(song);
    ASSERT_EQ(loaded.error, wave::WaveError::None);
    const Bytes expected = Rendered(loaded.wave.format, loaded.wave.data, kRequest);

    EXPECT_EQ(files::WriteLoopedWaveFile(song, loaded.wave.format, loaded.wave.data, kRequest), "");
    EXPECT_TRUE(testwave::ReadFile(song) == expected);
    EXPECT_EQ(Entries(dir.path), std::set<std::string>{"song.wav"});
}

TEST_F(SaveTest, SavingOverALongerFileLeavesExactly44PlusDBytes) {
    const std::string target = Path("out.wav");
    testwave::WriteFile(target, Bytes(200000, 0xEE));
    const Bytes expected = Rendered(Format(), Sound(), kRequest);
    ASSERT_EQ(expected.size(), 44u + 32000u);

    EXPECT_EQ(files::WriteLoopedWaveFile(target, Format(), Sound(), kRequest), "");
    const Bytes written = testwave::ReadFile(target);
    EXPECT_EQ(written.size(), 44u + 32000u);
    EXPECT_TRUE(written == expected);
    EXPECT_EQ(Entries(dir.path), std::set<std::string>{"out.wav"});
}

TEST_F(SaveTest, ReplacedFileKeepsItsPermissionBitsAndANewFileGetsTheUsualOnes) {
    for (const mode_t mode : {mode_t{0640}, mode_t{0600}, mode_t{0751}, mode_t{0604}}) {
        const std::string target = OldFile("mode" + std::to_string(mode) + ".wav", mode);
        EXPECT_EQ(files::WriteLoopedWaveFile(target, Format(), Sound(), kRequest), "");
        EXPECT_EQ(ModeOf(target), mode) << std::oct << "was 0" << mode;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::string fresh = Path("fresh.wav");
    EXPECT_EQ(files::WriteLoopedWaveFile(fresh, Format(), Sound(), kRequest), "");
    EXPECT_EQ(ModeOf(fresh), 0666 & ~mask) << "a new file should be created like any other";
}

TEST(SaveReasons, TheErrorsADiskGivesHaveReasonsInTheUsersWords) {
    struct Row {
        int error;
        const char* reason;
    };
    for (const Row row :
         {Row{ENOSPC, "ディスクの空き容量が足りません"},
          Row{EDQUOT, "ディスクの空き容量が足りません"},
          Row{EACCES, "書き込みが許可されていません"}, Row{EPERM, "書き込みが許可されていません"},
          Row{EROFS, "書き込みが許可されていません"}, Row{ENOENT, "保存先のフォルダがありません"},
          Row{ENOTDIR, "保存先のフォルダがありません"}, Row{EISDIR, "通常のファイルではありません"},
          Row{EFBIG, "ファイルが大きすぎます"}, Row{ENAMETOOLONG, "ファイル名が長すぎます"},
          Row{EIO, "入出力エラーが起きました"}, Row{EBUSY, "ファイルが使用中です"},
          Row{ETXTBSY, "ファイルが使用中です"}, Row{ELOOP, "シンボリックリンクが多すぎます"}}) {
        EXPECT_EQ(files::SaveFailedErrno(row.error),
                  "保存に失敗しました：" + std::string(row.reason))
            << ::strerror(row.error);
    }
    // One the table has no words for keeps the system's, after the same beginning.
    EXPECT_EQ(files::SaveFailedErrno(EXDEV),
              "保存に失敗しました：" + std::string(::strerror(EXDEV)));
}

// Gives up root in a forked child, so permission bits hold; "SKIP ..." where that cannot be.
std::string AsOtherUser(const std::function<std::string()>& body) {
    return InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return std::string("SKIP cannot give up root");
        }
        return body();
    });
}

enum class Stdout { Kept, Pipe, DeletedFile };

// Runs `body` in a forked child whose standard output is a pipe, or a file in `folder` that has
// been deleted.
std::string WithStdout(Stdout what, const std::string& folder,
                       const std::function<std::string()>& body) {
    return InChild([&] {
        int fd = -1;
        if (what == Stdout::Pipe) {
            int ends[2];
            if (::pipe(ends) != 0) return std::string("pipe failed");
            fd = ends[1];
        } else {
            const std::string gone = folder + "/gone.wav";
            fd = ::open(gone.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::unlink(gone.c_str());
        }
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) return std::string("no standard output");
        return body();
    });
}

TEST_F(SaveTest, EveryKindOfDestinationIsWrittenOrRefusedAsAWhole) {
    ::chmod(dir.path.c_str(), 0755);  // so a child that gave up root can reach its rows
    const bool root = ::geteuid() == 0;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const Bytes rendered = Rendered(Format(), Sound(), kRequest);
    std::string name255;  // the longest name a folder takes: 83 three-byte characters and "ab.wav"
    for (int i = 0; i < 83; ++i) name255 += "あ";
    name255 += "ab.wav";
    ASSERT_EQ(name255.size(), 255u);

    struct Row {
        const char* name;
        std::function<std::string()> prepare;  // makes the scene, returns the destination
        const char* reason;                    // "" for a save that must succeed
        std::string written = "";              // the file that then holds the result
        bool asOtherUser = false;
        Stdout stdoutIs = Stdout::Kept;  // what /dev/stdout leads to while the save runs
    };
    const std::vector<Row> rows = {
        {"new file", [&] { return Path("new.wav"); }, "", Path("new.wav")},
        {"existing file of another owner",
         [&] {
             const std::string p = OldFile("old.wav", 0640);
             if (root) {
                 EXPECT_EQ(::chown(p.c_str(), 65534, 65534), 0);
             }
             return p;
         },
         "", Path("old.wav")},
        {"symbolic link to a file",
         [&] {
             OldFile("linked.wav", 0600);
             fs::create_symlink("linked.wav", Path("link.wav"));
             return Path("link.wav");
         },
         "", Path("linked.wav")},
        {"dangling symbolic link",
         [&] {
             fs::create_symlink("made.wav", Path("dangling.wav"));
             return Path("dangling.wav");
         },
         "", Path("made.wav")},
        {"folder",
         [&] {
             fs::create_directory(Path("folder"));
             return Path("folder");
         },
         "通常のファイルではありません"},
        {"named pipe",
         [&] {
             ::mkfifo(Path("pipe").c_str(), 0644);
             return Path("pipe");
         },
         "通常のファイルではありません"},
        {"device node", [] { return std::string("/dev/null"); }, "通常のファイルではありません"},
        {"read-only file", [&] { return OldFile("readonly.wav", 0444); },
         "書き込みが許可されていません", "", true},
        {"read-only folder, new file",
         [&] {
             fs::create_directory(Path("locked"));
             ::chmod(Path("locked").c_str(), 0555);
             return Path("locked/new.wav");
         },
         "書き込みが許可されていません", "", true},
        {"read-only folder, own file",
         [&] {
             fs::create_directory(Path("locked2"));
             const std::string p = OldFile("locked2/own.wav", 0644);
             if (root) {
                 EXPECT_EQ(::chown(p.c_str(), 65534, 65534), 0);
             }
             ::chmod(Path("locked2").c_str(), 0555);
             return p;
         },
         "書き込みが許可されていません", "", true},
        {"255-byte name", [&] { return Path(name255); }, "", Path(name255)},
        {"256-byte name", [&] { return Path(name255 + "x"); }, "ファイル名が長すぎます"},
        {"missing folder", [&] { return Path("missing/out.wav"); }, "保存先のフォルダがありません"},
        {"extended attributes and an access list",
         [&] {
             const std::string p = OldFile("listed.wav", 0640);
             const std::string list = AccessList();
             if (::setxattr(p.c_str(), "user.rundelt.note", "kept", 4, 0) != 0 ||
                 ::setxattr(p.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) !=
                     0) {
                 ADD_FAILURE() << "this file system keeps no extended attributes";
             }
             return p;
         },
         "", Path("listed.wav")},
        {"empty name", [] { return std::string(); }, "保存先のファイル名がありません"},
        {"a file named as a folder",
         [&] {
             OldFile("plain.wav");
             return Path("plain.wav/");
         },
         "通常のファイルではありません"},
        {"a pipe as /dev/stdout", [] { return std::string("/dev/stdout"); },
         "通常のファイルではありません", "", false, Stdout::Pipe},
        {"a deleted file as /dev/stdout", [] { return std::string("/dev/stdout"); },
         "保存先のファイル名がありません", "", false, Stdout::DeletedFile},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string destination = row.prepare();
        const fs::path named(destination);  // "x/" names x
        const std::string folder =
            (named.has_filename() ? named : named.parent_path()).parent_path().string();
        const Snapshot before = Take(destination);
        const Snapshot writtenBefore = row.written.empty() ? Snapshot{} : Take(row.written);
        const std::set<std::string> folderBefore =
            fs::exists(folder) ? Entries(folder) : std::set<std::string>{};

        const auto save = [&] {
            return files::WriteLoopedWaveFile(destination, Format(), Sound(), kRequest);
        };
        const std::string message = row.asOtherUser ? AsOtherUser(save)
                                    : row.stdoutIs == Stdout::Kept
                                        ? save()
                                        : WithStdout(row.stdoutIs, dir.path, save);
        if (message.rfind("SKIP ", 0) == 0) {
            ADD_FAILURE() << message;  // CI runs as root, and root can always give itself up
            continue;
        }

        if (*row.reason != '\0') {
            EXPECT_EQ(message, "保存に失敗しました：" + std::string(row.reason));
            EXPECT_TRUE(Take(destination) == before) << "the destination changed";
        } else {
            EXPECT_EQ(message, "");
            const Snapshot after = Take(row.written);
            EXPECT_TRUE(after.bytes == rendered) << "the result is not where the destination leads";
            EXPECT_EQ(after.mode, writtenBefore.exists ? writtenBefore.mode : 0666 & ~mask);
            EXPECT_EQ(after.attributes, writtenBefore.attributes);
            if (writtenBefore.exists && root) {
                EXPECT_EQ(after.owner, writtenBefore.owner);
                EXPECT_EQ(after.group, writtenBefore.group);
            }
            if (before.type == S_IFLNK) {
                EXPECT_EQ(Take(destination).link, before.link) << "the link must stay a link";
            }
        }
        std::set<std::string> expected = folderBefore;
        if (*row.reason == '\0') expected.insert(fs::path(row.written).filename().string());
        if (fs::exists(folder) && folder != "/dev") {
            EXPECT_EQ(Entries(folder), expected) << "something was left behind or removed";
        }
    }
    EXPECT_FALSE(fs::exists(Path("missing"))) << "the missing folder was created";
    EXPECT_FALSE(fs::exists(Path("gone.wav (deleted)"))) << "a link's text was taken as a name";
    ::chmod(Path("locked").c_str(), 0755);
    ::chmod(Path("locked2").c_str(), 0755);
}

// A save ended from outside while it writes, in a child that writes a long file: with the
// unnamed file nothing can be left even by SIGKILL; with a named one the polite signals clean up.
TEST_F(SaveTest, ASaveEndedBySignalLeavesNothing) {
    // 1 MiB of sound looped 1000 times: a file of about 1 GiB that is never finished.
    const PcmFormat f = Format();
    const Bytes sound = testwave::Pattern(1u << 20);
    const LoopRequest longSave{0, 1 << 18, 1000, 0};
    constexpr off_t kStartedBytes = 4 << 20;

    struct Row {
        files::TempKind kind;
        int signal;
    };
    for (const Row row :
         {Row{files::TempKind::Unnamed, SIGTERM}, Row{files::TempKind::Unnamed, SIGKILL},
          Row{files::TempKind::Named, SIGTERM}, Row{files::TempKind::Named, SIGINT},
          Row{files::TempKind::Named, SIGHUP}}) {
        SCOPED_TRACE(std::string(row.kind == files::TempKind::Unnamed ? "unnamed, " : "named, ") +
                     ::strsignal(row.signal));
        const std::string target = OldFile("out.wav", 0640);
        const Snapshot before = Take(target);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            files::AtomicSave file(row.kind);
            if (!file.Create(target).empty()) ::_exit(3);
            if (!wave::RenderLoopedWave(f, sound, longSave, file).empty()) ::_exit(4);
            ::_exit(file.Commit().empty() ? 0 : 5);
        }
        // Wait until the child's file in our folder holds a few MiB, then end it.
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
        bool started = false;
        for (int tries = 0; tries < 20000 && !started; ++tries) {
            std::error_code ignored;
            for (const auto& fd : fs::directory_iterator(fds, ignored)) {
                const std::string link = fs::read_symlink(fd.path(), ignored).string();
                struct stat st {};
                if (link.rfind(dir.path + "/", 0) == 0 && ::stat(fd.path().c_str(), &st) == 0 &&
                    st.st_size >= kStartedBytes) {
                    started = true;
                }
            }
            if (!started) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        ::kill(pid, row.signal);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        EXPECT_TRUE(started) << "the save was never seen writing";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << "status " << status;
        EXPECT_TRUE(Take(target) == before) << "the destination changed";
        EXPECT_EQ(Entries(dir.path), std::set<std::string>{"out.wav"})
            << "something was left behind";
    }
}

}  // namespace
