// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/join_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wave {

namespace {

constexpr double kJoinWidth = 600.0;
constexpr double kLaneHeight = 80.0;
constexpr double kOverviewWidth = 600.0;
constexpr double kOverviewHeight = 40.0;

// One sample, -1 to 1: 8-bit unsigned around 128, 16-bit signed little-endian.
double SampleAt(const PcmFormat& format, std::span<const std::uint8_t> sound, std::int64_t frame,
                int channel) {
    const std::int64_t at = frame * format.nBlockAlign + channel * (format.wBitsPerSample / 8);
    if (format.wBitsPerSample == 8) return (sound[static_cast<std::size_t>(at)] - 128) / 128.0;
    const auto u = static_cast<std::uint16_t>(sound[static_cast<std::size_t>(at)] |
                                              sound[static_cast<std::size_t>(at) + 1] << 8);
    return static_cast<std::int16_t>(u) / 32768.0;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// At most this many columns of points a lane: beyond it, each column keeps its lowest and
// highest sample, so a step or a click still shows and the page stays small.
constexpr std::size_t kMostColumns = 300;

std::string Polyline(const JoinPicture& picture, const std::vector<double>& values,
                     std::size_t firstIndex, double top, const char* style) {
    std::string points;
    const auto add = [&](std::size_t k) {
        if (!points.empty()) points += ' ';
        points += Number(JoinX(picture, firstIndex + k, kJoinWidth)) + "," +
                  Number(LaneY(values[k], top, kLaneHeight));
    };
    const std::size_t perColumn = values.size() / kMostColumns + 1;
    for (std::size_t from = 0; from < values.size(); from += perColumn) {
        const std::size_t to = std::min(values.size(), from + perColumn);
        std::size_t low = from;
        std::size_t high = from;
        for (std::size_t k = from; k < to; ++k) {
            if (values[k] < values[low]) low = k;
            if (values[k] > values[high]) high = k;
        }
        add(std::min(low, high));
        if (low != high) add(std::max(low, high));
    }
    return "<polyline points=\"" + points + "\" " + style + "/>";
}

}  // namespace

JoinPicture PictureOfJoin(const PcmFormat& format, std::span<const std::uint8_t> sound,
                          std::int32_t loopStart, std::int32_t loopEnd) {
    JoinPicture picture;
    const bool bits = format.wBitsPerSample == 8 || format.wBitsPerSample == 16;
    if (!bits || format.nChannels < 1 || format.nSamplesPerSec < 1 ||
        format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8)
        return picture;
    const std::int64_t frames = static_cast<std::int64_t>(sound.size()) / format.nBlockAlign;
    if (loopStart < 0 || loopEnd <= loopStart || loopEnd > frames) return picture;
    // The frames nearest 30 ms.
    const std::int64_t side = std::max<std::int64_t>(
        1, (std::int64_t{format.nSamplesPerSec} * kJoinMilliseconds + 500) / 1000);
    picture.sideFrames = side;
    const std::int64_t before = std::max<std::int64_t>(0, loopEnd - side);
    const std::int64_t fromStart = std::min(side, frames - loopStart);
    const std::int64_t following = std::min(side, frames - loopEnd);
    for (int c = 0; c < format.nChannels; ++c) {
        std::vector<double> joined(static_cast<std::size_t>(side - (loopEnd - before)), 0.0);
        for (std::int64_t f = before; f < loopEnd; ++f)
            joined.push_back(SampleAt(format, sound, f, c));
        for (std::int64_t f = 0; f < fromStart; ++f)
            joined.push_back(SampleAt(format, sound, loopStart + f, c));
        std::vector<double> after;
        for (std::int64_t f = 0; f < following; ++f)
            after.push_back(SampleAt(format, sound, loopEnd + f, c));
        picture.joined.push_back(std::move(joined));
        picture.after.push_back(std::move(after));
    }
    picture.overview.assign(kOverviewColumns, 0.0);
    for (int column = 0; column < kOverviewColumns; ++column) {
        const std::int64_t from = frames * column / kOverviewColumns;
        const std::int64_t to = std::max(from + 1, frames * (column + 1) / kOverviewColumns);
        // A strided look is enough for a level: at most 64 frames a column.
        const std::int64_t step = std::max<std::int64_t>(1, (to - from) / 64);
        double peak = 0.0;
        for (std::int64_t f = from; f < to && f < frames; f += step)
            for (int c = 0; c < format.nChannels; ++c)
                peak = std::max(peak, std::fabs(SampleAt(format, sound, f, c)));
        picture.overview[static_cast<std::size_t>(column)] = std::min(1.0, peak);
    }
    picture.loopStartShare = static_cast<double>(loopStart) / static_cast<double>(frames);
    picture.loopEndShare = static_cast<double>(loopEnd) / static_cast<double>(frames);
    return picture;
}

double JoinX(const JoinPicture& picture, std::size_t index, double width) {
    const double slots = static_cast<double>(std::max<std::int64_t>(1, 2 * picture.sideFrames - 1));
    return width * static_cast<double>(index) / slots;
}

double JoinMarkX(const JoinPicture& picture, double width) {
    if (picture.sideFrames < 1) return 0.0;
    const auto side = static_cast<std::size_t>(picture.sideFrames);
    return (JoinX(picture, side - 1, width) + JoinX(picture, side, width)) / 2.0;
}

double LaneY(double value, double top, double height) {
    return top + height * (1.0 - std::clamp(value, -1.0, 1.0)) / 2.0;
}

std::string JoinSvg(const JoinPicture& picture) {
    const double height =
        kLaneHeight * static_cast<double>(std::max<std::size_t>(1, picture.joined.size()));
    const double mark = JoinMarkX(picture, kJoinWidth);
    std::string svg = "<svg class=\"join\" viewBox=\"0 0 " + Number(kJoinWidth) + " " +
                      Number(height) +
                      "\" role=\"img\" aria-label=\"join\" preserveAspectRatio=\"none\">";
    for (std::size_t c = 0; c < picture.joined.size(); ++c) {
        const double top = kLaneHeight * static_cast<double>(c);
        svg += "<line x1=\"0\" x2=\"" + Number(kJoinWidth) + "\" y1=\"" +
               Number(LaneY(0.0, top, kLaneHeight)) + "\" y2=\"" +
               Number(LaneY(0.0, top, kLaneHeight)) + "\" class=\"axis\"/>";
        if (!picture.after[c].empty())
            svg += Polyline(picture, picture.after[c], static_cast<std::size_t>(picture.sideFrames),
                            top, "class=\"after\"");
        svg += Polyline(picture, picture.joined[c], 0, top, "class=\"wave\"");
    }
    svg += "<line x1=\"" + Number(mark) + "\" x2=\"" + Number(mark) + "\" y1=\"0\" y2=\"" +
           Number(height) + "\" class=\"mark\"/></svg>";
    return svg;
}

std::string OverviewSvg(const JoinPicture& picture) {
    std::string svg = "<svg class=\"overview\" viewBox=\"0 0 " + Number(kOverviewWidth) + " " +
                      Number(kOverviewHeight) +
                      "\" role=\"img\" aria-label=\"overview\" preserveAspectRatio=\"none\">";
    const double x0 = picture.loopStartShare * kOverviewWidth;
    const double x1 = picture.loopEndShare * kOverviewWidth;
    svg += "<rect x=\"" + Number(x0) + "\" y=\"0\" width=\"" + Number(std::max(0.0, x1 - x0)) +
           "\" height=\"" + Number(kOverviewHeight) + "\" class=\"loop\"/>";
    // The level as one shape: its upper edge left to right, its lower edge back.
    const double column =
        kOverviewWidth / static_cast<double>(std::max<std::size_t>(1, picture.overview.size()));
    const double middle = kOverviewHeight / 2.0;
    std::string upper, lower;
    for (std::size_t k = 0; k < picture.overview.size(); ++k) {
        const std::size_t back = picture.overview.size() - 1 - k;
        upper += Number(column * (static_cast<double>(k) + 0.5)) + "," +
                 Number(middle - std::max(0.25, picture.overview[k] * middle)) + " ";
        lower += Number(column * (static_cast<double>(back) + 0.5)) + "," +
                 Number(middle + std::max(0.25, picture.overview[back] * middle)) + " ";
    }
    svg += "<polygon points=\"" + upper + lower + "\" class=\"level\"/>";
    return svg + "</svg>";
}

}  // namespace wave
