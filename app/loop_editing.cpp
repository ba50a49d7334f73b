// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/loop_editing.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "wave/rounding.h"

namespace wavemisc {

using wave::ClampToInt32;
using wave::RoundHalfEven;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// &H1F, &o17: digits of the base up to the first that is not one. The value is read as the plain
// non-negative number the digits spell.
double ReadPrefixedInteger(std::string_view digits, int base) {
    double value = 0.0;
    for (const char c : digits) {
        const int d = DigitValue(c);
        if (d < 0 || d >= base) break;
        value = value * base + d;
    }
    return value;
}

}  // namespace

int NudgeRow(int index) {
    assert(index >= 0 && index < kNudgeButtons);
    return (index / 2) % kNudgeRows;
}

std::int64_t NudgeStep(int index, std::int32_t samplesPerSec) {
    std::int64_t step = 0;
    switch (NudgeRow(index)) {
        case 0: step = 1; break;
        case 1: step = 10; break;
        // 0.1 s: at 11025 frames per second 1102.5 becomes 1102.
        case 2: step = static_cast<std::int64_t>(RoundHalfEven(samplesPerSec * 0.1)); break;
        case 3: step = samplesPerSec; break;
        default: step = std::int64_t{samplesPerSec} * 10; break;
    }
    return index % 2 == 0 ? -step : step;
}

bool NudgeMovesStart(int index) {
    assert(index >= 0 && index < kNudgeButtons);
    return index < kNudgeButtons / 2;
}

double ReadNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') s += c;
    }

    if (!s.empty() && s[0] == '&') {
        if (s.size() < 2) return 0.0;
        if (s[1] == 'H' || s[1] == 'h')
            return ReadPrefixedInteger(std::string_view(s).substr(2), 16);
        if (s[1] == 'O' || s[1] == 'o')
            return ReadPrefixedInteger(std::string_view(s).substr(2), 8);
        return 0.0;
    }

    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }

    // The number in a form from_chars takes (no sign), and its decimal magnitude in case the
    // value does not fit a double: digits before the point, less zeros after it, plus exponent.
    std::string number;
    bool anyDigit = false;
    bool seenNonZero = false;
    std::int64_t magnitude = 0;
    while (i < s.size() && IsDigit(s[i])) {
        if (s[i] != '0') seenNonZero = true;
        if (seenNonZero) ++magnitude;
        number += s[i++];
        anyDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && IsDigit(s[i])) {
            if (!seenNonZero) {
                if (s[i] == '0')
                    --magnitude;
                else
                    seenNonZero = true;
            }
            number += s[i++];
            anyDigit = true;
        }
    }
    if (!anyDigit) return 0.0;

    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            negativeExponent = s[j] == '-';
            ++j;
        }
        // An exponent without digits is not part of the number ("1e" reads 1).
        if (j < s.size() && IsDigit(s[j])) {
            std::int64_t exponent = 0;
            number += 'e';
            if (negativeExponent) number += '-';
            while (j < s.size() && IsDigit(s[j])) {
                number += s[j];
                exponent = std::min<std::int64_t>(exponent * 10 + (s[j] - '0'), 1'000'000);
                ++j;
            }
            magnitude += negativeExponent ? -exponent : exponent;
        }
    }

    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                           std::chars_format::general);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        value = seenNonZero && magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::int32_t ReadFrameNumber(std::string_view text) {
    return ClampToInt32(RoundHalfEven(ReadNumber(text)));
}

std::string TimeText(std::int32_t frame, std::int32_t samplesPerSec) {
    assert(samplesPerSec >= 1);
    if (samplesPerSec < 1) return "";  // no rate, no time: never for a loaded sound
    const float seconds = static_cast<float>(static_cast<double>(frame) / samplesPerSec);
    const double minutes = std::floor(static_cast<double>(seconds) / 60.0);
    const float rest = static_cast<float>(static_cast<double>(seconds) - 60.0 * minutes);
    // A float times 1000 is exact in a double, so this rounds the float's own value to
    // milliseconds, halves away from zero as the "00.000" pattern does.
    const auto millis = static_cast<std::int64_t>(std::round(static_cast<double>(rest) * 1000.0));
    const std::int64_t whole = millis / 1000;
    const std::int64_t fraction = millis % 1000;

    std::string text = std::to_string(static_cast<std::int64_t>(minutes)) + ":";
    if (whole < 10) text += '0';
    text += std::to_string(whole) + ".";
    if (fraction < 100) text += '0';
    if (fraction < 10) text += '0';
    text += std::to_string(fraction);
    return text;
}

std::int32_t FrameAtBar(float x, std::int32_t lastFrame) {
    return ClampToInt32(RoundHalfEven(static_cast<double>(x) * lastFrame));
}

float BarRatio(std::int32_t frame, std::int32_t lastFrame) {
    assert(lastFrame != 0);
    // |frame / lastFrame| stays below 2^31, well inside float.
    return static_cast<float>(static_cast<double>(frame) / lastFrame);
}

}  // namespace wavemisc
