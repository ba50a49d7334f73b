// SPDX-License-Identifier: GPL-3.0-or-later
// e2e_sound_check: the two sound-side halves of the end-to-end runs, kept out of the shell so the
// tests need no scripting language beyond bash.
//
//   e2e_sound_check make-wave OUT.wav SECONDS
//       16-bit stereo 44100 Hz noise that is never silent and has no period, so a few captured
//       frames tell where in the file they came from.
//   e2e_sound_check make-looped-wave OUT.wav
//       11 seconds of 16-bit stereo 44100 Hz music: an intro of 1.5 seconds, two passes of a
//       4-second loop and 1.5 seconds of a third, under faint hiss, so that no two frames of a
//       pass are alike and the finder has a loop to find.
//   e2e_sound_check compare EXPECTED.wav CAPTURE.raw
//       Finds the data block of EXPECTED (44-byte header, 16-bit stereo 44100 Hz) inside a raw
//       s16le stereo capture. Passes when the capture holds the block exactly once, in order,
//       bit for bit, with at most silence (underrun gaps) between its pieces and nothing but
//       silence around it, and one piece of at least 1.5 seconds. A stream that connects to a
//       sink already running may lose its first few milliseconds in the server (the sink
//       rewinds to mix it in early); --allow-lost-head accepts that many missing first frames.
//   e2e_sound_check self-test
//       The comparison's verdicts on made-up captures.
//
// Depends on nothing but the standard library.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tests/support/looped_music.h"
#include "tests/support/wave_bytes.h"

namespace {

constexpr std::uint32_t kFramesPerSec = 44100;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr std::size_t kHeaderBytes = 44;
// A piece shorter than this is not taken as the block: two random frames may match by chance.
constexpr std::size_t kMinPieceFrames = 32;
constexpr std::size_t kMinLongestFrames = kFramesPerSec * 3 / 2;  // 1.5 seconds

using testwave::PutU16;

std::uint32_t GetU32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

std::uint16_t GetU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::optional<std::vector<std::uint8_t>> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// One frame as a number (both 16-bit samples, little-endian); 0 is silence.
std::vector<std::uint32_t> Frames(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    std::vector<std::uint32_t> frames;
    frames.reserve((bytes.size() - from) / kBlockAlign);
    for (std::size_t at = from; at + kBlockAlign <= bytes.size(); at += kBlockAlign)
        frames.push_back(GetU32(bytes, at));
    return frames;
}

double Seconds(std::size_t frames) { return static_cast<double>(frames) / kFramesPerSec; }

std::string DescribeFrame(std::uint32_t frame) {
    char text[48];
    std::snprintf(text, sizeof text, "(%d, %d)", static_cast<std::int16_t>(frame & 0xFFFF),
                  static_cast<std::int16_t>(frame >> 16));
    return text;
}

std::uint64_t SplitMix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

int MakeWave(const char* path, const char* secondsText) {
    const long seconds = std::strtol(secondsText, nullptr, 10);
    if (seconds < 1 || seconds > 60) {
        std::fprintf(stderr, "make-wave: seconds must be 1 to 60\n");
        return 2;
    }
    const std::uint32_t frames = kFramesPerSec * static_cast<std::uint32_t>(seconds);
    const std::uint32_t dataBytes = frames * kBlockAlign;
    std::vector<std::uint8_t> out =
        testwave::PlainHeader(testwave::Pcm(kBitsPerSample, kChannels, kFramesPerSec), dataBytes);
    out.reserve(kHeaderBytes + dataBytes);
    // Each frame is a hash of its index: noise with no period, so two consecutive frames name
    // one place in the file; at about a quarter of full scale it stays clear of any clipping in
    // a mixer, and a frame is never silent.
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        const std::uint64_t noise = SplitMix64(frame);
        const auto left = static_cast<std::uint16_t>(static_cast<int>(noise & 0x3FFF) - 0x2000);
        const auto right =
            static_cast<std::uint16_t>(static_cast<int>((noise >> 32) & 0x3FFF) - 0x2000);
        PutU16(out, left == 0 && right == 0 ? 1 : left);
        PutU16(out, right);
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "make-wave: cannot write %s\n", path);
        return 2;
    }
    return 0;
}

