// SPDX-License-Identifier: GPL-3.0-or-later
// Our own wave-output calls: the small set of waveOut* procedures, records and constants that the
// preview device code is written against, implemented over one backend (SDL2 for real sound, a
// virtual device for tests). This header knows nothing of SDL, Qt or the loaded sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using MMRESULT = std::uint32_t;
using HWAVEOUT = std::uint32_t;  // 0 means no device

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr std::uint32_t WAVE_MAPPER = 0xFFFFFFFFu;  // any device able to play the format
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint32_t CALLBACK_NULL = 0;

inline constexpr std::uint32_t WHDR_DONE = 0x01;
inline constexpr std::uint32_t WHDR_PREPARED = 0x02;
inline constexpr std::uint32_t WHDR_BEGINLOOP = 0x04;
inline constexpr std::uint32_t WHDR_ENDLOOP = 0x08;
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;

inline constexpr std::uint32_t TIME_SAMPLES = 2;

// The 16-byte PCM format block as the device takes it.
struct WAVEFORMAT {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
};

// One block handed to the device. The status bits of dwFlags (prepared, queued, done) belong to
// this layer once the header has been handed over.
struct WAVEHDR {
    std::uint8_t* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    std::uintptr_t reserved = 0;
};

// Position query record; only sample positions are offered.
struct MMTIME {
    std::uint32_t wType = 0;
    std::uint32_t sample = 0;
    std::uint32_t unused = 0;
};

// What a backend must do. One device is open at a time; the call layer below checks handles,
// header flags and formats, so a backend only moves sound.
class WaveOut {
public:
    virtual ~WaveOut() = default;
    // 0, MMSYSERR_NODRIVER when no output can be opened at all, WAVERR_BADFORMAT when the backend
    // cannot play this (already consistent) format.
    virtual MMRESULT Open(const WAVEFORMAT& format) = 0;
    // Queues the whole block and plays it once, at once. The bytes are not read after Reset().
    virtual void Write(const std::uint8_t* bytes, std::size_t size) = 0;
    virtual void Pause() = 0;
    // Stops, drops whatever is queued and returns the position to 0. Returns only once the
    // device no longer reads the block.
    virtual void Reset() = 0;
    virtual void Close() = 0;
    // Frames played since the last reset or open; stays at the block's length after its end.
    // False when the query fails.
    virtual bool PositionFrames(std::uint32_t& frames) = 0;
    // Every waveOut* call is reported here with its result, so a test device can record the
    // sequence. Backends that play real sound ignore it.
    virtual void Note(const char* call, MMRESULT result) {
        (void)call;
        (void)result;
    }
};

// The backend is chosen once at start-up; the calls below use it. Not owned.
void UseWaveOut(WaveOut* backend);
WaveOut* CurrentWaveOut();

MMRESULT waveOutOpen(HWAVEOUT* handle, std::uint32_t deviceId, const WAVEFORMAT* format,
                     std::uintptr_t callback, std::uintptr_t instance, std::uint32_t flags);
MMRESULT waveOutPause(HWAVEOUT handle);
MMRESULT waveOutReset(HWAVEOUT handle);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t headerBytes);
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header, std::uint32_t headerBytes);
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t headerBytes);
MMRESULT waveOutClose(HWAVEOUT handle);
MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time, std::uint32_t timeBytes);

}  // namespace platform
