#pragma once
// The texts of UA status codes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vela::ua {

class Statuscodes {
public:
    // The code's text; "Unknown error code: " and the unsigned decimal code when the table has
    // no entry for the whole 32-bit code (info bits included).
    static std::string ToString(uint32_t code);
    static size_t Count();
};

}  // namespace vela::ua
