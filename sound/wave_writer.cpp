// The looped file: its sizes, its header, its tail, and the safe way it reaches the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#include "sound/huge_pages.h"
#include "sound/le_bytes.h"
#include "sound/wave_core.h"

namespace wavemisc {

namespace {

std::string SaveFailed(std::string_view reason) {
    std::string out(kSaveFailed);
    out += "：";
    out += reason;
    return out;
}

std::string SaveFailedErrno(int error) {
    return SaveFailed(std::generic_category().message(error));
}

using detail::PutId;
using detail::PutU16;
using detail::PutU32;

std::span<const std::uint8_t> Slice(std::span<const std::uint8_t> bytes, std::int64_t from,
                                    std::int64_t count) {
    return bytes.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(count));
}

// A file being written under a temporary name beside its destination; it takes the
// destination's place only when everything has been written and flushed.
class AtomicFile final : public ByteSink {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() override { Abandon(); }

    // "" or the save message.
    std::string Create(const std::string& path) {
        path_ = path;
        const std::size_t slash = path.find_last_of('/');
        dir_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

        // A replaced file keeps its permission bits; a new one gets 0666 less the umask, which
        // the kernel applies for us at creation.
        struct stat old {};
        const bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);

        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = dir_ + "/." + base + "." + std::to_string(::getpid()) + "." +
                                     std::to_string(++counter) + ".tmp";
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                temp_ = name;
                break;
            }
            if (errno != EEXIST) return SaveFailedErrno(errno);
        }
        if (fd_ < 0) return SaveFailedErrno(EEXIST);
        if (replacing && ::fchmod(fd_, old.st_mode & 07777) != 0) {
            const int e = errno;
            Abandon();
            return SaveFailedErrno(e);
        }
        return "";
    }

    bool Write(std::span<const std::uint8_t> bytes) override {
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
        }
        return true;
    }

    std::string FailureReason() const override { return SaveFailedErrno(error_); }

    // Flush, close and move into place. "" or the save message; on a message nothing is left.
    std::string Commit() {
        if (::fsync(fd_) != 0) {
            const int e = errno;
            Abandon();
            return SaveFailedErrno(e);
        }
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) {
            const int e = errno;
            Abandon();
            return SaveFailedErrno(e);
        }
        if (::rename(temp_.c_str(), path_.c_str()) != 0) {
            const int e = errno;
            Abandon();
            return SaveFailedErrno(e);
        }
        temp_.clear();
        // Make the new name itself durable; the data already is, so a failure here is not one.
        const int dirFd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
        return "";
    }

private:
    void Abandon() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
        if (!temp_.empty()) ::unlink(temp_.c_str());
        temp_.clear();
    }

    std::string path_;
    std::string dir_;
    std::string temp_;
    int fd_ = -1;
    int error_ = EIO;
};

}  // namespace

std::string ByteSink::FailureReason() const { return SaveFailed("書き込みに失敗しました"); }

std::string PlanLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                           const LoopRequest& request, LoopedLayout& layout) {
    // The tail is counted in frames in the header but in bytes per second in its buffer; only a
    // consistent block makes the two agree.
    if (!IsConsistent(format) || format.nBlockAlign < 1 || format.nSamplesPerSec < 1) {
        return SaveFailed("フォーマットが不整合です");
    }
    const std::int64_t blockAlign = format.nBlockAlign;
    if (request.loopStart < 0 || request.loopStart >= request.loopEnd ||
        std::int64_t{request.loopEnd} * blockAlign > static_cast<std::int64_t>(sound.size())) {
        return SaveFailed("ループ範囲が不正です");
    }
    if (request.repeatCount < 0 || request.fadeSeconds < 0) {
        return SaveFailed("繰り返し回数またはフェードの長さが不正です");
    }
    // Each step is a 32-bit quantity of the file; each must stay inside that range.
    const std::int64_t loopFrames = std::int64_t{request.loopEnd} - request.loopStart;
    const std::int64_t passFrames = loopFrames * request.repeatCount;
    const std::int64_t bodyFrames = passFrames + request.loopStart;
    const std::int64_t tailFrames = std::int64_t{request.fadeSeconds} * format.nSamplesPerSec;
    const std::int64_t frames = bodyFrames + tailFrames;
    const std::int64_t dataBytes = blockAlign * frames;
    for (const std::int64_t value : {passFrames, bodyFrames, tailFrames, frames, dataBytes + 36}) {
        if (value > kInt32Max) return SaveFailed("ファイルが大きすぎます");
    }
    layout.introBytes = std::int64_t{request.loopStart} * blockAlign;
    layout.loopBytes = loopFrames * blockAlign;
    layout.tailFrames = tailFrames;
    layout.tailBytes = std::int64_t{request.fadeSeconds} * format.nAvgBytesPerSec;  // = M * BA here
    layout.dataBytes = dataBytes;
    return "";
}

