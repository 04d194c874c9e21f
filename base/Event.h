#pragma once
// Events with timed waits and a re-entrant critical section, in the shape the connection
// threads use them. Plain std::jthread serves for threads.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vela {

class Event {
public:
    explicit Event(bool manualReset = true, bool initiallySet = false)
        : manualReset_(manualReset), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        if (manualReset_) changed_.notify_all();
        else changed_.notify_one();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }
    // True when the event was set within the time; an auto-reset event is then reset again.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return set_; })) return false;
        if (!manualReset_) set_ = false;
        return true;
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
        if (!manualReset_) set_ = false;
    }

private:
    const bool manualReset_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_;
};

// Re-entrant like a Win32 critical section; usable with std::lock_guard.
class CriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

}  // namespace vela
