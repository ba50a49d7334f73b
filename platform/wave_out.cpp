// SPDX-License-Identifier: GPL-3.0-or-later
// The waveOut* calls over the chosen backend. This layer owns the handle, the header status bits
// and the format checks, so every backend only has to move sound; the result codes follow the
// ones the preview procedures were written against.
#include "platform/wave_out.h"

#include <cstdint>

namespace platform {
namespace {

struct DeviceState {
    bool open = false;
    HWAVEOUT handle = 0;
    std::uint16_t blockAlign = 0;
    WAVEHDR* queued = nullptr;       // the one block handed to the backend, until reset or its end
    std::uint32_t queuedFrames = 0;  // its length in whole frames
};

WaveOut* gBackend = nullptr;
DeviceState gDevice;
HWAVEOUT gLastHandle = 0;

MMRESULT Noted(const char* call, MMRESULT result) {
    if (gBackend != nullptr) gBackend->Note(call, result);
    return result;
}

bool IsOpenHandle(HWAVEOUT handle) {
    return gBackend != nullptr && gDevice.open && handle != 0 && handle == gDevice.handle;
}

// Our WAVEHDR holds pointers, so it is larger than 32 bytes on 64-bit: callers pass sizeof.
bool IsHeaderArgument(const WAVEHDR* header, std::uint32_t headerBytes) {
    return header != nullptr && headerBytes == sizeof(WAVEHDR);
}

// PCM with whole bytes per sample, and the derived fields agreeing with the others.
bool IsPlayableShape(const WAVEFORMAT& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM) return false;
    if (format.nChannels == 0 || format.nSamplesPerSec == 0) return false;
    if (format.wBitsPerSample == 0 || format.wBitsPerSample % 8 != 0) return false;
    const std::int64_t blockAlign = std::int64_t{format.nChannels} * format.wBitsPerSample / 8;
    if (blockAlign != format.nBlockAlign) return false;
    const std::int64_t bytesPerSec = std::int64_t{format.nSamplesPerSec} * format.nBlockAlign;
    return bytesPerSec == format.nAvgBytesPerSec;
}

// The backend never signals the end of a block, so the layer notices it when it next looks at
// the position: a block played to its end is given back like a reset one.
void FinishIfPlayed() {
    if (gDevice.queued == nullptr) return;
    std::uint32_t frames = 0;
    if (!gBackend->PositionFrames(frames) || frames < gDevice.queuedFrames) return;
    gDevice.queued->dwFlags = (gDevice.queued->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    gDevice.queued = nullptr;
}

void GiveBackQueued() {
    if (gDevice.queued == nullptr) return;
    gDevice.queued->dwFlags = (gDevice.queued->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    gDevice.queued = nullptr;
}

}  // namespace

void UseWaveOut(WaveOut* backend) {
    // A device left open on the previous backend is forgotten, not closed: that backend may be
    // gone already (tests give each case a fresh one).
    gBackend = backend;
    gDevice = DeviceState{};
}

WaveOut* CurrentWaveOut() { return gBackend; }

MMRESULT waveOutOpen(HWAVEOUT* handle, std::uint32_t deviceId, const WAVEFORMAT* format,
                     std::uintptr_t callback, std::uintptr_t instance, std::uint32_t flags) {
    (void)instance;
    if (gBackend == nullptr) return MMSYSERR_NODRIVER;
    const char* name = "waveOutOpen";
    if (handle == nullptr || format == nullptr) return Noted(name, MMSYSERR_INVALPARAM);
    // Only the one output exists; no notification of any kind is offered.
    if (deviceId != WAVE_MAPPER && deviceId != 0) return Noted(name, MMSYSERR_BADDEVICEID);
    if (flags != CALLBACK_NULL || callback != 0) return Noted(name, MMSYSERR_INVALFLAG);
    if (!IsPlayableShape(*format)) return Noted(name, WAVERR_BADFORMAT);
    if (gDevice.open) return Noted(name, MMSYSERR_ALLOCATED);

    const MMRESULT opened = gBackend->Open(*format);
    if (opened != MMSYSERR_NOERROR) return Noted(name, opened);

    gLastHandle = gLastHandle == 0xFFFFFFFFu ? 1 : gLastHandle + 1;
    gDevice = DeviceState{};
    gDevice.open = true;
    gDevice.handle = gLastHandle;
    gDevice.blockAlign = format->nBlockAlign;
    *handle = gDevice.handle;
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutPause(HWAVEOUT handle) {
    const char* name = "waveOutPause";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    gBackend->Pause();
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutReset(HWAVEOUT handle) {
    const char* name = "waveOutReset";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    gBackend->Reset();
    GiveBackQueued();
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t headerBytes) {
    const char* name = "waveOutPrepareHeader";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    if (!IsHeaderArgument(header, headerBytes)) return Noted(name, MMSYSERR_INVALPARAM);
    if ((header->dwFlags & WHDR_PREPARED) != 0) return Noted(name, MMSYSERR_NOERROR);
    if (header->lpData == nullptr) return Noted(name, MMSYSERR_INVALPARAM);
    header->dwFlags |= WHDR_PREPARED;
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header, std::uint32_t headerBytes) {
    const char* name = "waveOutWrite";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    if (!IsHeaderArgument(header, headerBytes)) return Noted(name, MMSYSERR_INVALPARAM);
    if ((header->dwFlags & WHDR_PREPARED) == 0) return Noted(name, WAVERR_UNPREPARED);
    if (header->lpData == nullptr) return Noted(name, MMSYSERR_INVALPARAM);
    FinishIfPlayed();
    // One block at a time: the backends play a single block, and the only caller resets first.
    if ((header->dwFlags & WHDR_INQUEUE) != 0 || gDevice.queued != nullptr) {
        return Noted(name, WAVERR_STILLPLAYING);
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    gDevice.queued = header;
    gDevice.queuedFrames = header->dwBufferLength / gDevice.blockAlign;
    // Looping flags and dwLoops are not acted on: the block plays once, which is what a loop
    // of one pass asks for.
    gBackend->Write(header->lpData, header->dwBufferLength);
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t headerBytes) {
    const char* name = "waveOutUnprepareHeader";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    if (!IsHeaderArgument(header, headerBytes)) return Noted(name, MMSYSERR_INVALPARAM);
    if (header == gDevice.queued) FinishIfPlayed();
    if ((header->dwFlags & WHDR_INQUEUE) != 0) return Noted(name, WAVERR_STILLPLAYING);
    header->dwFlags &= ~WHDR_PREPARED;
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutClose(HWAVEOUT handle) {
    const char* name = "waveOutClose";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    FinishIfPlayed();
    if (gDevice.queued != nullptr) return Noted(name, WAVERR_STILLPLAYING);
    gBackend->Close();
    gDevice = DeviceState{};
    return Noted(name, MMSYSERR_NOERROR);
}

MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time, std::uint32_t timeBytes) {
    const char* name = "waveOutGetPosition";
    if (!IsOpenHandle(handle)) return Noted(name, MMSYSERR_INVALHANDLE);
    if (time == nullptr || timeBytes < sizeof(MMTIME)) return Noted(name, MMSYSERR_INVALPARAM);
    std::uint32_t frames = 0;
    if (!gBackend->PositionFrames(frames)) return Noted(name, MMSYSERR_ERROR);
    FinishIfPlayed();
    // Samples are the only format offered; a request for another is answered in samples.
    time->wType = TIME_SAMPLES;
    time->sample = frames;
    return Noted(name, MMSYSERR_NOERROR);
}

}  // namespace platform
