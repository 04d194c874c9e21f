#include "base/Win32MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vela {
namespace {

// Pumps this thread's messages until done() holds or about five seconds pass.
template <typename Done>
bool PumpUntil(Done done) {
    for (int i = 0; i < 500 && !done(); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    return done();
}

TEST(Win32MainThread, RunAndWaitRunsInTheMessageLoop) {
    Win32MainThread mainThread;
    const DWORD mainId = GetCurrentThreadId();
    std::atomic<DWORD> ranOn{0};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        EXPECT_FALSE(mainThread.IsMainThread());
        mainThread.RunAndWait([&] { ranOn = GetCurrentThreadId(); });
        returned = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn.load(), mainId);
}

TEST(Win32MainThread, PostedWorkKeepsItsOrder) {
    Win32MainThread mainThread;
    std::vector<int> seen;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) mainThread.Post([&seen, i] { seen.push_back(i); });
    });
    worker.join();
    EXPECT_TRUE(PumpUntil([&] { return seen.size() == 200; }));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(seen[i], i);
}

TEST(Win32MainThread, WaitersAreReleasedWhenTheDispatcherCloses) {
    Win32MainThread mainThread;
    std::atomic<bool> released{false};
    std::thread worker([&] {
        try {
            mainThread.RunAndWait([] {});
        } catch (const Exception&) {
            released = true;
        }
    });
    Sleep(50);  // the work is queued (or, if not yet, dropped on arrival)
    mainThread.Close();
    worker.join();
    EXPECT_TRUE(released);
}

}  // namespace
}  // namespace vela
