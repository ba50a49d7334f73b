// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "files/atomic_save.h"
#include "files/looped_wave_file.h"
#include "files/save_errors.h"
#include "files/wave_file.h"
#include "finder/loop_finder.h"
#include "wave/looped_wave.h"
#include "wave/rounding.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// The batch's own texts.
constexpr std::string_view kOutputIsInput = "出力先が入力ファイルと同じです";
constexpr std::string_view kOutputTaken = "出力先が他の入力の出力と重なります";
constexpr std::string_view kNoWaveFiles = "wave ファイルが見つかりませんでした";
constexpr std::string_view kReportHeader =
    "path,status,start,end,seam_db,loop_seconds,output,message";

enum class Status { Looped, NoLoop, Refused, WriteFailed };

// The report's word for a status, and the user's.
std::string_view StatusName(Status status) {
    switch (status) {
        case Status::Looped: return "looped";
        case Status::NoLoop: return "no-loop";
        case Status::Refused: return "refused";
        case Status::WriteFailed: return "write-failed";
    }
    return "";
}

std::string_view StatusText(Status status) {
    switch (status) {
        case Status::Looped: return "ループ作成";
        case Status::NoLoop: return "ループなし";
        case Status::Refused: return "拒否";
        case Status::WriteFailed: return "書き込み失敗";
    }
    return "";
}

// One input: where it is read from and written to, how long it plays (0 when its headers are
// refused), and why it is refused before any work, if it is.
struct Item {
    std::string path;
    std::string output;
    double minutes = 0.0;
    std::string refusal;
};

struct Result {
    bool finished = false;
    Status status = Status::Refused;
    std::optional<finder::LoopCandidate> loop;
    std::int32_t rate = 1;
    std::string message;
};

bool IsWaveName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return extension == ".wav";
}

fs::path OutputFor(const fs::path& folder, const fs::path& below) {
    return folder / below.parent_path() / fs::path(below.stem().string() + ".wav");
}

// The inputs in order: a file as given; a folder's wave files (any case of ".wav"), found
// recursively in sorted order. A link to a file is taken; a link to a folder is not followed,
// so no walk can go round in circles.
std::vector<Item> Walk(const Arguments& arguments) {
    const fs::path out = arguments.outputFolder;
    std::vector<Item> items;
    for (const std::string& given : arguments.inputPaths) {
        std::error_code error;
        if (!fs::is_directory(given, error)) {
            items.push_back(
                Item{given, OutputFor(out, fs::path(given).filename()).string(), 0.0, ""});
            continue;
        }
        std::vector<fs::path> below;
        fs::recursive_directory_iterator it(given, fs::directory_options::skip_permission_denied,
                                            error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (IsWaveName(it->path()) && fs::is_regular_file(it->path(), ignored))
                below.push_back(it->path().lexically_relative(given));
        }
        std::sort(below.begin(), below.end());
        for (const fs::path& file : below)
            items.push_back(
                Item{(fs::path(given) / file).string(), OutputFor(out, file).string(), 0.0, ""});
    }
    return items;
}

// Refuses an output that would replace one of the inputs, or another input's output.
void RefuseClashes(std::vector<Item>& items) {
    std::vector<std::pair<dev_t, ino_t>> inputs;
    std::set<fs::path> inputPaths;
    for (const Item& item : items) {
        struct stat st {};
        if (::stat(item.path.c_str(), &st) == 0) inputs.emplace_back(st.st_dev, st.st_ino);
        inputPaths.insert(fs::absolute(item.path).lexically_normal());
    }
    std::set<fs::path> outputs;
    for (Item& item : items) {
        const fs::path output = fs::absolute(item.output).lexically_normal();
        struct stat st {};
        const bool isInput = inputPaths.count(output) > 0 ||
                             (::stat(item.output.c_str(), &st) == 0 &&
                              std::find(inputs.begin(), inputs.end(),
                                        std::make_pair(st.st_dev, st.st_ino)) != inputs.end());
        if (isInput) {
            item.refusal = kOutputIsInput;
        } else if (!outputs.insert(output).second) {
            item.refusal = kOutputTaken;
        }
    }
}

// The fewest passes, at least one, that make the file at least `length` long with its fade, in
// whole frames and exactly: a length of exactly the intro, N passes and the fade takes N.
std::int32_t PassesFor(const ExactSeconds& length, std::int32_t rate, std::int32_t loopStart,
                       std::int32_t loopFrames, std::int32_t fadeSeconds) {
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    const std::int64_t required =
        length.whole * rate +
        (length.nanoseconds * rate + kNanosecondsPerSecond - 1) / kNanosecondsPerSecond;
    const std::int64_t rest = required - loopStart - std::int64_t{fadeSeconds} * rate;
    if (rest <= 0 || loopFrames < 1) return 1;
    const std::int64_t passes = (rest + loopFrames - 1) / loopFrames;
    return static_cast<std::int32_t>(std::min<std::int64_t>(passes, wave::kInt32Max));
}

