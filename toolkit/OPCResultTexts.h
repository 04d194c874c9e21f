#pragma once
// The toolkit's table of texts for OPC result codes.
#include <cstdint>
#include <optional>
#include <string>

namespace vela {

// The OPC DA results the toolkit itself gives items.
inline constexpr int32_t kOpcEBadType = static_cast<int32_t>(0xC0040004);
inline constexpr int32_t kOpcERange = static_cast<int32_t>(0xC004000B);

std::optional<std::string> OPCResultText(int32_t code);
// The table's text, else "unknown errorcode: " and the decimal code.
std::string OPCResultTextOrUnknown(int32_t code);

}  // namespace vela
