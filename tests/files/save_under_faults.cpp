// SPDX-License-Identifier: GPL-3.0-or-later
// One save, for the failing-call shim to be preloaded into:
//   save_under_faults unnamed|named IN.wav OUT.wav START END REPEAT FADE
// prints the save's message ("" on success) and leaves with 0, or with 2 on a usage error.
#include <iostream>
#include <string>

#include "files/atomic_save.h"
#include "files/wave_file.h"
#include "wave/looped_wave.h"
#include "wave/wave_reader.h"

int main(int argc, char** argv) {
    if (argc != 8) return 2;
    const std::string kind = argv[1];
    const wave::ParseResult loaded = files::ReadWaveFile(argv[2]);
    if (loaded.error != wave::WaveError::None) return 2;
    const wave::LoopRequest request{std::stoi(argv[4]), std::stoi(argv[5]), std::stoi(argv[6]),
                                    std::stoi(argv[7])};
    files::AtomicSave file(kind == "named" ? files::TempKind::Named : files::TempKind::Unnamed);
    std::string message = file.Create(argv[3]);
    if (message.empty())
        message = wave::RenderLoopedWave(loaded.wave.format, loaded.wave.data, request, file);
    message = message.empty() ? file.Commit() : file.Discard(message);
    std::cout << message << std::flush;
    return 0;
}