// One file: read, find, save. Unfinished when the batch was stopped before its save was whole.
Result Process(const Item& item, const Arguments& arguments, const std::atomic<bool>& stop) {
    Result result;
    result.finished = true;
    if (!item.refusal.empty()) {
        result.message = item.refusal;
        return result;
    }
    const wave::ParseResult read = files::ReadWaveFile(item.path);
    if (read.error != wave::WaveError::None) {
        result.message = wave::UserMessage(read.error);
        return result;
    }
    const wave::ParsedWave& sound = read.wave;
    result.rate = std::max<std::int32_t>(1, sound.format.nSamplesPerSec);
    finder::FinderOptions options;
    options.minLengthSeconds = arguments.minLengthSeconds;
    options.maxLengthSeconds = arguments.maxLengthSeconds;
    const std::vector<finder::LoopCandidate> found =
        finder::FindLoops(sound.format, sound.data, options);
    if (found.empty()) {
        result.status = Status::NoLoop;
        result.message = wave::kNoLoopFound;
        return result;
    }
    result.loop = found.front();

    wave::LoopRequest request;
    request.loopStart = result.loop->start;
    request.loopEnd = result.loop->end;
    request.fadeSeconds = arguments.fadeSeconds;
    request.samplerLoop = arguments.samplerLoop;
    request.repeatCount = arguments.targetLength
                              ? PassesFor(*arguments.targetLength, result.rate, request.loopStart,
                                          request.loopEnd - request.loopStart, request.fadeSeconds)
                              : arguments.repeatCount;
    result.status = Status::Looped;
    if (arguments.dryRun) return result;
    if (stop.load()) {
        result.finished = false;
        return result;
    }
    std::error_code error;
    fs::create_directories(fs::path(item.output).parent_path(), error);
    std::string message =
        error ? files::SaveFailedErrno(error.value())
              : files::WriteLoopedWaveFile(item.output, sound.format, sound.data, request, &stop);
    if (!message.empty()) {
        if (stop.load()) result.finished = false;  // stopped midway: nothing was left
        result.status = Status::WriteFailed;
        result.message = std::move(message);
    }
    return result;
}

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
    std::string start, end, seam, seconds, output;
    if (result.loop) {
        start = std::to_string(result.loop->start);
        end = std::to_string(result.loop->end);
        seam = finder::QualityText(result.loop->qualityDb);
        char text[32];
        std::snprintf(text, sizeof text, "%.3f",
                      static_cast<double>(result.loop->end - result.loop->start) / result.rate);
        seconds = text;
    }
    if (result.status == Status::Looped || result.status == Status::WriteFailed)
        output = item.output;
    const std::array<std::string, 8> fields{
        item.path,     std::string(StatusName(result.status)), start, end, seam, seconds, output,
        result.message};
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

// What the user sees while the batch works, on stderr.
class Progress {
public:
    Progress(std::size_t files, double minutes)
        : files_(files),
          minutes_(minutes),
          terminal_(::isatty(STDERR_FILENO) == 1),
          started_(std::chrono::steady_clock::now()) {}

    void Started(const std::string& path) {
        const std::lock_guard<std::mutex> hold(lock_);
        current_ = path;
    }

    void Finished(const Item& item, const Result& result) {
        const std::lock_guard<std::mutex> hold(lock_);
        ++done_;
        minutesDone_ += item.minutes;
        if (terminal_) return;  // the line is redrawn
        std::string line = std::to_string(done_) + "/" + std::to_string(files_) + " " +
                           std::string(StatusText(result.status)) + " " + Printable(item.path);
        if (!result.message.empty()) line += "：" + Printable(result.message);
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

    // Redraws the line in place, on a terminal.
    void Draw() {
        if (!terminal_) return;
        const std::lock_guard<std::mutex> hold(lock_);
        const double elapsed = Elapsed();
        const std::string remaining =
            minutesDone_ > 0.0 ? Clock(elapsed * (minutes_ - minutesDone_) / minutesDone_)
                               : "--:--";
        char counts[160];
        std::snprintf(counts, sizeof counts, "%zu/%zu ファイル　%.1f/%.1f 分　経過 %s　残り %s　",
                      done_, files_, minutesDone_, minutes_, Clock(elapsed).c_str(),
                      remaining.c_str());
        const std::size_t width = TerminalColumns() - 1;
        const std::string line = Fit(std::string(counts) + Printable(current_), width);
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
    }

    void Clear() {
        if (!terminal_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }

private:
    double Elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

    std::mutex lock_;
    std::size_t files_;
    double minutes_;
    bool terminal_;
    std::chrono::steady_clock::time_point started_;
    std::size_t done_ = 0;
    double minutesDone_ = 0.0;
    std::string current_;
};

// The signals that end a process politely; the batch takes them as a request to stop.
sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    return set;
}

}  // namespace

