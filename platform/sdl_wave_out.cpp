// SPDX-License-Identifier: GPL-3.0-or-later
// SDL2 backend: one output device opened for exactly the loaded format (SDL converts to what the
// hardware takes), fed with SDL_QueueAudio, so there is no callback of ours at all. SDL copies
// the block into its queue, so the caller's bytes are never read after Write returns.
//
// A frozen sound server holds SDL's open for 30 s and its close until the server answers again;
// so every SDL call runs on the SDL thread below, and a call that outlasts its limit is given up.
#include "platform/sdl_wave_out.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>
#include <vector>

namespace platform {
namespace {

// PulseAudio, the usual sound server, serves no other rates; refusing them here gives a clear
// format error instead of a device that opens and never plays.
constexpr std::uint32_t kMaxFramesPerSec = 384000;

// The longest the caller waits for one SDL call.
constexpr std::chrono::milliseconds kCallLimit{2000};

// SDL's audio state belongs to the process, so one thread makes every SDL call. Never destroyed:
// a given-up call may still be running when the process ends.
CallThread& SdlThread() {
    static CallThread* const thread = new CallThread(kCallLimit);
    return *thread;
}

bool gAudioStarted = false;  // SDL's audio subsystem initialised by us; used on the SDL thread only

void CloseDevice(std::uint64_t device) {
    if (device != 0) SDL_CloseAudioDevice(static_cast<SDL_AudioDeviceID>(device));
}

}  // namespace

SdlWaveOut::~SdlWaveOut() {
    Close();
    // Refused at once while a given-up call still runs: quitting would close devices under it.
    SdlThread().Run([] {
        if (gAudioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        gAudioStarted = false;
        return std::uint64_t{0};
    });
}

std::optional<std::uint64_t> SdlWaveOut::OnDevice(CallThread::Work work, bool closesIt) {
    const std::uint32_t device = device_;
    std::optional<std::uint64_t> result =
        SdlThread().Run(std::move(work), [device, closesIt](std::uint64_t) {
            if (!closesIt) CloseDevice(device);
        });
    if (!result) {
        device_ = 0;
        queuedBytes_ = 0;
    }
    return result;
}

std::uint16_t SdlWaveOut::BufferFrames(std::uint32_t framesPerSec) {
    // The largest power of two not above 20 ms of frames: 10 to 20 ms. SDL's own choice is 0
    // frames at the highest rates (nothing plays) and seconds at the lowest (closing blocks).
    const std::uint32_t target = std::max<std::uint32_t>(framesPerSec / 50, 1);
    std::uint32_t frames = 1;
    while (frames * 2 <= target && frames < 32768) frames *= 2;
    return static_cast<std::uint16_t>(frames);
}

MMRESULT SdlWaveOut::Open(const WAVEFORMAT& format) {
    if (device_ != 0) Close();
    SDL_AudioSpec want{};
    if (format.wBitsPerSample == 8) {
        want.format = AUDIO_U8;
    } else if (format.wBitsPerSample == 16) {
        want.format = AUDIO_S16LSB;
    } else {
        return WAVERR_BADFORMAT;
    }
    if (format.nChannels != 1 && format.nChannels != 2) return WAVERR_BADFORMAT;
    if (format.nSamplesPerSec < 1 || format.nSamplesPerSec > kMaxFramesPerSec) {
        return WAVERR_BADFORMAT;
    }
    want.freq = static_cast<int>(format.nSamplesPerSec);
    want.channels = static_cast<Uint8>(format.nChannels);
    want.samples = BufferFrames(format.nSamplesPerSec);
    want.callback = nullptr;  // queued audio

    // A device that opens after its caller gave up is closed again on the SDL thread.
    const std::optional<std::uint64_t> device = SdlThread().Run(
        [want] {
            if (!gAudioStarted) {
                // Otherwise SDL installs SIGINT/SIGTERM handlers and the process ignores SIGTERM.
                SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
                if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return std::uint64_t{0};
                gAudioStarted = true;
            }
            SDL_AudioSpec have{};
            const SDL_AudioDeviceID opened = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
            if (opened != 0) SDL_PauseAudioDevice(opened, 0);  // silence until a block is queued
            return std::uint64_t{opened};
        },
        CloseDevice);
    if (!device || *device == 0) return MMSYSERR_NODRIVER;
    device_ = static_cast<std::uint32_t>(*device);
    blockAlign_ = format.nBlockAlign;
    queuedBytes_ = 0;
    return MMSYSERR_NOERROR;
}

void SdlWaveOut::Write(const std::uint8_t* bytes, std::size_t size) {
    if (device_ == 0 || size == 0) return;
    // SDL takes 32-bit lengths; a preview block is at most 2^31 - 1 bytes.
    const auto length = static_cast<Uint32>(std::min<std::size_t>(size, 0x7FFFFFFFu));
    // A given-up call may read its bytes after this returns, so it is handed a copy of its own.
    std::vector<std::uint8_t> block;
    try {
        block.assign(bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        return;  // nothing plays, as when SDL refuses the block
    }
    const SDL_AudioDeviceID device = device_;
    const std::optional<std::uint64_t> queued = OnDevice([device, block = std::move(block)] {
        if (SDL_QueueAudio(device, block.data(), static_cast<Uint32>(block.size())) != 0) {
            return std::uint64_t{0};
        }
        SDL_PauseAudioDevice(device, 0);
        return std::uint64_t{1};
    });
    if (queued.value_or(0) == 1) queuedBytes_ += length;
}

void SdlWaveOut::Pause() {
    if (device_ == 0) return;
    const SDL_AudioDeviceID device = device_;
    OnDevice([device] {
        SDL_PauseAudioDevice(device, 1);
        return std::uint64_t{0};
    });
}

void SdlWaveOut::Reset() {
    if (device_ == 0) return;
    // Clearing takes SDL's device lock, so once it returns the mixer no longer pulls the block.
    // A given-up reset has dropped the device, so nothing plays the block either way.
    const SDL_AudioDeviceID device = device_;
    OnDevice([device] {
        SDL_ClearQueuedAudio(device);
        return std::uint64_t{0};
    });
    queuedBytes_ = 0;
}

void SdlWaveOut::Close() {
    if (device_ == 0) return;
    // Given up, the close finishes on the SDL thread whenever the sound server answers again.
    const SDL_AudioDeviceID device = device_;
    OnDevice(
        [device] {
            SDL_CloseAudioDevice(device);
            return std::uint64_t{0};
        },
        true);
    device_ = 0;
    queuedBytes_ = 0;
}

bool SdlWaveOut::PositionFrames(std::uint32_t& frames) {
    if (device_ == 0 || blockAlign_ == 0) return false;
    const SDL_AudioDeviceID device = device_;
    const std::optional<std::uint64_t> waiting =
        OnDevice([device] { return std::uint64_t{SDL_GetQueuedAudioSize(device)}; });
    if (!waiting) return false;
    const std::uint64_t consumed = queuedBytes_ > *waiting ? queuedBytes_ - *waiting : 0;
    frames = static_cast<std::uint32_t>(consumed / blockAlign_);
    return true;
}

}  // namespace platform
