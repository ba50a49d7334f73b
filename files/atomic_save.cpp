// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/atomic_save.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include "files/huge_pages.h"
#include "files/save_errors.h"
#include "wave/user_texts.h"

namespace files {

namespace {

constexpr int kMaxLinkHops = 40;    // as the kernel allows
constexpr int kNameAttempts = 100;  // fresh hidden names tried before giving up

// ---- Signals -----------------------------------------------------------------------------
// Only what a handler may touch: a fixed buffer for the name and a flag that says it is valid.

constexpr std::array<int, 3> kEndingSignals{SIGINT, SIGTERM, SIGHUP};
char gTempName[PATH_MAX];
volatile std::sig_atomic_t gHaveTempName = 0;
std::array<struct sigaction, kEndingSignals.size()> gPreviousEnding{};
std::array<bool, kEndingSignals.size()> gInstalled{};
struct sigaction gPreviousFileSize {};
// Saves may run side by side (a batch saves several files at once): the handlers are in place
// while any save exists, and only one save at a time holds a temporary name, which is all the
// handler must know. An unnamed file takes its name just before the rename, so saves wait for
// each other only there; a named fallback holds it for the whole save.
std::mutex gSavesLock;
int gActiveSaves = 0;
std::mutex gNameLock;

// Removes the prepared name, then lets the signal do what it did before we came.
void RemoveTempAndReraise(int signal) {
    if (gHaveTempName != 0) ::unlink(gTempName);
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
        if (kEndingSignals[i] == signal) ::sigaction(signal, &gPreviousEnding[i], nullptr);
    }
    ::raise(signal);
}

void InstallSaveSignals() {
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
        gInstalled[i] = false;
        if (::sigaction(kEndingSignals[i], nullptr, &gPreviousEnding[i]) != 0) continue;
        // A signal the process ignores (nohup) stays ignored.
        if (gPreviousEnding[i].sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = RemoveTempAndReraise;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        gInstalled[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &gPreviousFileSize);
}

void RestoreSaveSignals() {
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
        if (gInstalled[i]) ::sigaction(kEndingSignals[i], &gPreviousEnding[i], nullptr);
    }
    ::sigaction(SIGXFSZ, &gPreviousFileSize, nullptr);
}

// Keeps the ending signals out while a name comes or goes, so a handler never sees it half made.
class HoldEndingSignals {
public:
    HoldEndingSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : kEndingSignals) sigaddset(&set, signal);
        ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~HoldEndingSignals() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HoldEndingSignals(const HoldEndingSignals&) = delete;
    HoldEndingSignals& operator=(const HoldEndingSignals&) = delete;

private:
    sigset_t previous_{};
};

void RegisterTempName(const std::string& name) {
    if (name.size() >= sizeof gTempName) return;  // the system refuses such a path anyway
    std::memcpy(gTempName, name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    gHaveTempName = 1;
}

void ForgetTempName() { gHaveTempName = 0; }

// ---- Names -------------------------------------------------------------------------------

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A short name of fixed length, so a destination name of any legal length leaves room for it.
std::string TempNameIn(const std::string& folder) {
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::array<unsigned char, 6> random{};
    if (::getrandom(random.data(), random.size(), GRND_NONBLOCK) !=
        static_cast<ssize_t>(random.size())) {
        static std::atomic<unsigned> counter{0};
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) ^
                            static_cast<std::uint64_t>(::getpid()) << 20 ^
                            ++counter * 0x9E3779B97F4A7C15u;
        for (unsigned char& byte : random) {
            byte = static_cast<unsigned char>(mix);
            mix = mix >> 8 | mix << 56;
        }
    }
    std::string name = folder + "/.rundelt-";
    for (const unsigned char byte : random) name += kLetters[byte % kLetters.size()];
    return name;
}

}  // namespace

std::string ResolveSaveTarget(const std::string& path, SaveTarget& target) {
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            // Not there: a new file, whose folder is tested when the file is made in it.
            if (errno != ENOENT) return SaveFailedErrno(errno);
            target.exists = false;
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            // Never open a pipe or device to find out: it could block, or it is not ours to
            // replace.
            if (!S_ISREG(st.st_mode)) return wave::SaveFailed(wave::SaveError::NotRegularFile);
            // As the shell does for ">": a file the user may not write is not replaced either.
            if (::faccessat(AT_FDCWD, current.c_str(), W_OK, AT_EACCESS) != 0) {
                return SaveFailedErrno(errno);
            }
            target.exists = true;
            target.old = st;
            break;
        }
        if (hops >= kMaxLinkHops) return SaveFailedErrno(ELOOP);
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0) return SaveFailedErrno(errno);
        if (static_cast<std::size_t>(length) >= link.size()) return SaveFailedErrno(ENAMETOOLONG);
        link.resize(static_cast<std::size_t>(length));
        // A relative link is read from the link's own folder.
        current = link.starts_with('/') ? link : FolderOf(current) + "/" + link;
    }
    target.path = current;
    target.folder = FolderOf(current);
    return "";
}

