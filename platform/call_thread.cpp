// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/call_thread.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>

namespace platform {

struct CallThread::Shared {
    std::mutex mutex;
    std::condition_variable changed;  // a call handed over or finished, or the end asked for
    Work work;                        // handed over and not yet taken by the thread
    AfterGivenUp afterGivenUp;
    bool busy = false;     // from handing a call over until it has returned
    bool givenUp = false;  // its caller stopped waiting
    bool stop = false;
    std::uint64_t result = 0;
};

CallThread::CallThread(std::chrono::milliseconds limit)
    : limit_(limit), shared_(std::make_shared<Shared>()) {}

CallThread::~CallThread() {
    bool inCall = false;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
        inCall = shared_->busy;
    }
    shared_->changed.notify_all();
    if (!thread_.joinable()) return;
    if (inCall) {
        thread_.detach();  // it holds the shared state and ends once the call returns
    } else {
        thread_.join();
    }
}

void CallThread::Loop(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&] { return s.stop || s.work; });
        if (s.stop) return;
        Work work = std::exchange(s.work, nullptr);
        lock.unlock();
        const std::uint64_t result = work();
        lock.lock();
        s.result = result;
        AfterGivenUp after = std::exchange(s.afterGivenUp, nullptr);
        if (s.givenUp && after) {
            lock.unlock();
            after(result);
            lock.lock();
        }
        s.busy = false;
        s.changed.notify_all();
    }
}

std::optional<std::uint64_t> CallThread::Run(Work work, AfterGivenUp afterGivenUp) {
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (s.busy) return std::nullopt;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(Loop, shared_);
        } catch (const std::system_error&) {
            return std::nullopt;  // out of threads: as if the call had not answered
        }
    }
    s.work = std::move(work);
    s.afterGivenUp = std::move(afterGivenUp);
    s.busy = true;
    s.givenUp = false;
    s.changed.notify_all();
    if (!s.changed.wait_for(lock, limit_, [&] { return !s.busy; })) {
        s.givenUp = true;
        return std::nullopt;
    }
    return s.result;
}

}  // namespace platform
