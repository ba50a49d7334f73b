// SPDX-License-Identifier: GPL-3.0-or-later
// The waveOut* layer's rules for handles, formats and header flags, over the recording device.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/virtual_wave_out.h"
#include "platform/wave_out.h"
#include "tests/platform/device_formats.h"

namespace platform {
namespace {

constexpr std::uint32_t kHeaderBytes = sizeof(WAVEHDR);

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override { UseWaveOut(&device); }
    void TearDown() override { UseWaveOut(nullptr); }

    // Opens a 16-bit stereo device and describes a block of `frames` frames to it.
    void OpenWithBlock(std::uint32_t frames) {
        const WAVEFORMAT format = Pcm16Stereo(1000);
        ASSERT_EQ(waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), 0u);
        block.assign(frames * 4, 0);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(i * 3 + 1);
        header.lpData = block.data();
        header.dwBufferLength = static_cast<std::uint32_t>(block.size());
        header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        header.dwLoops = 1;
        device.ClearRecord();
    }

    std::uint32_t Position() {
        MMTIME time{};
        time.wType = TIME_SAMPLES;
        EXPECT_EQ(waveOutGetPosition(handle, &time, sizeof(MMTIME)), 0u);
        EXPECT_EQ(time.wType, TIME_SAMPLES);
        return time.sample;
    }

    VirtualWaveOut device;
    HWAVEOUT handle = 0;
    std::vector<std::uint8_t> block;
    WAVEHDR header;
};

TEST_F(WaveOutTest, OpenResultsAndHandle) {
    struct Row {
        const char* name;
        WAVEFORMAT format;
        MMRESULT backendResult;
        bool noBackend;
        MMRESULT expected;
    };
    WAVEFORMAT badAlign = Pcm16Stereo(44100);
    badAlign.nBlockAlign = 2;
    WAVEFORMAT badRate = Pcm16Stereo(44100);
    badRate.nAvgBytesPerSec = 176401;
    WAVEFORMAT notPcm = Pcm16Stereo(44100);
    notPcm.wFormatTag = 3;
    WAVEFORMAT noBits = Pcm16Stereo(44100);
    noBits.wBitsPerSample = 0;
    noBits.nBlockAlign = 0;
    noBits.nAvgBytesPerSec = 0;
    const std::vector<Row> rows = {
        {"consistent", Pcm16Stereo(44100), 0, false, 0},
        {"block align disagrees", badAlign, 0, false, WAVERR_BADFORMAT},
        {"bytes per second disagree", badRate, 0, false, WAVERR_BADFORMAT},
        {"not PCM", notPcm, 0, false, WAVERR_BADFORMAT},
        {"zero bits", noBits, 0, false, WAVERR_BADFORMAT},
        {"backend cannot play it", Pcm16Stereo(44100), WAVERR_BADFORMAT, false, WAVERR_BADFORMAT},
        {"backend has no output", Pcm16Stereo(44100), MMSYSERR_NODRIVER, false, MMSYSERR_NODRIVER},
        {"no backend chosen", Pcm16Stereo(44100), 0, true, MMSYSERR_NODRIVER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualWaveOut fresh;
        fresh.openResult = row.backendResult;
        UseWaveOut(row.noBackend ? nullptr : &fresh);
        HWAVEOUT h = 77;
        EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &row.format, 0, 0, CALLBACK_NULL), row.expected);
        if (row.expected == 0) {
            EXPECT_NE(h, 0u);
            EXPECT_NE(h, 77u);
            EXPECT_TRUE(fresh.isOpen);
            EXPECT_EQ(fresh.format.nSamplesPerSec, 44100u);
            EXPECT_EQ(waveOutClose(h), 0u);
            EXPECT_FALSE(fresh.isOpen);
        } else {
            EXPECT_EQ(h, 77u) << "a failed open leaves the handle as it was";
            EXPECT_FALSE(fresh.isOpen);
        }
        // Inconsistent blocks are refused before the backend is asked.
        if (!row.noBackend) {
            EXPECT_EQ(fresh.calls.front(), "waveOutOpen");
        }
    }
}

