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
    // R^2 mod n by doubling 1 for 2 * 64 * size bits
    const size_t n = n_.size();
    Limbs x(n, 0), t(n);
    x[0] = 1;
    for (size_t i = 0; i < 2 * 64 * n; ++i) {
        uint64_t carry = 0;
        for (size_t j = 0; j < n; ++j) {
            const uint64_t next = x[j] >> 63;
            x[j] = (x[j] << 1) | carry;
            carry = next;
        }
        const uint64_t borrow = SubN(t.data(), x.data(), n_.data(), n);
        // keep x - n when x >= n (the doubled value overflowed or the subtraction did not borrow)
        Select(x.data(), t.data(), n, 0 - static_cast<uint64_t>(carry | (borrow ^ 1)));
    }
    r2_ = x;
}

Limbs Montgomery::Reduce(const Limbs& t) const {
    const size_t n = n_.size();
    std::vector<uint64_t> a(2 * n + 1, 0);
    std::copy(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(std::min(t.size(), 2 * n)), a.begin());
    for (size_t i = 0; i < n; ++i) {
        const uint64_t m = a[i] * n0inv_;
        uint64_t carry = 0;
        for (size_t j = 0; j < n; ++j) {
            const u128 s = static_cast<u128>(m) * n_[j] + a[i + j] + carry;
            a[i + j] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
        for (size_t k = i + n; carry && k < a.size(); ++k) {
            const u128 s = static_cast<u128>(a[k]) + carry;
            a[k] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
    }
    Limbs r(a.begin() + static_cast<std::ptrdiff_t>(n), a.begin() + static_cast<std::ptrdiff_t>(2 * n));
    Limbs d(n);
    const uint64_t borrow = SubN(d.data(), r.data(), n_.data(), n);
    const uint64_t useDifference = 0 - static_cast<uint64_t>(a[2 * n] | (borrow ^ 1));
    Select(r.data(), d.data(), n, useDifference);
    return r;
}

Limbs Montgomery::Mul(const Limbs& a, const Limbs& b) const {
    // CIOS: multiply and reduce limb by limb
    const size_t n = n_.size();
    std::vector<uint64_t> t(n + 2, 0);
    for (size_t i = 0; i < n; ++i) {
        uint64_t carry = 0;
        const uint64_t ai = i < a.size() ? a[i] : 0;
        for (size_t j = 0; j < n; ++j) {
            const u128 s = static_cast<u128>(ai) * (j < b.size() ? b[j] : 0) + t[j] + carry;
            t[j] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
        u128 s = static_cast<u128>(t[n]) + carry;
        t[n] = static_cast<uint64_t>(s);
        t[n + 1] = static_cast<uint64_t>(s >> 64);
        const uint64_t m = t[0] * n0inv_;
        s = static_cast<u128>(m) * n_[0] + t[0];
        carry = static_cast<uint64_t>(s >> 64);
        for (size_t j = 1; j < n; ++j) {
            s = static_cast<u128>(m) * n_[j] + t[j] + carry;
            t[j - 1] = static_cast<uint64_t>(s);
            carry = static_cast<uint64_t>(s >> 64);
        }
        s = static_cast<u128>(t[n]) + carry;
        t[n - 1] = static_cast<uint64_t>(s);
        t[n] = t[n + 1] + static_cast<uint64_t>(s >> 64);
    }
    Limbs r(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n));
    Limbs d(n);
    const uint64_t borrow = SubN(d.data(), r.data(), n_.data(), n);
    Select(r.data(), d.data(), n, 0 - static_cast<uint64_t>(t[n] | (borrow ^ 1)));
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
    const Limbs oneMont = ToMont(one);
    if (!constantTime) {
        Limbs r = oneMont;
        for (size_t bit = BitLength(exponent); bit-- > 0;) {
            r = Mul(r, r);
            if ((exponent[bit / 64] >> (bit % 64)) & 1) r = Mul(r, b);
        }
        return FromMont(r);
    }
    // fixed 4-bit windows over every bit position of the exponent's limbs; the table entry is
    // picked by scanning all entries with masks
    constexpr int kWindow = 4;
    std::vector<Limbs> table(1 << kWindow);
    table[0] = oneMont;
    for (size_t i = 1; i < table.size(); ++i) table[i] = Mul(table[i - 1], b);
    Limbs r = oneMont, pick(n);
    const size_t bits = 64 * exponent.size();
    for (size_t w = bits / kWindow; w-- > 0;) {
        for (int s = 0; s < kWindow; ++s) r = Mul(r, r);
        const size_t bit = w * kWindow;
        const uint64_t digit = (exponent[bit / 64] >> (bit % 64)) & ((1u << kWindow) - 1);
        std::fill(pick.begin(), pick.end(), 0);
        for (uint64_t i = 0; i < table.size(); ++i) {
            const uint64_t mask = 0 - static_cast<uint64_t>(((i ^ digit) - 1) >> 63);  // all ones when i == digit
            Select(pick.data(), table[i].data(), n, mask);
        }
        r = Mul(r, pick);
    }
    return FromMont(r);
}

}  // namespace vela::ua::security
