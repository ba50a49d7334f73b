// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/huge_pages.h"

namespace files {

FileSource::~FileSource() { ::close(fd_); }

bool FileSource::Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) {
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

void FileSource::AdviseBuffer(std::uint8_t* bytes, std::size_t size) {
    PreferHugePages(bytes, size);
}

std::unique_ptr<FileSource> OpenFileSource(const std::string& path) {
    // Non-blocking only so that a FIFO given by mistake cannot hang the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, static_cast<std::int64_t>(st.st_size));
}

}  // namespace files
