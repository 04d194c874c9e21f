// Messages just below, at and just above a chunk boundary, both ways, under every security policy
// and mode, against node-opcua. A relay between client and server counts the chunks, so each case
// shows that the chunk count really changes where it should and that full chunks are exactly as
// large as the negotiated buffer allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/Socket.h"
#include "tests/ua/interop/NodeOpcuaServer.h"
#include "ua/uaBinaryEncoder.h"

namespace vela::ua {
namespace {

using namespace security;

// A SOCKS 4 relay on loopback that notes every chunk it passes on. The client connects twice
// (discovery, then the chosen endpoint's own URL), and only a proxy sees both connections.
class ChunkTap {
public:
    enum Direction { kToServer = 0, kToClient = 1 };
    struct Message {
        size_t chunks = 0;
        size_t largest = 0;  // bytes of its largest chunk
    };

    ChunkTap() : acceptor_([this] { AcceptLoop(); }) {}
    ~ChunkTap() {
        stop_ = true;
        acceptor_.join();
        for (auto& link : links_) link->done = true;
        for (auto& link : links_) {
            link->up.join();
            link->down.join();
        }
    }
    ChunkTap(const ChunkTap&) = delete;
    ChunkTap& operator=(const ChunkTap&) = delete;

    std::string Url() const { return "socks4://127.0.0.1:" + std::to_string(listener_.Port()); }
    void Clear() {
        std::lock_guard lock(lock_);
        for (auto& m : messages_) m.clear();
    }
    // The MSG messages completed since the last Clear, in order.
    std::vector<Message> Messages(Direction d) const {
        std::lock_guard lock(lock_);
        return messages_[d];
    }
    // The largest chunk of any kind seen so far.
    size_t Largest(Direction d) const {
        std::lock_guard lock(lock_);
        return largest_[d];
    }

private:
    struct Link {
        TcpSocket client, server;
        std::atomic<bool> done{false};
        Message open[2];  // the message under way in each direction (its pump's own)
        std::thread up, down;
    };

    void AcceptLoop() {
        while (!stop_) {
            TcpSocket client;
            try {
                client = listener_.Accept(100);
            } catch (const std::exception&) {
                continue;
            }
            try {
                std::array<uint8_t, 8> request{};  // version, command, port, IPv4 address
                client.ReceiveExact(request, 5000);
                for (uint8_t c = 1; c != 0;) client.ReceiveExact(std::span(&c, 1), 5000);  // user id
                char host[16];
                std::snprintf(host, sizeof host, "%u.%u.%u.%u", request[4], request[5], request[6], request[7]);
                TcpSocket server = TcpSocket::Connect(host, static_cast<uint16_t>(request[2] << 8 | request[3]), 5000);
                const std::array<uint8_t, 8> granted{0, 90};
                client.SendAll(granted);
                auto link = std::make_unique<Link>();
                link->client = std::move(client);
                link->server = std::move(server);
                Link& l = *link;
                l.up = std::thread([this, &l] { Pump(l, kToServer); });
                l.down = std::thread([this, &l] { Pump(l, kToClient); });
                links_.push_back(std::move(link));
            } catch (const std::exception&) {
            }
        }
    }

    void Pump(Link& link, Direction d) {
        TcpSocket& from = d == kToServer ? link.client : link.server;
        TcpSocket& to = d == kToServer ? link.server : link.client;
        try {
            for (;;) {
                std::array<uint8_t, 8> header{};
                from.ReceiveExact(header, -1, &link.done);
                const size_t size = header[4] | header[5] << 8 | header[6] << 16 | static_cast<size_t>(header[7]) << 24;
                if (size < 8 || size > (size_t{1} << 24)) break;
                std::vector<uint8_t> chunk(size);
                std::copy(header.begin(), header.end(), chunk.begin());
                from.ReceiveExact(std::span(chunk).subspan(8), -1, &link.done);
                Note(link.open[d], d, chunk);  // before it goes on: whoever waits for it finds it noted
                to.SendAll(chunk);
            }
        } catch (const std::exception&) {
        }
        link.done = true;
        to.Shutdown();
        from.Shutdown();
    }