TEST_F(WaveOutTest, OneDeviceAtATimeAndStaleHandles) {
    const WAVEFORMAT format = Pcm16Stereo(8000);
    HWAVEOUT first = 0;
    ASSERT_EQ(waveOutOpen(&first, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), 0u);
    HWAVEOUT second = 0;
    EXPECT_EQ(waveOutOpen(&second, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(second, 0u);
    ASSERT_EQ(waveOutClose(first), 0u);
    ASSERT_EQ(waveOutOpen(&second, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), 0u);
    EXPECT_NE(second, first) << "a closed handle must not come back to life";

    WAVEHDR h;
    std::uint8_t byte = 0;
    h.lpData = &byte;
    h.dwBufferLength = 1;
    MMTIME time{};
    for (HWAVEOUT bad : {HWAVEOUT{0}, first}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(waveOutPause(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutReset(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutPrepareHeader(bad, &h, kHeaderBytes), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutWrite(bad, &h, kHeaderBytes), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutUnprepareHeader(bad, &h, kHeaderBytes), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutGetPosition(bad, &time, sizeof time), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutClose(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(h.dwFlags, 0u);
    }
    EXPECT_TRUE(device.isOpen) << "calls on a stale handle must not touch the open device";
    EXPECT_EQ(device.writes, 0);
}

TEST_F(WaveOutTest, HeaderFlagRules) {
    OpenWithBlock(10);
    const std::uint32_t loop = WHDR_BEGINLOOP | WHDR_ENDLOOP;

    // Each step: the call, its expected result, the flags afterwards.
    struct Step {
        const char* call;
        MMRESULT expected;
        std::uint32_t flags;
    };
    const std::vector<Step> steps = {
        {"unprepare", 0, loop},  // never prepared: left unchanged
        {"write", WAVERR_UNPREPARED, loop},
        {"prepare", 0, loop | WHDR_PREPARED},
        {"prepare", 0, loop | WHDR_PREPARED},  // again: succeeds, changes nothing
        {"write", 0, loop | WHDR_PREPARED | WHDR_INQUEUE},
        {"write", WAVERR_STILLPLAYING, loop | WHDR_PREPARED | WHDR_INQUEUE},
        {"unprepare", WAVERR_STILLPLAYING, loop | WHDR_PREPARED | WHDR_INQUEUE},
        {"reset", 0, loop | WHDR_PREPARED | WHDR_DONE},
        {"write", 0, loop | WHDR_PREPARED | WHDR_INQUEUE},  // done cleared on write
        {"reset", 0, loop | WHDR_PREPARED | WHDR_DONE},
        {"unprepare", 0, loop | WHDR_DONE},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(std::to_string(i) + " " + step.call);
        const std::string call = step.call;
        MMRESULT result = 0;
        if (call == "prepare") result = waveOutPrepareHeader(handle, &header, kHeaderBytes);
        if (call == "write") result = waveOutWrite(handle, &header, kHeaderBytes);
        if (call == "unprepare") result = waveOutUnprepareHeader(handle, &header, kHeaderBytes);
        if (call == "reset") result = waveOutReset(handle);
        EXPECT_EQ(result, step.expected);
        EXPECT_EQ(header.dwFlags, step.flags);
    }
    EXPECT_EQ(device.writes, 2) << "refused writes must not reach the device";
    EXPECT_EQ(device.lastBlock, block);
    EXPECT_EQ(device.calls.size(), steps.size()) << "every call is reported to the device";
    EXPECT_EQ(device.results[1], WAVERR_UNPREPARED);
}

TEST_F(WaveOutTest, HeaderOfAnotherSizeIsRefused) {
    OpenWithBlock(10);
    for (std::uint32_t size : {0u, 32u, kHeaderBytes + 1}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(waveOutPrepareHeader(handle, &header, size), MMSYSERR_INVALPARAM);
        EXPECT_EQ(header.dwFlags, WHDR_BEGINLOOP | WHDR_ENDLOOP);
    }
    EXPECT_EQ(waveOutPrepareHeader(handle, nullptr, kHeaderBytes), MMSYSERR_INVALPARAM);
    // A block taken away after the prepare is not handed to the device.
    ASSERT_EQ(waveOutPrepareHeader(handle, &header, kHeaderBytes), 0u);
    header.lpData = nullptr;
    EXPECT_EQ(waveOutWrite(handle, &header, kHeaderBytes), MMSYSERR_INVALPARAM);
    EXPECT_EQ(device.writes, 0);
    MMTIME time{};
    EXPECT_EQ(waveOutGetPosition(handle, &time, 8), MMSYSERR_INVALPARAM);
}

TEST_F(WaveOutTest, PositionRisesStopsAtTheEndAndResets) {
    OpenWithBlock(100);
    EXPECT_EQ(Position(), 0u);
    ASSERT_EQ(waveOutPrepareHeader(handle, &header, kHeaderBytes), 0u);
    ASSERT_EQ(waveOutWrite(handle, &header, kHeaderBytes), 0u);
    EXPECT_EQ(Position(), 0u);
    device.Advance(40);
    EXPECT_EQ(Position(), 40u);
    device.Advance(1000);
    EXPECT_EQ(Position(), 100u) << "stays at the block's length after its end";
    EXPECT_EQ(Position(), 100u);
    // The end is noticed: the block is given back without a reset.
    EXPECT_EQ(header.dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_DONE);

    // A new write after the end plays again from the start.
    ASSERT_EQ(waveOutReset(handle), 0u);
    EXPECT_EQ(Position(), 0u);
    ASSERT_EQ(waveOutWrite(handle, &header, kHeaderBytes), 0u);
    device.Advance(30);
    EXPECT_EQ(waveOutPause(handle), 0u);
    device.Advance(30);
    EXPECT_EQ(Position(), 30u) << "paused output does not move";
    ASSERT_EQ(waveOutReset(handle), 0u);
    EXPECT_EQ(Position(), 0u);
}

TEST_F(WaveOutTest, PositionQueryFailureIsReported) {
    OpenWithBlock(10);
    device.failPosition = true;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    EXPECT_NE(waveOutGetPosition(handle, &time, sizeof time), 0u);
}

TEST_F(WaveOutTest, CloseRefusesAQueuedBlockUntilReset) {
    OpenWithBlock(10);
    ASSERT_EQ(waveOutPrepareHeader(handle, &header, kHeaderBytes), 0u);
    ASSERT_EQ(waveOutWrite(handle, &header, kHeaderBytes), 0u);
    EXPECT_EQ(waveOutClose(handle), WAVERR_STILLPLAYING);
    EXPECT_TRUE(device.isOpen);
    EXPECT_EQ(waveOutReset(handle), 0u);
    EXPECT_EQ(waveOutClose(handle), 0u);
    EXPECT_FALSE(device.isOpen);
    EXPECT_EQ(waveOutClose(handle), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace platform