int MakeLoopedWave(const char* path) {
    testwave::LoopedMusic music;
    music.format = testwave::Pcm(kBitsPerSample, kChannels, kFramesPerSec);
    music.introFrames = kFramesPerSec * 3 / 2;
    music.loopFrames = kFramesPerSec * 4;
    music.totalFrames = music.introFrames + 2 * music.loopFrames + kFramesPerSec * 3 / 2;
    music.noiseDb = -45.0;
    music.dither = true;
    const testwave::Bytes bytes = testwave::Wave(music.format, testwave::RenderLoopedMusic(music));
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "make-looped-wave: cannot write %s\n", path);
        return 2;
    }
    return 0;
}

struct Piece {
    std::size_t captureFrame;  // where it starts in the capture
    std::size_t blockFrame;    // where it starts in the block
    std::size_t frames;
};

// True when the capture holds the block as the file's comment says; prints what it found.
bool CaptureHoldsBlock(const std::vector<std::uint32_t>& block,
                       const std::vector<std::uint32_t>& capture, std::size_t allowedLostHead,
                       std::FILE* report) {
    std::fprintf(report, "block: %zu frames (%.3f s); capture: %zu frames (%.3f s)\n", block.size(),
                 Seconds(block.size()), capture.size(), Seconds(capture.size()));
    // Two consecutive frames name a place in the block; the block is noise, so the places are
    // unique. Silence never names one, so the gaps of an underrun are never taken for the block.
    std::unordered_map<std::uint64_t, std::size_t> places;
    places.reserve(block.size());
    for (std::size_t k = 0; k + 1 < block.size(); ++k) {
        if (block[k] == 0 && block[k + 1] == 0) continue;
        places.emplace(std::uint64_t{block[k]} << 32 | block[k + 1], k);
    }

    std::vector<Piece> pieces;
    for (std::size_t i = 0; i + 1 < capture.size();) {
        const auto found = places.find(std::uint64_t{capture[i]} << 32 | capture[i + 1]);
        if (found == places.end()) {
            ++i;
            continue;
        }
        const std::size_t k = found->second;
        std::size_t length = 0;
        while (i + length < capture.size() && k + length < block.size() &&
               capture[i + length] == block[k + length])
            ++length;
        if (length >= kMinPieceFrames) pieces.push_back({i, k, length});
        i += length;
    }

    bool ok = true;
    std::size_t nextBlockFrame = 0;
    std::size_t longest = 0;
    std::size_t longestAt = 0;
    std::size_t strayFrames = 0;
    std::size_t firstStray = capture.size();
    std::size_t cursor = 0;  // capture frames before this are accounted for
    const std::size_t seam = block.size() / 2;
    bool seamInOnePiece = false;
    for (const Piece& piece : pieces) {
        std::fprintf(report, "piece: capture frame %zu, block frames %zu..%zu (%.3f s)\n",
                     piece.captureFrame, piece.blockFrame, piece.blockFrame + piece.frames - 1,
                     Seconds(piece.frames));
        if (&piece == &pieces.front() && piece.blockFrame != 0) {
            if (piece.blockFrame <= allowedLostHead) {
                std::fprintf(
                    report,
                    "note: block frames 0..%zu are missing, lost as the stream joined the sink\n",
                    piece.blockFrame - 1);
            } else {
                std::fprintf(
                    report,
                    "FAIL: the capture begins at block frame %zu; frames 0..%zu are missing\n",
                    piece.blockFrame, piece.blockFrame - 1);
                ok = false;
            }
        } else if (piece.blockFrame != nextBlockFrame && ok) {
            std::fprintf(report,
                         "FAIL: after block frame %zu the capture goes on with block frame %zu%s\n",
                         nextBlockFrame - 1, piece.blockFrame,
                         nextBlockFrame == block.size() ? " (the block plays again)" : "");
            ok = false;
        }
        nextBlockFrame = piece.blockFrame + piece.frames;
        if (piece.frames > longest) {
            longest = piece.frames;
            longestAt = piece.captureFrame;
        }
        if (piece.blockFrame < seam && seam < piece.blockFrame + piece.frames)
            seamInOnePiece = true;
        for (std::size_t j = cursor; j < piece.captureFrame; ++j) {
            if (capture[j] == 0) continue;
            if (strayFrames++ == 0) firstStray = j;
        }
        cursor = piece.captureFrame + piece.frames;
    }
    for (std::size_t j = cursor; j < capture.size(); ++j) {
        if (capture[j] == 0) continue;
        if (strayFrames++ == 0) firstStray = j;
    }

    std::fprintf(report,
                 "pieces: %zu; longest exact run: %zu frames (%.3f s) at capture frame %zu; seam "
                 "inside one run: %s\n",
                 pieces.size(), longest, Seconds(longest), longestAt,
                 seamInOnePiece ? "yes" : "no");
    if (pieces.empty()) {
        std::fprintf(report, "FAIL: no part of the block is in the capture\n");
        ok = false;
    } else if (nextBlockFrame != block.size() && ok) {
        std::fprintf(report, "FAIL: the capture stops after block frame %zu of %zu\n",
                     nextBlockFrame - 1, block.size());
        ok = false;
    }
    if (strayFrames > 0) {
        // Usually a sample the sound path changed: show it beside what the block holds there.
        std::string nearest;
        for (const Piece& piece : pieces) {
            if (piece.captureFrame + piece.frames == firstStray &&
                piece.blockFrame + piece.frames < block.size())
                nearest = ", where the block holds " +
                          DescribeFrame(block[piece.blockFrame + piece.frames]);
        }
        std::fprintf(report,
                     "FAIL: %zu captured frames are neither silence nor the block; the first at "
                     "capture frame %zu is %s%s\n",
                     strayFrames, firstStray, DescribeFrame(capture[firstStray]).c_str(),
                     nearest.c_str());
        ok = false;
    }
    if (longest < kMinLongestFrames) {
        std::fprintf(report, "FAIL: no exact run of 1.5 s\n");
        ok = false;
    }
    std::fprintf(report, "%s\n", ok ? "PASS: the capture holds the block bit for bit" : "FAIL");
    return ok;
}

