// SPDX-License-Identifier: GPL-3.0-or-later
// A regular file as the readers' byte source: opened so that a pipe given by mistake can neither
// block the open nor be read, sized once, read with pread. POSIX; no Qt, SDL or FFTW.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "wave/riff_reader.h"

namespace files {

class FileSource final : public wave::ByteSource {
public:
    // Takes the descriptor, which it closes.
    FileSource(int fd, std::int64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::int64_t Size() const override { return size_; }
    bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) override;
    void AdviseBuffer(std::uint8_t* bytes, std::size_t size) override;

private:
    int fd_;
    std::int64_t size_;
};

// The regular file at `path`, or nullptr when it cannot be opened or is not a regular file.
std::unique_ptr<FileSource> OpenFileSource(const std::string& path);

}  // namespace files
