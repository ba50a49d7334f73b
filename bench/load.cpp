// The window's load without the window: the whole file read and validated by the core, its
// payload in memory, as LoadWave does before it opens the device. (rundelt-cli info no longer
// reads the payload, so it cannot stand in for a load.)
// Usage: bench_load FILE
#include <cstdio>

#include "sound/wave_core.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const wavemisc::ParseResult read = wavemisc::ReadWaveFile(argv[1]);
    if (read.error != wavemisc::WaveError::None) return 1;
    // Use the bytes, so the read is not for nothing.
    std::printf("%u\n", static_cast<unsigned>(read.wave.data[read.wave.data.size() / 2]));
    return 0;
}
