// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/information_text.h"

#include <cstdio>

namespace wave {

std::vector<std::string> InformationLines(const std::string& path, const PcmFormat& format,
                                          std::int64_t dataBytes) {
    // Seconds to two decimals; with no bytes per second (never for a loaded sound) it reads 0.00.
    double seconds = 0.0;
    if (format.nAvgBytesPerSec > 0)
        seconds = static_cast<double>(dataBytes) / format.nAvgBytesPerSec;
    char playing[64];
    std::snprintf(playing, sizeof playing, "%.2f", seconds);

    std::string channels = std::to_string(format.nChannels);
    if (format.nChannels == 1) channels = "モノラル";
    if (format.nChannels == 2) channels = "ステレオ";

    // Captions padded with blanks to 24 columns (a full-width character counts two).
    return {
        "ファイル名              ： " + path,
        "サンプリングレート      ： " + std::to_string(format.nSamplesPerSec) + "Hz",
        "サンプリングビット数    ： " + std::to_string(format.wBitsPerSample) + "bit",
        "ステレオ,モノラル       ： " + channels,
        "1秒あたりのデータサイズ ： " + std::to_string(format.nAvgBytesPerSec) + "byte",
        "データサイズ            ： " + std::to_string(dataBytes),
        "再生時間                ： " + std::string(playing) + "秒",
    };
}

std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += separator;
        out += lines[i];
    }
    return out;
}

}  // namespace wave
