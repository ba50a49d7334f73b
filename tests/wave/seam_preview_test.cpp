// SPDX-License-Identifier: GPL-3.0-or-later
// The seam preview fill: two seconds either side of the seam, and what it refuses.
#include "wave/seam_preview.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/wave_bytes.h"
#include "tests/support/wave_layer.h"
#include "wave/pcm_format.h"

namespace {

using testwave::Bytes;

TEST(SeamPreview, CopiesTwoSecondsEitherSideOfTheSeam) {
    const wave::PcmFormat f = testwave::PcmFormatOf(16, 2, 44100);
    const Bytes sound = testwave::Pattern(2000000);
    Bytes preview(705600);
    ASSERT_EQ(wave::FillPreview(f, sound, 100000, 500000, preview), "");
    EXPECT_TRUE(std::equal(preview.begin(), preview.begin() + 352800, sound.begin() + 1647200));
    EXPECT_TRUE(std::equal(preview.begin() + 352800, preview.end(), sound.begin() + 400000));

    // The tightest loop: both halves are the same two seconds.
    ASSERT_EQ(wave::FillPreview(f, sound, 0, 88200, preview), "");
    EXPECT_TRUE(std::equal(preview.begin(), preview.begin() + 352800, preview.begin() + 352800));
}

TEST(SeamPreview, RefusesWhatWouldLeaveTheSoundAndTouchesNothing) {
    const wave::PcmFormat f = testwave::PcmFormatOf(8, 1, 11025);  // H = 22050 bytes
    wave::PcmFormat inconsistent = f;
    inconsistent.nAvgBytesPerSec = 2 * f.nAvgBytesPerSec;
    const Bytes sound = testwave::Pattern(60000);
    struct Row {
        const char* name;
        wave::PcmFormat format;
        std::int32_t start, end;
        std::size_t previewBytes;
    };
    for (const Row& r : {Row{"inconsistent", inconsistent, 0, 30000, 176400},
                         Row{"wrong buffer", f, 0, 30000, 44099},
                         Row{"end too near the start of the sound", f, 0, 22049, 44100},
                         Row{"end beyond the sound", f, 0, 60001, 44100},
                         Row{"start beyond the sound", f, 37951, 60000, 44100},
                         Row{"negative start", f, -1, 30000, 44100}}) {
        Bytes preview(r.previewBytes, 0xAB);
        EXPECT_NE(wave::FillPreview(r.format, sound, r.start, r.end, preview), "") << r.name;
        EXPECT_EQ(preview, Bytes(r.previewBytes, 0xAB)) << r.name;
    }
    Bytes preview(44100);
    EXPECT_EQ(wave::FillPreview(f, sound, 37950, 60000, preview),
              "");  // both halves end at the last byte
}

}  // namespace
