// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/preview_device.h"

#include "app/loaded_sound.h"
#include "platform/wave_out.h"
#include "wave/user_texts.h"

namespace wavemisc {

using platform::MMRESULT;
using platform::MMTIME;
using platform::WAVEFORMAT;
using platform::WAVEHDR;

namespace {

// The header is passed with its real size: with its two pointers it is larger than 32 bytes.
constexpr std::uint32_t kPreviewHeaderBytes = sizeof(WAVEHDR);
constexpr std::uint32_t kTimeBytes = sizeof(MMTIME);

// The device takes the block unchanged; the signed fields keep their bit patterns.
WAVEFORMAT DeviceFormat(const wave::PcmFormat& format) {
    WAVEFORMAT device;
    device.wFormatTag = static_cast<std::uint16_t>(format.wFormatTag);
    device.nChannels = static_cast<std::uint16_t>(format.nChannels);
    device.nSamplesPerSec = static_cast<std::uint32_t>(format.nSamplesPerSec);
    device.nAvgBytesPerSec = static_cast<std::uint32_t>(format.nAvgBytesPerSec);
    device.nBlockAlign = static_cast<std::uint16_t>(format.nBlockAlign);
    device.wBitsPerSample = static_cast<std::uint16_t>(format.wBitsPerSample);
    return device;
}

}  // namespace

std::string OpenPreviewDevice() {
    if (WaveOutHandle != 0) ClosePreviewDevice();
    const WAVEFORMAT format = DeviceFormat(SoundFormat);
    const MMRESULT result = platform::waveOutOpen(&WaveOutHandle, platform::WAVE_MAPPER, &format, 0,
                                                  0, platform::CALLBACK_NULL);
    if (result != platform::MMSYSERR_NOERROR) return wave::DeviceOpenFailed(result);

    // An accepted load sized PreviewData from the same product, so the block is all of it.
    PreviewHeader.lpData = PreviewData.data();
    PreviewHeader.dwBufferLength = static_cast<std::uint32_t>(PreviewData.size());
    PreviewHeader.dwFlags = platform::WHDR_BEGINLOOP | platform::WHDR_ENDLOOP;
    PreviewHeader.dwLoops = 1;
    return "";
}

void ClosePreviewDevice() {
    if (WaveOutHandle == 0) return;
    platform::waveOutPause(WaveOutHandle);
    platform::waveOutReset(WaveOutHandle);
    platform::waveOutUnprepareHeader(WaveOutHandle, &PreviewHeader, kPreviewHeaderBytes);
    platform::waveOutClose(WaveOutHandle);
    WaveOutHandle = 0;
}

void StopPreview() {
    if (WaveOutHandle != 0) platform::waveOutReset(WaveOutHandle);
}

void PlayPreview() {
    // No test for an open device: with none, each call is refused as an invalid handle.
    platform::waveOutReset(WaveOutHandle);
    platform::waveOutPrepareHeader(WaveOutHandle, &PreviewHeader, kPreviewHeaderBytes);
    platform::waveOutWrite(WaveOutHandle, &PreviewHeader, kPreviewHeaderBytes);
}

std::int32_t GetPreviewPosition() {
    if (WaveOutHandle == 0) return 0;
    MMTIME time{};
    time.wType = platform::TIME_SAMPLES;
    if (platform::waveOutGetPosition(WaveOutHandle, &time, kTimeBytes) != 0) return 0;
    return static_cast<std::int32_t>(time.sample);
}

}  // namespace wavemisc
