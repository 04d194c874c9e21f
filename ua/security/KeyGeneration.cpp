#include "ua/security/KeyGeneration.h"

#include <algorithm>
#include <array>
#include <string>

#include "base/Exception.h"
#include "ua/security/Random.h"

namespace vela::ua::security {
namespace {

constexpr uint32_t kPublicExponent = 65537;  // prime, which makes gcd(p-1, e) = 1 a remainder test
constexpr uint32_t kSieveLimit = 1u << 14;

constexpr size_t CountOddPrimesBelow(uint32_t limit) {
    std::array<bool, kSieveLimit> composite{};
    size_t count = 0;
    for (uint32_t i = 3; i < limit; i += 2) {
        if (composite[i]) continue;
        ++count;
        for (uint32_t j = i * i; j < limit; j += 2 * i) composite[j] = true;
    }
    return count;
}

constexpr size_t kSmallPrimeCount = CountOddPrimesBelow(kSieveLimit);

constexpr std::array<uint16_t, kSmallPrimeCount> kSmallPrimes = [] {
    std::array<bool, kSieveLimit> composite{};
    std::array<uint16_t, kSmallPrimeCount> primes{};
    size_t count = 0;
    for (uint32_t i = 3; i < kSieveLimit; i += 2) {
        if (composite[i]) continue;
        primes[count++] = static_cast<uint16_t>(i);
        for (uint32_t j = i * i; j < kSieveLimit; j += 2 * i) composite[j] = true;
    }
    return primes;
}();

// --- unsigned arithmetic for the few steps of key generation that BigInt does not cover. It
// runs in time that follows the values: key generation happens once, on fresh secrets, with
// no peer around to time it, so a variable-time Euclid on the primes is accepted here.

Limbs Trimmed(Limbs v) {
    while (v.size() > 1 && v.back() == 0) v.pop_back();
    if (v.empty()) v.push_back(0);
    return v;
}

bool IsZero(const Limbs& v) {
    return std::all_of(v.begin(), v.end(), [](uint64_t limb) { return limb == 0; });
}

// a -= b for a >= b.
void SubtractInPlace(Limbs& a, const Limbs& b) {
    uint64_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const uint64_t y = i < b.size() ? b[i] : 0;
        const uint64_t d = a[i] - y;
        const uint64_t nextBorrow = (a[i] < y) | (d < borrow);
        a[i] = d - borrow;
        borrow = nextBorrow;
    }
}

Limbs Subtract(Limbs a, const Limbs& b) {
    SubtractInPlace(a, b);
    return Trimmed(std::move(a));
}

Limbs AddSmall(Limbs a, uint64_t value) {
    for (size_t i = 0; i < a.size() && value; ++i) {
        a[i] += value;
        value = a[i] < value ? 1 : 0;
    }
    if (value) a.push_back(value);
    return a;
}

void ShiftRight(Limbs& v, size_t bits) {
    const size_t limbs = bits / 64, rest = bits % 64;
    for (size_t i = 0; i < v.size(); ++i) {
        const uint64_t low = i + limbs < v.size() ? v[i + limbs] : 0;
        const uint64_t high = i + limbs + 1 < v.size() ? v[i + limbs + 1] : 0;
        v[i] = rest ? (low >> rest) | (high << (64 - rest)) : low;
    }
}

void ShiftLeft(Limbs& v, size_t bits) {
    v.resize(v.size() + (bits + 63) / 64, 0);
    const size_t limbs = bits / 64, rest = bits % 64;
    for (size_t i = v.size(); i-- > 0;) {
        const uint64_t low = i >= limbs ? v[i - limbs] : 0;
        const uint64_t lower = i >= limbs + 1 ? v[i - limbs - 1] : 0;
        v[i] = rest ? (low << rest) | (lower >> (64 - rest)) : low;
    }
    v = Trimmed(std::move(v));
}

size_t TrailingZeros(const Limbs& v) {  // v is not zero
    size_t zeros = 0;
    for (uint64_t limb : v) {
        if (limb == 0) {
            zeros += 64;
            continue;
        }
        while ((limb & 1) == 0) limb >>= 1, ++zeros;
        break;
    }
    return zeros;
}

struct Division {
    Limbs quotient, remainder;
};

// Schoolbook, one bit at a time: a few thousand steps for a key, nothing next to the primality tests.
Division Divide(const Limbs& a, const Limbs& m) {
    if (IsZero(m)) throw Exception("Native Security Error: division by zero");
    Limbs q(a.size(), 0), r(m.size() + 1, 0);
    for (size_t bit = BitLength(a); bit-- > 0;) {
        for (size_t i = r.size(); i-- > 1;) r[i] = (r[i] << 1) | (r[i - 1] >> 63);
        r[0] = (r[0] << 1) | ((a[bit / 64] >> (bit % 64)) & 1);
        if (Compare(r, m) >= 0) {
            SubtractInPlace(r, m);
            q[bit / 64] |= uint64_t{1} << (bit % 64);
        }
    }
    return {Trimmed(std::move(q)), Trimmed(std::move(r))};
}

Limbs Gcd(Limbs a, Limbs b) {
    if (IsZero(a)) return Trimmed(std::move(b));
    if (IsZero(b)) return Trimmed(std::move(a));
    const size_t za = TrailingZeros(a), zb = TrailingZeros(b);
    ShiftRight(a, za);
    do {
        ShiftRight(b, TrailingZeros(b));
        if (Compare(a, b) > 0) std::swap(a, b);
        SubtractInPlace(b, a);
    } while (!IsZero(b));
    ShiftLeft(a, std::min(za, zb));
    return Trimmed(std::move(a));
}

// a mod m in 32-bit halves, so that the remainder times 2^32 still fits 64 bits.
uint32_t ModSmall(const Limbs& a, uint32_t m) {
    uint64_t r = 0;
    for (size_t i = a.size(); i-- > 0;) {
        r = ((r << 32) | (a[i] >> 32)) % m;
        r = ((r << 32) | (a[i] & 0xFFFFFFFFu)) % m;
    }
    return static_cast<uint32_t>(r);
}

// x^-1 mod m for gcd(x, m) = 1 and m below 2^32.
uint64_t InverseSmall(uint64_t x, uint64_t m) {
    int64_t r0 = static_cast<int64_t>(m), r1 = static_cast<int64_t>(x % m), t0 = 0, t1 = 1;
    while (r1 != 0) {
        const int64_t quotient = r0 / r1;
        r0 -= quotient * r1;
        std::swap(r0, r1);
        t0 -= quotient * t1;
        std::swap(t0, t1);
    }
    return static_cast<uint64_t>(t0 < 0 ? t0 + static_cast<int64_t>(m) : t0);
}

// Uniform in [2, n-2], drawn with n's bit length and drawn again when out of range (FIPS
// 186-5 B.3.1 picks its bases so).
Limbs RandomBase(const Limbs& n) {
    const size_t bits = BitLength(n), bytes = (bits + 7) / 8;
    const Limbs upper = Subtract(n, Limbs{1});  // the base must stay below n - 1
    for (;;) {
        Bytes raw = RandomBytes(bytes);
        raw[0] &= static_cast<uint8_t>(0xFF >> (8 * bytes - bits));
        const Limbs b = LimbsFromBytes(raw, n.size());
        if (Compare(b, Limbs{1}) > 0 && Compare(b, upper) < 0) return b;
    }
}

// n odd and above 3. Every round runs all s - 1 squarings, so that the time taken does not
// tell at which of them a prime candidate reached -1.
bool MillerRabin(const Limbs& n, int rounds) {
    const Montgomery mont(n);
    const Limbs nMinus1 = Subtract(n, Limbs{1});
    const size_t s = TrailingZeros(nMinus1);
    Limbs d = nMinus1;
    ShiftRight(d, s);
    Limbs one(mont.Size(), 0);
    one[0] = 1;
    const Limbs oneMont = mont.ToMont(one), minusOneMont = mont.ToMont(nMinus1);
    for (int round = 0; round < std::max(rounds, 1); ++round) {
        Limbs x = mont.ToMont(mont.Pow(RandomBase(n), d, true));
        bool passes = x == oneMont || x == minusOneMont;
        for (size_t j = 1; j < s; ++j) {
            mont.MulInto(x.data(), x.data(), x.data());
            passes |= x == minusOneMont;
        }
        if (!passes) return false;
    }
    return true;
}

// A random prime of exactly bits bits with its top two bits set, so that the product of two has
// exactly twice as many bits, and with p - 1 prime to e; when other is given, the two differ
// within their top 100 bits. The search steps from a random odd start and sieves each step against the small
// primes by updating remainders, so Miller-Rabin only sees candidates free of small factors.
// Stepping rather than drawing afresh favours primes after long gaps, which costs a small
// fraction of a bit of the prime's entropy.
Limbs RandomPrime(size_t bits, const Limbs* other) {
    constexpr uint32_t kMaxStep = 1u << 20;  // well beyond the gaps between primes of these sizes
    const size_t bytes = (bits + 7) / 8;
    const int rounds = MillerRabinRounds(bits);
    std::array<uint16_t, kSmallPrimeCount> remainders{};
    for (;;) {
        Bytes raw = RandomBytes(bytes);
        const size_t excess = 8 * bytes - bits;
        raw[0] &= static_cast<uint8_t>(0xFF >> excess);
        raw[0] |= static_cast<uint8_t>(0xC0 >> excess);
        if (excess == 7) raw[1] |= 0x80;  // the second top bit is in the next byte
        raw.back() |= 1;
        const Limbs start = LimbsFromBytes(raw);
        for (size_t i = 0; i < kSmallPrimeCount; ++i)
            remainders[i] = static_cast<uint16_t>(ModSmall(start, kSmallPrimes[i]));
        const uint32_t startModE = ModSmall(start, kPublicExponent);
        for (uint32_t step = 0; step < kMaxStep; step += 2) {
            bool sieved = (startModE + step) % kPublicExponent == 1;  // e would divide p - 1
            for (size_t i = 0; i < kSmallPrimeCount && !sieved; ++i)
                sieved = (remainders[i] + step) % kSmallPrimes[i] == 0;
            if (sieved) continue;
            Limbs candidate = AddSmall(start, step);
            if (BitLength(candidate) != bits) break;  // stepped past the top: start afresh
            if (other) {
                const Limbs difference =
                    Compare(candidate, *other) > 0 ? Subtract(candidate, *other) : Subtract(*other, candidate);
                if (BitLength(difference) + 99 <= bits) continue;  // FIPS 186-5 wants |p - q| > 2^(bits - 100)
            }
            if (MillerRabin(candidate, rounds)) return candidate;
        }
    }
}

Bytes ToBytes(const Limbs& value) {
    return LimbsToBytes(value, std::max<size_t>(1, (BitLength(value) + 7) / 8));
}

}  // namespace

