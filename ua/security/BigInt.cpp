#include "ua/security/BigInt.h"

#include <algorithm>

#include "base/Exception.h"

namespace vela::ua::security {
namespace {

__extension__ using u128 = unsigned __int128;

void Normalize(Limbs& v) {
    while (v.size() > 1 && v.back() == 0) v.pop_back();
}

// r = a - b over n limbs; returns the borrow.
uint64_t SubN(uint64_t* r, const uint64_t* a, const uint64_t* b, size_t n) {
    uint64_t borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
        r[i] = static_cast<uint64_t>(d);
        borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
    return borrow;
}

// Copies src into dst when mask is all ones, without branching on it.
void Select(uint64_t* dst, const uint64_t* src, size_t n, uint64_t mask) {
    for (size_t i = 0; i < n; ++i) dst[i] = (dst[i] & ~mask) | (src[i] & mask);
}

}  // namespace

Limbs LimbsFromBytes(std::span<const uint8_t> bytes, size_t limbs) {
    const size_t needed = std::max<size_t>(1, (bytes.size() + 7) / 8);
    Limbs v(std::max(needed, limbs), 0);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t bit = 8 * (bytes.size() - 1 - i);
        v[bit / 64] |= static_cast<uint64_t>(bytes[i]) << (bit % 64);
    }
    if (limbs) {
        for (size_t i = limbs; i < v.size(); ++i)
            if (v[i]) throw Exception("Native Security Error: the number is too large");
        v.resize(limbs);
    }
    return v;
}

std::vector<uint8_t> LimbsToBytes(const Limbs& value, size_t length) {
    std::vector<uint8_t> out(length, 0);
    for (size_t i = 0; i < length; ++i) {
        const size_t bit = 8 * i;
        const size_t limb = bit / 64;
        if (limb < value.size()) out[length - 1 - i] = static_cast<uint8_t>(value[limb] >> (bit % 64));
    }
    return out;
}

size_t BitLength(const Limbs& value) {
    for (size_t i = value.size(); i-- > 0;)
        if (value[i]) return 64 * i + 64 - static_cast<size_t>(__builtin_clzll(value[i]));
    return 0;
}

int Compare(const Limbs& a, const Limbs& b) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = n; i-- > 0;) {
        const uint64_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

Limbs Multiply(const Limbs& a, const Limbs& b) {
    Limbs r(a.size() + b.size(), 0);
    for (size_t i = 0; i < a.size(); ++i) {
        uint64_t carry = 0;
        for (size_t j = 0; j < b.size(); ++j) {
            const u128 t = static_cast<u128>(a[i]) * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<uint64_t>(t);
            carry = static_cast<uint64_t>(t >> 64);
        }
        r[i + b.size()] = carry;
    }
    return r;
}

Limbs Add(const Limbs& a, const Limbs& b) {
    const size_t n = std::max(a.size(), b.size());
    Limbs r(n + 1, 0);
    uint64_t carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const u128 t = static_cast<u128>(i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0) + carry;
        r[i] = static_cast<uint64_t>(t);
        carry = static_cast<uint64_t>(t >> 64);
    }
    r[n] = carry;
    return r;
}

