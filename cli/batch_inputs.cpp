// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_inputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "files/sound_file.h"
#include "files/sound_writer.h"
#include "wave/user_texts.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// The batch writes beside nothing it reads: under --out, in the format --format names. The tag
// command writes into the input itself.
fs::path OutputFor(const Arguments& arguments, const fs::path& input, const fs::path& below) {
    if (arguments.command == Command::Tag) return input;
    const std::string_view extension =
        files::ExtensionOf(arguments.outputFormat.value_or(files::OutputFormat::Wav));
    return fs::path(arguments.outputFolder) / below.parent_path() /
           fs::path(below.stem().string() + std::string(extension));
}

std::vector<Item> Walk(const Arguments& arguments) {
    std::vector<Item> items;
    for (const std::string& given : arguments.inputPaths) {
        std::error_code error;
        if (!fs::is_directory(given, error)) {
            items.push_back(Item{
                given, OutputFor(arguments, given, fs::path(given).filename()).string(), 0.0, ""});
            continue;
        }
        std::vector<fs::path> below;
        fs::recursive_directory_iterator it(given, fs::directory_options::skip_permission_denied,
                                            error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (files::HasSoundExtension(it->path().string()) &&
                fs::is_regular_file(it->path(), ignored))
                below.push_back(it->path().lexically_relative(given));
        }
        std::sort(below.begin(), below.end());
        for (const fs::path& file : below) {
            const fs::path input = fs::path(given) / file;
            items.push_back(
                Item{input.string(), OutputFor(arguments, input, file).string(), 0.0, ""});
        }
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
            item.refusal = wave::kOutputIsInput;
        } else if (!outputs.insert(output).second) {
            item.refusal = wave::kOutputTaken;
        }
    }
}

// How long each input plays, from its headers alone; and, for the batch, an output its format
// cannot take (a rate Opus or MP3 does not have, a resolution it would lose), refused before the
// file is decoded.
void MeasureMinutes(const Arguments& arguments, std::vector<Item>& items) {
    for (Item& item : items) {
        if (!item.refusal.empty()) continue;
        const files::SoundRead headers = files::ReadSound(
            item.path, files::WaveReaders::AlsoOtherSampleFormats, wave::Payload::SizeOnly);
        const wave::PcmFormat& format = headers.sound.wave.format;
        if (!headers.error.empty() || format.nAvgBytesPerSec <= 0) continue;
        item.minutes =
            static_cast<double>(headers.sound.wave.dataBytes) / format.nAvgBytesPerSec / 60.0;
        if (arguments.command == Command::Batch)
            item.refusal = files::CheckEncoding(headers.sound, EncodingOf(arguments, item.output));
    }
}

}  // namespace

bool IsPageReport(const std::string& reportPath) {
    std::string extension = fs::path(reportPath).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return extension == ".html";
}

std::string SeamsFolderOf(const std::string& reportPath) {
    return fs::path(reportPath).replace_extension(".seams").string();
}

std::string SeamFileName(std::size_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "%03zu.wav", number);
    return name;
}

std::vector<Item> BatchInputs(const Arguments& arguments) {
    std::vector<Item> items = Walk(arguments);
    for (std::size_t k = 0; k < items.size(); ++k) items[k].number = k + 1;
    if (arguments.command != Command::Tag) RefuseClashes(items);
    MeasureMinutes(arguments, items);
    return items;
}

}  // namespace cli
