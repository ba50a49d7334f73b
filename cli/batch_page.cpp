// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_page.h"

#include <cstdio>

#include "finder/loop_finder.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:0 auto;max-width:960px;padding:8px;color:#222}"
    "section{border-top:1px solid #ccc;padding:8px 0}h2{font-size:1em;word-break:break-all}"
    "svg{display:block;width:100%;background:#fafafa}svg.join{height:160px}"
    "svg.overview{height:40px}.wave{fill:none;stroke:#1a5fb4;stroke-width:1}"
    ".after{fill:none;stroke:#1a5fb4;stroke-opacity:.25;stroke-width:1}"
    ".axis{stroke:#ddd}.mark{stroke:#c01c28;stroke-width:1.5}.loop{fill:#fde3a7}"
    ".level{fill:#555}.status{font-weight:bold}.looped{color:#26a269}"
    ".no-loop,.refused,.write-failed{color:#c01c28}table{border-collapse:collapse}"
    "td,th{padding:2px 8px;text-align:right}audio{width:100%}";

std::string LoopText(const finder::LoopCandidate& loop, std::int32_t rate) {
    return std::to_string(loop.start) + "–" + std::to_string(loop.end) + "（" +
           MinutesSeconds(loop.start, rate) + "–" + MinutesSeconds(loop.end, rate) + "）";
}

std::string Section(const Item& item, const Result& result) {
    std::string html = "<section id=\"f" + std::to_string(item.number) + "\"><h2>" +
                       HtmlEscaped(item.path) + "</h2><p class=\"status " +
                       std::string(wave::BatchStatusName(result.status)) + "\">" +
                       HtmlEscaped(wave::BatchStatusText(result.status));
    if (!result.message.empty()) html += "：" + HtmlEscaped(result.message);
    html += "</p>";
    if (!result.loop) return html + "</section>\n";
    const finder::LoopCandidate& loop = *result.loop;
    html += "<dl><dt>" + std::string(wave::kPageLoop) + "</dt><dd>" + LoopText(loop, result.rate) +
            "</dd><dt>" + std::string(wave::kPageLength) + "</dt><dd>" +
            std::to_string(loop.end - loop.start) + "（" +
            MinutesSeconds(loop.end - loop.start, result.rate) + "）</dd><dt>" +
            std::string(wave::kPageSeam) + "</dt><dd>" + finder::QualityText(loop.qualityDb) +
            " dB</dd><dt>" + std::string(wave::kPageKind) + "</dt><dd class=\"" +
            std::string(wave::LoopKindName(loop.kind)) + "\">" +
            std::string(wave::LoopKindText(loop.kind)) + "</dd></dl>";
    if (!result.joinSvg.empty()) {
        html += "<figure><figcaption>" + std::string(wave::kPageJoin) + "</figcaption>" +
                result.joinSvg + "</figure><figure><figcaption>" +
                std::string(wave::kPageOverview) + "</figcaption>" + result.overviewSvg +
                "</figure>";
    }
    if (!result.preview.empty()) {
        html += "<p>" + std::string(wave::kPageListen) +
                "</p><audio controls preload=\"none\" src=\"" + UrlPathEscaped(result.preview) +
                "\"></audio>";
    } else if (!result.previewFailure.empty()) {
        html += "<p>" + std::string(wave::kPageListen) + "：<span class=\"write-failed\">" +
                HtmlEscaped(result.previewFailure) + "</span></p>";
    }
    if (!result.others.empty()) {
        html += "<table><caption>" + std::string(wave::kPageOthers) + "</caption>";
        for (const finder::LoopCandidate& other : result.others) {
            html += "<tr><td>" + LoopText(other, result.rate) + "</td><td>" +
                    finder::QualityText(other.qualityDb) + " dB</td><td>" +
                    std::string(wave::LoopKindText(other.kind)) + "</td></tr>";
        }
        html += "</table>";
    }
    return html + "</section>\n";
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    for (std::size_t k = 0; k < text.size();) {
        const unsigned char lead = byte(k);
        // The sequence's length, and the range its second byte must fall in (which rules out
        // overlong forms, surrogates and code points beyond U+10FFFF).
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        bool valid = length > 0 && k + length <= text.size();
        for (std::size_t j = 1; valid && j < length; ++j) {
            const unsigned char c = byte(k + j);
            valid = j == 1 ? c >= low && c <= high : c >= 0x80 && c <= 0xBF;
        }
        if (!valid) {
            out += "\xEF\xBF\xBD";  // U+FFFD for the byte that begins no character
            ++k;
            continue;
        }
        out.append(text.substr(k, length));
        k += length;
    }
    return out;
}

std::string HtmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : ValidUtf8(text)) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string UrlPathEscaped(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::string MinutesSeconds(std::int64_t frames, std::int32_t rate) {
    const std::int64_t milliseconds = (frames * 1000 + rate / 2) / std::max<std::int32_t>(1, rate);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld",
                  static_cast<long long>(milliseconds / 60000),
                  static_cast<long long>(milliseconds / 1000 % 60),
                  static_cast<long long>(milliseconds % 1000));
    return text;
}

std::string ReportPage(const std::vector<Item>& items, const std::vector<Result>& results,
                       std::string_view summary) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
        std::string(wave::kPageTitle) + "</title><style>" + std::string(kStyle) +
        "</style></head><body><h1>" + std::string(wave::kPageTitle) + "</h1><p>" +
        HtmlEscaped(summary) + "</p>\n";
    for (std::size_t i = 0; i < items.size(); ++i)
        if (results[i].finished) html += Section(items[i], results[i]);
    return html + "</body></html>\n";
}

}  // namespace cli
