// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/looped_wave_file.h"

#include "files/atomic_save.h"
#include "wave/user_texts.h"

namespace files {

namespace {

// The atomic save, stopped at its next write once `stop` is true.
class StoppableSink final : public wave::ByteSink {
public:
    StoppableSink(AtomicSave& file, const std::atomic<bool>* stop) : file_(file), stop_(stop) {}
    bool Write(std::span<const std::uint8_t> bytes) override {
        if (Stopped()) return false;
        return file_.Write(bytes);
    }
    std::string FailureReason() const override {
        return Stopped() ? wave::SaveFailed(wave::SaveError::Stopped) : file_.FailureReason();
    }
    void AdviseBuffer(std::uint8_t* bytes, std::size_t size) override {
        file_.AdviseBuffer(bytes, size);
    }

private:
    bool Stopped() const { return stop_ != nullptr && stop_->load(); }

    AtomicSave& file_;
    const std::atomic<bool>* stop_;
};

}  // namespace

std::string WriteLoopedWaveFile(const std::string& path, const wave::PcmFormat& format,
                                std::span<const std::uint8_t> sound,
                                const wave::LoopRequest& request, const std::atomic<bool>* stop) {
    wave::LoopedLayout layout;
    if (std::string message = wave::PlanLoopedWave(format, sound, request, layout);
        !message.empty()) {
        return message;
    }
    AtomicSave file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    StoppableSink sink(file, stop);
    if (std::string message = wave::RenderLoopedWave(format, sound, request, sink);
        !message.empty()) {
        return file.Discard(std::move(message));
    }
    return file.Commit();
}

}  // namespace files
