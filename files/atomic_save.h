// SPDX-License-Identifier: GPL-3.0-or-later
// The atomic save: a file either gets all its new bytes or keeps its old ones, and nothing is left
// beside it. The bytes go into an unnamed file in the destination's folder, which takes the
// destination's name only once it is complete and on disk; where the file system cannot make an
// unnamed file, a short hidden name is used instead and removed on every failure and on the
// signals that end a process politely. POSIX; no Qt, SDL or FFTW.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "wave/looped_wave.h"

namespace files {

// Where a save to a path really writes: the path itself, or the file that a symbolic link there
// names (perhaps not there yet), so that the link stays a link.
struct SaveTarget {
    std::string path;
    std::string folder;
    bool exists = false;
    struct stat old {};  // of an existing file: whose it is and its permission bits
};

// "" and the target, or the save message: a destination that exists but is not a regular file,
// an existing file the user may not write, a link that cannot be followed.
std::string ResolveSaveTarget(const std::string& path, SaveTarget& target);

// "" when a save to `path` may be tried, or the message the save would end with at once: the
// destination is not a regular file, may not be written, or its folder is missing or locked.
// Nothing is created. A symbolic link is followed to the file it names.
std::string CheckSaveDestination(const std::string& path);

// How the file is made before it has its name: unnamed wherever the system allows; tests choose.
enum class TempKind { Unnamed, Named };

// Several saves may run at once. While any exists, SIGINT, SIGTERM and SIGHUP remove a named
// temporary file before they end the process, and SIGXFSZ is ignored, so a size limit makes the
// write fail like any other instead of killing the program. Temporary names are taken one save at
// a time: an unnamed file only for the moment before its rename, a named one for its whole save.
class AtomicSave final : public wave::ByteSink {
public:
    explicit AtomicSave(TempKind kind = TempKind::Unnamed);
    AtomicSave(const AtomicSave&) = delete;
    AtomicSave& operator=(const AtomicSave&) = delete;
    ~AtomicSave() override;

    // "" or the save message; on a message nothing exists.
    std::string Create(const std::string& path);
    bool Write(std::span<const std::uint8_t> bytes) override;
    std::string FailureReason() const override;
    void AdviseBuffer(std::uint8_t* bytes, std::size_t size) override;
    // Flush, name, move into place. "" or the save message; on a message nothing is left, but
    // for a temporary file that could not be removed either, which the message names.
    std::string Commit();
    // Gives the save up: nothing is left, or the message says which file was.
    std::string Discard(std::string message);

private:
    // Makes a short hidden name in the destination's folder with `make`, trying fresh names
    // while one is taken.
    template <typename Make>
    std::string TakeFreshName(Make make);
    void Abandon();
    // Starts writing back what was written since the last start, every few megabytes.
    void StartWriteBack();

    std::unique_lock<std::mutex> name_;  // held while this save has a temporary name
    TempKind kind_;
    SaveTarget target_;
    std::string temp_;  // the temporary name, while one exists
    int fd_ = -1;
    int error_ = 0;
    std::string left_;            // a temporary file that could not be removed
    std::int64_t written_ = 0;    // bytes written so far
    std::int64_t flushedTo_ = 0;  // where the last early write-back was started
};

// Saves the parts, one after the other, to `path` atomically. "" or the save message.
std::string SaveAtomically(const std::string& path,
                           std::span<const std::span<const std::uint8_t>> parts);

}  // namespace files
