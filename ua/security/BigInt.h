#pragma once
// Unsigned big integers for RSA: 64-bit limbs, least significant first, and Montgomery
// arithmetic modulo an odd number. The private-key path works with fixed operand sizes and
// without branches or table indexes that depend on secret values.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vela::ua::security {

using Limbs = std::vector<uint64_t>;

Limbs LimbsFromBytes(std::span<const uint8_t> bigEndian, size_t limbs = 0);  // 0: as many as needed
std::vector<uint8_t> LimbsToBytes(const Limbs& value, size_t length);        // big-endian, fixed length
size_t BitLength(const Limbs& value);
int Compare(const Limbs& a, const Limbs& b);  // same sizes not required
Limbs Multiply(const Limbs& a, const Limbs& b);
Limbs Add(const Limbs& a, const Limbs& b);

// Arithmetic modulo an odd modulus in the Montgomery domain (R = 2^(64 n)).
class Montgomery {
public:
    explicit Montgomery(const Limbs& modulus);
    size_t Size() const { return n_.size(); }
    const Limbs& Modulus() const { return n_; }
    // a * b / R mod n, for a, b < n of Size() limbs.
    Limbs Mul(const Limbs& a, const Limbs& b) const;
    // The same on raw limbs (Size() each); r may be a or b. No allocation.
    void MulInto(uint64_t* r, const uint64_t* a, const uint64_t* b) const;
    // Any value below n * R (up to 2 Size() limbs) into the Montgomery domain: x * R mod n.
    Limbs ToMont(const Limbs& x) const;
    Limbs FromMont(const Limbs& x) const;
    // base^exponent mod n (base in normal form, any size below n * R). With constantTime the
    // exponent's bits only decide values, not the sequence of operations or memory accesses.
    Limbs Pow(const Limbs& base, const Limbs& exponent, bool constantTime) const;
    // a - b mod n for a, b < n of Size() limbs; the wrap-around is added under a mask.
    Limbs SubMod(const Limbs& a, const Limbs& b) const;
    // a^-1 mod n in normal form, nothing when a shares a factor with n. The running time follows
    // a, so a must not be secret: blind it with a random factor first.
    std::optional<Limbs> InverseVartime(const Limbs& a) const;

private:
    Limbs Reduce(const Limbs& t) const;  // t * R^-1 mod n for t < n * R

    static constexpr size_t kMaxLimbs = 128;  // moduli up to 8192 bits
    Limbs n_;
    uint64_t n0inv_;  // -n^-1 mod 2^64
    Limbs r2_;        // R^2 mod n
};

}  // namespace vela::ua::security
