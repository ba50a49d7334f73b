// The loaded sound and the procedures over it. Loading validates the whole file before anything
// here changes; the device procedures make exactly the waveOut* calls the preview relies on, and
// look only at the results of the open and the position query.
#include "sound/wavemisc.h"

#include <new>
#include <utility>

namespace wavemisc {

using platform::HWAVEOUT;
using platform::MMRESULT;
using platform::MMTIME;
using platform::WAVEFORMAT;
using platform::WAVEHDR;

PcmFormat SoundFormat;
std::vector<std::uint8_t> SoundData;
std::int32_t DataSize = 0;
std::vector<std::uint8_t> PreviewData;
WAVEHDR PreviewHeader;
HWAVEOUT WaveOutHandle = 0;

namespace {

// The header is passed with its real size: with its two pointers it is larger than 32 bytes.
constexpr std::uint32_t kPreviewHeaderBytes = sizeof(WAVEHDR);
constexpr std::uint32_t kTimeBytes = sizeof(MMTIME);

// The device takes the block unchanged; the signed fields keep their bit patterns.
WAVEFORMAT DeviceFormat(const PcmFormat& format) {
    WAVEFORMAT device;
    device.wFormatTag = static_cast<std::uint16_t>(format.wFormatTag);
    device.nChannels = static_cast<std::uint16_t>(format.nChannels);
    device.nSamplesPerSec = static_cast<std::uint32_t>(format.nSamplesPerSec);
    device.nAvgBytesPerSec = static_cast<std::uint32_t>(format.nAvgBytesPerSec);
    device.nBlockAlign = static_cast<std::uint16_t>(format.nBlockAlign);
    device.wBitsPerSample = static_cast<std::uint16_t>(format.wBitsPerSample);
    return device;
}

// Four seconds of bytes, or -1 when that leaves the signed 32-bit range.
std::int64_t PreviewBytesOf(const PcmFormat& format) {
    const std::int64_t bytes = std::int64_t{format.nAvgBytesPerSec} * 4;
    return bytes < 0 || bytes > kInt32Max ? -1 : bytes;
}

}  // namespace

std::string LoadWave(const std::string& path) {
    ParseResult parsed = ReadWaveFile(path);
    if (parsed.error != WaveError::None) return std::string(UserMessage(parsed.error));

    // The reader already keeps both sizes inside 32 bits; checked again because the commit
    // below must not fail halfway.
    const std::int64_t previewBytes = PreviewBytesOf(parsed.wave.format);
    if (previewBytes < 0 || parsed.wave.data.size() > static_cast<std::size_t>(kInt32Max)) {
        return std::string(UserMessage(WaveError::BadFormat));
    }
    // Allocated before the commit, so running out of memory leaves the old sound in place.
    std::vector<std::uint8_t> preview;
    try {
        preview.assign(static_cast<std::size_t>(previewBytes), 0);
    } catch (const std::bad_alloc&) {
        return std::string(UserMessage(WaveError::OutOfMemory));
    }

    // Commit: the old device must stop reading the old PreviewData before it goes.
    ClosePreviewDevice();
    SoundFormat = parsed.wave.format;
    DataSize = static_cast<std::int32_t>(parsed.wave.data.size());
    SoundData = std::move(parsed.wave.data);
    PreviewData = std::move(preview);
    return OpenPreviewDevice();
}

std::string SaveLoopedWave(std::string FileName, std::int32_t RepeatCount,
                           std::int32_t FadeSeconds, std::int32_t LoopStart, std::int32_t LoopEnd) {
    if (SoundFormat.wFormatTag == 0) {
        return std::string(kSaveFailed) + "：音声が読み込まれていません";
    }
    LoopRequest request;
    request.loopStart = LoopStart;
    request.loopEnd = LoopEnd;
    request.repeatCount = RepeatCount;
    request.fadeSeconds = FadeSeconds;
    return WriteLoopedWaveFile(FileName, SoundFormat, SoundData, request);
}

std::string OpenPreviewDevice() {
    if (WaveOutHandle != 0) ClosePreviewDevice();
    const WAVEFORMAT format = DeviceFormat(SoundFormat);
    const MMRESULT result = platform::waveOutOpen(&WaveOutHandle, platform::WAVE_MAPPER, &format,
                                                  0, 0, platform::CALLBACK_NULL);
    if (result != platform::MMSYSERR_NOERROR) return "waveOutOpen失敗：" + std::to_string(result);

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
