// SPDX-License-Identifier: GPL-3.0-or-later
// Replays the seed corpus through the fuzz checks with the ordinary compiler, so every test run
// covers the files the fuzzers found worth keeping. Usage: wave_fuzz_replay CORPUS_DIR
// (reads CORPUS_DIR/reader/*, CORPUS_DIR/writer/*, CORPUS_DIR/finder/* and CORPUS_DIR/sound/*).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/finder_check.h"
#include "fuzz/fuzz_checks.h"
#include "fuzz/sound_check.h"

namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wave_fuzz_replay CORPUS_DIR\n");
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    const struct {
        const char* folder;
        void (*check)(std::span<const std::uint8_t>);
    } targets[] = {{"reader", wavefuzz::CheckReader},
                   {"writer", wavefuzz::CheckWriter},
                   {"finder", finderfuzz::CheckFinder},
                   {"sound", soundfuzz::CheckSound}};
    for (const auto& target : targets) {
        std::error_code error;
        if (!std::filesystem::is_directory(corpus / target.folder, error)) {
            std::fprintf(stderr, "no corpus folder %s\n", (corpus / target.folder).c_str());
            return 1;
        }
        const auto files = FilesIn(corpus / target.folder);
        // An empty folder would make this test pass without checking anything.
        if (files.empty()) {
            std::fprintf(stderr, "corpus folder %s is empty\n", target.folder);
            return 1;
        }
        for (const auto& file : files) {
            std::fprintf(stderr, "%s/%s\n", target.folder, file.filename().c_str());
            const std::vector<std::uint8_t> bytes = ReadAll(file);
            target.check(bytes);
        }
        std::printf("%s: %zu files replayed\n", target.folder, files.size());
    }
    return 0;
}
