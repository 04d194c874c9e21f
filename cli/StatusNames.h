#pragma once
// Result codes for people: UA status codes and the OPC DA and COM results that items report,
// by name ("BadNodeIdUnknown", "OPC_E_RANGE") and by description.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vela::cli {

// The code's name, or empty. UA codes are named without their info bits (the low 16 bits).
std::string ResultName(uint32_t code);
// The code of a name, UA or OPC.
std::optional<uint32_t> StatusCodeByName(std::string_view name);
// The description on one line, or empty.
std::string ResultDescription(uint32_t code);
// "0x80340000 BadNodeIdUnknown"; the number alone when the code has no name.
std::string CodeText(uint32_t code);
// CodeText with the description in parentheses where there is one.
std::string CodeExplained(uint32_t code);

}  // namespace vela::cli
