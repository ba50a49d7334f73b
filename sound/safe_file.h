// Saving a file so that a save either writes the whole file or changes nothing, and never leaves
// anything behind. The bytes go into an unnamed file in the destination's folder, which takes the
// destination's name only once it is complete and on disk; where the file system cannot make an
// unnamed file, a short hidden name is used instead and removed on every failure and on the
// signals that end a process politely. Standard library and POSIX only; the writer's own part,
// not for callers of the core.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <span>
#include <string>

#include "sound/wave_core.h"

namespace wavemisc {

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

// How the file is made before it has its name: unnamed wherever the system allows; tests choose.
enum class TempKind { Unnamed, Named };

// One save at a time per process: while one exists, SIGINT, SIGTERM and SIGHUP remove a named
// temporary file before they end the process, and SIGXFSZ is ignored, so a size limit makes the
// write fail like any other instead of killing the program.
class AtomicFile final : public ByteSink {
public:
    explicit AtomicFile(TempKind kind = TempKind::Unnamed);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() override;

    // "" or the save message; on a message nothing exists.
    std::string Create(const std::string& path);
    bool Write(std::span<const std::uint8_t> bytes) override;
    std::string FailureReason() const override;
    // Flush, name, move into place. "" or the save message; on a message nothing is left.
    std::string Commit();

private:
    std::string CreateNamed();
    std::string NameUnnamed();
    void Abandon();

    std::unique_lock<std::mutex> oneSave_;
    TempKind kind_;
    SaveTarget target_;
    std::string temp_;  // the temporary name, while one exists
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace wavemisc
