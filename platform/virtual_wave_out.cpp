// SPDX-License-Identifier: GPL-3.0-or-later
// The recording test device.
#include "platform/virtual_wave_out.h"

#include <algorithm>

namespace platform {

MMRESULT VirtualWaveOut::Open(const WAVEFORMAT& requested) {
    if (openResult != MMSYSERR_NOERROR) return openResult;
    format = requested;
    isOpen = true;
    paused = false;
    playing = false;
    positionFrames = 0;
    return MMSYSERR_NOERROR;
}

void VirtualWaveOut::Write(const std::uint8_t* bytes, std::size_t size) {
    lastBlock.assign(bytes, bytes + size);
    ++writes;
    paused = false;
    playing = true;
}

void VirtualWaveOut::Pause() { paused = true; }

void VirtualWaveOut::Reset() {
    playing = false;
    positionFrames = 0;
}

void VirtualWaveOut::Close() {
    isOpen = false;
    playing = false;
    positionFrames = 0;
}

bool VirtualWaveOut::PositionFrames(std::uint32_t& frames) {
    if (failPosition || !isOpen) return false;
    frames = positionFrames;
    return true;
}

void VirtualWaveOut::Note(const char* call, MMRESULT result) {
    calls.emplace_back(call);
    results.push_back(result);
}

std::uint32_t VirtualWaveOut::BlockFrames() const {
    if (format.nBlockAlign == 0) return 0;
    return static_cast<std::uint32_t>(lastBlock.size() / format.nBlockAlign);
}

void VirtualWaveOut::Advance(std::uint32_t frames) {
    if (!isOpen || paused || !playing) return;
    const std::uint64_t moved = std::uint64_t{positionFrames} + frames;
    positionFrames = static_cast<std::uint32_t>(std::min<std::uint64_t>(moved, BlockFrames()));
}

void VirtualWaveOut::ClearRecord() {
    calls.clear();
    results.clear();
}

}  // namespace platform
