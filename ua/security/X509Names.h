#pragma once
// The object identifiers and key-usage bits the certificate code reads and writes, in one place.
#include <cstdint>

namespace vela::ua::security::oid {

inline constexpr char kRsaEncryption[] = "1.2.840.113549.1.1.1";
inline constexpr char kSha1WithRsa[] = "1.2.840.113549.1.1.5";
inline constexpr char kRsaPss[] = "1.2.840.113549.1.1.10";
inline constexpr char kSha256WithRsa[] = "1.2.840.113549.1.1.11";
inline constexpr char kCommonName[] = "2.5.4.3";
inline constexpr char kOrganization[] = "2.5.4.10";
inline constexpr char kSubjectKeyIdentifier[] = "2.5.29.14";
inline constexpr char kKeyUsage[] = "2.5.29.15";
inline constexpr char kSubjectAltName[] = "2.5.29.17";
inline constexpr char kBasicConstraints[] = "2.5.29.19";
inline constexpr char kCrlDistributionPoints[] = "2.5.29.31";
inline constexpr char kCertificatePolicies[] = "2.5.29.32";
inline constexpr char kAuthorityKeyIdentifier[] = "2.5.29.35";
inline constexpr char kExtendedKeyUsage[] = "2.5.29.37";
inline constexpr char kAuthorityInfoAccess[] = "1.3.6.1.5.5.7.1.1";
inline constexpr char kServerAuth[] = "1.3.6.1.5.5.7.3.1";
inline constexpr char kClientAuth[] = "1.3.6.1.5.5.7.3.2";

}  // namespace vela::ua::security::oid

namespace vela::ua::security {

// keyUsage bits by their number (RFC 5280 4.2.1.3)
inline constexpr uint16_t kDigitalSignature = 1u << 0, kNonRepudiation = 1u << 1, kKeyEncipherment = 1u << 2,
                          kDataEncipherment = 1u << 3, kKeyCertSign = 1u << 5, kCrlSign = 1u << 6;

}  // namespace vela::ua::security
