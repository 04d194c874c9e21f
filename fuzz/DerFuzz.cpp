// Certificates and keys come from servers and files: parsing any bytes must give a result or
// a vela::Exception, never a crash, a hang or a read past the data.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Exception.h"
#include "ua/security/X509.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela::ua::security;
    const std::span<const uint8_t> bytes(data, size);
    try {
        const TX509Certificate cert = TX509Certificate::Load(bytes);
        (void)cert.ApplicationUri();
        (void)cert.ToString();
        (void)cert.isSelfIssued();
    } catch (const vela::Exception&) {
    }
    try {
        (void)LoadPrivateKey(bytes);
    } catch (const vela::Exception&) {
    }
    try {
        (void)LoadPrivateKey(bytes, "password");
    } catch (const vela::Exception&) {
    }
    return 0;
}
