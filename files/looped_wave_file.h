// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the looped file to disk: the wave layer renders it, the atomic save takes it there.
// POSIX; no Qt, SDL or FFTW.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "wave/looped_wave.h"
#include "wave/pcm_format.h"

namespace files {

// The looped file of `sound` saved atomically to `path` (to the file a symbolic link there
// names). Every refusal of the plan comes before anything is created. On any failure, and when
// the process is ended by SIGINT, SIGTERM or SIGHUP meanwhile, the destination is as it was and
// nothing is left; a destination that is not a regular file, or that the user may not write, is
// refused. "" or a message beginning with wave::kSaveFailed. When `stop` is given and becomes
// true meanwhile, the save ends at its next write as any failed one does.
std::string WriteLoopedWaveFile(const std::string& path, const wave::PcmFormat& format,
                                std::span<const std::uint8_t> sound,
                                const wave::LoopRequest& request,
                                const std::atomic<bool>* stop = nullptr);

}  // namespace files
