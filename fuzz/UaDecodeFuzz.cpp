// Bytes from the network become UA values and messages: decoding anything must give a value
// or a uaDecodingError (or another vela::Exception), never a crash, a hang or a huge
// allocation; whatever decodes must encode and decode again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ua/uaStructures.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela::ua;
    const std::span<const uint8_t> bytes(data, size);
    try {
        TuaBinaryDecoder d(bytes);
        std::optional<uaVariant> v;
        d.Read(v);
        TuaBinaryEncoder e;
        e.Write(v);
        TuaBinaryDecoder again(e.Buffer());
        std::optional<uaVariant> w;
        again.Read(w);
        Check(again.Remaining() == 0);
    } catch (const vela::Exception&) {
    }
    if (size < 1) return 0;
    const auto& registry = ServiceRegistry();
    const auto& row = registry[data[0] % registry.size()];
    try {
        TuaBinaryDecoder d(bytes.subspan(1));
        auto message = row.ClassType();
        d.Read(*message);
        (void)message->ToString();
        TuaBinaryEncoder e;
        e.WriteMessage(*message);
        TuaBinaryDecoder again(e.Buffer());
        Check(static_cast<int32_t>(again.ReadMessageId()) == row.ServiceId);
        auto copy = row.ClassType();
        again.Read(*copy);
        Check(again.Remaining() == 0);
    } catch (const vela::Exception&) {
    }
    return 0;
}
