// SPDX-License-Identifier: GPL-3.0-or-later
// The call thread's time limit: a call that hangs is given up at the limit, later calls are
// refused at once until it returns, and it finishes on its own, even after its owner is gone.
#include "platform/call_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A call that hangs until the test lets it go, as one into a frozen sound server does.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<std::uint64_t> afterResult{0};

    void Open() {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    bool WaitForAfter(std::uint64_t expected) {
        const auto until = Clock::now() + 5s;
        while (afterResult != expected && Clock::now() < until) std::this_thread::sleep_for(1ms);
        return afterResult == expected;
    }
};

// Runs a call that hangs on the gate and answers 42; its after-call records that answer.
std::optional<std::uint64_t> RunHanging(CallThread& calls, const std::shared_ptr<Gate>& gate) {
    return calls.Run(
        [gate] {
            std::unique_lock lock(gate->mutex);
            gate->opened.wait(lock, [&] { return gate->open; });
            return std::uint64_t{42};
        },
        [gate](std::uint64_t result) { gate->afterResult = result; });
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(CallThreadTest, HangingCallIsGivenUpAndLaterCallsAreRefusedUntilItReturns) {
    CallThread calls(100ms);
    EXPECT_EQ(calls.Run([] { return std::uint64_t{7}; }), 7u);

    const auto gate = std::make_shared<Gate>();
    auto start = Clock::now();
    EXPECT_FALSE(RunHanging(calls, gate).has_value());
    EXPECT_GE(MsSince(start), 100.0);
    EXPECT_LT(MsSince(start), 1000.0);

    // Refused without waiting, and never run: nothing queues behind the hanging call.
    const auto ran = std::make_shared<std::atomic<bool>>(false);
    start = Clock::now();
    EXPECT_FALSE(calls
                     .Run([ran] {
                         *ran = true;
                         return std::uint64_t{1};
                     })
                     .has_value());
    EXPECT_LT(MsSince(start), 50.0);

    gate->Open();
    ASSERT_TRUE(gate->WaitForAfter(42)) << "the given-up call's after-call did not run";
    std::optional<std::uint64_t> answer;
    for (int i = 0; i < 100 && !answer; ++i) answer = calls.Run([] { return std::uint64_t{5}; });
    EXPECT_EQ(answer, 5u);
    EXPECT_FALSE(*ran);

    // A call that returns in time has no after-call.
    EXPECT_EQ(calls.Run([] { return std::uint64_t{3}; },
                        [gate](std::uint64_t) { gate->afterResult = 0; }),
              3u);
    EXPECT_EQ(gate->afterResult, 42u);
}

TEST(CallThreadTest, DestroyedDuringAHangingCallReturnsAtOnceAndTheCallFinishesLater) {
    const auto gate = std::make_shared<Gate>();
    const auto start = Clock::now();
    {
        CallThread calls(50ms);
        EXPECT_FALSE(RunHanging(calls, gate).has_value());
    }
    EXPECT_LT(MsSince(start), 500.0);
    gate->Open();
    EXPECT_TRUE(gate->WaitForAfter(42));
}

}  // namespace
}  // namespace platform
