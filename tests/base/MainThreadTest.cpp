#include "base/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vela {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, RunAndWaitRunsOnTheOwningThread) {
    RunLoop loop;
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        loop.RunAndWait([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, 5s));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(RunLoop, RunAndWaitOnTheMainThreadRunsAtOnce) {
    RunLoop loop;
    int calls = 0;
    loop.RunAndWait([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

TEST(RunLoop, ExceptionsReachTheWaitingThread) {
    RunLoop loop;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            loop.RunAndWait([] { throw Exception("boom"); });
        } catch (const Exception& e) {
            caught = std::string(e.what()) == "boom";
        }
    });
    loop.RunUntil([&] { return caught.load(); }, 5s);
    worker.join();
    EXPECT_TRUE(caught);
}

TEST(RunLoop, PostedWorkFromManyThreadsRunsInOrderPerThread) {
    RunLoop loop;
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) loop.Post([&, t, i] { seen[t].push_back(i); });
        });
    const auto total = [&] {
        size_t n = 0;
        for (const auto& s : seen) n += s.size();
        return n;
    };
    EXPECT_TRUE(loop.RunUntil([&] { return total() == kThreads * kEach; }, 10s));
    for (auto& w : workers) w.join();
    for (const auto& s : seen)
        for (int i = 0; i < kEach; ++i) ASSERT_EQ(s[i], i);
}

TEST(RunLoop, ShutdownReleasesWaitersWithAnError) {
    auto loop = std::make_unique<RunLoop>();
    std::atomic<bool> released{false};
    std::thread worker([&] {
        try {
            loop->RunAndWait([] {});
        } catch (const Exception&) {
            released = true;
        }
    });
    // whether the work is queued before the shutdown or posted after it, the waiter is let go
    std::this_thread::sleep_for(20ms);
    loop->Shutdown();
    worker.join();
    EXPECT_TRUE(released);
}

TEST(RunLoop, QuitEndsRun) {
    RunLoop loop;
    int ran = 0;
    loop.Post([&] { ++ran; });
    loop.Post([&] { loop.Quit(); });
    loop.Run();
    EXPECT_EQ(ran, 1);
}

TEST(Event, TimedWaitsAndAutoReset) {
    Event manual(true);
    EXPECT_FALSE(manual.WaitFor(10ms));
    manual.Set();
    EXPECT_TRUE(manual.WaitFor(0ms));
    EXPECT_TRUE(manual.WaitFor(0ms));
    Event automatic(false);
    std::thread setter([&] { automatic.Set(); });
    EXPECT_TRUE(automatic.WaitFor(5s));
    EXPECT_FALSE(automatic.WaitFor(0ms));
    setter.join();
}

}  // namespace
}  // namespace vela
