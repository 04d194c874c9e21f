#include "ua/client/IdentityFiles.h"

#include "base/FileData.h"
#include "ua/transport/uaRequestDispatch.h"

namespace vela::ua {

std::vector<uint8_t> ReadIdentityFile(const std::string& reference) {
    static const std::string kResourcePrefix = "RES:\\";
    if (!reference.starts_with(kResourcePrefix)) return ReadWholeFile(reference);
    auto resource = FindRawResource(reference.substr(kResourcePrefix.size()));
    if (!resource) throw uaConnectionException("Resource file not found: " + reference);
    return std::move(*resource);
}

}  // namespace vela::ua
