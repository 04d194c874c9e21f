// Client-side cost of UA service round trips: the full client path (request building, encoding,
// chunking, the socket, the read thread, reassembly, decoding, matching and wake-up) against an
// in-process responder on loopback that answers from prepared bytes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "base/Socket.h"
#include "ua/transport/uaRequestDispatch.h"
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
void SetU32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Encoded(const TuaObj& message) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(message);
    return encoder.TakeBuffer();
}

// An unsecured server that acknowledges, opens the channel and answers every MSG with one
// prepared response, patching only the sequence header.
class Responder {
public:
    explicit Responder(Bytes response) : response_(std::move(response)), thread_([this] { Serve(); }) {}
    ~Responder() {
        stop_ = true;
        thread_.join();
    }
    uint16_t Port() const { return listener_.Port(); }

private:
    static Bytes Read(TcpSocket& peer) {
        Bytes chunk(8);
        peer.ReceiveExact(chunk, 10000);
        chunk.resize(GetU32(chunk, 4));
        peer.ReceiveExact(std::span<uint8_t>(chunk).subspan(8), 10000);
        return chunk;
    }
    void Serve() {
        try {
            TcpSocket peer = listener_.Accept(10000);
            Read(peer);
            Bytes ack = {'A', 'C', 'K', 'F'};
            for (uint32_t v : {28u, 0u, 65535u, 65535u, 16777216u, 0u}) PutU32(ack, v);
            peer.SendAll(ack);

            const Bytes open = Read(peer);
            uaOpenSecureChannelResponse opened;
            opened.fSecurityToken.fChannelId = 1;
            opened.fSecurityToken.fTokenId = 1;
            opened.fSecurityToken.fRevisedLifetime = 600000;
            const Bytes body = Encoded(opened);
            const std::string policy = "http://opcfoundation.org/UA/SecurityPolicy#None";
            Bytes reply = {'O', 'P', 'N', 'F', 0, 0, 0, 0};
            PutU32(reply, 1);
            PutU32(reply, static_cast<uint32_t>(policy.size()));
            reply.insert(reply.end(), policy.begin(), policy.end());
            PutU32(reply, 0xFFFFFFFF);
            PutU32(reply, 0xFFFFFFFF);
            PutU32(reply, 1);  // sequence number
            const size_t headerEnd = 12 + 4 + policy.size() + 8;
            PutU32(reply, GetU32(open, headerEnd + 4));  // request id
            reply.insert(reply.end(), body.begin(), body.end());
            SetU32(reply, 4, static_cast<uint32_t>(reply.size()));
            peer.SendAll(reply);

            Bytes answer = {'M', 'S', 'G', 'F', 0, 0, 0, 0};
            PutU32(answer, 1);  // channel
            PutU32(answer, 1);  // token
            PutU32(answer, 0);  // sequence number
            PutU32(answer, 0);  // request id
            answer.insert(answer.end(), response_.begin(), response_.end());
            SetU32(answer, 4, static_cast<uint32_t>(answer.size()));
            uint32_t sequence = 2;
            while (!stop_) {
                if (!peer.WaitReadable(50)) continue;
                const Bytes request = Read(peer);
                if (request[0] != 'M') break;
                SetU32(answer, 16, sequence++);
                SetU32(answer, 20, GetU32(request, 20));
                peer.SendAll(answer);
            }
        } catch (const std::exception&) {
            // the client went away
        }
    }

    TcpListener listener_;
    Bytes response_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void ReadRoundTrip(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    uaReadResponse prepared;
    for (size_t i = 0; i < count; ++i) {
        uaDataValue value;
        value.fValue = uaVariant::Scalar(bit_Double, 1.5 * static_cast<double>(i));
        value.fSourceTimestamp = NowUtc();
        prepared.fResults.push_back(std::move(value));
    }
    Responder responder(Encoded(prepared));
    uaStackClient stack;
    stack.Connect("opc.tcp://127.0.0.1:" + std::to_string(responder.Port()), 5000);
    stack.OpenSecureChannel(security::TuaSecurePolicy::uaSPNone, security::TuaSecureMode::uaSNone, {}, {}, 600000, 5000);
    uaRequestDispatcher client([&](uint32_t id, const TuaObj& request) { stack.SendRequest(id, request); });
    stack.onMessage = [&](uint32_t id, Bytes body) { client.HandleReceivedMessage(id, body); };
    client.SetActive(true);
    std::vector<uaReadValueId> nodes(count);
    for (size_t i = 0; i < count; ++i) {
        nodes[i].fNodeId = uaNodeId("Plant.Line1.Tag" + std::to_string(i), 2);
        nodes[i].fAttributeId = 13;
    }
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
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    stack.onMessage = nullptr;
    stack.Disconnect();
}
BENCHMARK(ReadRoundTrip)->Arg(1)->Arg(1000)->UseRealTime();

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
