#include "ua/security/Hmac.h"

#include <cstring>

namespace vela::ua::security {

THMAC::THMAC(THashAlgorithm hash, std::span<const uint8_t> key) : hash_(hash) {
    uint8_t block[64] = {};
    if (key.size() > 64) {
        const Bytes digest = HashOf(hash, key);
        std::memcpy(block, digest.data(), digest.size());
    } else if (!key.empty()) {
        std::memcpy(block, key.data(), key.size());
    }
    uint8_t ipad[64], opad[64];
    for (int i = 0; i < 64; ++i) {
        ipad[i] = block[i] ^ 0x36;
        opad[i] = block[i] ^ 0x5C;
    }
    if (hash == THashAlgorithm::SHA1) {
        inner1_.Update(ipad);
        outer1_.Update(opad);
    } else {
        inner256_.Update(ipad);
        outer256_.Update(opad);
    }
}

Bytes THMAC::Compute(std::span<const uint8_t> data) const { return Compute(data, {}); }

namespace {

// The MAC of a then b, from hash states that have absorbed the padded keys already.
template <typename Hash>
Bytes Mac(Hash inner, Hash outer, std::span<const uint8_t> a, std::span<const uint8_t> b) {
    inner.Update(a);
    inner.Update(b);
    outer.Update(inner.Final());
    const auto mac = outer.Final();
    return Bytes(mac.begin(), mac.end());
}

}  // namespace

Bytes THMAC::Compute(std::span<const uint8_t> a, std::span<const uint8_t> b) const {
    return hash_ == THashAlgorithm::SHA1 ? Mac(inner1_, outer1_, a, b) : Mac(inner256_, outer256_, a, b);
}

Bytes PSHA_impl(THashAlgorithm hash, std::span<const uint8_t> label, std::span<const uint8_t> secret,
                std::span<const uint8_t> seed, size_t offset, size_t length) {
    const THMAC hmac(hash, secret);
    Bytes labelSeed(label.begin(), label.end());
    labelSeed.insert(labelSeed.end(), seed.begin(), seed.end());
    Bytes out;
    out.reserve(offset + length);
    Bytes a = hmac.Compute(labelSeed);  // A(1)
    while (out.size() < offset + length) {
        const Bytes block = hmac.Compute(a, labelSeed);
        out.insert(out.end(), block.begin(), block.end());
        a = hmac.Compute(a);
    }
    return Bytes(out.begin() + static_cast<std::ptrdiff_t>(offset),
                 out.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

bool ConstantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size()) return false;
    uint8_t diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace vela::ua::security
