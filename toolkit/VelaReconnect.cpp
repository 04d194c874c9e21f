#include "toolkit/VelaReconnect.h"

#include <algorithm>
#include <chrono>

#include "base/Socket.h"
#include "base/Text.h"

namespace vela {

TVelaReconnector::TVelaReconnector(std::function<void()> attempt) : attempt_(std::move(attempt)) {}

TVelaReconnector::~TVelaReconnector() { Stop(); }

void TVelaReconnector::Start(std::string host, uint16_t port) {
    Stop();
    {
        std::lock_guard lock(mutex_);
        host_ = std::move(host);
        port_ = port;
        stop_ = false;
        attemptOpen_ = false;
        pauseMs_ = kFirstPauseMs;
    }
    attempts_ = 0;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
}

void TVelaReconnector::AttemptFailed() {
    std::lock_guard lock(mutex_);
    attemptOpen_ = false;
    pauseMs_ = std::min(pauseMs_ * 2, kLongestPauseMs);
    wake_.notify_all();
}

void TVelaReconnector::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    running_ = false;
}

bool TVelaReconnector::Wait(int32_t ms) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
    return !stop_;
}

void TVelaReconnector::Run() {
    for (;;) {
        int32_t pause = 0;
        {
            std::lock_guard lock(mutex_);
            if (stop_) break;
            pause = pauseMs_;
        }
        if (!Wait(pause)) break;
        if (port_ != 0) {
            try {
                TcpSocket::Connect(host_, port_, kProbeTimeoutMs).Close();
            } catch (const std::exception&) {
                // Not there yet. A probe costs the server nothing, so probing goes on at the
                // shortest pause: a server that comes back is found within it. Only attempts,
                // which cost it a session, back off.
                continue;
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (stop_) break;
            attemptOpen_ = true;
        }
        ++attempts_;
        attempt_();
        // the owner answers: failed (the loop goes on) or stopped
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || !attemptOpen_; });
        if (stop_) break;
    }
    running_ = false;
}

bool SplitServerAddress(const std::string& url, std::string& host, uint16_t& port) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const std::string name = AsciiLower(url.substr(0, scheme));
    std::string rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const size_t at = rest.rfind('@'); at != std::string::npos) rest = rest.substr(at + 1);
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] == ':') portText = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        host = rest.substr(0, colon);
        if (colon != std::string::npos) portText = rest.substr(colon + 1);
    }
    if (host.empty()) return false;
    if (portText.empty()) {
        port = name == "opc.tcp" ? 4840 : name == "http" ? 80 : name == "https" ? 443 : 0;
        return true;
    }
    unsigned value = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9' || (value = value * 10 + static_cast<unsigned>(c - '0')) > 65535) return false;
    }
    if (value == 0) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace vela
