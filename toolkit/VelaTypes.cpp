#include "toolkit/VelaTypes.h"

namespace vela {

std::string ServerTypeName(int32_t serverType) {
    switch (serverType) {
        case 1: return "DA 1 OPC Server";
        case 2: return "DA 2 OPC Server";
        case 3: return "DA 3 OPC Server";
        case 4: return "XML DA 1 OPC Server";
        case 5: return "OPC UA 1 Server ";
        default: return "unknown";
    }
}

std::string ServerStateText(tVelaConnectionType type, int32_t state) {
    static const char* const kUa[] = {"running", "failed", "no config", "suspended", "shutdown", "test", "commFault"};
    static const char* const kDa[] = {"none", "running", "failed", "no config", "suspended", "test", "commFault"};
    if (state < 0 || state > 6) return "unknown";
    return type == coUA ? kUa[state] : kDa[state];
}

}  // namespace vela