int Compare(const char* expectedPath, const char* capturePath, std::size_t allowedLostHead) {
    const auto expectedBytes = ReadFile(expectedPath);
    const auto captureBytes = ReadFile(capturePath);
    if (!expectedBytes || !captureBytes) {
        std::fprintf(stderr, "compare: cannot read %s\n",
                     expectedBytes ? capturePath : expectedPath);
        return 2;
    }
    const std::vector<std::uint8_t>& header = *expectedBytes;
    if (header.size() < kHeaderBytes ||
        std::string_view(reinterpret_cast<const char*>(header.data()), 4) != "RIFF" ||
        GetU16(header, 20) != 1 || GetU16(header, 22) != kChannels ||
        GetU32(header, 24) != kFramesPerSec || GetU16(header, 32) != kBlockAlign ||
        GetU16(header, 34) != kBitsPerSample ||
        GetU32(header, 40) != header.size() - kHeaderBytes) {
        std::fprintf(stderr, "compare: %s is not a 44-byte-header 16-bit stereo 44100 Hz wave\n",
                     expectedPath);
        return 2;
    }
    const std::vector<std::uint32_t> block = Frames(header, kHeaderBytes);
    if (block.size() < kMinPieceFrames) {
        std::fprintf(stderr, "compare: the block is too short to be recognised\n");
        return 2;
    }
    return CaptureHoldsBlock(block, Frames(*captureBytes, 0), allowedLostHead, stdout) ? 0 : 1;
}

