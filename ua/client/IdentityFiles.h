#pragma once
// Key, certificate and token files of the UA client: a reference beginning with "RES:\" names
// a raw-data resource of the executable, anything else a file path.
#include <cstdint>
#include <string>
#include <vector>

namespace vela::ua {

// The bytes of the reference; raises uaConnectionException "Resource file not found: <reference>"
// for a missing resource and "Cannot read file: <path>" for a missing file.
std::vector<uint8_t> ReadIdentityFile(const std::string& reference);

}  // namespace vela::ua
