// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a command several times and prints the median wall time in milliseconds and the median
// peak resident memory in KiB of the command's own process, as "MS KIB".
// Usage: bench_measure RUNS [--remove PATH] [--status N] -- COMMAND [ARGS...]
// --remove deletes PATH (a file, or a folder with all it holds) before each run, outside the
// timed part, so every run writes afresh. --status N: the command must end with N, not 0 (a
// batch with a refused file ends with 1); its stderr is then kept out of the way too.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(
            stderr,
            "usage: bench_measure RUNS [--remove PATH] [--status N] -- COMMAND [ARGS...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    int next = 2;
    std::string remove;
    if (std::string(argv[next]) == "--remove" && next + 1 < argc) {
        remove = argv[next + 1];
        next += 2;
    }
    int expected = 0;
    bool quiet = false;
    if (next < argc && std::string(argv[next]) == "--status" && next + 1 < argc) {
        expected = std::atoi(argv[next + 1]);
        quiet = true;
        next += 2;
    }
    if (next >= argc || std::string(argv[next]) != "--" || next + 1 >= argc || runs < 1) {
        std::fprintf(
            stderr,
            "usage: bench_measure RUNS [--remove PATH] [--status N] -- COMMAND [ARGS...]\n");
        return 2;
    }
    char** command = argv + next + 1;

    std::vector<double> wallMs;
    std::vector<long> peakKib;
    for (int run = 0; run < runs; ++run) {
        if (!remove.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(remove, ignored);
        }
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid < 0) return 1;
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, STDOUT_FILENO);
            if (null >= 0 && quiet) ::dup2(null, STDERR_FILENO);
            ::execvp(command[0], command);
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        while (::wait4(pid, &status, 0, &usage) < 0) {
            if (errno != EINTR) return 1;
        }
        const auto end = std::chrono::steady_clock::now();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != expected) {
            std::fprintf(stderr, "bench_measure: %s failed (status %d)\n", command[0], status);
            return 1;
        }
        wallMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        peakKib.push_back(usage.ru_maxrss);
    }
    std::printf("%.1f %ld\n", Median(wallMs), Median(peakKib));
    return 0;
}
