// SPDX-License-Identifier: GPL-3.0-or-later
// The file information's seven lines.
#include "wave/information_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/wave_layer.h"
#include "wave/pcm_format.h"

namespace {

TEST(InformationText, TextHasSevenAlignedLines) {
    const std::string text = wave::JoinLines(
        wave::InformationLines("/music/a b.wav", testwave::PcmFormatOf(16, 2, 44100), 882000),
        "\r\n");
    EXPECT_EQ(text,
              "ファイル名              ： /music/a b.wav\r\n"
              "サンプリングレート      ： 44100Hz\r\n"
              "サンプリングビット数    ： 16bit\r\n"
              "ステレオ,モノラル       ： ステレオ\r\n"
              "1秒あたりのデータサイズ ： 176400byte\r\n"
              "データサイズ            ： 882000\r\n"
              "再生時間                ： 5.00秒");

    const auto mono = wave::InformationLines("x", testwave::PcmFormatOf(8, 1, 22050), 110250);
    ASSERT_EQ(mono.size(), 7u);
    EXPECT_EQ(mono[3], "ステレオ,モノラル       ： モノラル");
    EXPECT_EQ(mono[6], "再生時間                ： 5.00秒");
    EXPECT_EQ(wave::InformationLines("x", testwave::PcmFormatOf(8, 1, 10000), 56689)[6],
              "再生時間                ： 5.67秒");
    EXPECT_EQ(wave::InformationLines("x", testwave::PcmFormatOf(8, 1, 2), 2469)[6],
              "再生時間                ： 1234.50秒");
}

}  // namespace
