// SPDX-License-Identifier: GPL-3.0-or-later
// A hint for the large buffers of a load and a save (the payload, the tail): back them with huge
// pages where the system grants them on request. Faulting in a 100 MB buffer 4 KiB at a time
// costs far more than filling it. Only a hint: where it is not taken nothing changes.
// Standard library and POSIX only.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace files {

// Call on a buffer that is allocated but not yet touched; only its whole 2 MiB pages are marked.
inline void PreferHugePages(std::uint8_t* bytes, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(bytes);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)bytes;
    (void)size;
#endif
}

}  // namespace files
