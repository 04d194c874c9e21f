// UA sessions tunnelled through real proxies on loopback: tinyproxy (HTTP CONNECT with basic
// authentication) and Dante (SOCKS 4), both from the distribution's packages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "base/Socket.h"
#include "tests/ua/interop/NodeOpcuaServer.h"

namespace vela::ua {
namespace {

using testing_support::ChildProcess;

// A port that was free a moment ago (the proxies cannot be told to pick one).
uint16_t FreePort() {
    TcpListener probe;
    return probe.Port();
}

bool WaitUntilListening(uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            TcpSocket::Connect("127.0.0.1", port, 500);
            return true;
        } catch (const Exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return false;
}

std::string WriteConfig(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name + "-" + std::to_string(getpid()) + ".conf";
    std::ofstream(path) << text;
    return path;
}

class ProxiedSessions : public NodeOpcuaServer {
protected:
    static void SetUpTestSuite() {
        NodeOpcuaServer::SetUpTestSuite();
        httpPort_ = FreePort();
        const std::string tiny = WriteConfig("vela-tinyproxy",
                                             "Port " + std::to_string(httpPort_) +
                                                 "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\n"
                                                 "LogLevel Warning\nBasicAuth operator secret\n");
        ASSERT_TRUE(http_.Start({"tinyproxy", "-d", "-c", tiny}, true)) << "tinyproxy is missing";
        ASSERT_TRUE(WaitUntilListening(httpPort_)) << "tinyproxy did not start";
        // Dante passes connections to the UA server's port only: a target it refuses shows that
        // the traffic really goes through it.
        socksPort_ = FreePort();
        std::string dante = "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(socksPort_) +
                            "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
        if (geteuid() == 0) dante += "user.privileged: root\nuser.unprivileged: nobody\n";
        dante += "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                 "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.1/32 port = " + std::to_string(port_) +
                 "\n  command: connect\n}\n"
                 "socks block {\n  from: 0.0.0.0/0 to: 0.0.0.0/0\n}\n";
        ASSERT_TRUE(socks_.Start({"danted", "-f", WriteConfig("vela-danted", dante)}, true)) << "danted is missing";
        ASSERT_TRUE(WaitUntilListening(socksPort_)) << "danted did not start";
    }
    static void TearDownTestSuite() {
        http_.Stop();
        socks_.Stop();
        NodeOpcuaServer::TearDownTestSuite();
    }

    // Connects through the proxy, reads the server's state and a variable, writes it back.
    static void ExpectWorkingSession(TVelaUAClient& client) {
        client.TimeoutConnect = 5000;
        ASSERT_NO_THROW(client.SetActive(true));
        ASSERT_TRUE(client.Active());
        const auto values = client.ReadNodeAttributes({uaNodeId(2259u), ParseVariable()}, {13});
        ASSERT_EQ(values.size(), 2u);
        EXPECT_EQ(values[0].fStatusCode, 0u);
        EXPECT_EQ(values[1].fStatusCode, 0u);
        uaDataValue written;
        written.fValue = uaVariant::Scalar(bit_Double, 21.5);
        EXPECT_EQ(client.WriteNodeAttributes({ParseVariable()}, {13}, {written}).at(0), 0u);
        client.SetActive(false);
    }
    static uaNodeId ParseVariable() { return uaNodeId(std::string("Plant.Temperature"), 1); }
    static std::string HttpProxy(const std::string& credentials) {
        return "http://" + credentials + "@127.0.0.1:" + std::to_string(httpPort_);
    }

    static inline ChildProcess http_, socks_;
    static inline uint16_t httpPort_ = 0, socksPort_ = 0;
};

TEST_F(ProxiedSessions, SecuredSessionThroughHttpConnect) {
    TVelaUAClient client;
    Configure(client, security::TuaSecurePolicy::uaSPBasic256Sha256, security::TuaSecureMode::uaSSignAndEncrypt);
    client.Proxy = HttpProxy("operator:secret");
    ExpectWorkingSession(client);
}

TEST_F(ProxiedSessions, HttpProxyRefusingTheCredentialsFailsTheConnect) {
    TVelaUAClient client;
    client.Url = url_;
    client.TimeoutConnect = 5000;
    client.Proxy = HttpProxy("operator:wrong");  // tinyproxy answers 401 rather than 407
    const std::string error = ConnectError(client);  // empty: connected without valid proxy credentials
    EXPECT_NE(error.find("Proxy error: HTTP/1.0 401"), std::string::npos) << error;
    EXPECT_FALSE(client.Active());
}

TEST_F(ProxiedSessions, SessionThroughSocks4) {
    TVelaUAClient client;
    Configure(client, security::TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep, security::TuaSecureMode::uaSSign);
    client.Proxy = "socks4://127.0.0.1:" + std::to_string(socksPort_);
    ExpectWorkingSession(client);
}

TEST_F(ProxiedSessions, Socks4ProxyRefusingTheTargetFailsTheConnect) {
    TcpListener elsewhere;  // reachable directly, but not through the proxy's rules
    TVelaUAClient client;
    client.Url = "opc.tcp://127.0.0.1:" + std::to_string(elsewhere.Port());
    client.TimeoutConnect = 5000;
    client.Proxy = "socks4://127.0.0.1:" + std::to_string(socksPort_);
    const std::string error = ConnectError(client);  // empty: connected to a target the proxy refuses
    EXPECT_NE(error.find("Proxy error: SOCKS 4 request rejected"), std::string::npos) << error;
    EXPECT_FALSE(client.Active());
}

}  // namespace
}  // namespace vela::ua
