// SPDX-License-Identifier: GPL-3.0-or-later
// The loading and device procedures against the recording device: the exact waveOut* sequences,
// what a refused load leaves alone, and the preview position as the window will read it.
#include "app/loaded_sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/preview_device.h"
#include "files/wave_file.h"
#include "platform/virtual_wave_out.h"
#include "tests/support/wave_bytes.h"

namespace wavemisc {
namespace {

using Calls = std::vector<std::string>;
const std::string kPause = "waveOutPause";
const std::string kReset = "waveOutReset";
const std::string kPrepare = "waveOutPrepareHeader";
const std::string kWrite = "waveOutWrite";
const std::string kUnprepare = "waveOutUnprepareHeader";
const std::string kClose = "waveOutClose";
const std::string kOpen = "waveOutOpen";
const std::string kPosition = "waveOutGetPosition";

// Low rates keep five seconds to a few hundred bytes.
const testwave::Format kMono8 = testwave::Pcm(8, 1, 100);      // 100 bytes a second
const testwave::Format kStereo16 = testwave::Pcm(16, 2, 200);  // 800 bytes a second

class WavemiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/wavemisc.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        // The module state is process-wide: each case starts from an empty one.
        platform::UseWaveOut(&device);
        SoundFormat = wave::PcmFormat{};
        SoundData.clear();
        DataSize = 0;
        PreviewData.clear();
        PreviewHeader = platform::WAVEHDR{};
        WaveOutHandle = 0;
    }
    void TearDown() override {
        platform::UseWaveOut(nullptr);
        WaveOutHandle = 0;
        std::filesystem::remove_all(folder);
    }

    std::string WriteWave(const std::string& name, const testwave::Format& format,
                          const testwave::Bytes& data) {
        const std::string path = folder + "/" + name;
        testwave::WriteFile(path, testwave::Wave(format, data));
        return path;
    }
    // A five-second file of the format with recognisable samples.
    std::string FiveSeconds(const std::string& name, const testwave::Format& format) {
        return WriteWave(name, format, testwave::Pattern(format.avgBytes * 5));
    }

    platform::VirtualWaveOut device;
    std::string folder;
};

TEST_F(WavemiscTest, LoadFillsStateAndOpensTheDeviceForItsFormat) {
    ASSERT_EQ(LoadWave(FiveSeconds("a.wav", kMono8)), "");
    EXPECT_EQ(SoundFormat.nSamplesPerSec, 100);
    EXPECT_EQ(SoundFormat.nBlockAlign, 1);
    EXPECT_EQ(SoundData, testwave::Pattern(500));
    EXPECT_EQ(DataSize, 500);
    EXPECT_EQ(PreviewData, std::vector<std::uint8_t>(400, 0));
    EXPECT_NE(WaveOutHandle, 0u);
    EXPECT_EQ(device.calls, Calls{kOpen}) << "nothing to close on the first load";
    EXPECT_EQ(device.format.nSamplesPerSec, 100u);
    EXPECT_EQ(device.format.wBitsPerSample, 8u);
    EXPECT_EQ(device.format.nChannels, 1u);

    EXPECT_EQ(PreviewHeader.lpData, PreviewData.data());
    EXPECT_EQ(PreviewHeader.dwBufferLength, 400u);
    EXPECT_EQ(PreviewHeader.dwFlags, platform::WHDR_BEGINLOOP | platform::WHDR_ENDLOOP);
    EXPECT_EQ(PreviewHeader.dwLoops, 1u);
    EXPECT_EQ(PreviewHeader.dwUser, 0u);
    EXPECT_EQ(GetPreviewPosition(), 0) << "a device just opened stands at 0";
}

