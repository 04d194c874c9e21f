#pragma once
// The toolkit's table of texts for OPC result codes.
#include <cstdint>
#include <optional>
#include <string>

namespace vela {

std::optional<std::string> OPCResultText(int32_t code);
// The table's text, else "unknown errorcode: " and the decimal code.
std::string OPCResultTextOrUnknown(int32_t code);

}  // namespace vela
