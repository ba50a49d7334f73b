// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a wave file from the file system into the wave reader: open, size, one read of the
// payload straight into its buffer. POSIX; no Qt, SDL or FFTW.
#pragma once

#include <string>

#include "wave/wave_reader.h"

namespace files {

// Opens the file, then wave::ParseWave over it. A path that is no regular file (a folder, a
// pipe, a device) cannot be opened; a pipe never blocks the open.
wave::ParseResult ReadWaveFile(const std::string& path,
                               wave::Payload payload = wave::Payload::Read);

}  // namespace files