    void Note(Message& open, Direction d, const std::vector<uint8_t>& chunk) {
        std::lock_guard lock(lock_);
        largest_[d] = std::max(largest_[d], chunk.size());
        if (chunk[0] != 'M' || chunk[1] != 'S' || chunk[2] != 'G') return;
        ++open.chunks;
        open.largest = std::max(open.largest, chunk.size());
        if (chunk[3] == 'C') return;
        messages_[d].push_back(open);
        open = {};
    }

    TcpListener listener_;
    std::atomic<bool> stop_{false};
    std::list<std::unique_ptr<Link>> links_;  // the acceptor's until it has ended
    mutable std::mutex lock_;
    std::vector<Message> messages_[2];
    size_t largest_[2] = {0, 0};
    std::thread acceptor_;  // last: starts once the rest is there
};

struct ChunkCase {
    TuaSecurePolicy policy;
    TuaSecureMode mode;
    size_t signatureSize;  // of the symmetric signature
    const char* name;
};

void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.name; }

// The most body one chunk of the given size carries. 16 bytes stay clear (message header,
// channel id, token id); under encryption the rest is whole AES blocks holding sequence header,
// body, padding, the padding count and the signature.
size_t MaxBody(size_t bufferSize, const ChunkCase& c) {
    if (c.mode == TuaSecureMode::uaSSignAndEncrypt) return (bufferSize - 16) / 16 * 16 - 8 - 1 - c.signatureSize;
    return bufferSize - 16 - 8 - c.signatureSize;
}

// The size of a chunk whose body is MaxBody.
size_t FullChunk(size_t bufferSize, const ChunkCase& c) {
    return c.mode == TuaSecureMode::uaSSignAndEncrypt ? 16 + (bufferSize - 16) / 16 * 16 : bufferSize;
}

size_t EncodedSize(const TuaObj& message) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(message);
    return encoder.Size();
}

// n letters that differ from one length to the next, so a stale or shifted value shows.
std::string Text(size_t n) {
    std::string text(n, ' ');
    uint32_t x = static_cast<uint32_t>(n) * 2654435761u;
    for (char& c : text) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>('a' + (x >> 24) % 26);
    }
    return text;
}

uaMessageLimits NegotiatedLimits(const std::string& url) {
    uaStackClient probe;  // the same local limits as the client component's transport
    probe.Connect(url, 5000);
    const uaMessageLimits limits = probe.Limits();
    probe.Disconnect();
    return limits;
}

constexpr int32_t kNoTimestamps = 3;  // TimestampsToReturn Neither: responses of a fixed size

// One round trip: a Write of a text of some length, then the Read that gives it back.
struct Trip {
    size_t requestBody = 0;                          // the encoded Write request
    size_t requestChunks = 0, requestLargest = 0;    // of the Write request
    size_t responseBody = 0;                         // the Read response as we would encode it
    size_t responseChunks = 0, responseLargest = 0;  // of the Read response
};

class ChunkBoundaries : public NodeOpcuaServer, public ::testing::WithParamInterface<ChunkCase> {
protected:
    static uaNodeId StringVariable() { return uaNodeId(std::string("Demo.Static.Scalars.String"), 1); }

    // Writes a text of n letters, reads it back, compares; each length goes out once.
    void Probe(size_t n, Trip& trip) {
        if (const auto known = trips_.find(n); known != trips_.end()) {
            trip = known->second;
            return;
        }
        const std::string text = Text(n);
        tap_.Clear();
        uaWrite write(&client_.Requests());
        uaWriteValue item;
        item.fNodeId = StringVariable();
        item.fAttributeId = 13;
        item.fValue.fValue = uaVariant::Scalar(bit_String, text);
        write.Request->fNodesToWrite.push_back(std::move(item));
        trip.requestBody = EncodedSize(*write.Request);
        write.RunSync();
        ASSERT_NE(write.Response, nullptr) << "no answer to the write of " << n << " letters";
        ASSERT_EQ(write.Response->fResults, std::vector<uaStatusCode>{0}) << n << " letters";
        const auto read = client_.ReadNodeAttributes({StringVariable()}, {13}, kNoTimestamps);
        ASSERT_EQ(read.size(), 1u);
        ASSERT_TRUE(read[0].fValue.has_value());
        const auto* back = std::get_if<std::string>(&read[0].fValue->fScalar);
        ASSERT_NE(back, nullptr);
        ASSERT_TRUE(*back == text) << "another value came back after the write of " << n << " letters";
        uaReadResponse response;
        response.fResults = read;
        trip.responseBody = EncodedSize(response);
        const auto sent = tap_.Messages(ChunkTap::kToServer), received = tap_.Messages(ChunkTap::kToClient);
        ASSERT_EQ(sent.size(), 2u);  // Write, Read
        ASSERT_EQ(received.size(), 2u);
        trip.requestChunks = sent[0].chunks;
        trip.requestLargest = sent[0].largest;
        trip.responseChunks = received[1].chunks;
        trip.responseLargest = received[1].largest;
        trips_[n] = trip;
    }

