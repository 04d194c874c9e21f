#include "ua/security/Random.h"

#include "base/Exception.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <sys/random.h>
#include <cerrno>
#endif

namespace vela::ua::security {

Bytes RandomBytes(size_t count) {
    Bytes out(count);
#ifdef _WIN32
    if (count && BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        throw Exception("The system's random generator failed");
#else
    size_t filled = 0;
    while (filled < count) {
        const ssize_t n = getrandom(out.data() + filled, count - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Exception("The system's random generator failed");
        }
        filled += static_cast<size_t>(n);
    }
#endif
    return out;
}

}  // namespace vela::ua::security
