// Bytes from the network become UA values and messages: decoding anything must give a value
// or a uaDecodingError (or another vela::Exception), never a crash, a hang or a huge
// allocation; whatever decodes must encode and decode again.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ua/uaStructures.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// Inputs stay small, but a count may claim a large message: the first byte can ask for the
// message to be followed by this much of a filler no string, variant or data value reads
// from, so memory has to follow the elements that decode, not the count.
constexpr size_t kPadding[] = {0, 64 * 1024, 1024 * 1024, 256 * 1024};  // the megabyte for every row
constexpr uint8_t kFiller = 0x7F;

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
    // A message of the registry row the first byte names, its structures, arrays of structures
    // and nested arrays, possibly padded.
    const auto& registry = ServiceRegistry();
    const auto& row = registry[data[0] % registry.size()];
    const size_t padding = kPadding[data[0] / registry.size() % std::size(kPadding)];
    std::vector<uint8_t> padded;
    std::span<const uint8_t> body = bytes.subspan(1);
    if (padding) {
        padded.assign(body.begin(), body.end());
        padded.resize(body.size() + padding, kFiller);
        body = padded;
    }
    try {
        TuaBinaryDecoder d(body);
        auto message = row.ClassType();
        d.Read(*message);
        (void)message->ToString();
        if (padding) return 0;  // the unpadded input covers the round trip
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
