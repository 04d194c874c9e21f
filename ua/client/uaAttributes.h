#pragma once
// Attribute ids of UA nodes and their display names.
#include <cstdint>
#include <string>
#include <vector>

namespace vela::ua {

struct TuaAttributes {
    // The ids from..to; raises when to is below from.
    static std::vector<uint32_t> ToArray(uint32_t from, uint32_t to);
    // "Node Id", "Value", ... ; "unknown" for other ids.
    static std::string ToString(uint32_t id);
};

}  // namespace vela::ua