int MillerRabinRounds(size_t primeBits) {
    // Table B.1 rows for p and q of 1024, 1536 and 2048 bits at 2^-112, 2^-128 and 2^-144: the
    // strengths of 2048-, 3072- and 4096-bit keys. Smaller numbers are outside the table and
    // get the classic 4^-40 bound for any odd number.
    if (primeBits >= 1536) return 4;
    if (primeBits >= 1024) return 5;
    return 40;
}

bool IsProbablePrime(const Limbs& value, int rounds) {
    const Limbs n = Trimmed(value);
    if (n.size() == 1 && n[0] < 3) return n[0] == 2;
    if ((n[0] & 1) == 0) return false;
    for (uint16_t p : kSmallPrimes) {
        if (n.size() == 1 && uint64_t{p} * p > n[0]) return true;  // no factor up to its square root
        if (ModSmall(n, p) == 0) return n.size() == 1 && n[0] == p;
    }
    return MillerRabin(n, rounds);
}

TRSAPrivateKey GenerateRsaKey(size_t bits) {
    if (bits < 2048 || bits > 4096 || bits % 8 != 0)
        throw Exception("Native Security Error: cannot generate a " + std::to_string(bits) +
                        "-bit RSA key; the size must be a multiple of 8 from 2048 to 4096 bits");
    const size_t half = bits / 2;
    const Limbs e{kPublicExponent};
    for (;;) {
        Limbs p = RandomPrime(half, nullptr);
        Limbs q = RandomPrime(half, &p);
        if (Compare(p, q) < 0) std::swap(p, q);  // p > q, the order PKCS #1 keys usually have
        const Limbs n = Trimmed(Multiply(p, q));
        const Limbs p1 = Subtract(p, Limbs{1}), q1 = Subtract(q, Limbs{1});
        const Limbs lcm = Divide(Multiply(p1, q1), Gcd(p1, q1)).quotient;
        // e d = k lcm + 1 for the k in [1, e) that makes the right side a multiple of e; e is
        // small, so k comes from an inverse modulo e and d from one division by e
        const uint64_t k = kPublicExponent - InverseSmall(ModSmall(lcm, kPublicExponent), kPublicExponent);
        const Limbs d = Divide(AddSmall(Multiply(lcm, Limbs{k}), 1), e).quotient;
        if (BitLength(d) <= half) continue;  // FIPS 186-5 wants d > 2^(bits/2); a fluke that never happens

        // q^-1 mod p worked out on q r for a random r, so the inverse's running time is not about q
        const Montgomery modP(p);
        Limbs qModP = Divide(q, p).remainder;
        qModP.resize(p.size(), 0);
        Limbs qInv;
        for (;;) {
            const Limbs r = RandomBase(p);
            const auto inverse = modP.InverseVartime(modP.Mul(modP.ToMont(qModP), r));  // (q r)^-1
            if (!inverse) continue;
            qInv = modP.Mul(modP.ToMont(*inverse), r);
            break;
        }

        TRSAPrivateKey key;
        key.fModulus = ToBytes(n);
        key.fpublicExponent = ToBytes(e);
        key.fPrivateExponent = ToBytes(d);
        key.fPrime1 = ToBytes(p);
        key.fPrime2 = ToBytes(q);
        key.fExponent1 = ToBytes(Divide(d, p1).remainder);
        key.fExponent2 = ToBytes(Divide(d, q1).remainder);
        key.fCoefficient = ToBytes(qInv);

        // one round trip through the private operation before the key goes anywhere
        const Bytes probe = LimbsToBytes(RandomBase(n), key.SizeBytes());
        if (BitLength(n) != bits || RsaPrivateOp(key, RsaPublicOp(key, probe)) != probe)
            throw Exception("Native Security Error: the generated RSA key failed its self-test");
        return key;
    }
}

}  // namespace vela::ua::security
