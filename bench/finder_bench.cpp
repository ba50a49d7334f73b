// SPDX-License-Identifier: GPL-3.0-or-later
// The seam finder's speed and accuracy.
//   bench_finder speed FILE RUNS: median CPU time of FindLoops per minute of audio, of one plain
//     pass that reads every sample per minute (the baseline), and of one RefineLoop (from 0.4 s
//     off each way, radius 0.5 s), as "FIND_MS_PER_MIN BASELINE_MS_PER_MIN REFINE_MS MINUTES".
//   bench_finder accuracy DIR: runs FindLoops on every item of DIR/manifest.tsv (written by
//     make_loop_set.py or degrade_set.py) and prints one line per item, then "ACCURACY hits
//     items" on the last: a hit is a best candidate of the true length to within 2 frames whose
//     seam is within 3 dB of the true loop's own seam, or passes outright (20 dB). Then, from a
//     seamless loop's points moved by random amounts of up to the radius (0.5 s), once in
//     opposite directions and once the same way, RefineLoop; "REFINE hits tries" on the
//     line before the last. The seamless loop is the best candidate where it is a hit (notes
//     ring across the true loop's start, so its own seam is rarely clean), else the true loop;
//     a hit is a refined loop that passes with a seam as clean as a find's hit must be.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/wave_file.h"
#include "finder/loop_finder.h"
#include "finder/seam_quality.h"
#include "finder/sound_view.h"
#include "wave/loop_rules.h"
#include "wave/user_texts.h"
#include "wave/wave_reader.h"

