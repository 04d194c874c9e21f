// Certificates and keys come from servers and files: parsing any bytes must give a result or
// a vela::Exception, never a crash, a hang or a read past the data. Every header the reader
// accepts must be in its one DER form, the shortest.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Exception.h"
#include "ua/security/CertificateValidation.h"
#include "ua/security/X509.h"

namespace {

using vela::ua::security::DERReader;
using vela::ua::security::DerHeader;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

size_t LengthOctets(size_t length) {
    if (length < 0x80) return 1;
    size_t octets = 1;
    for (; length; length >>= 8) ++octets;
    return octets;
}

void Walk(DERReader r, int depth) {
    while (!r.AtEnd()) {
        DerHeader h;
        const auto content = r.ReadItem(&h);
        Check(h.content - h.start == 1 + LengthOctets(h.length));
        if ((h.tag & 0x20) && depth < 32) Walk(DERReader(content), depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela::ua::security;
    const std::span<const uint8_t> bytes(data, size);
    try {
        Walk(DERReader(bytes), 0);
    } catch (const vela::Exception&) {
    }
    try {
        const TX509Certificate cert = TX509Certificate::Load(bytes);
        (void)cert.ApplicationUri();
        (void)cert.ToString();
        (void)cert.isSelfIssued();
    } catch (const vela::Exception&) {
    }
    // a server's certificate chain, judged against an empty store as a client would
    try {
        for (const TX509Certificate& link : LoadCertificateChain(bytes)) {
            (void)link.DnsNames();
            (void)link.IpAddresses();
            (void)link.KeyUsage();
            (void)link.IsCA();
        }
    } catch (const vela::Exception&) {
    }
    TCertificateCheckContext context;
    context.policy = TuaSecurePolicy::uaSPBasic256Sha256;
    context.applicationUri = "urn:fuzz";
    context.hostName = "localhost";
    const TCertificateVerdict verdict = ValidateCertificate(TCertificateStore(), bytes, context);
    Check(verdict.status != 0);  // nothing is trusted
    if (!verdict.certificate.fRawData.empty()) {
        try {
            (void)RevocationOf(bytes, verdict.certificate, verdict.certificate.fSerialNumber, 0);
        } catch (const vela::Exception&) {
        }
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
