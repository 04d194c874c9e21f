#pragma once
// A few structures of namespace 0 shown by their fields instead of their encoded bytes:
// Range, EUInformation, BuildInfo and ServerStatusDataType.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vela::cli {

// "{low: 0, high: 100}" for the binary body of a structure of that DataType id; nothing for
// another type or a body that does not decode whole.
std::optional<std::string> StructureText(uint32_t dataType, const std::vector<uint8_t>& body);

// The binary body of a Range from "{low: 0, high: 100}"; nothing for another text.
std::optional<std::vector<uint8_t>> ParseRange(const std::string& text);

inline constexpr uint32_t kRangeType = 884, kEUInformationType = 887, kBuildInfoType = 338,
                          kServerStatusType = 862;

}  // namespace vela::cli
