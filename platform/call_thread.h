// SPDX-License-Identifier: GPL-3.0-or-later
// One thread that runs calls one at a time for a caller that must not wait long: the caller waits
// for each call at most a set time. A call that outlasts it is given up, not stopped: it runs on,
// and until it returns the thread refuses new calls at once, so nothing ever runs beside it and
// nobody queues behind it. The state the thread needs lives as long as the thread, so neither a
// given-up call nor the destructor can leave it pointing at freed memory. No SDL, no Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace platform {

class CallThread {
public:
    // A call's result; the calls this is for answer a handle, a size or a status.
    using Work = std::function<std::uint64_t()>;
    // Runs on the thread after a given-up call has returned, with that call's result.
    using AfterGivenUp = std::function<void(std::uint64_t)>;

    explicit CallThread(std::chrono::milliseconds limit);
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;
    // Joins an idle thread; a thread still inside a given-up call is left to finish it and end.
    ~CallThread();

    // `work`'s result, or nothing when it did not return within the limit (it then runs on, and
    // `afterGivenUp` follows it), when a call given up earlier is still running (`work` then
    // never runs), or when no thread can be started. `work` must not refer to the caller's
    // locals: it may outlive the call.
    std::optional<std::uint64_t> Run(Work work, AfterGivenUp afterGivenUp = {});

private:
    struct Shared;
    static void Loop(std::shared_ptr<Shared> shared);

    std::chrono::milliseconds limit_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;  // started by the first call
};

}  // namespace platform
