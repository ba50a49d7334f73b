// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/wave_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/huge_pages.h"

namespace files {

namespace {

class FileSource final : public wave::ByteSource {
public:
    explicit FileSource(int fd, std::int64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::int64_t Size() const override { return size_; }
    bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) override {
        // pread may return less than asked (signals, large requests); carry on where it stopped.
        while (size > 0) {
            const ssize_t got = ::pread(fd_, dest, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // an error, or the file shrank under us
            const auto n = static_cast<std::size_t>(got);
            dest += n;
            size -= n;
            offset += got;
        }
        return true;
    }
    void AdviseBuffer(std::uint8_t* bytes, std::size_t size) override {
        PreferHugePages(bytes, size);
    }

private:
    int fd_;
    std::int64_t size_;
};

wave::ParseResult CannotOpen() {
    wave::ParseResult result;
    result.error = wave::WaveError::CannotOpen;
    return result;
}

}  // namespace

wave::ParseResult ReadWaveFile(const std::string& path, wave::Payload payload) {
    // Non-blocking only so that a FIFO given by mistake cannot hang the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return CannotOpen();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return CannotOpen();
    }
    FileSource source(fd, static_cast<std::int64_t>(st.st_size));
    return wave::ParseWave(source, payload);
}

}  // namespace files
