#pragma once
// HMAC (RFC 2104) over SHA-1 or SHA-256, and the P_SHA expansion of TLS 1.2 that UA uses to
// derive channel keys.
#include <span>

#include "ua/security/Hash.h"

namespace vela::ua::security {

// Keyed once; each Compute starts from copies of the prepared inner and outer states.
class THMAC {
public:
    THMAC(THashAlgorithm hash, std::span<const uint8_t> key);
    Bytes Compute(std::span<const uint8_t> data) const;
    Bytes Compute(std::span<const uint8_t> a, std::span<const uint8_t> b) const;  // over a then b
    THashAlgorithm Hash() const { return hash_; }
    size_t Size() const { return DigestSize(hash_); }

private:
    THashAlgorithm hash_;
    Sha1 inner1_, outer1_;
    Sha256 inner256_, outer256_;
};

// length bytes of P_hash(secret, label + seed), after skipping offset bytes.
Bytes PSHA_impl(THashAlgorithm hash, std::span<const uint8_t> label, std::span<const uint8_t> secret,
                std::span<const uint8_t> seed, size_t offset, size_t length);

// Equal in constant time for equal lengths.
bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace vela::ua::security
