#pragma once
// The HTTP transport's two process-wide values: the count of calls made (the main window shows
// calls per second) and the time-out of transports created from now on.
#include <atomic>
#include <cstdint>

namespace vela::xml {

namespace detail {
inline std::atomic<int32_t> httpCalls{0};
inline std::atomic<int32_t> httpTimeoutMs{15000};
}  // namespace detail

// Counts one call; the count starts again at 1 before it would overflow.
inline void CountHttpCall() {
    int32_t seen = detail::httpCalls.load();
    while (!detail::httpCalls.compare_exchange_weak(seen, seen > 0x7FFFFFFD ? 1 : seen + 1)) {
    }
}
inline int32_t HttpCallCount() { return detail::httpCalls.load(); }
inline void ResetHttpCallCount() { detail::httpCalls.store(0); }

// The time-out as the option file gave it; a transport takes 10000 ms for values below 1.
inline int32_t HttpTimeoutSetting() { return detail::httpTimeoutMs.load(); }
inline void SetHttpTimeoutSetting(int32_t ms) { detail::httpTimeoutMs.store(ms); }
inline int32_t EffectiveHttpTimeoutMs() {
    const int32_t ms = HttpTimeoutSetting();
    return ms >= 1 ? ms : 10000;
}

}  // namespace vela::xml