    // The largest length whose Read response takes at most k chunks. The server chunks in its
    // own way: the search starts at the guess and widens until the count changes.
    void FindResponseBoundary(size_t k, size_t guess, size_t& boundary) {
        bool fits = false;
        const auto probe = [&](size_t n) {
            Trip trip;
            Probe(n, trip);
            fits = trip.responseChunks <= k;
        };
        constexpr size_t kFarthest = 4096;
        size_t low = guess, high = guess;  // low fits in k chunks, high does not
        ASSERT_NO_FATAL_FAILURE(probe(guess));
        const bool guessFits = fits;
        for (size_t step = 1; guessFits ? high == guess : low == guess; step *= 2) {
            ASSERT_LE(step, kFarthest) << "the response chunk count does not change near " << guess;
            const size_t n = guessFits ? low + step : high - step;
            ASSERT_NO_FATAL_FAILURE(probe(n));
            (fits ? low : high) = n;
        }
        while (high - low > 1) {
            const size_t middle = low + (high - low) / 2;
            ASSERT_NO_FATAL_FAILURE(probe(middle));
            (fits ? low : high) = middle;
        }
        boundary = low;
    }

    ChunkTap tap_;
    TVelaUAClient client_;  // after the tap: ends before it
    std::map<size_t, Trip> trips_;
};

TEST_P(ChunkBoundaries, WritesAndReadsAroundTheFirstThreeBoundaries) {
    const ChunkCase& c = GetParam();
    const uaMessageLimits limits = NegotiatedLimits(url_);
    Configure(client_, c.policy, c.mode);
    client_.Proxy = tap_.Url();
    const std::string error = ConnectError(client_);
    if (error.starts_with("Can't find right Security Mode")) GTEST_SKIP() << "the server does not offer this endpoint here";
    ASSERT_EQ(error, "");

    Trip small;
    ASSERT_NO_FATAL_FAILURE(Probe(1, small));
    ASSERT_EQ(small.requestChunks, 1u);
    const size_t requestOverhead = small.requestBody - 1, responseOverhead = small.responseBody - 1;
    const size_t requestPerChunk = MaxBody(limits.fSendBufferSize, c);
    const size_t responsePerChunk = MaxBody(limits.fReceiveBufferSize, c);
    for (size_t k = 1; k <= 3; ++k) {
        // the Write request: at n its body fills k chunks to the last byte
        const size_t n = k * requestPerChunk - requestOverhead;
        for (const size_t m : {n - 1, n, n + 1}) {
            Trip trip;
            ASSERT_NO_FATAL_FAILURE(Probe(m, trip));
            EXPECT_EQ(trip.requestChunks, m <= n ? k : k + 1) << "request body of " << trip.requestBody << " bytes";
            if (m == n) {
                EXPECT_EQ(trip.requestLargest, FullChunk(limits.fSendBufferSize, c));
            }
        }
        // the Read response
        size_t r = 0;
        ASSERT_NO_FATAL_FAILURE(FindResponseBoundary(k, k * responsePerChunk - responseOverhead, r));
        for (const size_t m : {r - 1, r, r + 1}) {
            Trip trip;
            ASSERT_NO_FATAL_FAILURE(Probe(m, trip));
            EXPECT_EQ(trip.responseChunks, m <= r ? k : k + 1) << m << " letters";
            if (m == r) {
                EXPECT_EQ(trip.responseLargest, FullChunk(limits.fReceiveBufferSize, c));
            }
        }
    }
    EXPECT_LE(tap_.Largest(ChunkTap::kToServer), limits.fSendBufferSize);
    EXPECT_LE(tap_.Largest(ChunkTap::kToClient), limits.fReceiveBufferSize);
    client_.SetActive(false);
}

