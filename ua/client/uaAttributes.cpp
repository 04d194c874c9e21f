#include "ua/client/uaAttributes.h"

#include <array>

#include "base/Exception.h"

namespace vela::ua {

std::vector<uint32_t> TuaAttributes::ToArray(uint32_t from, uint32_t to) {
    if (to < from) throw Exception("Wrong parameter FromAttr or ToAttr in method TuaAttributes.ToArray");
    std::vector<uint32_t> ids;
    for (uint32_t id = from; id <= to; ++id) ids.push_back(id);
    return ids;
}

std::string TuaAttributes::ToString(uint32_t id) {
    static constexpr std::array<const char*, 27> kNames = {
        "Node Id", "Node Class", "Browse Name", "Display Name", "Description", "WriteMask", "User Write Mask",
        "Is Abstract", "Symmetric", "Inverse Name", "Contains No Loops", "EventNotifier", "Value", "Data Type",
        "Value Rank", "Array Dimensions", "Access Level", "User Access Level", "Minimum Sampling Interval",
        "Historizing", "Executable", "UserExecutable", "DataTypeDefinition", "RolePermissions",
        "User Role Permissions", "Access Restrictions", "Access Level Ex"};
    return id >= 1 && id <= kNames.size() ? kNames[id - 1] : "unknown";
}

}  // namespace vela::ua
