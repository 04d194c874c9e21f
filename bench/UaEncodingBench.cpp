// Encoding and decoding of the messages a busy gateway exchanges; bytes per second are
// reported beside the time per message.
#include <benchmark/benchmark.h>

#include "ua/uaStructures.h"

namespace {

using namespace vela::ua;

constexpr vela::DateTime kWhen = 45413.4375;

uaReadRequest ReadRequest100() {
    uaReadRequest r;
    r.fRequestHeader.fTimestamp = kWhen;
    r.fRequestHeader.fRequestHandle = 1;
    r.fTimestampsToReturn.fValue = 2;
    r.NodesToRead_Setlength(100);
    for (size_t i = 0; i < 100; ++i) {
        r.fNodesToRead[i].fNodeId = uaNodeId("Plant/Line1/Item" + std::to_string(i), 2);
        r.fNodesToRead[i].fAttributeId = 13;
    }
    return r;
}

uaReadResponse ReadResponse100() {
    uaReadResponse r;
    r.fResponseHeader.fTimestamp = kWhen;
    r.Results_Setlength(100);
    for (size_t i = 0; i < 100; ++i) {
        r.fResults[i].fValue = uaVariant::Scalar(bit_Double, 20.0 + static_cast<double>(i));
        r.fResults[i].fSourceTimestamp = kWhen;
        r.fResults[i].fServerTimestamp = kWhen;
    }
    return r;
}

uaPublishResponse Publish1000() {
    auto notification = std::make_shared<uaDataChangeNotification>();
    notification->MonitoredItems_Setlength(1000);
    for (size_t i = 0; i < 1000; ++i) {
        auto& item = notification->fMonitoredItems[i];
        item.fClientHandle = static_cast<uint32_t>(i);
        item.fValue.fValue = uaVariant::Scalar(bit_Double, static_cast<double>(i) * 0.5);
        item.fValue.fSourceTimestamp = kWhen;
    }
    uaPublishResponse r;
    r.fResponseHeader.fTimestamp = kWhen;
    r.fSubscriptionId = 5;
    r.fNotificationMessage.fSequenceNumber = 4;
    r.fNotificationMessage.fPublishTime = kWhen;
    r.fNotificationMessage.NotificationData_Setlength(1);
    r.fNotificationMessage.fNotificationData[0].fEncoding = uaExtensionObject::eo_EncodeableObject;
    r.fNotificationMessage.fNotificationData[0].fObject = notification;
    return r;
}

uaCreateMonitoredItemsRequest CreateMonitoredItems1000() {
    uaCreateMonitoredItemsRequest r;
    r.fSubscriptionId = 5;
    r.fTimestampsToReturn.fValue = 2;
    r.ItemsToCreate_Setlength(1000);
    for (size_t i = 0; i < 1000; ++i) {
        auto& item = r.fItemsToCreate[i];
        item.fItemToMonitor.fNodeId = uaNodeId("Plant/Line1/Item" + std::to_string(i), 2);
        item.fItemToMonitor.fAttributeId = 13;
        item.fMonitoringMode.fValue = 2;
        item.fRequestedParameters.fClientHandle = static_cast<uint32_t>(i);
        item.fRequestedParameters.fSamplingInterval = 250;
        item.fRequestedParameters.fQueueSize = 1;
    }
    return r;
}

template <typename T>
void Encode(benchmark::State& state, const T& message) {
    size_t bytes = 0;
    for (auto _ : state) {
        TuaBinaryEncoder e;
        e.WriteMessage(message);
        bytes = e.Size();
        benchmark::DoNotOptimize(e.Buffer().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["bytes"] = static_cast<double>(bytes);
}

template <typename T>
void Decode(benchmark::State& state, const T& message, bool withBody = false) {
    TuaBinaryEncoder e;
    e.WriteMessage(message);
    const std::vector<uint8_t> bytes = e.TakeBuffer();
    for (auto _ : state) {
        TuaBinaryDecoder d(bytes);
        d.ReadMessageId();
        T decoded;
        d.Read(decoded);
        if constexpr (std::is_same_v<T, uaPublishResponse>) {
            if (withBody) {
                uaDataChangeNotification body;
                TExtensionObjReader::ReadObject(decoded.fNotificationMessage.fNotificationData[0], body);
                benchmark::DoNotOptimize(body.fMonitoredItems.data());
            }
        }
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_EncodeReadRequest100(benchmark::State& s) { Encode(s, ReadRequest100()); }
void BM_DecodeReadRequest100(benchmark::State& s) { Decode(s, ReadRequest100()); }
void BM_EncodeReadResponse100(benchmark::State& s) { Encode(s, ReadResponse100()); }
void BM_DecodeReadResponse100(benchmark::State& s) { Decode(s, ReadResponse100()); }
void BM_EncodePublishResponse1000(benchmark::State& s) { Encode(s, Publish1000()); }
void BM_DecodePublishResponse1000(benchmark::State& s) { Decode(s, Publish1000(), true); }
void BM_EncodeCreateMonitoredItems1000(benchmark::State& s) { Encode(s, CreateMonitoredItems1000()); }
void BM_DecodeCreateMonitoredItems1000(benchmark::State& s) { Decode(s, CreateMonitoredItems1000()); }

BENCHMARK(BM_EncodeReadRequest100);
BENCHMARK(BM_DecodeReadRequest100);
BENCHMARK(BM_EncodeReadResponse100);
BENCHMARK(BM_DecodeReadResponse100);
BENCHMARK(BM_EncodePublishResponse1000);
BENCHMARK(BM_DecodePublishResponse1000);
BENCHMARK(BM_EncodeCreateMonitoredItems1000);
BENCHMARK(BM_DecodeCreateMonitoredItems1000);

}  // namespace
