#include "cli/StructureText.h"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "base/DateTime.h"
#include "base/Text.h"
#include "cli/ValueText.h"

namespace vela::cli {
namespace {

// Little-endian fields of the binary encoding; a read past the end raises.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool AtEnd() const { return at_ == bytes_.size(); }

    uint64_t Unsigned(size_t size) {
        if (bytes_.size() - at_ < size) throw std::out_of_range("short body");
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i) value |= static_cast<uint64_t>(bytes_[at_ + i]) << (8 * i);
        at_ += size;
        return value;
    }
    int32_t Int32() { return static_cast<int32_t>(Unsigned(4)); }
    double Double() { return std::bit_cast<double>(Unsigned(8)); }
    std::string DateTimeField() { return DateTimeText(UaDateTimeToDateTime(static_cast<int64_t>(Unsigned(8)))); }
    std::string String() {
        const int32_t length = Int32();
        if (length <= 0) return {};
        if (bytes_.size() - at_ < static_cast<size_t>(length)) throw std::out_of_range("short body");
        std::string text(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                         bytes_.begin() + static_cast<std::ptrdiff_t>(at_) + length);
        at_ += static_cast<size_t>(length);
        return text;
    }
    std::string LocalizedText() {
        const uint64_t mask = Unsigned(1);
        if (mask & 1) String();  // the locale
        return mask & 2 ? String() : std::string();
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

const char* ServerStateName(int32_t state) {
    static constexpr const char* kNames[] = {"Running",  "Failed", "NoConfiguration",    "Suspended",
                                             "Shutdown", "Test",   "CommunicationFault", "Unknown"};
    return state >= 0 && state < 8 ? kNames[state] : nullptr;
}

std::string BuildInfoText(Reader& in) {
    std::string text = "{productUri: " + QuotedText(in.String());
    text += ", manufacturerName: " + QuotedText(in.String());
    text += ", productName: " + QuotedText(in.String());
    text += ", softwareVersion: " + QuotedText(in.String());
    text += ", buildNumber: " + QuotedText(in.String());
    text += ", buildDate: " + in.DateTimeField() + "}";
    return text;
}

}  // namespace

std::optional<std::string> StructureText(uint32_t dataType, const std::vector<uint8_t>& body) {
    Reader in(body);
    std::string text;
    try {
        switch (dataType) {
            case kRangeType: {
                const double low = in.Double();
                text = "{low: " + DoubleText(low) + ", high: " + DoubleText(in.Double()) + "}";
                break;
            }
            case kEUInformationType: {
                text = "{namespaceUri: " + QuotedText(in.String());
                text += ", unitId: " + std::to_string(in.Int32());
                text += ", displayName: " + QuotedText(in.LocalizedText());
                text += ", description: " + QuotedText(in.LocalizedText()) + "}";
                break;
            }
            case kBuildInfoType: text = BuildInfoText(in); break;
            case kServerStatusType: {
                text = "{startTime: " + in.DateTimeField();
                text += ", currentTime: " + in.DateTimeField();
                const int32_t state = in.Int32();
                const char* name = ServerStateName(state);
                text += ", state: " + (name ? std::string(name) : std::to_string(state));
                text += ", buildInfo: " + BuildInfoText(in);
                text += ", secondsTillShutdown: " + std::to_string(static_cast<uint32_t>(in.Int32()));
                text += ", shutdownReason: " + QuotedText(in.LocalizedText()) + "}";
                break;
            }
            default: return std::nullopt;
        }
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
    if (!in.AtEnd()) return std::nullopt;
    return text;
}

std::optional<std::vector<uint8_t>> ParseRange(const std::string& text) {
    std::string_view rest = TrimBlanks(text);
    if (!rest.starts_with("{") || !rest.ends_with("}")) return std::nullopt;
    rest = rest.substr(1, rest.size() - 2);
    const size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    std::vector<uint8_t> body;
    const auto field = [&](std::string_view part, std::string_view name) {
        part = TrimBlanks(part);
        if (!part.starts_with(name)) return false;
        part = TrimBlanks(part.substr(name.size()));
        if (!part.starts_with(":")) return false;
        const Variant value = ParseValue(part.substr(1), ValueType{kDouble, 0, false});
        const uint64_t bits = std::bit_cast<uint64_t>(value.DoubleValue());
        for (int i = 0; i < 8; ++i) body.push_back(static_cast<uint8_t>(bits >> (8 * i)));
        return true;
    };
    if (!field(rest.substr(0, comma), "low") || !field(rest.substr(comma + 1), "high")) return std::nullopt;
    return body;
}

}  // namespace vela::cli
