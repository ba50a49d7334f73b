// SPDX-License-Identifier: GPL-3.0-or-later
// The window's load without the window: the whole file read and validated by the core, its
// payload in memory, as LoadWave does before it opens the device. (rundelt-cli info no longer
// reads the payload, so it cannot stand in for a load.)
// Usage: bench_load FILE
#include <cstdio>

#include "files/wave_file.h"
#include "wave/user_texts.h"
#include "wave/wave_reader.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const wave::ParseResult read = files::ReadWaveFile(argv[1]);
    if (read.error != wave::WaveError::None) return 1;
    // Use the bytes, so the read is not for nothing.
    std::printf("%u\n", static_cast<unsigned>(read.wave.data[read.wave.data.size() / 2]));
    return 0;
}
