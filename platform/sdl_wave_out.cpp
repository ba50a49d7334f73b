// SDL2 backend: one output device opened for exactly the loaded format (SDL converts to what the
// hardware takes), fed with SDL_QueueAudio, so there is no callback of ours at all. SDL copies
// the block into its queue, so the caller's bytes are never read after Write returns.
#include "platform/sdl_wave_out.h"

#include <SDL.h>

#include <algorithm>

namespace platform {
namespace {

// PulseAudio, the usual sound server, serves no other rates; refusing them here gives a clear
// format error instead of a device that opens and never plays.
constexpr std::uint32_t kMaxFramesPerSec = 384000;

}  // namespace

SdlWaveOut::~SdlWaveOut() {
    Close();
    if (audioStarted_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
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

    if (!audioStarted_) {
        // Otherwise SDL installs SIGINT/SIGTERM handlers and the process ignores SIGTERM.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return MMSYSERR_NODRIVER;
        audioStarted_ = true;
    }
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) return MMSYSERR_NODRIVER;
    device_ = device;
    blockAlign_ = format.nBlockAlign;
    queuedBytes_ = 0;
    SDL_PauseAudioDevice(device_, 0);  // plays silence until a block is queued
    return MMSYSERR_NOERROR;
}

void SdlWaveOut::Write(const std::uint8_t* bytes, std::size_t size) {
    if (device_ == 0 || size == 0) return;
    // SDL takes 32-bit lengths; a preview block is at most 2^31 - 1 bytes.
    const auto length = static_cast<Uint32>(std::min<std::size_t>(size, 0x7FFFFFFFu));
    if (SDL_QueueAudio(device_, bytes, length) != 0) return;
    queuedBytes_ += length;
    SDL_PauseAudioDevice(device_, 0);
}

void SdlWaveOut::Pause() {
    if (device_ != 0) SDL_PauseAudioDevice(device_, 1);
}

void SdlWaveOut::Reset() {
    if (device_ == 0) return;
    // Clearing takes SDL's device lock, so once it returns the mixer no longer pulls the block.
    SDL_ClearQueuedAudio(device_);
    queuedBytes_ = 0;
}

void SdlWaveOut::Close() {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    queuedBytes_ = 0;
}

bool SdlWaveOut::PositionFrames(std::uint32_t& frames) {
    if (device_ == 0 || blockAlign_ == 0) return false;
    const std::uint64_t waiting = SDL_GetQueuedAudioSize(device_);
    const std::uint64_t consumed = queuedBytes_ > waiting ? queuedBytes_ - waiting : 0;
    frames = static_cast<std::uint32_t>(consumed / blockAlign_);
    return true;
}

}  // namespace platform
