#include "server/ComHosting.h"

#include <cstring>
#include <string>

namespace vela::server {

ComHosting& ComHosting::Instance() {
    static ComHosting instance;
    return instance;
}

void ComHosting::ObjectDestroyed() {
    --objects_;
    CheckIdle();
}

void ComHosting::Unlock() {
    --locks_;
    CheckIdle();
}

void ComHosting::SetOnIdle(std::function<void()> onIdle) {
    std::lock_guard lock(mutex_);
    onIdle_ = std::move(onIdle);
}

void ComHosting::CheckIdle() {
    if (objects_.load() > 0 || locks_.load() > 0) return;
    std::function<void()> onIdle;
    {
        std::lock_guard lock(mutex_);
        onIdle = onIdle_;
    }
    if (onIdle) onIdle();
}

wchar_t* TaskMemString(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy) std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

}  // namespace vela::server
