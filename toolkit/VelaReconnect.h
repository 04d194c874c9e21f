#pragma once
// Bringing a lost connection back: a thread of its own probes the server's address every pause
// (so that the owning thread never waits on a host that does not answer), then asks the owner to
// connect; the owner says how that went. Failed attempts make the pauses grow.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vela {

class TVelaReconnector {
public:
    static constexpr int32_t kFirstPauseMs = 500;
    static constexpr int32_t kLongestPauseMs = 3000;
    static constexpr int32_t kProbeTimeoutMs = 2000;

    // `attempt` is called on the reconnector's thread when it is time to try: it must only hand
    // the attempt to the owner (post a message), and the owner answers with AttemptFailed or Stop.
    explicit TVelaReconnector(std::function<void()> attempt);
    ~TVelaReconnector();
    TVelaReconnector(const TVelaReconnector&) = delete;
    TVelaReconnector& operator=(const TVelaReconnector&) = delete;

    // Starts waiting for the server at host:port (port 0: no probe, every pause ends in an attempt).
    void Start(std::string host, uint16_t port);
    // The attempt failed: the next one comes after a longer pause.
    void AttemptFailed();
    // Ends the waiting (connected again, or given up); returns when the thread has ended.
    void Stop();
    bool Running() const { return running_.load(); }
    int32_t Attempts() const { return attempts_.load(); }

private:
    void Run();
    bool Wait(int32_t ms);  // false when stopped

    std::function<void()> attempt_;
    std::string host_;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool attemptOpen_ = false;
    int32_t pauseMs_ = kFirstPauseMs;
    std::atomic<bool> running_{false};
    std::atomic<int32_t> attempts_{0};
    std::thread thread_;
};

// The host and port of "scheme://[user@]host[:port][/path]" (IPv6 hosts in brackets); the port is
// the scheme's usual one when none is given (opc.tcp 4840, http 80, https 443), 0 when unknown.
bool SplitServerAddress(const std::string& url, std::string& host, uint16_t& port);

}  // namespace vela
