#include "ua/security/Hash.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define VELA_HAVE_SHA_NI 1
#endif

namespace vela::ua::security {
namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint32_t LoadBE(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void StoreBE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Completes a partly filled block first, compresses whole blocks straight from the input and
// keeps the remainder for later.
template <typename CompressBlocks>
void Absorb(uint8_t* buffer, size_t& buffered, std::span<const uint8_t> data, CompressBlocks compress) {
    constexpr size_t kBlock = 64;
    const uint8_t* p = data.data();
    size_t n = data.size();
    if (buffered) {
        const size_t take = std::min(n, kBlock - buffered);
        std::memcpy(buffer + buffered, p, take);
        buffered += take, p += take, n -= take;
        if (buffered < kBlock) return;
        compress(buffer, 1);
        buffered = 0;
    }
    compress(p, n / kBlock);
    p += n / kBlock * kBlock;
    buffered = n % kBlock;
    if (buffered) std::memcpy(buffer, p, buffered);
}

// Appends the FIPS 180-4 padding and the bit length; gives the blocks left to compress.
template <typename Compress>
void Finish(uint8_t* buffer, size_t buffered, uint64_t length, Compress compress) {
    const uint64_t bits = length * 8;
    buffer[buffered++] = 0x80;
    if (buffered > 56) {
        std::memset(buffer + buffered, 0, 64 - buffered);
        compress(buffer);
        buffered = 0;
    }
    std::memset(buffer + buffered, 0, 56 - buffered);
    for (int i = 0; i < 8; ++i) buffer[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    compress(buffer);
}

bool allowExtensions = true;

#ifdef VELA_HAVE_SHA_NI
bool CpuHasShaNi() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        // leaf 7: EBX bit 29 is the SHA extensions
        return __builtin_cpu_supports("sse4.1") && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29)) != 0;
    }();
    return has && allowExtensions;
}

// SHA-256 with the SHA extensions of x86 (the Intel SHA instructions' published usage).
__attribute__((target("sha,sse4.1"))) void Sha256CompressNi(uint32_t state[8], const uint8_t* data, size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);           // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);     // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);       // CDGH
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abef = state0, cdgh = state1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
        for (int r = 0; r < 16; ++r) {
            __m128i& w = m[r & 3];
            if (r >= 4) {
                // w[r] = sigma1(w[r-2]) + w[r-7] + sigma0(w[r-15]) + w[r-16], four at a time
                __m128i t = _mm_sha256msg1_epu32(w, m[(r + 1) & 3]);
                t = _mm_add_epi32(t, _mm_alignr_epi8(m[(r + 3) & 3], m[(r + 2) & 3], 4));
                w = _mm_sha256msg2_epu32(t, m[(r + 3) & 3]);
            }
            __m128i k = _mm_add_epi32(w, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kSha256K[4 * r])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, k);
            k = _mm_shuffle_epi32(k, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, k);
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);     // ABEF -> HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}
#endif

}  // namespace

void UseShaExtensions(bool allow) { allowExtensions = allow; }

// --- SHA-1 ---

void Sha1::Reset() {
    static constexpr uint32_t kInit[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::memcpy(h_, kInit, sizeof h_);
    buffered_ = 0;
    length_ = 0;
}

void Sha1::Compress(const uint8_t* block, size_t blocks) {
    for (; blocks > 0; --blocks, block += 64) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t) w[t] = LoadBE(block + 4 * t);
        for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t f, k;
            if (t < 20) f = (b & c) | (~b & d), k = 0x5A827999;
            else if (t < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (t < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
            else f = b ^ c ^ d, k = 0xCA62C1D6;
            const uint32_t temp = Rotl(a, 5) + f + e + k + w[t];
            e = d, d = c, c = Rotl(b, 30), b = a, a = temp;
        }
        h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e;
    }
}

void Sha1::Update(std::span<const uint8_t> data) {
    if (data.empty()) return;
    length_ += data.size();
    Absorb(buffer_, buffered_, data, [this](const uint8_t* blocks, size_t count) { Compress(blocks, count); });
}

std::array<uint8_t, Sha1::kDigestSize> Sha1::Final() {
    Finish(buffer_, buffered_, length_, [this](const uint8_t* b) { Compress(b, 1); });
    std::array<uint8_t, kDigestSize> out;
    for (int i = 0; i < 5; ++i) StoreBE(&out[4 * i], h_[i]);
    Reset();
    return out;
}

std::array<uint8_t, Sha1::kDigestSize> Sha1::Digest(std::span<const uint8_t> data) {
    Sha1 h;
    h.Update(data);
    return h.Final();
}

// --- SHA-256 ---

void Sha256::Reset() {
    static constexpr uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(h_, kInit, sizeof h_);
    buffered_ = 0;
    length_ = 0;
}

void Sha256::Compress(const uint8_t* block, size_t blocks) {
#ifdef VELA_HAVE_SHA_NI
    if (CpuHasShaNi()) {
        Sha256CompressNi(h_, block, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, block += 64) {
        uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = LoadBE(block + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int t = 0; t < 64; ++t) {
            const uint32_t S1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
            const uint32_t ch = (e & f) ^ (~e & g);
            const uint32_t t1 = h + S1 + ch + kSha256K[t] + w[t];
            const uint32_t S0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
            const uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            const uint32_t t2 = S0 + maj;
            h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
        }
        h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e, h_[5] += f, h_[6] += g, h_[7] += h;
    }
}

void Sha256::Update(std::span<const uint8_t> data) {
    if (data.empty()) return;
    length_ += data.size();
    Absorb(buffer_, buffered_, data, [this](const uint8_t* blocks, size_t count) { Compress(blocks, count); });
}

std::array<uint8_t, Sha256::kDigestSize> Sha256::Final() {
    Finish(buffer_, buffered_, length_, [this](const uint8_t* b) { Compress(b, 1); });
    std::array<uint8_t, kDigestSize> out;
    for (int i = 0; i < 8; ++i) StoreBE(&out[4 * i], h_[i]);
    Reset();
    return out;
}

std::array<uint8_t, Sha256::kDigestSize> Sha256::Digest(std::span<const uint8_t> data) {
    Sha256 h;
    h.Update(data);
    return h.Final();
}

size_t DigestSize(THashAlgorithm hash) { return hash == THashAlgorithm::SHA1 ? Sha1::kDigestSize : Sha256::kDigestSize; }

Bytes HashOf(THashAlgorithm hash, std::span<const uint8_t> data) {
    if (hash == THashAlgorithm::SHA1) {
        const auto d = Sha1::Digest(data);
        return Bytes(d.begin(), d.end());
    }
    const auto d = Sha256::Digest(data);
    return Bytes(d.begin(), d.end());
}

}  // namespace vela::ua::security
