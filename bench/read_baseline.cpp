// SPDX-License-Identifier: GPL-3.0-or-later
// The load baseline: the file read into fresh memory with one read(), nothing else.
// Usage: bench_read_baseline FILE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const int fd = ::open(argv[1], O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return 1;
    const auto size = static_cast<std::size_t>(st.st_size);
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
    std::size_t done = 0;
    while (done < size) {  // one read, continued only if the kernel returns less
        const ssize_t got = ::read(fd, buffer.get() + done, size - done);
        if (got <= 0) return 1;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    // Use the bytes, so the read is not for nothing.
    std::printf("%u\n", static_cast<unsigned>(buffer[size / 2]));
    return 0;
}
