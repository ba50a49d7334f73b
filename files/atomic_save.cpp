// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/atomic_save.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

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

// Copies every extended attribute of the file at `from` that the system lets us set to `to`.
// One that may not be set (a security label, a file system without them) is passed over, as a
// change of owner is.
void CopyExtendedAttributes(const std::string& from, int to) {
    const ssize_t listBytes = ::listxattr(from.c_str(), nullptr, 0);
    if (listBytes <= 0) return;
    std::vector<char> names(static_cast<std::size_t>(listBytes));
    const ssize_t got = ::listxattr(from.c_str(), names.data(), names.size());
    if (got <= 0) return;
    std::vector<char> value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        const ssize_t valueBytes = ::getxattr(from.c_str(), name, nullptr, 0);
        if (valueBytes < 0) continue;
        value.resize(static_cast<std::size_t>(valueBytes));
        const ssize_t read = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (read < 0) continue;
        ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0);
    }
}

// Whether a link's text names the file the link itself leads to. Links in /proc name an open
// file by its text only while it has a name: a deleted file reads "x.wav (deleted)", a pipe
// "pipe:[1234]"; such text is never a name to save to.
bool NamesWhatItLeadsTo(const std::string& link, const std::string& text) {
    struct stat through {};
    struct stat named {};
    return text.starts_with('/') && ::stat(link.c_str(), &through) == 0 &&
           ::stat(text.c_str(), &named) == 0 && through.st_dev == named.st_dev &&
           through.st_ino == named.st_ino;
}

bool InProc(const std::string& path) { return path.starts_with("/proc/"); }

}  // namespace

std::string ResolveSaveTarget(const std::string& path, SaveTarget& target) {
    if (path.empty()) return wave::SaveFailed(wave::SaveError::NoName);
    // A path that ends in a slash names a folder, whatever is there.
    if (path.back() == '/') return wave::SaveFailed(wave::SaveError::NotRegularFile);
    // What the path leads to, all links followed, decides first: a pipe behind /dev/stdout is
    // refused at once, never taken for a new file in /proc.
    struct stat reached {};
    if (::stat(path.c_str(), &reached) == 0 && !S_ISREG(reached.st_mode))
        return wave::SaveFailed(wave::SaveError::NotRegularFile);
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
        if (InProc(current) && !NamesWhatItLeadsTo(current, link))
            return wave::SaveFailed(wave::SaveError::NoName);
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
            // Our own file, then, in one of our groups; where neither may be, it stays ours.
            if (::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0) {
            }
        }
        if (::fchmod(fd_, old.st_mode & 07777) != 0) return Discard(SaveFailedErrno(errno));
        // Then its extended attributes, its access control list among them, as cp
        // --preserve=xattr keeps them: after the mode bits, so the list's mask is its own again.
        CopyExtendedAttributes(target_.path, fd_);
    }
    return "";
}

template <typename Make>
std::string AtomicSave::TakeFreshName(Make make) {
    name_.lock();  // released once the name is gone again
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // The name is recorded before the file is made, so nothing between the two (no memory
        // for the record) can leave a file nobody knows of.
        temp_ = TempNameIn(target_.folder);
        const HoldEndingSignals hold;
        RegisterTempName(temp_);
        if (make(temp_)) return "";
        const int error = errno;
        ForgetTempName();
        temp_.clear();
        if (error != EEXIST) {
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

std::string AtomicSave::Discard(std::string message) {
    Abandon();
    if (!left_.empty()) message = wave::WithFileLeft(std::move(message), left_);
    return message;
}

std::string AtomicSave::Commit() {
    const auto fail = [this](int error) { return Discard(SaveFailedErrno(error)); };
    if (fd_ < 0) return fail(EBADF);
    if (::fsync(fd_) != 0) return fail(errno);
    if (temp_.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        std::string message = TakeFreshName([&self](const std::string& name) {
            return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        });
        if (!message.empty()) return Discard(std::move(message));
    }
    if (::close(std::exchange(fd_, -1)) != 0) return fail(errno);
    {
        const HoldEndingSignals hold;
        if (::rename(temp_.c_str(), target_.path.c_str()) != 0) return fail(errno);
        ForgetTempName();
        temp_.clear();
        name_.unlock();
    }
    // Make the new name itself durable. The file is in place by now; a failure here is told as
    // what it is, not as a save that changed nothing.
    const int folderFd = ::open(target_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return wave::SavedButNotSure(SaveReasonErrno(errno));
    const int synced = ::fsync(folderFd);
    const int error = errno;
    ::close(folderFd);
    if (synced != 0) return wave::SavedButNotSure(SaveReasonErrno(error));
    return "";
}

void AtomicSave::Abandon() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temp_.empty()) {
        const HoldEndingSignals hold;
        if (::unlink(temp_.c_str()) != 0 && errno != ENOENT) left_ = temp_;
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
        if (!part.empty() && !file.Write(part)) return file.Discard(file.FailureReason());
    }
    return file.Commit();
}

}  // namespace files
