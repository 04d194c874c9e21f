#pragma once
// The main-thread hand-over of the Windows build: work is queued and a message to a
// message-only window makes the main thread's message loop drain the queue.
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "base/MainThread.h"

namespace vela {

class Win32MainThread final : public MainThreadDispatcher {
public:
    Win32MainThread();  // must be created on the thread that runs the message loop
    ~Win32MainThread() override;
    Win32MainThread(const Win32MainThread&) = delete;
    Win32MainThread& operator=(const Win32MainThread&) = delete;

    bool IsMainThread() const override { return GetCurrentThreadId() == ownerThread_; }
    void Post(std::function<void()> work) override;
    // Runs what is queued now (also done by the window on each wake-up message).
    void RunPending();
    // Drops queued work and refuses new work; waiters in RunAndWait are released.
    void Close();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    DWORD ownerThread_;
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool closed_ = false;
};

}  // namespace vela
