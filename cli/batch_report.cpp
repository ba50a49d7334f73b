// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string_view>

#include "cli/batch_page.h"
#include "files/atomic_save.h"
#include "finder/loop_finder.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

// The kind of loop comes last, so that readers of the columns before it need no change.
constexpr std::string_view kReportHeader =
    "path,status,start,end,seam_db,loop_seconds,output,message,kind";

// A field of the report, quoted where RFC 4180 asks: a comma, a quote or a line break in it.
std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string ReportRow(const Item& item, const Result& result) {
    std::string start, end, seam, seconds, output, kind;
    if (result.loop) {
        kind = wave::LoopKindName(result.loop->kind);
        start = std::to_string(result.loop->start);
        end = std::to_string(result.loop->end);
        seam = finder::QualityText(result.loop->qualityDb);
        char text[32];
        std::snprintf(text, sizeof text, "%.3f",
                      static_cast<double>(result.loop->end - result.loop->start) / result.rate);
        seconds = text;
    }
    if (result.status == wave::BatchStatus::Looped ||
        result.status == wave::BatchStatus::WriteFailed)
        output = item.output;
    const std::array<std::string, 9> fields{
        item.path, std::string(wave::BatchStatusName(result.status)),
        start,     end,
        seam,      seconds,
        output,    result.message,
        kind};
    std::string row;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (k > 0) row += ',';
        row += CsvField(fields[k]);
    }
    return row + "\r\n";
}

// A name as a line of text may show it: control characters become '?'.
std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

std::string Clock(double seconds) {
    const auto total = static_cast<long long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

// The text cut at a character boundary so it takes at most `width` columns of a terminal, where
// a UTF-8 character of three or four bytes (East Asian ones among them) takes two.
std::string Fit(std::string_view text, std::size_t width) {
    std::size_t columns = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        columns += length >= 3 ? 2 : 1;
        if (columns > width) break;
        i += length;
    }
    return std::string(text.substr(0, std::min(i, text.size())));
}

std::size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string ReportText(const std::vector<Item>& items, const std::vector<Result>& results) {
    std::string report = std::string(kReportHeader) + "\r\n";
    for (std::size_t i = 0; i < items.size(); ++i)
        if (results[i].finished) report += ReportRow(items[i], results[i]);
    return report;
}

}  // namespace

Progress::Progress(std::size_t files, double minutes)
    : files_(files),
      minutes_(minutes),
      terminal_(::isatty(STDERR_FILENO) == 1),
      started_(std::chrono::steady_clock::now()) {}

void Progress::Started(const std::string& path) {
    const std::lock_guard<std::mutex> hold(lock_);
    current_ = path;
}

void Progress::Finished(const Item& item, const Result& result) {
    const std::lock_guard<std::mutex> hold(lock_);
    ++done_;
    minutesDone_ += item.minutes;
    // The reader's notes (--verbose) stand above the line, which a terminal redraws.
    if (terminal_ && !result.notes.empty()) std::fprintf(stderr, "\r\033[K");
    for (const std::string& note : result.notes)
        std::fprintf(stderr, "%s\n", Printable(note).c_str());
    if (terminal_) return;
    const std::string line = wave::BatchFinishedLine(
        done_, files_, result.status, Printable(item.path), Printable(result.message));
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void Progress::Draw() {
    if (!terminal_) return;
    const std::lock_guard<std::mutex> hold(lock_);
    const double elapsed = Elapsed();
    const std::string remaining =
        minutesDone_ > 0.0 ? Clock(elapsed * (minutes_ - minutesDone_) / minutesDone_) : "--:--";
    const std::string counts =
        wave::BatchProgressLine(done_, files_, minutesDone_, minutes_, Clock(elapsed), remaining);
    const std::size_t width = TerminalColumns() - 1;
    const std::string line = Fit(counts + Printable(current_), width);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

void Progress::Clear() {
    if (!terminal_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

double Progress::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

Outcome Finish(const std::vector<Item>& items, const std::vector<Result>& results, int stopSignal,
               const std::string& reportPath) {
    std::size_t counts[wave::kBatchStatuses] = {};
    std::size_t kinds[wave::kLoopKinds] = {};
    std::size_t finished = 0;
    bool allLooped = true;
    for (const Result& result : results) {
        allLooped = allLooped && result.finished && result.status == wave::BatchStatus::Looped;
        if (!result.finished) continue;
        ++counts[static_cast<std::size_t>(result.status)];
        ++finished;
        if (result.status == wave::BatchStatus::Looped && result.loop)
            ++kinds[static_cast<std::size_t>(result.loop->kind)];
    }
    Outcome outcome;
    outcome.exitCode = stopSignal != 0 ? 128 + stopSignal : allLooped ? kExitOk : kExitFailed;
    outcome.err = wave::BatchSummary(counts, items.size() - finished) + "\n";
    if (counts[static_cast<std::size_t>(wave::BatchStatus::Looped)] > 0)
        outcome.err += wave::BatchKindsLine(kinds) + "\n";
    if (reportPath.empty()) return outcome;
    const std::string report =
        IsPageReport(reportPath)
            ? ReportPage(items, results, wave::BatchSummary(counts, items.size() - finished))
            : ReportText(items, results);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(report.data()),
                                              report.size());
    const std::array<std::span<const std::uint8_t>, 1> parts{bytes};
    const std::string message = files::SaveAtomically(reportPath, parts);
    if (!message.empty()) {
        outcome.err += message + "\n";
        if (outcome.exitCode == kExitOk) outcome.exitCode = kExitFailed;
    }
    return outcome;
}

}  // namespace cli
