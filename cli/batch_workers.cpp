// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/batch_workers.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <utility>

#include "wave/user_texts.h"

namespace cli {

namespace {

// The signals that end a process politely; the batch takes them as a request to stop.
sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    return set;
}

// The longest files first, so that no job is left with a long one at the end while the others
// wait; the report keeps the input order.
std::vector<std::size_t> LongestFirst(const std::vector<Item>& items) {
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&items](std::size_t a, std::size_t b) {
        return items[a].minutes > items[b].minutes;
    });
    return order;
}

// One file's result; a file without memory for it is refused, and the others go on.
Result LoopOrRefuse(const Item& item, const Arguments& arguments, const std::atomic<bool>& stop) {
    try {
        return LoopOneFile(item, arguments, stop);
    } catch (const std::bad_alloc&) {
        Result result;
        result.finished = true;
        result.message = wave::UserMessage(wave::WaveError::OutOfMemory);
        return result;
    }
}

// What the workers share.
struct Work {
    const std::vector<Item>& items;
    const Arguments& arguments;
    Progress& progress;
    std::vector<Result>& results;
    std::vector<std::size_t> order;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> running{0};
    pthread_t mainThread{};
};

void Worker(Work& work) {
    while (!work.stop.load()) {
        const std::size_t taken = work.next++;
        if (taken >= work.order.size()) break;
        const std::size_t index = work.order[taken];
        work.progress.Started(work.items[index].path);
        Result result = LoopOrRefuse(work.items[index], work.arguments, work.stop);
        if (!result.finished) break;
        work.results[index] = std::move(result);
        work.progress.Finished(work.items[index], work.results[index]);
    }
    // The last worker to end wakes the main thread, so it need not wait for its next tick.
    if (--work.running == 0) ::pthread_kill(work.mainThread, SIGUSR1);
}

// Redraws the progress until the workers are done; the first ending signal stops them. Its
// number, or 0.
int WaitForWorkers(Work& work, const sigset_t& waited) {
    constexpr timespec kTick{0, 200'000'000};  // the progress line is redrawn this often
    int stopSignal = 0;
    while (work.running.load() > 0) {
        siginfo_t info{};
        const int signal = ::sigtimedwait(&waited, &info, &kTick);
        if (signal > 0 && signal != SIGUSR1 && !work.stop.load()) {
            stopSignal = signal;
            work.stop = true;
        }
        work.progress.Draw();
    }
    return stopSignal;
}

// The wake-up may still be pending; it must not reach the process once unblocked.
void DrainWakeUp() {
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, SIGUSR1);
    constexpr timespec kNow{0, 0};
    while (::sigtimedwait(&wake, nullptr, &kNow) == SIGUSR1) {
    }
}

}  // namespace

int RunWorkers(const std::vector<Item>& items, const Arguments& arguments, Progress& progress,
               std::vector<Result>& results) {
    // The ending signals are taken by the main thread alone, and only as a request: every thread
    // started below inherits the block, and a save that a signal would have cut short is stopped
    // at its next write instead, so that nothing is left and the report can still be written.
    sigset_t waited = EndingSignals();
    sigaddset(&waited, SIGUSR1);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &waited, &previous);

    const std::size_t jobs = std::min<std::size_t>(
        items.size(), arguments.jobs > 0 ? static_cast<std::size_t>(arguments.jobs)
                                         : std::max(1u, std::thread::hardware_concurrency()));
    results.assign(items.size(), Result{});
    Work work{items, arguments, progress, results, LongestFirst(items)};
    work.running = jobs;
    work.mainThread = ::pthread_self();
    std::vector<std::thread> workers;
    for (std::size_t job = 0; job < jobs; ++job) workers.emplace_back([&work] { Worker(work); });
    const int stopSignal = WaitForWorkers(work, waited);
    for (std::thread& worker : workers) worker.join();
    DrainWakeUp();
    progress.Clear();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return stopSignal;
}

}  // namespace cli