Outcome RunBatch(const Arguments& arguments) {
    std::vector<Item> items = Walk(arguments);
    if (items.empty()) {
        Outcome outcome;
        outcome.exitCode = kExitFailed;
        outcome.err = std::string(kNoWaveFiles) + "\n";
        return outcome;
    }
    RefuseClashes(items);
    double minutes = 0.0;
    for (Item& item : items) {
        if (!item.refusal.empty()) continue;
        const wave::ParseResult headers = files::ReadWaveFile(item.path, wave::Payload::SizeOnly);
        if (headers.error == wave::WaveError::None && headers.wave.format.nAvgBytesPerSec > 0) {
            item.minutes = static_cast<double>(headers.wave.dataBytes) /
                           headers.wave.format.nAvgBytesPerSec / 60.0;
        }
        minutes += item.minutes;
    }

    // The ending signals are taken by the main thread alone, and only as a request: every thread
    // started below inherits the block, and a save that a signal would have cut short is stopped
    // at its next write instead, so that nothing is left and the report can still be written.
    const sigset_t ending = EndingSignals();
    // The last worker to end wakes the main thread with this signal, so it need not wait for
    // its next tick.
    sigset_t waited = ending;
    sigaddset(&waited, SIGUSR1);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &waited, &previous);
    const pthread_t mainThread = ::pthread_self();
    std::atomic<bool> stop{false};
    int stopSignal = 0;

    const std::size_t jobs = std::min<std::size_t>(
        items.size(), arguments.jobs > 0 ? static_cast<std::size_t>(arguments.jobs)
                                         : std::max(1u, std::thread::hardware_concurrency()));
    std::vector<Result> results(items.size());
    Progress progress(items.size(), minutes);
    // The longest files first, so that no job is left with a long one at the end while the others
    // wait; the report keeps the input order.
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&items](std::size_t a, std::size_t b) {
        return items[a].minutes > items[b].minutes;
    });
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> running{jobs};
    std::vector<std::thread> workers;
    for (std::size_t job = 0; job < jobs; ++job) {
        workers.emplace_back([&] {
            while (!stop.load()) {
                const std::size_t taken = next++;
                if (taken >= order.size()) break;
                const std::size_t index = order[taken];
                progress.Started(items[index].path);
                Result result;
                try {
                    result = Process(items[index], arguments, stop);
                } catch (const std::bad_alloc&) {
                    result = Result{};  // refused: no memory for this file, the others go on
                    result.finished = true;
                    result.message = wave::UserMessage(wave::WaveError::OutOfMemory);
                }
                if (!result.finished) break;
                results[index] = std::move(result);
                progress.Finished(items[index], results[index]);
            }
            if (--running == 0) ::pthread_kill(mainThread, SIGUSR1);
        });
    }
    constexpr timespec kTick{0, 200'000'000};  // the progress line is redrawn this often
    while (running.load() > 0) {
        siginfo_t info{};
        const int signal = ::sigtimedwait(&waited, &info, &kTick);
        if (signal > 0 && signal != SIGUSR1 && !stop.load()) {
            stopSignal = signal;
            stop = true;
        }
        progress.Draw();
    }
    for (std::thread& worker : workers) worker.join();
    // The wake-up may still be pending; it must not reach the process once unblocked.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, SIGUSR1);
    constexpr timespec kNow{0, 0};
    while (::sigtimedwait(&wake, nullptr, &kNow) == SIGUSR1) {
    }
    progress.Clear();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    std::array<std::size_t, 4> counts{};
    bool allLooped = true;
    std::string report = std::string(kReportHeader) + "\r\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!results[i].finished) {
            allLooped = false;
            continue;
        }
        ++counts[static_cast<std::size_t>(results[i].status)];
        allLooped = allLooped && results[i].status == Status::Looped;
        report += ReportRow(items[i], results[i]);
    }

    Outcome outcome;
    outcome.exitCode = stop.load() ? 128 + stopSignal : allLooped ? kExitOk : kExitFailed;
    std::size_t finished = 0;
    for (const Status status :
         {Status::Looped, Status::NoLoop, Status::Refused, Status::WriteFailed}) {
        const std::size_t count = counts[static_cast<std::size_t>(status)];
        if (status != Status::Looped) outcome.err += "、";
        outcome.err += std::string(StatusText(status)) + " " + std::to_string(count);
        finished += count;
    }
    if (finished < items.size())
        outcome.err += "（中断：未処理 " + std::to_string(items.size() - finished) + "）";
    outcome.err += "\n";
    if (!arguments.reportPath.empty()) {
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(report.data()), report.size());
        const std::array<std::span<const std::uint8_t>, 1> parts{bytes};
        const std::string message = files::SaveAtomically(arguments.reportPath, parts);
        if (!message.empty()) {
            outcome.err += message + "\n";
            if (outcome.exitCode == kExitOk) outcome.exitCode = kExitFailed;
        }
    }
    return outcome;
}

}  // namespace cli