TEST_F(WavemiscTest, SecondLoadClosesTheOldDeviceBeforeReplacingAndReopening) {
    ASSERT_EQ(LoadWave(FiveSeconds("a.wav", kMono8)), "");
    PlayPreview();
    device.Advance(50);
    const platform::HWAVEOUT oldHandle = WaveOutHandle;
    device.ClearRecord();

    ASSERT_EQ(LoadWave(FiveSeconds("b.wav", kStereo16)), "");
    EXPECT_EQ(device.calls, (Calls{kPause, kReset, kUnprepare, kClose, kOpen}));
    EXPECT_EQ(device.results, (std::vector<platform::MMRESULT>(5, 0)));
    EXPECT_NE(WaveOutHandle, 0u);
    EXPECT_NE(WaveOutHandle, oldHandle);
    EXPECT_EQ(SoundFormat.nChannels, 2);
    EXPECT_EQ(DataSize, 4000);
    EXPECT_EQ(SoundData, testwave::Pattern(4000));
    EXPECT_EQ(PreviewData.size(), 3200u);
    EXPECT_EQ(PreviewHeader.lpData, PreviewData.data());
    EXPECT_EQ(PreviewHeader.dwBufferLength, 3200u);
    EXPECT_EQ(PreviewHeader.dwFlags, platform::WHDR_BEGINLOOP | platform::WHDR_ENDLOOP)
        << "the reopen clears the old status bits";
    EXPECT_EQ(device.format.nSamplesPerSec, 200u);
    EXPECT_EQ(GetPreviewPosition(), 0);
}

TEST_F(WavemiscTest, RefusedFileLeavesSoundAndPlayingPreviewAlone) {
    ASSERT_EQ(LoadWave(FiveSeconds("a.wav", kMono8)), "");
    for (std::size_t i = 0; i < PreviewData.size(); ++i)
        PreviewData[i] = static_cast<std::uint8_t>(i);
    PlayPreview();
    device.Advance(30);
    const wave::PcmFormat format = SoundFormat;
    const std::vector<std::uint8_t> sound = SoundData;
    const std::vector<std::uint8_t> preview = PreviewData;
    const std::uint8_t* previewAddress = PreviewData.data();
    const platform::HWAVEOUT handle = WaveOutHandle;
    device.ClearRecord();

    struct Row {
        const char* name;
        testwave::Bytes bytes;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"too short", testwave::Wave(kStereo16, testwave::Pattern(3999)),
         "ファイルが短すぎます。5秒以上のファイルを選択してください"},
        {"not RIFF", testwave::Bytes{'R', 'I', 'F'}, "不正なRIFFヘッダです"},
        {"three channels", testwave::Wave(testwave::Pcm(8, 3, 100), testwave::Pattern(1500)),
         "不正なフォーマットです"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = folder + "/refused.wav";
        testwave::WriteFile(path, row.bytes);
        EXPECT_EQ(LoadWave(path), row.message);
        EXPECT_TRUE(device.calls.empty()) << "a refused file must not touch the device";
        EXPECT_EQ(SoundFormat, format);
        EXPECT_EQ(SoundData, sound);
        EXPECT_EQ(DataSize, 500);
        EXPECT_EQ(PreviewData, preview);
        EXPECT_EQ(PreviewData.data(), previewAddress);
        EXPECT_EQ(WaveOutHandle, handle);
    }
    EXPECT_TRUE(device.playing);
    device.Advance(20);
    EXPECT_EQ(GetPreviewPosition(), 50) << "the preview goes on playing";
}

TEST_F(WavemiscTest, DeviceRefusalIsReportedAfterTheSoundIsReplaced) {
    device.openResult = platform::WAVERR_BADFORMAT;
    EXPECT_EQ(LoadWave(FiveSeconds("a.wav", kMono8)), "waveOutOpen失敗：32");
    EXPECT_EQ(WaveOutHandle, 0u);
    EXPECT_EQ(DataSize, 500) << "the accepted sound stays loaded";
    EXPECT_EQ(PreviewHeader.lpData, nullptr) << "a failed open leaves the header alone";
    EXPECT_EQ(GetPreviewPosition(), 0);
    ClosePreviewDevice();
    EXPECT_EQ(device.calls, Calls{kOpen}) << "no device: no position query, nothing to close";
}

TEST_F(WavemiscTest, InconsistentFormatIsLoadedButTheOpenFails) {
    testwave::Format odd = kMono8;
    odd.blockAlign = 2;  // the reader does not test it; the device does
    EXPECT_EQ(LoadWave(WriteWave("odd.wav", odd, testwave::Pattern(500))), "waveOutOpen失敗：32");
    EXPECT_EQ(SoundFormat.nBlockAlign, 2);
    EXPECT_EQ(WaveOutHandle, 0u);
    EXPECT_FALSE(device.isOpen);
}

