#include "base/MainThread.h"

#include <algorithm>
#include <exception>

namespace vela {
namespace {

// Shared by a waiting caller and the queued work; the work's destructor releases the caller
// even when the work is dropped without running.
struct Handover {
    Event done;
    bool ran = false;
    std::exception_ptr error;
};

// Released when the last copy of the queued work is gone, run or dropped.
struct Ticket {
    std::shared_ptr<Handover> state;
    ~Ticket() {
        if (state) state->done.Set();
    }
};

class HandoverWork {
public:
    HandoverWork(std::function<void()> work, std::shared_ptr<Handover> state)
        : work_(std::move(work)), ticket_(std::make_shared<Ticket>()) {
        ticket_->state = std::move(state);
    }
    void operator()() {
        try {
            work_();
        } catch (...) {
            ticket_->state->error = std::current_exception();
        }
        ticket_->state->ran = true;
        ticket_->state->done.Set();
    }

private:
    std::function<void()> work_;
    std::shared_ptr<Ticket> ticket_;
};

}  // namespace

void MainThreadDispatcher::RunAndWait(std::function<void()> work) {
    if (IsMainThread()) {
        work();
        return;
    }
    auto state = std::make_shared<Handover>();
    Post(HandoverWork(std::move(work), state));
    state->done.Wait();
    if (state->error) std::rethrow_exception(state->error);
    if (!state->ran) throw Exception("The main thread ended before the call could run");
}

RunLoop::RunLoop() : owner_(std::this_thread::get_id()) {}

RunLoop::~RunLoop() { Shutdown(); }

void RunLoop::Post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (shutDown_) return;  // dropped here, which releases a RunAndWait caller
        queue_.push_back(std::move(work));
    }
    arrived_.notify_one();
}

bool RunLoop::TakeOne(std::function<void()>& work, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return !queue_.empty() || quit_; };
    if (deadline == std::chrono::steady_clock::time_point::max()) arrived_.wait(lock, ready);
    else if (!arrived_.wait_until(lock, deadline, ready)) return false;
    if (queue_.empty()) return false;
    work = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

size_t RunLoop::RunPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
    }
    for (auto& work : batch) work();
    return batch.size();
}

bool RunLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // done() may turn true on another thread without any work arriving: look again often
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::function<void()> work;
        if (TakeOne(work, std::min(deadline, now + std::chrono::milliseconds(5)))) work();
    }
    return true;
}

void RunLoop::Run() {
    for (;;) {
        std::function<void()> work;
        if (!TakeOne(work, std::chrono::steady_clock::time_point::max())) break;
        work();
    }
    std::lock_guard lock(mutex_);
    quit_ = false;
}

void RunLoop::Quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    arrived_.notify_all();
}

void RunLoop::Shutdown() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
        quit_ = true;
        dropped.swap(queue_);
    }
    arrived_.notify_all();
    // dropped work is destroyed here, outside the lock
}

}  // namespace vela