Montgomery::Montgomery(const Limbs& modulus) : n_(modulus) {
    Normalize(n_);
    if ((n_[0] & 1) == 0 || BitLength(n_) < 2) throw Exception("Native Security Error: the modulus must be odd");
    // Newton iteration for n^-1 mod 2^64
    uint64_t inv = 1;
    for (int i = 0; i < 6; ++i) inv *= 2 - n_[0] * inv;
    n0inv_ = ~inv + 1;
    // R^2 mod n: R mod n by doubling the top power of two below n up to R, then 2^s R by s
    // more doublings, then j Montgomery squarings (s 2^j = 64 size) give R R.
    if (n_.size() > kMaxLimbs) throw Exception("Native Security Error: the modulus is too large");
    const size_t n = n_.size();
    const size_t bitsOfN = BitLength(n_);
    Limbs x(n, 0), t(n);
    x[(bitsOfN - 1) / 64] = uint64_t{1} << ((bitsOfN - 1) % 64);
    const auto doubleModN = [&] {
        uint64_t carry = 0;
        for (size_t j = 0; j < n; ++j) {
            const uint64_t next = x[j] >> 63;
            x[j] = (x[j] << 1) | carry;
            carry = next;
        }
        const uint64_t borrow = SubN(t.data(), x.data(), n_.data(), n);
        Select(x.data(), t.data(), n, 0 - static_cast<uint64_t>(carry | (borrow ^ 1)));
    };
    for (size_t i = bitsOfN - 1; i < 64 * n; ++i) doubleModN();  // now R mod n
    const size_t total = 64 * n;
    const int j = __builtin_ctzll(total);
    const size_t s = total >> j;
    for (size_t i = 0; i < s; ++i) doubleModN();  // 2^s R mod n
    for (int i = 0; i < j; ++i) MulInto(x.data(), x.data(), x.data());
    r2_ = x;
}

Limbs Montgomery::Reduce(const Limbs& t) const {
    const size_t n = n_.size();
    std::vector<uint64_t> a(2 * n + 1, 0);
    std::copy(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(std::min(t.size(), 2 * n)), a.begin());
    // the carry out of each row waits in 'pending' for the next row instead of rippling upwards
    // for as long as the data says, so the work is the same for every value
    uint64_t pending = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t m = a[i] * n0inv_;
        uint64_t carry = 0;
        for (size_t j = 0; j < n; ++j) {
            const u128 s = static_cast<u128>(m) * n_[j] + a[i + j] + carry;
            a[i + j] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
        const u128 s = static_cast<u128>(a[i + n]) + carry + pending;
        a[i + n] = static_cast<uint64_t>(s);
        pending = static_cast<uint64_t>(s >> 64);
    }
    a[2 * n] += pending;
    Limbs r(a.begin() + static_cast<std::ptrdiff_t>(n), a.begin() + static_cast<std::ptrdiff_t>(2 * n));
    Limbs d(n);
    const uint64_t borrow = SubN(d.data(), r.data(), n_.data(), n);
    const uint64_t useDifference = 0 - static_cast<uint64_t>(a[2 * n] | (borrow ^ 1));
    Select(r.data(), d.data(), n, useDifference);
    return r;
}