namespace {

double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Every sample read and scaled to -1 .. 1, as any analysis must at least do once.
double PlainPass(const wave::ParsedWave& wave) {
    double sum = 0.0;
    if (wave.format.wBitsPerSample == 8) {
        for (const std::uint8_t b : wave.data) sum += (b - 128) / 128.0F;
    } else {
        for (std::size_t k = 0; k + 1 < wave.data.size(); k += 2)
            sum += static_cast<std::int16_t>(wave.data[k] | wave.data[k + 1] << 8) / 32768.0F;
    }
    return sum;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The finder's options as our own commands set them: a loop may end where the sound ends.
finder::FinderOptions CommandOptions() {
    finder::FinderOptions options;
    options.toSoundEnd = true;
    return options;
}

int Speed(const std::string& path, int runs) {
    const wave::ParseResult read = files::ReadWaveFile(path);
    if (read.error != wave::WaveError::None) return 1;
    const wave::ParsedWave& wave = read.wave;
    const double minutes =
        static_cast<double>(wave.data.size()) / wave.format.nAvgBytesPerSec / 60.0;
    std::vector<double> findMs;
    std::vector<double> plainMs;
    std::vector<double> refineMs;
    volatile double sink = 0.0;  // keeps the plain pass from being optimised away
    for (int run = 0; run < runs; ++run) {
        const double t0 = CpuMs();
        sink = sink + PlainPass(wave);
        plainMs.push_back(CpuMs() - t0);
    }
    std::vector<finder::LoopCandidate> found;
    for (int run = 0; run < runs; ++run) {
        const double t0 = CpuMs();
        found = finder::FindLoops(wave.format, wave.data, CommandOptions());
        findMs.push_back(CpuMs() - t0);
    }
    if (found.empty()) {
        std::fprintf(stderr, "bench_finder: no loop in %s\n", path.c_str());
        return 1;
    }
    const auto off = static_cast<std::int32_t>(0.4 * wave.format.nSamplesPerSec);
    for (int run = 0; run < runs; ++run) {
        const double t0 = CpuMs();
        const auto refined = finder::RefineLoop(wave.format, wave.data, found[0].start + off,
                                                found[0].end - off, 0.5, CommandOptions());
        refineMs.push_back(CpuMs() - t0);
        if (!refined || refined->end - refined->start != found[0].end - found[0].start) {
            std::fprintf(stderr, "bench_finder: the refine missed the loop\n");
            return 1;
        }
    }
    std::printf("%.1f %.1f %.1f %.2f\n", Median(findMs) / minutes, Median(plainMs) / minutes,
                Median(refineMs), minutes);
    return 0;
}

// A hit of the refine: a loop that keeps within the radius and whose seam is clean.
struct RefineTry {
    long start, end;
};

constexpr double kRefineRadiusSeconds = 0.5;

// The true points moved by up to the radius: once apart (start later, end earlier, or the
// other way) and once the same way, by amounts drawn from a fixed seed per item; never past the
// sound's first or last frame, where no user can put them.
std::vector<RefineTry> RefineTries(long start, long end, long rate, long lastFrame, int item) {
    std::srand(static_cast<unsigned>(item) * 7919u + 17u);
    const auto offset = [rate] {
        return std::lround((std::rand() / (RAND_MAX + 1.0)) * kRefineRadiusSeconds * rate);
    };
    const long a = offset(), b = offset(), c = offset(), d = offset();
    const long sign = item % 2 == 0 ? 1 : -1;
    return {{std::max(0L, start + sign * a), std::min(lastFrame, end - sign * b)},
            {std::max(0L, start + sign * c), std::min(lastFrame, end + sign * d)}};
}

// The assets in the shipped form (a manifest of nine columns, the last the form): the loop ends
// where the file ends, its start within 10 ms of the true one; a file without a loop ("none")
// has no candidate. Each item is right, or off at its start, or answered with a phrase (a loop
// that does not end with the file), or given no loop; "ASSETS right items phrases" on the last
// line, "FORM form right items" for each form, and "CPU ms" per minute of audio over the set.
int Assets(const std::string& dir) {
    std::ifstream manifest(dir + "/manifest.tsv");
    std::string line;
    int items = 0, right = 0, phrases = 0;
    double cpuMs = 0.0, minutes = 0.0;
    std::vector<std::string> forms;
    std::vector<int> formRight, formItems;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name, style, form;
        long rate = 0, bits = 0, channels = 0, frames = 0, start = 0, end = 0;
        if (!(fields >> name >> rate >> bits >> channels >> frames >> start >> end >> style >>
              form))
            continue;
        ++items;
        const wave::ParseResult read = files::ReadWaveFile(dir + "/" + name);
        if (read.error != wave::WaveError::None) {
            std::printf("%-34s unreadable\n", name.c_str());
            continue;
        }
        const double t0 = CpuMs();
        const auto found = finder::FindLoops(read.wave.format, read.wave.data, CommandOptions());
        const double ms = CpuMs() - t0;
        cpuMs += ms;
        minutes += static_cast<double>(frames) / static_cast<double>(rate) / 60.0;
        const bool loopless = style == "none";
        std::string verdict;
        if (found.empty()) {
            verdict = loopless ? "right" : "no loop";
        } else if (loopless) {
            verdict = "a loop where there is none";
        } else if (found[0].kind == wave::LoopKind::Passes) {
            verdict = "phrase";
        } else if (std::labs(found[0].end - end) <= 2 &&
                   std::labs(found[0].start - start) <= std::lround(0.01 * rate)) {
            verdict = "right";
        } else {
            verdict = "start off";
        }
        const bool hit = verdict == "right";
        right += hit ? 1 : 0;
        phrases += verdict == "phrase" ? 1 : 0;
        const std::string formName = loopless ? "none" : form;
        const auto at = std::find(forms.begin(), forms.end(), formName) - forms.begin();
        if (at == static_cast<long>(forms.size())) {
            forms.push_back(formName);
            formRight.push_back(0);
            formItems.push_back(0);
        }
        formRight[static_cast<std::size_t>(at)] += hit ? 1 : 0;
        ++formItems[static_cast<std::size_t>(at)];
        std::string what = "none";
        if (!found.empty()) {
            what = std::to_string(found[0].start) + " " + std::to_string(found[0].end) + " " +
                   finder::QualityText(found[0].qualityDb) + " " +
                   std::string(wave::LoopKindName(found[0].kind));
            // The one cue that finds an intro yet: the file opens with the loop's last moments.
            if (found[0].kind == wave::LoopKind::FileEnd)
                what += found[0].start == 0 ? " (whole file)" : " (pickup)";
        }
        std::printf("%-34s %6ld Hz %2ld-bit %ld ch  true %ld %ld  found %s  %.0f ms  %s%s\n",
                    name.c_str(), rate, bits, channels, start, end, what.c_str(), ms,
                    verdict.c_str(), hit ? "" : "  MISSED");
    }
    for (std::size_t k = 0; k < forms.size(); ++k)
        std::printf("FORM %s %d %d\n", forms[k].c_str(), formRight[k], formItems[k]);
    std::printf("CPU %.1f ms per minute of audio\n", minutes > 0.0 ? cpuMs / minutes : 0.0);
    std::printf("ASSETS %d %d %d\n", right, items, phrases);
    return items > 0 ? 0 : 1;
}

int Accuracy(const std::string& dir) {
    std::ifstream manifest(dir + "/manifest.tsv");
    std::string line;
    int items = 0;
    int hits = 0;
    int refineTries = 0;
    int refineHits = 0;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name, style;
        long rate = 0, bits = 0, channels = 0, frames = 0, start = 0, end = 0;
        if (!(fields >> name >> rate >> bits >> channels >> frames >> start >> end >> style))
            continue;
        ++items;
        const wave::ParseResult read = files::ReadWaveFile(dir + "/" + name);
        if (read.error != wave::WaveError::None) {
            std::printf("%-16s unreadable\n", name.c_str());
            continue;
        }
        const double t0 = CpuMs();
        const auto found = finder::FindLoops(read.wave.format, read.wave.data, CommandOptions());
        const double ms = CpuMs() - t0;
        const long trueLength = end - start;
        const auto view = finder::ViewOf(read.wave.format, read.wave.data);
        const double trueDb = view ? finder::MeasureSeam(*view, start, end, {}).qualityDb : 0.0;
        bool hit = false;
        std::string what = "none";
        if (!found.empty()) {
            const long length = found[0].end - found[0].start;
            const bool clean = found[0].qualityDb >= trueDb - 3.0 || found[0].qualityDb >= 20.0;
            hit = std::labs(length - trueLength) <= 2 && clean;
            what = std::to_string(found[0].start) + " " + std::to_string(found[0].end) +
                   " length " + std::to_string(length - trueLength) + " off, " +
                   std::to_string(found[0].qualityDb) + " dB";
        }
        hits += hit ? 1 : 0;
        std::printf("%-16s %6ld Hz %2ld-bit %ld ch  true %ld %ld %.1f dB  %s  %.0f ms%s\n",
                    name.c_str(), rate, bits, channels, start, end, trueDb, what.c_str(), ms,
                    hit ? "" : "  MISSED");
        const long seamlessStart = hit ? found[0].start : start;
        const long seamlessEnd = hit ? found[0].end : end;
        const double seamlessDb = hit ? found[0].qualityDb : trueDb;
        const long lastFrame =
            wave::LoopLimitsOf(read.wave.format, static_cast<std::int64_t>(read.wave.data.size()))
                .lastFrame;
        for (const RefineTry& from :
             RefineTries(seamlessStart, seamlessEnd, rate, lastFrame, items)) {
            ++refineTries;
            const auto refined = finder::RefineLoop(
                read.wave.format, read.wave.data, static_cast<std::int32_t>(from.start),
                static_cast<std::int32_t>(from.end), kRefineRadiusSeconds, CommandOptions());
            const bool clean =
                refined && refined->passes &&
                (refined->qualityDb >= seamlessDb - 3.0 || refined->qualityDb >= 20.0);
            refineHits += clean ? 1 : 0;
            if (clean) continue;
            std::printf("%-16s refine from %ld %ld: %s  REFINE MISSED\n", name.c_str(), from.start,
                        from.end,
                        refined
                            ? (std::to_string(refined->start) + " " + std::to_string(refined->end) +
                               " " + std::to_string(refined->qualityDb) + " dB")
                                  .c_str()
                            : "nothing");
        }
    }
    std::printf("REFINE %d %d\n", refineHits, refineTries);
    std::printf("ACCURACY %d %d\n", hits, items);
    return items > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "speed")
        return Speed(argv[2], std::max(1, std::atoi(argv[3])));
    if (argc == 3 && std::string(argv[1]) == "accuracy") return Accuracy(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "assets") return Assets(argv[2]);
    std::fprintf(stderr,
                 "usage: bench_finder speed FILE RUNS | bench_finder accuracy DIR | "
                 "bench_finder assets DIR\n");
    return 2;
}
