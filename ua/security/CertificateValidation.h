#pragma once
// Validation of a peer's application certificate against a certificate store: structure, the
// chain to a trusted certificate with the signature of each link, the security policy's key
// length and signature hash, trust, validity periods, host name, application URI, key usage
// and revocation, checked in that order; the first failure is the verdict.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ua/security/CertificateStore.h"
#include "ua/security/SecurityPolicy.h"

namespace vela::ua::security {

// The UA status codes of a refusal.
inline constexpr uint32_t kBadCertificateInvalid = 0x80120000;
inline constexpr uint32_t kBadCertificateTimeInvalid = 0x80140000;
inline constexpr uint32_t kBadCertificateIssuerTimeInvalid = 0x80150000;
inline constexpr uint32_t kBadCertificateHostNameInvalid = 0x80160000;
inline constexpr uint32_t kBadCertificateUriInvalid = 0x80170000;
inline constexpr uint32_t kBadCertificateUseNotAllowed = 0x80180000;
inline constexpr uint32_t kBadCertificateIssuerUseNotAllowed = 0x80190000;
inline constexpr uint32_t kBadCertificateUntrusted = 0x801A0000;
inline constexpr uint32_t kBadCertificateRevocationUnknown = 0x801B0000;
inline constexpr uint32_t kBadCertificateIssuerRevocationUnknown = 0x801C0000;
inline constexpr uint32_t kBadCertificateRevoked = 0x801D0000;
inline constexpr uint32_t kBadCertificateIssuerRevoked = 0x801E0000;
inline constexpr uint32_t kBadCertificateChainIncomplete = 0x810D0000;
inline constexpr uint32_t kBadCertificatePolicyCheckFailed = 0x81140000;

struct TCertificateCheckContext {
    TuaSecurePolicy policy = TuaSecurePolicy::uaSPNone;
    std::string applicationUri;  // the server's, from its endpoint; empty: not checked
    std::string hostName;        // from the URL connected to; empty: not checked
    DateTime now = 0;            // 0: the current time
    // Taken as trusted beside the store's: a certificate on probation before it is stored.
    std::vector<TX509Certificate> alsoTrusted;
};

struct TCertificateVerdict {
    uint32_t status = 0;
    std::string reason;           // what failed, as "... is not trusted"; empty when good
    TX509Certificate certificate;  // the peer's own (the chain's first); empty when it does not parse
    bool Good() const { return status == 0; }
};

TCertificateVerdict ValidateCertificate(const TCertificateStore& store, std::span<const uint8_t> chain,
                                        const TCertificateCheckContext& context);

// What a CRL signed by issuer says of a serial number at the time now: listed, not listed, or
// nothing to go by, as the list is past its next update. Raises for a list that does not parse
// or whose signature does not verify with the issuer's key.
enum class TRevocation { NotListed, Listed, Outdated };
TRevocation RevocationOf(std::span<const uint8_t> crl, const TX509Certificate& issuer, const Bytes& serialNumber,
                         DateTime now);

}  // namespace vela::ua::security
