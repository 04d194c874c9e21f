#pragma once
// Small text rules used across modules.
#include <string_view>

namespace vela {

// Without the blanks and control characters (code 32 and below) at both ends.
std::string_view TrimBlanks(std::string_view text);
// Equal without regard to ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vela
