// SPDX-License-Identifier: GPL-3.0-or-later
// The real wave-output backend over SDL2's queued audio. This is the only file pair that knows
// SDL; the SDL headers stay in the .cpp so users of the backend do not depend on them. Every SDL
// call runs on one thread of its own and is waited for at most 2 s, so a sound server that stops
// answering never holds the caller longer.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/call_thread.h"
#include "platform/wave_out.h"

namespace platform {

class SdlWaveOut : public WaveOut {
public:
    SdlWaveOut() = default;
    SdlWaveOut(const SdlWaveOut&) = delete;
    SdlWaveOut& operator=(const SdlWaveOut&) = delete;
    ~SdlWaveOut() override;

    MMRESULT Open(const WAVEFORMAT& format) override;
    void Write(const std::uint8_t* bytes, std::size_t size) override;
    void Pause() override;
    void Reset() override;
    void Close() override;
    bool PositionFrames(std::uint32_t& frames) override;

    // Frames per device buffer for a rate: about 10 to 20 ms, at least one frame.
    static std::uint16_t BufferFrames(std::uint32_t framesPerSec);

private:
    // Runs a call on the open device. When it outlasts the limit, the device is given up: this
    // object forgets it, and unless the call was the close, the SDL thread closes the device once
    // the call returns.
    std::optional<std::uint64_t> OnDevice(CallThread::Work work, bool closesIt = false);

    std::uint32_t device_ = 0;  // SDL_AudioDeviceID, 0 when closed or given up
    std::uint16_t blockAlign_ = 0;
    std::uint64_t queuedBytes_ = 0;  // handed to SDL since the last reset or open
};

}  // namespace platform