namespace {

// CIOS Montgomery multiplication; with N fixed at compile time the loops unroll.
template <size_t N>
void MontMulFixed(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m, uint64_t n0inv, size_t n) {
    const size_t count = N ? N : n;
    uint64_t t[(N ? N : 128) + 2] = {};
    for (size_t i = 0; i < count; ++i) {
        uint64_t carry = 0;
        const uint64_t ai = a[i];
#pragma GCC unroll 16
        for (size_t j = 0; j < count; ++j) {
            const u128 s = static_cast<u128>(ai) * b[j] + t[j] + carry;
            t[j] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
        u128 s = static_cast<u128>(t[count]) + carry;
        t[count] = static_cast<uint64_t>(s);
        t[count + 1] = static_cast<uint64_t>(s >> 64);
        const uint64_t q = t[0] * n0inv;
        s = static_cast<u128>(q) * m[0] + t[0];
        carry = static_cast<uint64_t>(s >> 64);
#pragma GCC unroll 16
        for (size_t j = 1; j < count; ++j) {
            s = static_cast<u128>(q) * m[j] + t[j] + carry;
            t[j - 1] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
        s = static_cast<u128>(t[count]) + carry;
        t[count - 1] = static_cast<uint64_t>(s);
        t[count] = t[count + 1] + static_cast<uint64_t>(s >> 64);
    }
    uint64_t d[(N ? N : 128)];
    const uint64_t borrow = SubN(d, t, m, count);
    const uint64_t useDifference = 0 - static_cast<uint64_t>(t[count] | (borrow ^ 1));
    for (size_t i = 0; i < count; ++i) r[i] = (t[i] & ~useDifference) | (d[i] & useDifference);
}

}  // namespace

void Montgomery::MulInto(uint64_t* r, const uint64_t* a, const uint64_t* b) const {
    switch (n_.size()) {
        case 16: return MontMulFixed<16>(r, a, b, n_.data(), n0inv_, 16);
        case 32: return MontMulFixed<32>(r, a, b, n_.data(), n0inv_, 32);
        case 64: return MontMulFixed<64>(r, a, b, n_.data(), n0inv_, 64);
        default: return MontMulFixed<0>(r, a, b, n_.data(), n0inv_, n_.size());
    }
}

Limbs Montgomery::Mul(const Limbs& a, const Limbs& b) const {
    const size_t n = n_.size();
    Limbs aa(a), bb(b), r(n);
    aa.resize(n, 0);
    bb.resize(n, 0);
    MulInto(r.data(), aa.data(), bb.data());
    return r;
}

Limbs Montgomery::ToMont(const Limbs& x) const {
    // x R^-1 first (any x below n R), then two multiplications by R^2 give x R
    return Mul(Mul(Reduce(x), r2_), r2_);
}

Limbs Montgomery::FromMont(const Limbs& x) const { return Reduce(x); }

Limbs Montgomery::Pow(const Limbs& base, const Limbs& exponent, bool constantTime) const {
    const size_t n = n_.size();
    const Limbs b = ToMont(base);
    Limbs one(n, 0);
    one[0] = 1;
    Limbs r = ToMont(one);
    if (!constantTime) {
        for (size_t bit = BitLength(exponent); bit-- > 0;) {
            MulInto(r.data(), r.data(), r.data());
            if ((exponent[bit / 64] >> (bit % 64)) & 1) MulInto(r.data(), r.data(), b.data());
        }
        return FromMont(r);
    }
    // fixed 5-bit windows over every bit position of the exponent's limbs; the table entry is
    // picked by reading all entries under masks
    constexpr int kWindow = 5;
    constexpr size_t kEntries = size_t{1} << kWindow;
    std::vector<uint64_t> table(kEntries * n);
    std::copy(r.begin(), r.end(), table.begin());
    for (size_t i = 1; i < kEntries; ++i) MulInto(&table[i * n], &table[(i - 1) * n], b.data());
    std::vector<uint64_t> pick(n);
    const size_t bits = 64 * exponent.size();
    const size_t windows = (bits + kWindow - 1) / kWindow;
    const auto bitAt = [&](size_t bit) -> uint64_t {
        return bit < bits ? (exponent[bit / 64] >> (bit % 64)) & 1 : 0;
    };
    for (size_t w = windows; w-- > 0;) {
        for (int s = 0; s < kWindow; ++s) MulInto(r.data(), r.data(), r.data());
        uint64_t digit = 0;
        for (int k = kWindow - 1; k >= 0; --k) digit = (digit << 1) | bitAt(w * kWindow + static_cast<size_t>(k));
        std::fill(pick.begin(), pick.end(), 0);
        for (uint64_t i = 0; i < kEntries; ++i) {
            const uint64_t mask = 0 - static_cast<uint64_t>(((i ^ digit) - 1) >> 63);  // all ones when i == digit
            const uint64_t* entry = &table[i * n];
            for (size_t j = 0; j < n; ++j) pick[j] |= entry[j] & mask;
        }
        MulInto(r.data(), r.data(), pick.data());
    }
    return FromMont(r);
}

Limbs Montgomery::SubMod(const Limbs& a, const Limbs& b) const {
    const size_t n = n_.size();
    Limbs r(n), wrapped(n);
    const uint64_t borrow = SubN(r.data(), a.data(), b.data(), n);
    uint64_t carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const u128 s = static_cast<u128>(r[i]) + n_[i] + carry;
        wrapped[i] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
    }
    Select(r.data(), wrapped.data(), n, 0 - borrow);
    return r;
}

std::optional<Limbs> Montgomery::InverseVartime(const Limbs& a) const {
    // Kaliski's almost inverse: n = u s + v r throughout, and only subtractions and shifts until
    // r gives 2^k / a; then 2^k comes out 63 bits at a time, each step adding the multiple of n
    // that clears the low bits, as a Montgomery reduction does.
    if (Compare(a, n_) >= 0) return std::nullopt;
    const size_t n = n_.size();
    Limbs u(n_), v(a), r(n + 1, 0), s(n + 1, 0);
    v.resize(n, 0);
    s[0] = 1;
    size_t lu = n, lv = n, k = 0;
    const auto trim = [](const Limbs& w, size_t& length) {
        while (length > 0 && w[length - 1] == 0) --length;
    };
    const auto shiftLeft = [n](Limbs& x, unsigned bits) {  // x stays below 2^(64 n + 1)
        for (size_t i = n + 1; i-- > 1;) x[i] = (x[i] << bits) | (x[i - 1] >> (64 - bits));
        x[0] <<= bits;
    };
    const auto add = [n](Limbs& x, const Limbs& y) {
        uint64_t carry = 0;
        for (size_t i = 0; i <= n; ++i) {
            const u128 t = static_cast<u128>(x[i]) + y[i] + carry;
            x[i] = static_cast<uint64_t>(t);
            carry = static_cast<uint64_t>(t >> 64);
        }
    };
    // w becomes odd; its partner doubles as often
    const auto makeOdd = [&](Limbs& w, size_t& length, Limbs& partner) {
        size_t zeros = 0;
        while (w[zeros / 64] == 0) zeros += 64;
        zeros += static_cast<size_t>(__builtin_ctzll(w[zeros / 64]));
        k += zeros;
        while (zeros > 0) {
            const unsigned bits = static_cast<unsigned>(std::min<size_t>(zeros, 63));
            zeros -= bits;
            for (size_t i = 0; i < length; ++i)
                w[i] = (w[i] >> bits) | (i + 1 < length ? w[i + 1] << (64 - bits) : 0);
            trim(w, length);
            shiftLeft(partner, bits);
        }
    };
    trim(v, lv);
    if (lv == 0) return std::nullopt;
    makeOdd(v, lv, r);
    for (;;) {
        const bool uGreater = lu != lv ? lu > lv : [&] {
            for (size_t i = lu; i-- > 0;)
                if (u[i] != v[i]) return u[i] > v[i];
            return false;
        }();
        if (uGreater) {
            SubN(u.data(), u.data(), v.data(), lu);
            trim(u, lu);
            add(r, s);
            makeOdd(u, lu, s);
        } else {
            SubN(v.data(), v.data(), u.data(), lv);
            trim(v, lv);
            add(s, r);
            if (lv == 0) {
                shiftLeft(r, 1);
                ++k;
                break;
            }
            makeOdd(v, lv, r);
        }
    }
    if (lu != 1 || u[0] != 1) return std::nullopt;  // a shares a factor with n
    // r <= 2n here: one subtraction brings it below n, and n - r is 2^k / a
    Limbs x(n), t(n + 1);
    Limbs modulus(n_);
    modulus.push_back(0);
    if (Compare(r, modulus) >= 0) SubN(r.data(), r.data(), modulus.data(), n + 1);
    SubN(x.data(), n_.data(), r.data(), n);
    while (k > 0) {
        const unsigned bits = static_cast<unsigned>(std::min<size_t>(k, 63));
        k -= bits;
        const uint64_t m = (x[0] * n0inv_) & ((uint64_t{1} << bits) - 1);
        uint64_t carry = 0;
        for (size_t i = 0; i < n; ++i) {
            const u128 sum = static_cast<u128>(m) * n_[i] + x[i] + carry;
            t[i] = static_cast<uint64_t>(sum);
            carry = static_cast<uint64_t>(sum >> 64);
        }
        t[n] = carry;
        for (size_t i = 0; i < n; ++i) x[i] = (t[i] >> bits) | (t[i + 1] << (64 - bits));
        if (Compare(x, n_) >= 0) SubN(x.data(), x.data(), n_.data(), n);
    }
    return x;
}

}  // namespace vela::ua::security
