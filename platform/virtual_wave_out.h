// SPDX-License-Identifier: GPL-3.0-or-later
// A wave-output backend for tests: it plays nothing, records every waveOut* call and keeps the
// last block it was given. Its position moves only when a test calls Advance(), so preview and
// cursor tests never sleep and need no sound card. No SDL, no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave_out.h"

namespace platform {

class VirtualWaveOut : public WaveOut {
public:
    MMRESULT Open(const WAVEFORMAT& format) override;
    void Write(const std::uint8_t* bytes, std::size_t size) override;
    void Pause() override;
    void Reset() override;
    void Close() override;
    bool PositionFrames(std::uint32_t& frames) override;
    void Note(const char* call, MMRESULT result) override;

    // Plays `frames` more of the written block, stopping at its end. Does nothing while paused,
    // after a reset, or with no block written.
    void Advance(std::uint32_t frames);

    // Settings a test may change.
    MMRESULT openResult = MMSYSERR_NOERROR;  // what Open returns; non-zero refuses the device
    bool failPosition = false;               // makes the position query fail

    // What the device has seen.
    std::vector<std::string> calls;       // every waveOut* call, in order
    std::vector<MMRESULT> results;        // the result of each call in `calls`
    std::vector<std::uint8_t> lastBlock;  // a copy of the last block written
    WAVEFORMAT format;                    // the format of the last successful open
    bool isOpen = false;
    bool paused = false;
    bool playing = false;  // a block is written and not reset
    std::uint32_t positionFrames = 0;
    int writes = 0;

    std::uint32_t BlockFrames() const;
    void ClearRecord();
};

}  // namespace platform