TEST_F(WavemiscTest, CloseSequences) {
    ClosePreviewDevice();
    EXPECT_TRUE(device.calls.empty()) << "closing with no device does nothing";

    ASSERT_EQ(LoadWave(FiveSeconds("a.wav", kMono8)), "");
    device.ClearRecord();
    ClosePreviewDevice();  // right after the open, nothing ever prepared
    EXPECT_EQ(device.calls, (Calls{kPause, kReset, kUnprepare, kClose}));
    EXPECT_EQ(device.results, (std::vector<platform::MMRESULT>(4, 0)));
    EXPECT_EQ(PreviewHeader.dwFlags, platform::WHDR_BEGINLOOP | platform::WHDR_ENDLOOP);
    EXPECT_EQ(WaveOutHandle, 0u);
    EXPECT_FALSE(device.isOpen);

    ClosePreviewDevice();
    EXPECT_EQ(device.calls.size(), 4u) << "a second close makes no call";

    // Reopening the same sound goes through a full close first.
    ASSERT_EQ(OpenPreviewDevice(), "");
    PlayPreview();
    device.ClearRecord();
    ASSERT_EQ(OpenPreviewDevice(), "");
    EXPECT_EQ(device.calls, (Calls{kPause, kReset, kUnprepare, kClose, kOpen}));
    EXPECT_EQ(device.results, (std::vector<platform::MMRESULT>(5, 0)));
}

TEST_F(WavemiscTest, PreviewPlaysRestartsAndStopsAtItsEnd) {
    EXPECT_EQ(GetPreviewPosition(), 0);
    EXPECT_TRUE(device.calls.empty()) << "no device: no query";

    ASSERT_EQ(LoadWave(FiveSeconds("a.wav", kStereo16)), "");
    for (std::size_t i = 0; i < PreviewData.size(); ++i)
        PreviewData[i] = static_cast<std::uint8_t>(i * 5);
    device.ClearRecord();
    PlayPreview();
    EXPECT_EQ(device.calls, (Calls{kReset, kPrepare, kWrite}));
    EXPECT_EQ(device.lastBlock, PreviewData) << "the whole preview buffer is handed over";
    device.Advance(300);
    EXPECT_EQ(GetPreviewPosition(), 300);

    PlayPreview();  // the header is still prepared and queued: reset lets the write through
    EXPECT_EQ(device.results, (std::vector<platform::MMRESULT>(7, 0)));
    EXPECT_EQ(device.writes, 2);
    EXPECT_EQ(GetPreviewPosition(), 0) << "a second play restarts at 0";

    device.Advance(799);
    EXPECT_EQ(GetPreviewPosition(), 799);
    device.Advance(5000);
    EXPECT_EQ(GetPreviewPosition(), 800) << "four seconds of frames, then it stays";
    device.Advance(5000);
    EXPECT_EQ(GetPreviewPosition(), 800);

    StopPreview();
    EXPECT_EQ(GetPreviewPosition(), 0);
    device.failPosition = true;
    PlayPreview();
    device.Advance(10);
    EXPECT_EQ(GetPreviewPosition(), 0) << "a failed query reads as 0";
}

TEST_F(WavemiscTest, PlayAndStopWithNoDeviceAreHarmless) {
    StopPreview();
    EXPECT_TRUE(device.calls.empty());
    PlayPreview();
    EXPECT_EQ(device.results, (std::vector<platform::MMRESULT>(3, platform::MMSYSERR_INVALHANDLE)));
    EXPECT_EQ(PreviewHeader.dwFlags, 0u);
    EXPECT_EQ(device.writes, 0);
}

TEST_F(WavemiscTest, SaveWritesTheLoadedSoundOrRefusesWithoutOne) {
    const std::string out = folder + "/out.wav";
    const std::string refused = SaveLoopedWave(out, 1, 0, 0, 500);
    EXPECT_EQ(refused.rfind(std::string(wave::kSaveFailed), 0), 0u) << refused;
    EXPECT_FALSE(std::filesystem::exists(out));

    ASSERT_EQ(LoadWave(FiveSeconds("a.wav", kMono8)), "");
    // The whole sound as the loop, once, no tail: the output holds the sound unchanged.
    ASSERT_EQ(SaveLoopedWave(out, 1, 0, 0, 500), "");
    const wave::ParseResult back = files::ReadWaveFile(out);
    ASSERT_EQ(back.error, wave::WaveError::None);
    EXPECT_EQ(back.wave.format, SoundFormat);
    EXPECT_EQ(back.wave.data, SoundData);
}

}  // namespace
}  // namespace wavemisc
