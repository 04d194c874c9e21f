#include "toolkit/VelaReconnect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>
#include <chrono>
#include <thread>

#include "base/Socket.h"

namespace vela {
namespace {

using namespace std::chrono_literals;

TEST(ServerAddress, HostAndPortOfAUrl) {
    const struct {
        const char* url;
        bool ok;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"opc.tcp://plc:4841/ua", true, "plc", 4841},
        {"opc.tcp://plc", true, "plc", 4840},
        {"OPC.TCP://plc/path", true, "plc", 4840},
        {"http://user:pw@xmlda.local/opc", true, "xmlda.local", 80},
        {"https://xmlda.local/opc", true, "xmlda.local", 443},
        {"opc.tcp://[fe80::1]:4850", true, "fe80::1", 4850},
        {"opc.tcp://[fe80::1]", true, "fe80::1", 4840},
        {"ftp://host", true, "host", 0},
        {"opc.tcp://plc:65536", false, "", 0},
        {"opc.tcp://plc:0", false, "", 0},
        {"opc.tcp://plc:12a", false, "", 0},
        {"opc.tcp://:4840", false, "", 0},
        {"plc:4840", false, "", 0},
        {"opc.tcp://[fe80::1", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host;
        uint16_t port = 0;
        EXPECT_EQ(SplitServerAddress(c.url, host, port), c.ok) << c.url;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
    }
}

// Attempts come only once the address answers; a failed attempt is followed by another, and
// stopping ends the thread at once, also while it waits for the owner.
TEST(Reconnector, AttemptsWhenTheAddressAnswersUntilStopped) {
    std::atomic<int> attempts{0};
    TVelaReconnector reconnector([&] { ++attempts; });
    uint16_t port = 0;
    {
        TcpListener probe;  // a port that was free a moment ago and is closed now
        port = probe.Port();
    }
    reconnector.Start("127.0.0.1", port);
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(attempts.load(), 0);
    EXPECT_TRUE(reconnector.Running());

    TcpListener listening(port);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (attempts.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    ASSERT_EQ(attempts.load(), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(attempts.load(), 1);  // waits for the owner's answer
    reconnector.AttemptFailed();
    while (attempts.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(attempts.load(), 2);
    EXPECT_EQ(reconnector.Attempts(), 2);

    const auto stopping = std::chrono::steady_clock::now();
    reconnector.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
    EXPECT_FALSE(reconnector.Running());
}

// Failed probes do not lengthen the pauses: a server back after a long absence is found soon.
TEST(Reconnector, AServerBackAfterLongIsFoundWithinAPause) {
    std::atomic<int> attempts{0};
    TVelaReconnector reconnector([&] { ++attempts; });
    uint16_t port = 0;
    {
        TcpListener probe;
        port = probe.Port();
    }
    reconnector.Start("127.0.0.1", port);
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * TVelaReconnector::kLongestPauseMs));
    TcpListener listening(port);
    const auto back = std::chrono::steady_clock::now();
    while (attempts.load() == 0 && std::chrono::steady_clock::now() - back < 10s) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(attempts.load(), 1);
    EXPECT_LE(std::chrono::steady_clock::now() - back,
              std::chrono::milliseconds(TVelaReconnector::kFirstPauseMs + 400));
    reconnector.Stop();
}

// Without a port to probe every pause ends in an attempt, and the pauses grow.
TEST(Reconnector, WithoutAPortThePausesGrow) {
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> times;
    TVelaReconnector* self = nullptr;
    TVelaReconnector reconnector([&] {
        {
            std::lock_guard lock(mutex);
            times.push_back(std::chrono::steady_clock::now());
        }
        self->AttemptFailed();
    });
    self = &reconnector;
    const auto started = std::chrono::steady_clock::now();
    reconnector.Start("unused", 0);
    const auto deadline = started + 20s;
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (times.size() >= 3 || std::chrono::steady_clock::now() > deadline) break;
        }
        std::this_thread::sleep_for(20ms);
    }
    reconnector.Stop();
    std::lock_guard lock(mutex);
    ASSERT_GE(times.size(), 3u);
    EXPECT_GE(times[0] - started, 500ms);
    EXPECT_GE(times[1] - times[0], 1000ms);
    EXPECT_GE(times[2] - times[1], std::chrono::milliseconds(std::min(2000, TVelaReconnector::kLongestPauseMs)));
}

}  // namespace
}  // namespace vela
