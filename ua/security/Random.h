#pragma once
// Random bytes from the operating system's cryptographic generator, full byte range.
#include "ua/security/Hash.h"

namespace vela::ua::security {

Bytes RandomBytes(size_t count);

}  // namespace vela::ua::security