INSTANTIATE_TEST_SUITE_P(
    Policies, ChunkBoundaries,
    ::testing::Values(
        ChunkCase{TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, 0, "None"},
        ChunkCase{TuaSecurePolicy::uaSPBasic128Rsa15, TuaSecureMode::uaSSign, 20, "Basic128Rsa15_Sign"},
        ChunkCase{TuaSecurePolicy::uaSPBasic128Rsa15, TuaSecureMode::uaSSignAndEncrypt, 20, "Basic128Rsa15_SignAndEncrypt"},
        ChunkCase{TuaSecurePolicy::uaSPBasic256, TuaSecureMode::uaSSign, 20, "Basic256_Sign"},
        ChunkCase{TuaSecurePolicy::uaSPBasic256, TuaSecureMode::uaSSignAndEncrypt, 20, "Basic256_SignAndEncrypt"},
        ChunkCase{TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSign, 32, "Basic256Sha256_Sign"},
        ChunkCase{TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSignAndEncrypt, 32, "Basic256Sha256_SignAndEncrypt"},
        ChunkCase{TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep, TuaSecureMode::uaSSign, 32, "Aes128_Sha256_RsaOaep_Sign"},
        ChunkCase{TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep, TuaSecureMode::uaSSignAndEncrypt, 32,
                  "Aes128_Sha256_RsaOaep_SignAndEncrypt"},
        ChunkCase{TuaSecurePolicy::uaSPAes256_Sha256_RsaPss, TuaSecureMode::uaSSign, 32, "Aes256_Sha256_RsaPss_Sign"},
        ChunkCase{TuaSecurePolicy::uaSPAes256_Sha256_RsaPss, TuaSecureMode::uaSSignAndEncrypt, 32,
                  "Aes256_Sha256_RsaPss_SignAndEncrypt"}),
    [](const auto& p) { return std::string(p.param.name); });

// One Read of 10,000 variables under encryption: several chunks each way, in order.
TEST_F(NodeOpcuaServer, ChunkedReadOfTenThousandVariablesUnderEncryption) {
    const ChunkCase c{TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSignAndEncrypt, 32, "Basic256Sha256"};
    const uaMessageLimits limits = NegotiatedLimits(url_);
    ChunkTap tap;
    TVelaUAClient client;
    Configure(client, c.policy, c.mode);
    client.Proxy = tap.Url();
    client.SetActive(true);
    constexpr size_t kCount = 10000;
    uaRead read(&client.Requests());
    for (size_t i = 0; i < kCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Demo.Bulk.V%05u", static_cast<unsigned>(i));
        uaReadValueId item;
        item.fNodeId = uaNodeId(std::string(name), 1);
        item.fAttributeId = 13;
        read.Request->fNodesToRead.push_back(std::move(item));
    }
    const size_t body = EncodedSize(*read.Request);
    tap.Clear();
    read.RunSync();
    ASSERT_NE(read.Response, nullptr);
    const auto& values = read.Response->fResults;
    ASSERT_EQ(values.size(), kCount);
    size_t wrong = 0;
    for (size_t i = 0; i < kCount; ++i) {
        // each value is the same step counter plus the variable's index: the order shows
        const auto* v = values[i].fValue ? std::get_if<int32_t>(&values[i].fValue->fScalar) : nullptr;
        if (values[i].fStatusCode != 0 || !v || *v < static_cast<int32_t>(i) || *v - static_cast<int32_t>(i) >= 1000000)
            ++wrong;
    }
    EXPECT_EQ(wrong, 0u);
    const auto sent = tap.Messages(ChunkTap::kToServer), received = tap.Messages(ChunkTap::kToClient);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(received.size(), 1u);
    const size_t perChunk = MaxBody(limits.fSendBufferSize, c);
    EXPECT_EQ(sent[0].chunks, (body + perChunk - 1) / perChunk);
    EXPECT_GE(sent[0].chunks, 5u);
    EXPECT_EQ(sent[0].largest, FullChunk(limits.fSendBufferSize, c));
    EXPECT_GE(received[0].chunks, 2u);
    EXPECT_LE(received[0].largest, limits.fReceiveBufferSize);
    client.SetActive(false);
}

}  // namespace
}  // namespace vela::ua
