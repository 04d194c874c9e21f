// Client-side cost of UA service round trips: the full client path (request building, encoding,
// chunking, the socket, the read thread, reassembly, decoding, matching and wake-up) against an
// in-process responder on loopback that answers from prepared bytes, unsecured or under
// Basic256Sha256 SignAndEncrypt.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "base/Socket.h"
#include "ua/transport/uaRequestDispatch.h"
#include "ua/security/ChunkSecurity.h"
#include "ua/security/Random.h"
#include "ua/transport/uaStackClient.h"
#include "ua/uaBinaryEncoder.h"

using namespace vela;
using namespace vela::ua;

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t GetU32(const Bytes& in, size_t at) {
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

Bytes Encoded(const TuaObj& message) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(message);
    return encoder.TakeBuffer();
}

Bytes KeyFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void PutString(Bytes& out, std::span<const uint8_t> bytes) {
    PutU32(out, static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// A server that acknowledges, opens the channel (with the given security, as a real server
// would: its own key pair, the client's certificate, derived keys) and answers every MSG with
// one prepared response body. Its own CPU time is counted so that the client's share can be told.
class Responder {
public:
    Responder(Bytes response, security::TuaSecurePolicy policy, security::TuaSecureMode mode)
        : response_(std::move(response)), policy_(policy), mode_(mode) {
        if (Secured()) {
            backend_->Asym().LoadPrivateKey(KeyFile("pki_key.pem"), "");
            backend_->Asym().LoadPublicCertificate(Certificate(), security::TCertificateUsage::cuUseLocalKey);
            backend_->Asym().LoadPublicCertificate(KeyFile("cert2048.der"), security::TCertificateUsage::cuUseRemoteKey);
        }
        thread_ = std::thread([this] { Serve(); });
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
    }
    uint16_t Port() const { return listener_.Port(); }
    static Bytes Certificate() { return KeyFile("pki_cert.der"); }
    // CPU seconds the responder's thread has spent.
    double CpuSeconds() const { return static_cast<double>(cpuNs_.load()) / 1e9; }

private:
    bool Secured() const { return policy_ != security::TuaSecurePolicy::uaSPNone; }
    static Bytes Read(TcpSocket& peer) {
        Bytes chunk(8);
        peer.ReceiveExact(chunk, 10000);
        chunk.resize(GetU32(chunk, 4));
        peer.ReceiveExact(std::span<uint8_t>(chunk).subspan(8), 10000);
        if (chunk[3] != 'F') throw Exception("the responder takes single-chunk messages only");
        return chunk;
    }
    void CountCpu() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        cpuNs_ = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    }
    void Open(TcpSocket& peer) {
        using namespace security;
        uaAsymmetricDelegate reader(*backend_, false), writer(*backend_, true);
        const Bytes local = Secured() ? Certificate() : Bytes{};
        const Bytes remote = Secured() ? KeyFile("cert2048.der") : Bytes{};
        reader.SetPolicy(policy_, local, remote);
        writer.SetPolicy(policy_, local, remote);
        Bytes open = Read(peer);
        size_t at = 12;
        for (int field = 0; field < 3; ++field) {  // policy URI, sender certificate, thumbprint
            const uint32_t length = GetU32(open, at);
            at += 4 + (length == 0xFFFFFFFF ? 0 : length);
        }
        const auto plain = reader.Unprotect(open, at);
        const Bytes sequence(plain.begin(), plain.begin() + 8);
        TuaBinaryDecoder decoder(plain.subspan(8));
        decoder.ReadMessageId();
        uaOpenSecureChannelRequest request;
        decoder.Read(request);

        uaOpenSecureChannelResponse opened;
        opened.fSecurityToken.fChannelId = 1;
        opened.fSecurityToken.fTokenId = 1;
        opened.fSecurityToken.fCreatedAt = NowUtc();
        opened.fSecurityToken.fRevisedLifetime = 600000;
        if (Secured()) opened.fServerNonce = RandomBytes(Policy(policy_).nonceSize);
        const Bytes body = Encoded(opened);
        Bytes reply = {'O', 'P', 'N', 'F', 0, 0, 0, 0};
        PutU32(reply, 1);
        const std::string& uri = writer.SecurityPolicyUri();
        PutString(reply, std::span(reinterpret_cast<const uint8_t*>(uri.data()), uri.size()));
        if (Secured()) {
            PutString(reply, writer.SenderCertificate());
            PutString(reply, writer.ReceiverCertificateThumbprint());
        } else {
            PutU32(reply, 0xFFFFFFFF);
            PutU32(reply, 0xFFFFFFFF);
        }
        const size_t headerEnd = reply.size();
        PutU32(reply, 1);                       // sequence number
        PutU32(reply, GetU32(sequence, 4));     // request id
        reply.insert(reply.end(), body.begin(), body.end());
        writer.Protect(reply, headerEnd);
        peer.SendAll(reply);
        channel_.SetPolicy(policy_, mode_);
        channel_.IssueToken(1, 1, NowUtc(), 600000, request.fClientNonce, opened.fServerNonce, true);
    }
    void Serve() {
        try {
            TcpSocket peer = listener_.Accept(10000);
            Read(peer);
            Bytes ack = {'A', 'C', 'K', 'F'};
            for (uint32_t v : {28u, 0u, 65535u, 65535u, 16777216u, 0u}) PutU32(ack, v);
            peer.SendAll(ack);
            Open(peer);
            uint32_t sequence = 2;
            while (!stop_) {
                if (!peer.WaitReadable(50)) continue;
                Bytes request = Read(peer);
                if (request[0] != 'M') break;
                const auto plain = channel_.Unprotect(request, 16);
                Bytes answer = {'M', 'S', 'G', 'F', 0, 0, 0, 0};
                PutU32(answer, 1);  // channel
                PutU32(answer, 1);  // token
                PutU32(answer, sequence++);
                PutU32(answer, GetU32(Bytes(plain.begin(), plain.begin() + 8), 4));
                answer.insert(answer.end(), response_.begin(), response_.end());
                channel_.Protect(answer, 16);
                peer.SendAll(answer);
                CountCpu();
            }
        } catch (const std::exception&) {
            // the client went away (a broken exchange shows as the client's time-out)
        }
    }

    TcpListener listener_;
    Bytes response_;
    security::TuaSecurePolicy policy_;
    security::TuaSecureMode mode_;
    std::unique_ptr<security::uaMessageSecurityImpl> backend_ = security::CreateSecurityBackend(security::TuaSecurityLib::uaSNative);
    security::uaSymmetricDelegate channel_{*backend_};
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> cpuNs_{0};
    std::thread thread_;
};

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Arguments: nodes per Read; 0 for security None, 1 for Basic256Sha256 SignAndEncrypt.
void ReadRoundTrip(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    const bool secured = state.range(1) != 0;
    const auto policy = secured ? security::TuaSecurePolicy::uaSPBasic256Sha256 : security::TuaSecurePolicy::uaSPNone;
    const auto mode = secured ? security::TuaSecureMode::uaSSignAndEncrypt : security::TuaSecureMode::uaSNone;
    uaReadResponse prepared;
    for (size_t i = 0; i < count; ++i) {
        uaDataValue value;
        value.fValue = uaVariant::Scalar(bit_Double, 1.5 * static_cast<double>(i));
        value.fSourceTimestamp = NowUtc();
        prepared.fResults.push_back(std::move(value));
    }
    Responder responder(Encoded(prepared), policy, mode);
    uaStackClient stack;
    if (secured) stack.Security().Asym().LoadPrivateKey(KeyFile("key2048.pem"), "");
    stack.Connect("opc.tcp://127.0.0.1:" + std::to_string(responder.Port()), 5000);
    if (secured)
        stack.OpenSecureChannel(policy, mode, KeyFile("cert2048.der"), Responder::Certificate(), 600000, 5000);
    else
        stack.OpenSecureChannel(policy, mode, {}, {}, 600000, 5000);
    uaRequestDispatcher client([&](uint32_t id, const TuaObj& request) { stack.SendRequest(id, request); });
    stack.onMessage = [&](uint32_t id, Bytes body) { client.HandleReceivedMessage(id, body); };
    client.SetActive(true);
    std::vector<uaReadValueId> nodes(count);
    for (size_t i = 0; i < count; ++i) {
        nodes[i].fNodeId.fNameSpaceIndex = 2;
        nodes[i].fNodeId.fValue = "Plant.Line1.Tag" + std::to_string(i);
        nodes[i].fAttributeId = 13;
    }
    const double processStart = ProcessCpuSeconds(), responderStart = responder.CpuSeconds();
    for (auto _ : state) {
        uaRead read(&client);
        read.Request->fNodesToRead = nodes;
        try {
            read.RunSync(5000);
        } catch (const std::exception& e) {
            state.SkipWithError((std::string(e.what()) + " / " + client.LastError().reason).c_str());
            break;
        }
        if (!read.Response || read.Response->fResults.size() != count) state.SkipWithError("no response");
    }
    // everything the process spent (the client's calling and read threads) less the responder's share
    const double clientCpu = ProcessCpuSeconds() - processStart - (responder.CpuSeconds() - responderStart);
    state.counters["client_cpu_us"] = benchmark::Counter(clientCpu * 1e6 / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    stack.onMessage = nullptr;
    stack.Disconnect();
}
BENCHMARK(ReadRoundTrip)->ArgNames({"nodes", "secured"})->ArgsProduct({{1, 1000}, {0, 1}})->UseRealTime();

// Decoding and matching Publish responses of 1,000 data changes as the read thread does.
void PublishResponses(benchmark::State& state) {
    uaPublishResponse publish;
    uaDataChangeNotification changes;
    for (uint32_t i = 0; i < 1000; ++i) {
        uaMonitoredItemNotification item;
        item.fClientHandle = i;
        item.fValue.fValue = uaVariant::Scalar(bit_Int32, static_cast<int32_t>(i));
        item.fValue.fSourceTimestamp = NowUtc();
        changes.fMonitoredItems.push_back(std::move(item));
    }
    uaExtensionObject wrapped;
    wrapped.fEncoding = uaExtensionObject::eo_EncodeableObject;
    wrapped.fObject = std::make_shared<uaDataChangeNotification>(changes);
    publish.fNotificationMessage.fNotificationData.push_back(wrapped);
    const Bytes body = Encoded(publish);
    uaRequestDispatcher client([](uint32_t, const TuaObj&) {});
    std::atomic<uint64_t> notifications{0};
    client.SetActive(true);
    uint32_t id = 100;
    for (auto _ : state) {
        uaPublish call(&client);
        const uint32_t requestId = ++id;
        client.CreateAsyncRequest(requestId, *call.Request,
                                  [&](uint32_t, std::unique_ptr<TuaObj> response, const std::any&) {
                                      auto* p = dynamic_cast<uaPublishResponse*>(response.get());
                                      if (!p) return;
                                      for (const auto& data : p->fNotificationMessage.fNotificationData) {
                                          uaDataChangeNotification received;
                                          TExtensionObjReader::ReadObject(data, received);
                                          notifications += received.fMonitoredItems.size();
                                      }
                                  },
                                  {}, 60000);
        client.HandleReceivedMessage(requestId, body);
    }
    if (notifications.load() != static_cast<size_t>(state.iterations()) * 1000) state.SkipWithError("notifications were lost");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 1000));
}
BENCHMARK(PublishResponses);

}  // namespace
