#include "ua/security/Rsa.h"

#include <cstring>

#include "base/Exception.h"
#include "ua/security/Random.h"

namespace vela::ua::security {
namespace {

__extension__ using u128 = unsigned __int128;

[[noreturn]] void Fail(const char* what) { throw Exception(std::string("Native Security Error: ") + what); }

Bytes Mgf1(THashAlgorithm hash, std::span<const uint8_t> seed, size_t length) {
    Bytes out;
    out.reserve(length + 32);
    Bytes input(seed.begin(), seed.end());
    input.resize(seed.size() + 4);
    for (uint32_t counter = 0; out.size() < length; ++counter) {
        for (int i = 0; i < 4; ++i) input[seed.size() + i] = static_cast<uint8_t>(counter >> (24 - 8 * i));
        const Bytes block = HashOf(hash, input);
        out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(length);
    return out;
}

Bytes DigestInfo(THashAlgorithm hash, std::span<const uint8_t> data) {
    static const uint8_t kSha1[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    static const uint8_t kSha256[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    Bytes out = hash == THashAlgorithm::SHA1 ? Bytes(std::begin(kSha1), std::end(kSha1))
                                             : Bytes(std::begin(kSha256), std::end(kSha256));
    const Bytes digest = HashOf(hash, data);
    out.insert(out.end(), digest.begin(), digest.end());
    return out;
}

// Uniform in [1, n): drawn with n's bit length and drawn again when out of range.
Limbs RandomBelow(const Limbs& n) {
    const size_t bits = BitLength(n), bytes = (bits + 7) / 8;
    for (;;) {
        Bytes raw = RandomBytes(bytes);
        raw[0] &= static_cast<uint8_t>(0xFF >> (8 * bytes - bits));
        Limbs r = LimbsFromBytes(raw, n.size());
        uint64_t any = 0, borrow = 0;
        for (size_t i = 0; i < n.size(); ++i) {
            any |= r[i];
            const u128 d = static_cast<u128>(r[i]) - n[i] - borrow;
            borrow = static_cast<uint64_t>(d >> 64) & 1;
        }
        if (any != 0 && borrow == 1) return r;
    }
}

// The pair for one private operation: r^e to multiply the input by, r^-1 (Montgomery form) to
// take r out of the result again. The inverse is worked out on r s for another random s so
// that its data-dependent running time shows nothing about r.
struct Blinding {
    Limbs rToE;
    Limbs rInverseMont;
};

Blinding MakeBlinding(const Montgomery& modN, const Limbs& e) {
    const Limbs& n = modN.Modulus();
    for (;;) {
        const Limbs r = RandomBelow(n), s = RandomBelow(n);
        const auto inverse = modN.InverseVartime(modN.Mul(r, s));  // (r s / R)^-1
        if (!inverse) continue;  // r or s shares a factor with n: only with a broken key, or by a fluke
        return {modN.Pow(r, e, false), modN.Mul(*inverse, modN.ToMont(s))};
    }
}

}  // namespace

size_t TRSAPublicKey::SizeBits() const { return BitLength(LimbsFromBytes(fModulus)); }

std::string RsaPublicKeyProblem(const TRSAPublicKey& key, const TRSAKeyBits& allowed) {
    const Limbs n = LimbsFromBytes(key.fModulus), e = LimbsFromBytes(key.fpublicExponent);
    const size_t bits = BitLength(n), exponentBits = BitLength(e);
    if (bits == 0) return "an empty RSA modulus";
    if ((n[0] & 1) == 0) return "an even RSA modulus";
    if (bits < allowed.min || bits > allowed.max)
        return "a " + std::to_string(bits) + "-bit RSA key; " + std::to_string(allowed.min) + " to " +
               std::to_string(allowed.max) + " bits are allowed";
    if (exponentBits == 0) return "an empty RSA public exponent";
    if (exponentBits > 32) return "an RSA public exponent above 2^32 (" + std::to_string(exponentBits) + " bits)";
    if ((e[0] & 1) == 0) return "an even RSA public exponent";
    if (e[0] == 1) return "the RSA public exponent 1";
    return {};
}

size_t RSABlockSize(size_t keyBytes, TRSAPadding padding, THashAlgorithm hash) {
    switch (padding) {
        case TRSAPadding::rpPKCS: return keyBytes > 11 ? keyBytes - 11 : 0;
        case TRSAPadding::rpOAEP: {
            const size_t overhead = 2 * DigestSize(hash) + 2;
            return keyBytes > overhead ? keyBytes - overhead : 0;
        }
        default: return 0;
    }
}

Bytes RsaPublicOp(const TRSAPublicKey& key, std::span<const uint8_t> input) {
    const Limbs n = LimbsFromBytes(key.fModulus);
    const Limbs m = LimbsFromBytes(input);
    const Limbs e = LimbsFromBytes(key.fpublicExponent);
    // an exponent that slipped past the key checks must not stall the caller either
    if (BitLength(n) == 0 || BitLength(e) > 32 || Compare(m, n) >= 0) Fail("encrypt error");
    const Montgomery mont(n);
    return LimbsToBytes(mont.Pow(m, e, false), key.SizeBytes());
}

Bytes RsaPrivateOp(const TRSAPrivateKey& key, std::span<const uint8_t> input) {
    // The exponentiations run in constant time (fixed windows, masked table reads) and on a
    // randomly blinded input, which keeps the private key out of the timing and off inputs an
    // attacker chose.
    const Limbs n = LimbsFromBytes(key.fModulus);
    const Limbs c = LimbsFromBytes(input);
    if (key.fpublicExponent.empty() || Compare(c, n) >= 0) Fail("decrypt error");
    const Montgomery modN(n);
    const Blinding blinding = MakeBlinding(modN, LimbsFromBytes(key.fpublicExponent));
    const Limbs blinded = modN.Mul(modN.ToMont(c), blinding.rToE);  // c r^e mod n
    Limbs m;
    if (!key.fPrime1.empty() && !key.fPrime2.empty() && !key.fExponent1.empty() && !key.fExponent2.empty() &&
        !key.fCoefficient.empty()) {
        const Limbs p = LimbsFromBytes(key.fPrime1), q = LimbsFromBytes(key.fPrime2);
        const Montgomery modP(p), modQ(q);
        const Limbs m1 = modP.Pow(blinded, LimbsFromBytes(key.fExponent1, p.size()), true);
        const Limbs m2 = modQ.Pow(blinded, LimbsFromBytes(key.fExponent2, q.size()), true);
        // h = qInv (m1 - m2) mod p with the wrap-around added under a mask, never by a branch
        const Limbs m2p = modP.FromMont(modP.ToMont(m2));
        const Limbs qInv = modP.ToMont(LimbsFromBytes(key.fCoefficient, p.size()));
        const Limbs h = modP.Mul(modP.SubMod(m1, m2p), qInv);
        m = Add(m2, Multiply(h, q));
    } else {
        m = modN.Pow(blinded, LimbsFromBytes(key.fPrivateExponent, n.size()), true);
    }
    m.resize(n.size());  // below n, so only zero limbs go
    return LimbsToBytes(modN.Mul(m, blinding.rInverseMont), key.SizeBytes());
}

Bytes RsaEncrypt(const TRSAPublicKey& key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> message) {
    const size_t k = key.SizeBytes();
    if (message.size() > RSABlockSize(k, padding, hash)) Fail("encrypt error");
    Bytes em(k, 0);
    if (padding == TRSAPadding::rpPKCS) {
        em[1] = 0x02;
        const size_t psLength = k - 3 - message.size();
        Bytes ps = RandomBytes(psLength);
        for (uint8_t& b : ps)
            while (b == 0) b = RandomBytes(1)[0];
        std::memcpy(em.data() + 2, ps.data(), psLength);
        std::copy(message.begin(), message.end(), em.data() + 3 + psLength);
    } else if (padding == TRSAPadding::rpOAEP) {
        const size_t h = DigestSize(hash);
        Bytes db(k - h - 1, 0);
        const Bytes lHash = HashOf(hash, {});
        std::memcpy(db.data(), lHash.data(), h);
        db[db.size() - message.size() - 1] = 0x01;
        std::copy(message.begin(), message.end(), db.data() + db.size() - message.size());
        const Bytes seed = RandomBytes(h);
        const Bytes dbMask = Mgf1(hash, seed, db.size());
        for (size_t i = 0; i < db.size(); ++i) db[i] ^= dbMask[i];
        const Bytes seedMask = Mgf1(hash, db, h);
        for (size_t i = 0; i < h; ++i) em[1 + i] = seed[i] ^ seedMask[i];
        std::memcpy(em.data() + 1 + h, db.data(), db.size());
    } else {
        Fail("unknown padding");
    }
    return RsaPublicOp(key, em);
}

std::optional<Bytes> RsaDecrypt(const TRSAPrivateKey& key, TRSAPadding padding, THashAlgorithm hash,
                                std::span<const uint8_t> cipher) {
    const size_t k = key.SizeBytes();
    if (cipher.size() != k) return std::nullopt;
    Bytes em;
    try {
        em = RsaPrivateOp(key, cipher);
    } catch (const Exception&) {
        return std::nullopt;
    }
    // every check runs to the end and the verdict is taken once
    uint32_t bad = em[0];
    size_t start = 0;
    Bytes plain;  // the unmasked encoded message (OAEP); em itself for PKCS #1 v1.5
    if (padding == TRSAPadding::rpPKCS) {
        bad |= em[1] ^ 0x02;
        uint32_t found = 0;
        for (size_t i = 2; i < k; ++i) {
            const uint32_t isZero = static_cast<uint32_t>((static_cast<uint32_t>(em[i]) - 1) >> 31) & 1;
            const uint32_t first = isZero & ~found & 1;
            start |= (0 - static_cast<size_t>(first)) & (i + 1);
            found |= isZero;
        }
        bad |= (found ^ 1) | static_cast<uint32_t>(start < 11);
    } else if (padding == TRSAPadding::rpOAEP) {
        const size_t h = DigestSize(hash);
        if (k < 2 * h + 2) return std::nullopt;
        Bytes seed(em.begin() + 1, em.begin() + 1 + static_cast<std::ptrdiff_t>(h));
        Bytes db(em.begin() + 1 + static_cast<std::ptrdiff_t>(h), em.end());
        const Bytes seedMask = Mgf1(hash, db, h);
        for (size_t i = 0; i < h; ++i) seed[i] ^= seedMask[i];
        const Bytes dbMask = Mgf1(hash, seed, db.size());
        for (size_t i = 0; i < db.size(); ++i) db[i] ^= dbMask[i];
        const Bytes lHash = HashOf(hash, {});
        for (size_t i = 0; i < h; ++i) bad |= db[i] ^ lHash[i];
        uint32_t found = 0;
        for (size_t i = h; i < db.size(); ++i) {
            const uint32_t isOne = static_cast<uint32_t>((static_cast<uint32_t>(db[i] ^ 0x01) - 1) >> 31) & 1;
            const uint32_t isZero = static_cast<uint32_t>((static_cast<uint32_t>(db[i]) - 1) >> 31) & 1;
            const uint32_t first = isOne & ~found & 1;
            start |= (0 - static_cast<size_t>(first)) & (1 + h + i + 1);
            bad |= ~found & ~isOne & ~isZero & 1;  // something other than zeros before the 0x01
            found |= isOne;
        }
        bad |= found ^ 1;
        plain.assign(1 + h, 0);
        plain.insert(plain.end(), db.begin(), db.end());
    } else {
        return std::nullopt;
    }
    if (bad) return std::nullopt;
    const Bytes& source = padding == TRSAPadding::rpOAEP ? plain : em;
    return Bytes(source.begin() + static_cast<std::ptrdiff_t>(start), source.end());
}

Bytes RsaSign(const TRSAPrivateKey& key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data) {
    const size_t k = key.SizeBytes();
    if (padding == TRSAPadding::rpPKCS) {
        const Bytes t = DigestInfo(hash, data);
        if (k < t.size() + 11) Fail("sign error");
        Bytes em(k, 0xFF);
        em[0] = 0x00;
        em[1] = 0x01;
        em[k - t.size() - 1] = 0x00;
        std::memcpy(em.data() + k - t.size(), t.data(), t.size());
        return RsaPrivateOp(key, em);
    }
    if (padding != TRSAPadding::rpPSS) Fail("unknown Sign padding");
    const size_t h = DigestSize(hash);
    const size_t emBits = key.SizeBits() - 1;
    const size_t emLen = (emBits + 7) / 8;
    if (emLen < 2 * h + 2) Fail("sign error");
    const Bytes mHash = HashOf(hash, data);
    const Bytes salt = RandomBytes(h);
    Bytes mPrime(8, 0);
    mPrime.insert(mPrime.end(), mHash.begin(), mHash.end());
    mPrime.insert(mPrime.end(), salt.begin(), salt.end());
    const Bytes H = HashOf(hash, mPrime);
    Bytes db(emLen - h - 1, 0);
    db[db.size() - h - 1] = 0x01;
    std::memcpy(db.data() + db.size() - h, salt.data(), h);
    const Bytes mask = Mgf1(hash, H, db.size());
    for (size_t i = 0; i < db.size(); ++i) db[i] ^= mask[i];
    db[0] &= static_cast<uint8_t>(0xFF >> (8 * emLen - emBits));
    Bytes em(k - emLen, 0);  // a leading zero byte when the modulus fills its top byte exactly
    em.insert(em.end(), db.begin(), db.end());
    em.insert(em.end(), H.begin(), H.end());
    em.push_back(0xBC);
    return RsaPrivateOp(key, em);
}

bool RsaVerify(const TRSAPublicKey& key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
               std::span<const uint8_t> signature) {
    const size_t k = key.SizeBytes();
    if (signature.size() != k || key.fModulus.empty()) return false;
    Bytes em;
    try {
        em = RsaPublicOp(key, signature);
    } catch (const Exception&) {
        return false;
    }
    if (padding == TRSAPadding::rpPKCS) {
        const Bytes t = DigestInfo(hash, data);
        if (k < t.size() + 11) return false;
        Bytes expected(k, 0xFF);
        expected[0] = 0x00;
        expected[1] = 0x01;
        expected[k - t.size() - 1] = 0x00;
        std::memcpy(expected.data() + k - t.size(), t.data(), t.size());
        return em == expected;
    }
    if (padding != TRSAPadding::rpPSS) return false;
    const size_t h = DigestSize(hash);
    const size_t emBits = key.SizeBits() - 1;
    const size_t emLen = (emBits + 7) / 8;
    if (emLen < 2 * h + 2) return false;
    for (size_t i = 0; i < k - emLen; ++i)
        if (em[i] != 0) return false;
    const Bytes e(em.begin() + static_cast<std::ptrdiff_t>(k - emLen), em.end());
    if (e.back() != 0xBC) return false;
    Bytes db(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(emLen - h - 1));
    const Bytes H(e.begin() + static_cast<std::ptrdiff_t>(emLen - h - 1), e.end() - 1);
    if (db[0] & static_cast<uint8_t>(~(0xFF >> (8 * emLen - emBits)))) return false;
    const Bytes mask = Mgf1(hash, H, db.size());
    for (size_t i = 0; i < db.size(); ++i) db[i] ^= mask[i];
    db[0] &= static_cast<uint8_t>(0xFF >> (8 * emLen - emBits));
    const size_t psLength = emLen - 2 * h - 2;
    for (size_t i = 0; i < psLength; ++i)
        if (db[i] != 0) return false;
    if (db[psLength] != 0x01) return false;
    const Bytes salt(db.end() - static_cast<std::ptrdiff_t>(h), db.end());
    Bytes mPrime(8, 0);
    const Bytes mHash = HashOf(hash, data);
    mPrime.insert(mPrime.end(), mHash.begin(), mHash.end());
    mPrime.insert(mPrime.end(), salt.begin(), salt.end());
    return HashOf(hash, mPrime) == H;
}

}  // namespace vela::ua::security
