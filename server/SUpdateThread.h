#pragma once
// A group's update thread: it only times the update period and hands the queued requests and
// the periodic data change to the main thread, waiting for each.
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "base/Event.h"
#include "base/MainThread.h"

namespace vela::server {

class TVelaSUpdateThread {
public:
    struct Work {
        std::function<bool()> queueEmpty;       // any thread
        std::function<void()> asyncCall;        // main thread
        std::function<void()> periodic;         // main thread
    };
    // Created suspended: the thread starts the first time it is made active.
    TVelaSUpdateThread(MainThreadDispatcher& mainThread, Work work, int32_t updateRate);
    // Asks the thread to end and waits for it; work it handed over and that has not run yet
    // is dropped.
    ~TVelaSUpdateThread();
    TVelaSUpdateThread(const TVelaSUpdateThread&) = delete;
    TVelaSUpdateThread& operator=(const TVelaSUpdateThread&) = delete;

    void SetUpdateRate(int32_t rate);
    void SetActive(bool active);
    bool Active() const { return fActive; }
    void Signal() { fEvent.Set(); }

private:
    struct Shared {
        std::atomic<bool> alive{true};
    };
    void Execute();
    // Runs the work on the main thread and waits, unless the thread is asked to end meanwhile.
    void HandOver(const std::function<void()>& work);

    MainThreadDispatcher& mainThread_;
    Work work_;
    Event fEvent{true, false};
    std::atomic<int32_t> fUpdateRate;
    std::atomic<bool> fActive{false};
    std::atomic<bool> terminated_{false};
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::thread thread_;
};

}  // namespace vela::server
