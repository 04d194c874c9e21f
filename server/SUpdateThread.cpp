#include "server/SUpdateThread.h"

#include <objbase.h>

#include <chrono>
#include <system_error>

namespace vela::server {

TVelaSUpdateThread::TVelaSUpdateThread(MainThreadDispatcher& mainThread, Work work, int32_t updateRate)
    : mainThread_(mainThread), work_(std::move(work)), fUpdateRate(updateRate > 0 ? updateRate : 1000) {}

TVelaSUpdateThread::~TVelaSUpdateThread() {
    shared_->alive = false;
    terminated_ = true;
    fEvent.Set();
    if (thread_.joinable()) thread_.join();
}

void TVelaSUpdateThread::SetUpdateRate(int32_t rate) {
    fUpdateRate = rate > 0 ? rate : 1000;
    fEvent.Set();  // the new period starts at once
}

void TVelaSUpdateThread::SetActive(bool active) {
    fActive = active;
    if (!active || thread_.joinable()) return;
    try {
        thread_ = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        fActive = false;  // no thread to be had: the group stays without periodic data changes
    }
}

void TVelaSUpdateThread::HandOver(const std::function<void()>& work) {
    auto done = std::make_shared<Event>(true, false);
    std::shared_ptr<Shared> shared = shared_;
    mainThread_.Post([shared, done, work] {
        if (shared->alive) {
            try {
                work();
            } catch (...) {
            }
        }
        done->Set();
    });
    // The main thread may be the one waiting for this thread to end: never block it out.
    while (!done->WaitFor(std::chrono::milliseconds(20)))
        if (terminated_) return;
}

void TVelaSUpdateThread::Execute() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (!terminated_) {
        if (!work_.queueEmpty()) HandOver(work_.asyncCall);
        if (terminated_) break;
        const bool signalled = fEvent.WaitFor(std::chrono::milliseconds(fUpdateRate.load()));
        if (terminated_) break;
        if (!signalled) {
            if (fActive) HandOver(work_.periodic);
        } else if (work_.queueEmpty()) {
            fEvent.Reset();
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace vela::server
