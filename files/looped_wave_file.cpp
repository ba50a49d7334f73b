#include "files/looped_wave_file.h"

#include "files/atomic_save.h"

namespace files {

std::string WriteLoopedWaveFile(const std::string& path, const wave::PcmFormat& format,
                                std::span<const std::uint8_t> sound,
                                const wave::LoopRequest& request) {
    wave::LoopedLayout layout;
    if (std::string message = wave::PlanLoopedWave(format, sound, request, layout);
        !message.empty()) {
        return message;
    }
    AtomicSave file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    if (std::string message = wave::RenderLoopedWave(format, sound, request, file);
        !message.empty()) {
        return message;  // the temporary file goes with `file`
    }
    return file.Commit();
}

}  // namespace files