// The checker's own verdicts on captures made up from a block, so that a checker that passes
// anything cannot hide a broken sound path.
int SelfTest() {
    std::vector<std::uint32_t> block(2 * 88200);
    for (std::size_t k = 0; k < block.size(); ++k)
        block[k] = static_cast<std::uint32_t>(SplitMix64(k) | 1);
    const std::vector<std::uint32_t> silence(5000, 0);
    const auto join = [](std::initializer_list<std::vector<std::uint32_t>> parts) {
        std::vector<std::uint32_t> out;
        for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const auto slice = [&](std::size_t from, std::size_t to) {
        return std::vector<std::uint32_t>(block.begin() + static_cast<std::ptrdiff_t>(from),
                                          block.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const std::size_t n = block.size();
    const std::size_t seam = n / 2;
    std::vector<std::uint32_t> offByOne = join({silence, block, silence});
    offByOne[silence.size() + 50000] += 1;  // one sample one step off
    const std::vector<std::uint32_t> foreign{0x12345678u};

    struct Case {
        const char* name;
        std::vector<std::uint32_t> capture;
        std::size_t allowedLostHead;
        bool holds;
    };
    const Case cases[] = {
        {"block between silences", join({silence, block, silence}), 0, true},
        {"block split by an underrun gap",
         join({silence, slice(0, 100000), silence, slice(100000, n), silence}), 0, true},
        {"block at the very edges of the capture", block, 0, true},
        {"one sample changed", offByOne, 0, false},
        {"first 100 frames lost", join({silence, slice(100, n), silence}), 0, false},
        {"first 100 frames lost, 200 allowed", join({silence, slice(100, n), silence}), 200, true},
        {"first 5000 frames lost, 200 allowed", join({silence, slice(5000, n), silence}), 200,
         false},
        {"last 10 frames missing", join({silence, slice(0, n - 10), silence}), 0, false},
        {"frames missing at the seam",
         join({silence, slice(0, seam - 10), slice(seam, n), silence}), 0, false},
        {"block played twice", join({silence, block, silence, block, silence}), 0, false},
        {"halves swapped", join({silence, slice(seam, n), slice(0, seam), silence}), 0, false},
        {"first half a frame late",
         join({silence, slice(1, seam), foreign, slice(seam, n), silence}), 0, false},
        {"a foreign sound before the block", join({foreign, silence, block, silence}), 0, false},
        {"no run of 1.5 s",
         join({slice(0, 60000), silence, slice(60000, 120000), silence, slice(120000, n)}), 0,
         false},
        {"silence only", silence, 0, false},
    };
    std::FILE* scratch = std::tmpfile();
    if (scratch == nullptr) return 2;
    int wrong = 0;
    for (const Case& c : cases) {
        const bool holds = CaptureHoldsBlock(block, c.capture, c.allowedLostHead, scratch);
        std::printf("%s: %s\n", holds == c.holds ? "ok  " : "WRONG", c.name);
        if (holds != c.holds) ++wrong;
    }
    std::fclose(scratch);
    return wrong == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "make-wave" && argc == 4) return MakeWave(argv[2], argv[3]);
    if (command == "make-looped-wave" && argc == 3) return MakeLoopedWave(argv[2]);
    if (command == "self-test" && argc == 2) return SelfTest();
    if (command == "compare" && argc == 4) return Compare(argv[2], argv[3], 0);
    if (command == "compare" && argc == 6 && std::string_view(argv[4]) == "--allow-lost-head")
        return Compare(argv[2], argv[3], std::strtoul(argv[5], nullptr, 10));
    std::fprintf(
        stderr,
        "usage: e2e_sound_check make-wave OUT.wav SECONDS\n"
        "       e2e_sound_check make-looped-wave OUT.wav\n"
        "       e2e_sound_check compare EXPECTED.wav CAPTURE.raw [--allow-lost-head FRAMES]\n"
        "       e2e_sound_check self-test\n");
    return 2;
}