std::vector<std::uint8_t> WaveHeader(const PcmFormat& format, std::int64_t dataBytes) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderBytes);
    const auto data = static_cast<std::uint32_t>(dataBytes);
    PutId(out, "RIFF");
    PutU32(out, data + 36);  // rest of the file
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    PutU32(out, 16);  // size of the format block
    const std::vector<std::uint8_t> block = FormatBlockBytes(format);
    out.insert(out.end(), block.begin(), block.end());  // the loaded block, byte for byte
    PutId(out, "data");
    PutU32(out, data);  // sample bytes that follow
    return out;
}

std::vector<std::uint8_t> BuildTail(const PcmFormat& format, std::span<const std::uint8_t> sound,
                                    const LoopRequest& request, const LoopedLayout& layout) {
    const auto tailBytes = static_cast<std::size_t>(std::max<std::int64_t>(layout.tailBytes, 0));
    std::vector<std::uint8_t> tail;
    tail.reserve(tailBytes);
    PreferHugePages(tail.data(), tailBytes);
    tail.resize(tailBytes);
    const std::int64_t blockAlign = format.nBlockAlign;
    const std::int64_t loopFrames = std::int64_t{request.loopEnd} - request.loopStart;
    const std::int64_t from = std::int64_t{request.loopStart} * blockAlign;
    std::int64_t remaining = layout.tailFrames;
    std::int64_t position = 0;
    // Whole passes of the loop from its start, then the first frames of one more.
    while (remaining > 0 && loopFrames > 0) {
        const std::int64_t chunk = request.loopStart + remaining <= request.loopEnd ? remaining : loopFrames;
        const std::int64_t bytes = chunk * blockAlign;
        if (from < 0 || from + bytes > static_cast<std::int64_t>(sound.size()) ||
            position + bytes > static_cast<std::int64_t>(tail.size())) {
            break;  // a layout not made by PlanLoopedWave for these inputs: never leave the buffers
        }
        const std::span<const std::uint8_t> source = Slice(sound, from, bytes);
        std::copy(source.begin(), source.end(), tail.begin() + static_cast<std::ptrdiff_t>(position));
        position += bytes;
        remaining -= chunk;
    }
    ApplyFade(tail, format.wBitsPerSample);
    return tail;
}

std::string RenderLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                             const LoopRequest& request, ByteSink& sink) {
    LoopedLayout layout;
    if (std::string message = PlanLoopedWave(format, sound, request, layout); !message.empty()) {
        return message;
    }
    const auto put = [&](std::span<const std::uint8_t> bytes) {
        return bytes.empty() || sink.Write(bytes);
    };
    if (!put(WaveHeader(format, layout.dataBytes))) return sink.FailureReason();
    if (!put(Slice(sound, 0, layout.introBytes))) return sink.FailureReason();
    // The loop needs no copy: every pass is written straight from the sound.
    const std::span<const std::uint8_t> loop = Slice(sound, layout.introBytes, layout.loopBytes);
    for (std::int32_t pass = 0; pass < request.repeatCount; ++pass) {
        if (!put(loop)) return sink.FailureReason();
    }
    std::vector<std::uint8_t> tail;
    try {
        tail = BuildTail(format, sound, request, layout);
    } catch (const std::bad_alloc&) {
        return SaveFailed("メモリが不足しています");
    }
    if (!put(tail)) return sink.FailureReason();
    return "";
}

std::string WriteLoopedWaveFile(const std::string& path, const PcmFormat& format,
                                std::span<const std::uint8_t> sound, const LoopRequest& request) {
    // Every refusal of the plan comes before anything is created.
    LoopedLayout layout;
    if (std::string message = PlanLoopedWave(format, sound, request, layout); !message.empty()) {
        return message;
    }
    AtomicFile file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    if (std::string message = RenderLoopedWave(format, sound, request, file); !message.empty()) {
        return message;  // the temporary file goes with `file`
    }
    return file.Commit();
}

std::string WriteFileAtomically(const std::string& path,
                                std::span<const std::span<const std::uint8_t>> parts) {
    AtomicFile file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    for (const std::span<const std::uint8_t> part : parts) {
        if (!part.empty() && !file.Write(part)) return file.FailureReason();
    }
    return file.Commit();
}

}  // namespace wavemisc
