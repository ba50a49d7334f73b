// SPDX-License-Identifier: GPL-3.0-or-later
// A plain save, for comparison with rundelt-cli save: what a save from memory does with plain
// system calls only. Reads the input with one read() into fresh memory, then writes a 44-byte
// header, the intro, the loop REPEAT times and a tail of FADE seconds (copied, not faded) to a
// temporary file beside OUT with one write() each, fsyncs and renames it. The input must be a
// plain 44-byte header 16-bit stereo 44.1 kHz file, as bench_make_wave writes.
// Usage: bench_save_baseline IN OUT START END REPEAT FADE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool WriteAll(int fd, const std::uint8_t* p, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put <= 0) return false;
        p += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) return 2;
    const std::string out = argv[2];
    const std::size_t start = std::strtoul(argv[3], nullptr, 10) * 4;
    const std::size_t end = std::strtoul(argv[4], nullptr, 10) * 4;
    const long repeat = std::atol(argv[5]);
    const std::size_t tailBytes = std::strtoul(argv[6], nullptr, 10) * 176400;

    const int in = ::open(argv[1], O_RDONLY);
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0) return 1;
    const auto size = static_cast<std::size_t>(st.st_size);
    const std::unique_ptr<std::uint8_t[]> file(new std::uint8_t[size]);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(in, file.get() + done, size - done);
        if (got <= 0) return 1;
        done += static_cast<std::size_t>(got);
    }
    ::close(in);
    const std::uint8_t* sound = file.get() + 44;
    if (end > size - 44 || start >= end) return 1;

    const std::string temp = out + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return 1;
    bool ok = WriteAll(fd, file.get(), 44) && WriteAll(fd, sound, start);
    for (long pass = 0; pass < repeat; ++pass) ok = ok && WriteAll(fd, sound + start, end - start);
    const std::unique_ptr<std::uint8_t[]> tail(new std::uint8_t[tailBytes]);
    for (std::size_t at = 0; at < tailBytes; at += end - start) {
        std::memcpy(tail.get() + at, sound + start, std::min(end - start, tailBytes - at));
    }
    ok = ok && WriteAll(fd, tail.get(), tailBytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok && ::rename(temp.c_str(), out.c_str()) == 0;
    return ok ? 0 : 1;
}
