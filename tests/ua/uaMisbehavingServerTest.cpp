// The transport against a small fake server that misbehaves after the handshake: every case must
// end in a clean error within the time-out, never a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "base/Socket.h"
#include "tests/ua/FakePeerWire.h"
#include "ua/transport/uaStackClient.h"
#include "ua/uaBinaryEncoder.h"

namespace vela::ua {
namespace {

using namespace vela::ua::fakepeer;

Bytes Message(const char* type, char chunk, const Bytes& body, uint32_t declaredSize = 0) {
    Bytes out(type, type + 3);
    out.push_back(static_cast<uint8_t>(chunk));
    PutU32(out, declaredSize ? declaredSize : static_cast<uint32_t>(8 + body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Acknowledge() {
    Bytes body;
    PutU32(body, 0);      // protocol version
    PutU32(body, 8192);   // receive buffer
    PutU32(body, 8192);   // send buffer
    PutU32(body, 65536);  // max message size
    PutU32(body, 16);     // max chunk count
    return Message("ACK", 'F', body);
}

// Accepts one connection; answers Hello with `onHello`, then the OpenSecureChannel with `onOpen`.
struct FakeServer {
    using Step = std::function<void(TcpSocket&)>;
    FakeServer(Step onHello, Step onOpen)
        : thread([this, onHello, onOpen] {
              try {
                  TcpSocket peer = listener.Accept(5000);
                  ReadMessage(peer);
                  onHello(peer);
                  ReadMessage(peer);
                  onOpen(peer);
                  peer.WaitReadable(3000);  // until the client gives up
              } catch (const Exception&) {
              }
          }) {}
    ~FakeServer() { thread.join(); }
    TcpListener listener;
    std::thread thread;
};

struct Misbehaviour {
    const char* name;
    FakeServer::Step onHello, onOpen;
};

void SendAck(TcpSocket& peer) { peer.SendAll(Acknowledge()); }

std::vector<Misbehaviour> Cases() {
    auto garbage = [](TcpSocket& peer) {
        const Bytes noise = {'X', 'Y', 'Z', 'F', 0x20, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                             17, 18, 19, 20, 21, 22, 23, 24};
        peer.SendAll(noise);
    };
    return {
        {"ErrInsteadOfAcknowledge",
         [](TcpSocket& peer) {
             Bytes body;
             PutU32(body, 0x807E0000);  // BadTcpEndpointUrlInvalid
             const std::string reason = "go away";
             PutU32(body, static_cast<uint32_t>(reason.size()));
             body.insert(body.end(), reason.begin(), reason.end());
             peer.SendAll(Message("ERR", 'F', body));
         },
         [](TcpSocket&) {}},
        {"GarbageInsteadOfAcknowledge", garbage, [](TcpSocket&) {}},
        {"ErrInsteadOfOpen", SendAck,
         [](TcpSocket& peer) {
             Bytes body;
             PutU32(body, 0x80820000);
             PutU32(body, 0xFFFFFFFF);
             peer.SendAll(Message("ERR", 'F', body));
         }},
        {"GarbageInsteadOfOpen", SendAck, garbage},
        {"ChunkLargerThanNegotiated", SendAck,
         [](TcpSocket& peer) { peer.SendAll(Message("OPN", 'F', Bytes(64, 0), 200u * 1024 * 1024)); }},
        {"TruncatedMessageThenClose", SendAck,
         [](TcpSocket& peer) {
             Bytes partial = Message("OPN", 'F', Bytes(200, 0));
             partial.resize(60);
             peer.SendAll(partial);
             peer.Close();
         }},
        {"OpenWithBrokenSecurityHeader", SendAck,
         [](TcpSocket& peer) {
             Bytes body;
             PutU32(body, 1);           // channel id
             PutU32(body, 0x7FFFFFF0);  // policy URI length far beyond the chunk
             body.resize(40, 0);
             peer.SendAll(Message("OPN", 'F', body));
         }},
        {"NoAnswerToOpen", SendAck, [](TcpSocket&) {}},
    };
}

class MisbehavingServer : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(MisbehavingServer, EndsInACleanErrorWithinTheTimeOut) {
    FakeServer server(GetParam().onHello, GetParam().onOpen);
    uaStackClient client;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(
        {
            client.Connect("opc.tcp://127.0.0.1:" + std::to_string(server.listener.Port()), 2000);
            client.OpenSecureChannel(security::TuaSecurePolicy::uaSPNone, security::TuaSecureMode::uaSNone, {}, {},
                                     600000, 1500);
        },
        uaConnectionError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    client.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Cases, MisbehavingServer, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// The server's clock may be far off ours: the token's lifetime counts from its receipt here.
TEST(SkewedServerClock, TokenCreatedLongAgoByTheServerStillCarriesTraffic) {
    FakeServer server(SendAck, [](TcpSocket& peer) {
        const std::string policy = "http://opcfoundation.org/UA/SecurityPolicy#None";
        uaOpenSecureChannelResponse opened;
        opened.fSecurityToken.fChannelId = 5;
        opened.fSecurityToken.fTokenId = 1;
        opened.fSecurityToken.fRevisedLifetime = 60000;  // created at the server's idea of year 1601
        Bytes body;
        PutU32(body, 5);
        PutU32(body, static_cast<uint32_t>(policy.size()));
        body.insert(body.end(), policy.begin(), policy.end());
        PutU32(body, 0xFFFFFFFF);
        PutU32(body, 0xFFFFFFFF);
        PutU32(body, 1);  // sequence number
        PutU32(body, 1);  // request id of the client's first request
        const Bytes encoded = Encoded(opened);
        body.insert(body.end(), encoded.begin(), encoded.end());
        peer.SendAll(Message("OPN", 'F', body));

        const Bytes request = ReadMessage(peer);
        Bytes answer;
        PutU32(answer, 5);  // channel
        PutU32(answer, 1);  // token
        PutU32(answer, 2);  // sequence number
        PutU32(answer, GetU32(request, 20));
        const Bytes endpoints = Encoded(uaGetEndpointsResponse());
        answer.insert(answer.end(), endpoints.begin(), endpoints.end());
        peer.SendAll(Message("MSG", 'F', answer));
    });
    uaStackClient client;
    client.Connect("opc.tcp://127.0.0.1:" + std::to_string(server.listener.Port()), 2000);
    client.OpenSecureChannel(security::TuaSecurePolicy::uaSPNone, security::TuaSecureMode::uaSNone, {}, {}, 60000, 2000);
    uaGetEndpointsRequest request;
    const auto response = client.Call(request, 2000);
    EXPECT_NE(dynamic_cast<uaGetEndpointsResponse*>(response.get()), nullptr);
    client.Disconnect();
}

}  // namespace
}  // namespace vela::ua
