#pragma once
// The hand-over to the main thread: other threads post work to it, or run work on it and wait.
// Every COM call and every event handler runs on the main thread.
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/Event.h"
#include "base/Exception.h"

namespace vela {

class MainThreadDispatcher {
public:
    virtual ~MainThreadDispatcher() = default;
    virtual bool IsMainThread() const = 0;
    // Queues work for the main thread. Work still queued when the dispatcher shuts down is
    // dropped without running.
    virtual void Post(std::function<void()> work) = 0;

    // Runs the work on the main thread and waits for it; runs it at once when called there.
    // An exception of the work reaches the caller. Raises vela::Exception when the main thread
    // shuts down before the work ran.
    void RunAndWait(std::function<void()> work);
};

// A queue of work drained by whoever drives the loop: the main thread of Linux builds and tests.
class RunLoop final : public MainThreadDispatcher {
public:
    RunLoop();  // the constructing thread owns the loop
    ~RunLoop() override;

    bool IsMainThread() const override { return std::this_thread::get_id() == owner_; }
    void Post(std::function<void()> work) override;

    // Runs what is queued now; returns how many items ran.
    size_t RunPending();
    // Runs work as it arrives until done() holds (checked after each item) or the time is up.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs work until Quit().
    void Run();
    void Quit();
    // Drops queued work and refuses new work; waiters in RunAndWait are released.
    void Shutdown();

private:
    bool TakeOne(std::function<void()>& work, std::chrono::steady_clock::time_point deadline);

    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> queue_;
    bool quit_ = false;
    bool shutDown_ = false;
};

}  // namespace vela
