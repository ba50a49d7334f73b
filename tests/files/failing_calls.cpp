// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a save to make one system call fail, the way a sick disk would. The variable
// RUNDELT_FAIL_CALLS lists "call:errno:n" items separated by commas: the n-th call (from 1) of
// `call` fails with `errno`. Writes to standard input, output and error are neither counted nor
// failed, so the program can still report. Calls: write, fsync, rename, linkat, unlink. With
// RUNDELT_NO_UNNAMED_FILES set, every open of an unnamed file fails as on a file system without
// them, so a save takes its named fallback.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // RTLD_NEXT
#endif
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Call { kWrite, kFsync, kRename, kLinkat, kUnlink, kCalls };
constexpr const char* kNames[kCalls] = {"write", "fsync", "rename", "linkat", "unlink"};

struct Plan {
    int error[kCalls][4] = {};  // errno for the call numbers below
    long at[kCalls][4] = {};
    int count[kCalls] = {};
};

const Plan& ThePlan() {
    static const Plan plan = [] {
        Plan p;
        const char* text = std::getenv("RUNDELT_FAIL_CALLS");
        char name[16];
        int error = 0;
        long at = 0;
        int used = 0;
        while (text != nullptr &&
               std::sscanf(text, "%15[a-z]:%d:%ld%n", name, &error, &at, &used) == 3) {
            for (int c = 0; c < kCalls; ++c) {
                if (std::strcmp(name, kNames[c]) == 0 && p.count[c] < 4) {
                    p.error[c][p.count[c]] = error;
                    p.at[c][p.count[c]++] = at;
                }
            }
            text += used;
            if (*text != ',') break;
            ++text;
        }
        return p;
    }();
    return plan;
}

std::atomic<long> calls[kCalls];

// True, with errno set, when this call is one that must fail.
bool Fails(Call call) {
    const Plan& plan = ThePlan();
    const long number = ++calls[call];
    for (int i = 0; i < plan.count[call]; ++i) {
        if (plan.at[call][i] == number) {
            errno = plan.error[call][i];
            return true;
        }
    }
    return false;
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* bytes, size_t size) {
    static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (fd > STDERR_FILENO && Fails(kWrite)) return -1;
    return next(fd, bytes, size);
}

int fsync(int fd) {
    static const auto next = Next<int (*)(int)>("fsync");
    return Fails(kFsync) ? -1 : next(fd);
}

int rename(const char* from, const char* to) {
    static const auto next = Next<int (*)(const char*, const char*)>("rename");
    return Fails(kRename) ? -1 : next(from, to);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    static const auto next = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
    return Fails(kLinkat) ? -1 : next(fromFolder, from, toFolder, to, flags);
}

// open and open64 are one call on 64-bit systems; which name a caller binds depends on its flags.
int OpenUnlessUnnamed(const char* name, const char* path, int flags, va_list values) {
    static const bool noUnnamed = std::getenv("RUNDELT_NO_UNNAMED_FILES") != nullptr;
    const mode_t mode =
        (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(values, mode_t) : 0;
    if (noUnnamed && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return reinterpret_cast<int (*)(const char*, int, ...)>(::dlsym(RTLD_NEXT, name))(path, flags,
                                                                                      mode);
}

int open(const char* path, int flags, ...) {
    va_list values;
    va_start(values, flags);
    const int fd = OpenUnlessUnnamed("open", path, flags, values);
    va_end(values);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list values;
    va_start(values, flags);
    const int fd = OpenUnlessUnnamed("open64", path, flags, values);
    va_end(values);
    return fd;
}

int unlink(const char* path) {
    static const auto next = Next<int (*)(const char*)>("unlink");
    return Fails(kUnlink) ? -1 : next(path);
}

}  // extern "C"
