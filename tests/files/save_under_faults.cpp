// SPDX-License-Identifier: GPL-3.0-or-later
// One save, for the failing-call shim to be preloaded into:
//   save_under_faults IN.wav OUT.wav START END REPEAT FADE
// prints the save's message ("" on success) and leaves with 0, or with 2 on a usage error.
#include <iostream>
#include <string>

#include "files/looped_wave_file.h"
#include "files/wave_file.h"
#include "wave/looped_wave.h"
#include "wave/wave_reader.h"

int main(int argc, char** argv) {
    if (argc != 7) return 2;
    const wave::ParseResult loaded = files::ReadWaveFile(argv[1]);
    if (loaded.error != wave::WaveError::None) return 2;
    const wave::LoopRequest request{std::stoi(argv[3]), std::stoi(argv[4]), std::stoi(argv[5]),
                                    std::stoi(argv[6])};
    std::cout << files::WriteLoopedWaveFile(argv[2], loaded.wave.format, loaded.wave.data, request)
              << std::flush;
    return 0;
}
