// SPDX-License-Identifier: GPL-3.0-or-later
// The decode baseline: libsndfile's plain read loop over every frame of a file, 16-bit samples
// into one reused block, nothing else.
// Usage: bench_decode FILE
#include <sndfile.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    SF_INFO info{};
    SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
    if (file == nullptr) return 1;
    std::vector<short> block(static_cast<std::size_t>(16384 * info.channels));
    long long sum = 0;
    sf_count_t got = 0;
    while ((got = sf_readf_short(file, block.data(), 16384)) > 0) sum += block[0];
    sf_close(file);
    // Use the samples, so the decode is not for nothing.
    std::printf("%lld\n", sum);
    return 0;
}
