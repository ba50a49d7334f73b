// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/wave_file.h"

#include "files/file_source.h"

namespace files {

namespace {

wave::ParseResult CannotOpen() {
    wave::ParseResult result;
    result.error = wave::WaveError::CannotOpen;
    return result;
}

}  // namespace

wave::ParseResult ReadWaveFile(const std::string& path, wave::Payload payload) {
    const std::unique_ptr<FileSource> source = OpenFileSource(path);
    if (source == nullptr) return CannotOpen();
    return wave::ParseWave(*source, payload);
}

}  // namespace files
