#pragma once
// RSA (RFC 8017) on our own big-number arithmetic: PKCS #1 v1.5 and OAEP encryption, PKCS #1
// v1.5 and PSS signatures; OAEP and PSS use MGF1 with the scheme's own hash, OAEP an empty
// label, PSS a salt as long as the digest. The private operation multiplies its input by r^e
// for a fresh random r, runs the CRT exponentiations in constant time and takes r out of the
// result again.
#include <optional>
#include <span>
#include <string>

#include "ua/security/BigInt.h"
#include "ua/security/Hash.h"

namespace vela::ua::security {

enum class TRSAPadding { rpPKCS, rpOAEP, rpPSS };

struct TRSAPublicKey {
    Bytes fModulus;          // big-endian, without leading zero bytes
    Bytes fpublicExponent;
    size_t SizeBytes() const { return fModulus.size(); }
    size_t SizeBits() const;
};

struct TRSAPrivateKey : TRSAPublicKey {
    Bytes fPrivateExponent, fPrime1, fPrime2, fExponent1, fExponent2, fCoefficient;
};

// The modulus lengths a peer's key may have; without a policy to go by, 1024 to 4096 bits.
struct TRSAKeyBits {
    size_t min = 1024;
    size_t max = 4096;
};

// What makes a public key unfit to use, as "has ..." would go on; empty for a fit one. The
// modulus must be odd and within allowed, the public exponent odd, above 1 and at most 2^32:
// a huge one makes every public operation crawl, an empty modulus a zero block size.
std::string RsaPublicKeyProblem(const TRSAPublicKey& key, const TRSAKeyBits& allowed = {});

// Plaintext block size for a key of k bytes: k-11 (PKCS #1 v1.5), k-2h-2 (OAEP); 0 for PSS.
size_t RSABlockSize(size_t keyBytes, TRSAPadding padding, THashAlgorithm hash);

// Each raises "Native Security Error: encrypt error" / "decrypt error" / "sign error".
Bytes RsaEncrypt(const TRSAPublicKey& key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> message);
// Nothing when the block does not decrypt to a well-formed message (one answer for every failure).
std::optional<Bytes> RsaDecrypt(const TRSAPrivateKey& key, TRSAPadding padding, THashAlgorithm hash,
                                std::span<const uint8_t> cipher);
Bytes RsaSign(const TRSAPrivateKey& key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data);
bool RsaVerify(const TRSAPublicKey& key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
               std::span<const uint8_t> signature);

// The raw operations (exposed for tests and benchmarks).
Bytes RsaPublicOp(const TRSAPublicKey& key, std::span<const uint8_t> input);
Bytes RsaPrivateOp(const TRSAPrivateKey& key, std::span<const uint8_t> input);

}  // namespace vela::ua::security