std::string CheckSaveDestination(const std::string& path) {
    SaveTarget target;
    if (std::string message = ResolveSaveTarget(path, target); !message.empty()) return message;
    // The new name is made in the folder, so the folder must be there and ours to write.
    struct stat folder {};
    if (::stat(target.folder.c_str(), &folder) != 0) return SaveFailedErrno(errno);
    if (!S_ISDIR(folder.st_mode)) return SaveFailedErrno(ENOTDIR);
    if (::faccessat(AT_FDCWD, target.folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return SaveFailedErrno(errno);
    }
    return "";
}

AtomicSave::AtomicSave(TempKind kind) : name_(gNameLock, std::defer_lock), kind_(kind) {
    const std::lock_guard<std::mutex> hold(gSavesLock);
    if (gActiveSaves++ == 0) InstallSaveSignals();
}

AtomicSave::~AtomicSave() {
    Abandon();
    const std::lock_guard<std::mutex> hold(gSavesLock);
    if (--gActiveSaves == 0) RestoreSaveSignals();
}

std::string AtomicSave::Create(const std::string& path) {
    if (std::string message = ResolveSaveTarget(path, target_); !message.empty()) return message;
    // The unnamed file is named through /proc; without it, a named file from the start.
    if (kind_ == TempKind::Unnamed && ::access("/proc/self/fd", X_OK) != 0) kind_ = TempKind::Named;
    if (kind_ == TempKind::Unnamed) {
        // A new file gets 0666 less the umask, which the kernel applies for us.
        fd_ = ::open(target_.folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int e = errno;
            // File systems without unnamed files say so in one of these ways.
            if (e != EOPNOTSUPP && e != EISDIR && e != EINVAL) return SaveFailedErrno(e);
            kind_ = TempKind::Named;
        }
    }
    if (kind_ == TempKind::Named) {
        std::string message = TakeFreshName([this](const std::string& name) {
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return fd_ >= 0;
        });
        if (!message.empty()) return message;
    }
    if (target_.exists) {
        // A replaced file stays whose it was, where we may make it so; then its permission bits,
        // after the owner, because a change of owner clears the set-id bits.
        const struct stat& old = target_.old;
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0 && errno == EPERM) {
            ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);  // our own file, one of our groups
        }
        if (::fchmod(fd_, old.st_mode & 07777) != 0) {
            const int e = errno;
            Abandon();
            return SaveFailedErrno(e);
        }
    }
    return "";
}

template <typename Make>
std::string AtomicSave::TakeFreshName(Make make) {
    name_.lock();  // released once the name is gone again
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = TempNameIn(target_.folder);
        const HoldEndingSignals hold;
        if (make(name)) {
            temp_ = name;
            RegisterTempName(temp_);
            return "";
        }
        if (errno != EEXIST) {
            const int error = errno;
            name_.unlock();
            return SaveFailedErrno(error);
        }
    }
    name_.unlock();
    return SaveFailedErrno(EEXIST);
}

bool AtomicSave::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return false;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t put = ::write(fd_, p, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error_ = put < 0 ? errno : EIO;
            return false;
        }
        p += put;
        left -= static_cast<std::size_t>(put);
        written_ += put;
    }
    StartWriteBack();
    return true;
}

void AtomicSave::StartWriteBack() {
#ifdef SYNC_FILE_RANGE_WRITE
    // Only a start: the data reaches the disk while the rest is rendered, and the fsync before
    // the rename has less to wait for. The fsync alone decides whether the save succeeds.
    constexpr std::int64_t kWriteBackBytes = std::int64_t{8} << 20;
    if (written_ - flushedTo_ < kWriteBackBytes) return;
    ::sync_file_range(fd_, flushedTo_, written_ - flushedTo_, SYNC_FILE_RANGE_WRITE);
    flushedTo_ = written_;
#endif
}

std::string AtomicSave::FailureReason() const {
    return SaveFailedErrno(error_ != 0 ? error_ : EIO);
}

void AtomicSave::AdviseBuffer(std::uint8_t* bytes, std::size_t size) {
    PreferHugePages(bytes, size);
}

std::string AtomicSave::Commit() {
    const auto fail = [this](int error) {
        Abandon();
        return SaveFailedErrno(error);
    };
    if (fd_ < 0) return fail(EBADF);
    if (::fsync(fd_) != 0) return fail(errno);
    if (temp_.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        std::string message = TakeFreshName([&self](const std::string& name) {
            return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        });
        if (!message.empty()) {
            Abandon();
            return message;
        }
    }
    if (::close(std::exchange(fd_, -1)) != 0) return fail(errno);
    {
        const HoldEndingSignals hold;
        if (::rename(temp_.c_str(), target_.path.c_str()) != 0) return fail(errno);
        ForgetTempName();
        temp_.clear();
        name_.unlock();
    }
    // Make the new name itself durable; the data already is, so a failure here is not one.
    const int folderFd = ::open(target_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return "";
}

void AtomicSave::Abandon() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temp_.empty()) {
        const HoldEndingSignals hold;
        ::unlink(temp_.c_str());
        ForgetTempName();
        temp_.clear();
        name_.unlock();
    }
}

std::string SaveAtomically(const std::string& path,
                           std::span<const std::span<const std::uint8_t>> parts) {
    AtomicSave file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    for (const std::span<const std::uint8_t> part : parts) {
        if (!part.empty() && !file.Write(part)) return file.FailureReason();
    }
    return file.Commit();
}

}  // namespace files
