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
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sound/wave_core.h"
#include "tests/support/wave_bytes.h"

namespace {

namespace fs = std::filesystem;
using testwave::Bytes;
using wavemisc::LoopRequest;
using wavemisc::PcmFormat;

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

class MemorySink final : public wavemisc::ByteSink {
public:
    bool Write(std::span<const std::uint8_t> bytes) override {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return true;
    }
    Bytes out;
};

Bytes Rendered(const PcmFormat& format, const Bytes& sound, const LoopRequest& request) {
    MemorySink sink;
    const std::string message = wavemisc::RenderLoopedWave(format, sound, request, sink);
    if (!message.empty()) throw std::runtime_error("render refused: " + message);
    return sink.out;
}

// What a path holds, to compare before and after.
struct Snapshot {
    bool exists = false;
    bool folder = false;
    mode_t mode = 0;
    Bytes bytes;
    std::set<std::string> entries;  // of a folder

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

Snapshot Take(const std::string& path) {
    Snapshot s;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.mode = st.st_mode & 07777;
    s.folder = S_ISDIR(st.st_mode);
    if (s.folder) {
        s.entries = Entries(path);
    } else {
        s.bytes = testwave::ReadFile(path);
    }
    return s;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

bool StartsWithSaveFailed(const std::string& message) {
    return message.rfind(wavemisc::kSaveFailed, 0) == 0;
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
    std::string result;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) result.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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
    void ExpectRefusedSave(const std::string& target, const std::string& message, const Snapshot& before,
                           const std::set<std::string>& folderBefore) {
        EXPECT_TRUE(StartsWithSaveFailed(message)) << message;
        EXPECT_TRUE(Take(target) == before) << "the destination changed";
        EXPECT_EQ(Entries(dir.path), folderBefore) << "a file was left behind or removed";
    }

    testwave::TempDir dir;
};

TEST_F(SaveTest, RefusedSavesLeaveEverythingAsItWas) {
    ::mkdir(Path("folder").c_str(), 0755);
    testwave::WriteFile(Path("folder/inside.wav"), testwave::Pattern(10));
    const std::string existing = OldFile("existing.wav", 0640);
    struct Row {
        const char* name;
        std::string target;
        LoopRequest request;
    };
    for (const Row& row : {Row{"folder does not exist", Path("missing/out.wav"), kRequest},
                           Row{"destination is a folder", Path("folder"), kRequest},
                           Row{"repeat at INT32_MAX, new file", Path("new.wav"), {1000, 4000, 2147483647, 1}},
                           Row{"repeat at INT32_MAX, over a file", existing, {1000, 4000, 2147483647, 1}},
                           Row{"fade at INT32_MAX", existing, {1000, 4000, 2, 2147483647}},
                           Row{"D fits 32 bits, D + 36 does not", existing, {1000, 1001, 536869903, 0}}}) {
        SCOPED_TRACE(row.name);
        const Snapshot before = Take(row.target);
        const std::set<std::string> folderBefore = Entries(dir.path);
        const std::string message = wavemisc::WriteLoopedWaveFile(row.target, Format(), Sound(), row.request);
        ExpectRefusedSave(row.target, message, before, folderBefore);
    }
    EXPECT_FALSE(fs::exists(Path("missing"))) << "the missing folder was created";
}

TEST_F(SaveTest, FolderWithoutWriteRightsLeavesTheFileAsItWas) {
    // Root writes through permission bits, so the save runs in a child that gives up root first.
    ::chmod(dir.path.c_str(), 0755);
    ::mkdir(Path("locked").c_str(), 0755);
    const std::string target = Path("locked/out.wav");
    testwave::WriteFile(target, testwave::Pattern(5000));
    ::chmod(target.c_str(), 0644);
    ::chmod(Path("locked").c_str(), 0555);
    const Snapshot before = Take(target);
    const std::set<std::string> folderBefore = Entries(Path("locked"));

    const std::string message = InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return std::string("SKIP cannot give up root");
        // Probe: if a file can still be made here, the permission bits do not hold for us.
        const std::string probe = Path("locked/probe");
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            return std::string("SKIP permission bits do not stop writes here");
        }
        return wavemisc::WriteLoopedWaveFile(target, Format(), Sound(), kRequest);
    });
    ::chmod(Path("locked").c_str(), 0755);  // so the folder can be cleaned up
    if (message.rfind("SKIP ", 0) == 0) GTEST_SKIP() << message.substr(5);
    EXPECT_TRUE(StartsWithSaveFailed(message)) << message;
    EXPECT_TRUE(Take(target) == before) << "the destination changed";
    EXPECT_EQ(Entries(Path("locked")), folderBefore);
}

TEST_F(SaveTest, FileSizeLimitMidWriteLeavesTheFileAsItWas) {
    // A full disk, as near as a test can get: writes past 10000 bytes fail with EFBIG.
    const std::string target = OldFile("out.wav", 0640);
    const Snapshot before = Take(target);
    const std::set<std::string> folderBefore = Entries(dir.path);
    const std::string message = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{10000, 10000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
        return wavemisc::WriteLoopedWaveFile(target, Format(), Sound(), kRequest);
    });
    ExpectRefusedSave(target, message, before, folderBefore);
}

TEST_F(SaveTest, SavingOverTheLoadedFileWritesTheRightResult) {
    const std::string song = Path("song.wav");
    testwave::WriteFile(song, testwave::Wave(testwave::Pcm(16, 2, 1000), Sound()));
    const wavemisc::ParseResult loaded = wavemisc::ReadWaveFile(song);
    ASSERT_EQ(loaded.error, wavemisc::WaveError::None);
    const Bytes expected = Rendered(loaded.wave.format, loaded.wave.data, kRequest);

    EXPECT_EQ(wavemisc::WriteLoopedWaveFile(song, loaded.wave.format, loaded.wave.data, kRequest), "");
    EXPECT_TRUE(testwave::ReadFile(song) == expected);
    EXPECT_EQ(Entries(dir.path), std::set<std::string>{"song.wav"});
}

TEST_F(SaveTest, SavingOverALongerFileLeavesExactly44PlusDBytes) {
    const std::string target = Path("out.wav");
    testwave::WriteFile(target, Bytes(200000, 0xEE));
    const Bytes expected = Rendered(Format(), Sound(), kRequest);
    ASSERT_EQ(expected.size(), 44u + 32000u);

    EXPECT_EQ(wavemisc::WriteLoopedWaveFile(target, Format(), Sound(), kRequest), "");
    const Bytes written = testwave::ReadFile(target);
    EXPECT_EQ(written.size(), 44u + 32000u);
    EXPECT_TRUE(written == expected);
    EXPECT_EQ(Entries(dir.path), std::set<std::string>{"out.wav"});
}

TEST_F(SaveTest, ReplacedFileKeepsItsPermissionBitsAndANewFileGetsTheUsualOnes) {
    for (const mode_t mode : {mode_t{0640}, mode_t{0600}, mode_t{0751}, mode_t{0444}}) {
        const std::string target = OldFile("mode" + std::to_string(mode) + ".wav", mode);
        EXPECT_EQ(wavemisc::WriteLoopedWaveFile(target, Format(), Sound(), kRequest), "");
        EXPECT_EQ(ModeOf(target), mode) << std::oct << "was 0" << mode;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::string fresh = Path("fresh.wav");
    EXPECT_EQ(wavemisc::WriteLoopedWaveFile(fresh, Format(), Sound(), kRequest), "");
    EXPECT_EQ(ModeOf(fresh), 0666 & ~mask) << "a new file should be created like any other";
}

}  // namespace
