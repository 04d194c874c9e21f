#include "ua/security/Aes.h"

#include <array>
#include <cstring>

#include "base/Exception.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define VELA_HAVE_AES_NI 1
#endif

namespace vela::ua::security {
namespace {

bool allowExtensions = true;

uint8_t XTime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

// The S-box from its definition: multiplicative inverse in GF(2^8), then the affine map.
struct Tables {
    std::array<uint8_t, 256> sbox{};
    std::array<uint8_t, 256> inv{};
    Tables() {
        for (int x = 0; x < 256; ++x) {
            uint8_t invx = 0;
            for (int y = 1; y < 256 && x; ++y)
                if (Mul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) {
                    invx = static_cast<uint8_t>(y);
                    break;
                }
            uint8_t s = invx;
            for (int i = 1; i <= 4; ++i) s ^= static_cast<uint8_t>((invx << i) | (invx >> (8 - i)));
            s ^= 0x63;
            sbox[x] = s;
            inv[s] = static_cast<uint8_t>(x);
        }
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

void SubShiftMix(uint8_t* s, bool mix) {
    const auto& sb = T().sbox;
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[4 * c + r] = sb[s[4 * ((c + r) % 4) + r]];
    if (!mix) {
        std::memcpy(s, t, 16);
        return;
    }
    for (int c = 0; c < 4; ++c) {
        const uint8_t* a = t + 4 * c;
        s[4 * c + 0] = static_cast<uint8_t>(XTime(a[0]) ^ (XTime(a[1]) ^ a[1]) ^ a[2] ^ a[3]);
        s[4 * c + 1] = static_cast<uint8_t>(a[0] ^ XTime(a[1]) ^ (XTime(a[2]) ^ a[2]) ^ a[3]);
        s[4 * c + 2] = static_cast<uint8_t>(a[0] ^ a[1] ^ XTime(a[2]) ^ (XTime(a[3]) ^ a[3]));
        s[4 * c + 3] = static_cast<uint8_t>((XTime(a[0]) ^ a[0]) ^ a[1] ^ a[2] ^ XTime(a[3]));
    }
}

void InvShiftSubMix(uint8_t* s, const uint8_t* roundKey, bool mix) {
    const auto& inv = T().inv;
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[4 * ((c + r) % 4) + r] = inv[s[4 * c + r]];
    for (int i = 0; i < 16; ++i) t[i] ^= roundKey[i];
    if (!mix) {
        std::memcpy(s, t, 16);
        return;
    }
    for (int c = 0; c < 4; ++c) {
        const uint8_t* a = t + 4 * c;
        s[4 * c + 0] = static_cast<uint8_t>(Mul(a[0], 14) ^ Mul(a[1], 11) ^ Mul(a[2], 13) ^ Mul(a[3], 9));
        s[4 * c + 1] = static_cast<uint8_t>(Mul(a[0], 9) ^ Mul(a[1], 14) ^ Mul(a[2], 11) ^ Mul(a[3], 13));
        s[4 * c + 2] = static_cast<uint8_t>(Mul(a[0], 13) ^ Mul(a[1], 9) ^ Mul(a[2], 14) ^ Mul(a[3], 11));
        s[4 * c + 3] = static_cast<uint8_t>(Mul(a[0], 11) ^ Mul(a[1], 13) ^ Mul(a[2], 9) ^ Mul(a[3], 14));
    }
}

void EncryptBlockPortable(const uint8_t* keys, int rounds, uint8_t* block) {
    for (int i = 0; i < 16; ++i) block[i] ^= keys[i];
    for (int r = 1; r <= rounds; ++r) {
        SubShiftMix(block, r != rounds);
        for (int i = 0; i < 16; ++i) block[i] ^= keys[16 * r + i];
    }
}

void DecryptBlockPortable(const uint8_t* keys, int rounds, uint8_t* block) {
    for (int i = 0; i < 16; ++i) block[i] ^= keys[16 * rounds + i];
    for (int r = rounds - 1; r >= 0; --r) InvShiftSubMix(block, keys + 16 * r, r != 0);
}

#ifdef VELA_HAVE_AES_NI
bool CpuSupportsAesNi() {
    static const bool has = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    return has;
}

bool CpuHasAesNi() { return CpuSupportsAesNi() && allowExtensions; }

__attribute__((target("aes,sse4.1"))) void InverseKeysNi(const uint8_t* enc, int rounds, uint8_t* dec) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dec), _mm_loadu_si128(reinterpret_cast<const __m128i*>(enc + 16 * rounds)));
    for (int i = 1; i < rounds; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dec + 16 * i),
                         _mm_aesimc_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(enc + 16 * (rounds - i)))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dec + 16 * rounds), _mm_loadu_si128(reinterpret_cast<const __m128i*>(enc)));
}

__attribute__((target("aes,sse4.1"))) void CbcEncryptNi(const uint8_t* keys, int rounds, const uint8_t* iv,
                                                        const uint8_t* in, uint8_t* out, size_t blocks) {
    __m128i k[15];
    for (int i = 0; i <= rounds; ++i) k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 16 * i));
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    for (size_t b = 0; b < blocks; ++b) {
        __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * b)), chain);
        x = _mm_xor_si128(x, k[0]);
        for (int r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, k[r]);
        chain = _mm_aesenclast_si128(x, k[rounds]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b), chain);
    }
}

bool CpuHasVaes() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        // leaf 7: ECX bit 9 is VAES; AVX2 support (with the OS's state saving) comes from the compiler
        return __builtin_cpu_supports("avx2") && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (c & (1u << 9)) != 0;
    }();
    return has && allowExtensions;
}

// Sixteen blocks at a time with the 256-bit AES instructions (two blocks per register).
// Gives the number of blocks done; the rest is left to the 128-bit code.
__attribute__((target("vaes,avx2,aes,sse4.1"))) size_t CbcDecryptVaes(const uint8_t* keys, int rounds, __m128i& chain,
                                                                       const uint8_t* in, uint8_t* out, size_t blocks) {
    constexpr size_t kRegs = 8, kBlocks = 2 * kRegs;
    __m256i k[15];
    for (int i = 0; i <= rounds; ++i)
        k[i] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 16 * i)));
    size_t b = 0;
    for (; b + kBlocks <= blocks; b += kBlocks) {
        __m256i x[kRegs], prev[kRegs];
        for (size_t j = 0; j < kRegs; ++j) {
            const uint8_t* p = in + 16 * (b + 2 * j);
            x[j] = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), k[0]);
            // the cipher blocks before each pair: (previous, first of the pair)
            const __m128i before = j == 0 ? chain : _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 16));
            prev[j] = _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), before);
        }
        for (int r = 1; r < rounds; ++r)
            for (size_t j = 0; j < kRegs; ++j) x[j] = _mm256_aesdec_epi128(x[j], k[r]);
        for (size_t j = 0; j < kRegs; ++j) {
            x[j] = _mm256_xor_si256(_mm256_aesdeclast_epi128(x[j], k[rounds]), prev[j]);
        }
        chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * (b + kBlocks - 1)));
        for (size_t j = 0; j < kRegs; ++j) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * (b + 2 * j)), x[j]);
    }
    return b;
}

__attribute__((target("aes,sse4.1"))) void CbcDecryptNi(const uint8_t* keys, int rounds, const uint8_t* iv,
                                                        const uint8_t* in, uint8_t* out, size_t blocks) {
    __m128i k[15];
    for (int i = 0; i <= rounds; ++i) k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 16 * i));
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    size_t b = 0;
    if (CpuHasVaes()) b = CbcDecryptVaes(keys, rounds, chain, in, out, blocks);
    // eight blocks at a time: decryption has no chaining dependency between blocks
    constexpr int kLanes = 8;
    for (; b + kLanes <= blocks; b += kLanes) {
        __m128i c[kLanes], x[kLanes];
        for (int j = 0; j < kLanes; ++j) {
            c[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * (b + j)));
            x[j] = _mm_xor_si128(c[j], k[0]);
        }
        for (int r = 1; r < rounds; ++r)
            for (int j = 0; j < kLanes; ++j) x[j] = _mm_aesdec_si128(x[j], k[r]);
        for (int j = 0; j < kLanes; ++j) x[j] = _mm_aesdeclast_si128(x[j], k[rounds]);
        x[0] = _mm_xor_si128(x[0], chain);
        for (int j = 1; j < kLanes; ++j) x[j] = _mm_xor_si128(x[j], c[j - 1]);
        chain = c[kLanes - 1];
        for (int j = 0; j < kLanes; ++j) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * (b + j)), x[j]);
    }
    for (; b < blocks; ++b) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * b));
        __m128i x = _mm_xor_si128(c, k[0]);
        for (int r = 1; r < rounds; ++r) x = _mm_aesdec_si128(x, k[r]);
        x = _mm_xor_si128(_mm_aesdeclast_si128(x, k[rounds]), chain);
        chain = c;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b), x);
    }
}
#endif

void CheckSizes(std::span<const uint8_t> iv, std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (iv.size() != 16 || in.size() % 16 != 0 || out.size() < in.size())
        throw Exception("Native Security Error: the AES input is not whole 16-byte blocks");
}

}  // namespace

void UseAesExtensions(bool allow) { allowExtensions = allow; }

AesCbc::AesCbc(std::span<const uint8_t> key) {
    if (key.size() != 16 && key.size() != 32) throw Exception("Native Security Error: unknown AES function");
    const int nk = static_cast<int>(key.size() / 4);
    rounds_ = nk + 6;
    const int words = 4 * (rounds_ + 1);
    uint8_t* w = encKeys_;
    std::memcpy(w, key.data(), key.size());
    uint8_t rcon = 1;
    const auto& sb = T().sbox;
    for (int i = nk; i < words; ++i) {
        uint8_t t[4];
        std::memcpy(t, w + 4 * (i - 1), 4);
        if (i % nk == 0) {
            const uint8_t first = t[0];
            t[0] = static_cast<uint8_t>(sb[t[1]] ^ rcon);
            t[1] = sb[t[2]];
            t[2] = sb[t[3]];
            t[3] = sb[first];
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            for (uint8_t& b : t) b = sb[b];
        }
        for (int j = 0; j < 4; ++j) w[4 * i + j] = static_cast<uint8_t>(w[4 * (i - nk) + j] ^ t[j]);
    }
#ifdef VELA_HAVE_AES_NI
    if (CpuSupportsAesNi()) InverseKeysNi(encKeys_, rounds_, decKeys_);
#endif
}

void AesCbc::Encrypt(std::span<const uint8_t> iv, std::span<const uint8_t> in, std::span<uint8_t> out) const {
    CheckSizes(iv, in, out);
#ifdef VELA_HAVE_AES_NI
    if (CpuHasAesNi()) {
        CbcEncryptNi(encKeys_, rounds_, iv.data(), in.data(), out.data(), in.size() / 16);
        return;
    }
#endif
    uint8_t chain[16];
    std::memcpy(chain, iv.data(), 16);
    for (size_t b = 0; b < in.size(); b += 16) {
        for (int i = 0; i < 16; ++i) chain[i] ^= in[b + i];
        EncryptBlockPortable(encKeys_, rounds_, chain);
        std::memcpy(out.data() + b, chain, 16);
    }
}

void AesCbc::Decrypt(std::span<const uint8_t> iv, std::span<const uint8_t> in, std::span<uint8_t> out) const {
    CheckSizes(iv, in, out);
#ifdef VELA_HAVE_AES_NI
    if (CpuHasAesNi()) {
        CbcDecryptNi(decKeys_, rounds_, iv.data(), in.data(), out.data(), in.size() / 16);
        return;
    }
#endif
    uint8_t chain[16], cipher[16], block[16];
    std::memcpy(chain, iv.data(), 16);
    for (size_t b = 0; b < in.size(); b += 16) {
        std::memcpy(cipher, in.data() + b, 16);
        std::memcpy(block, cipher, 16);
        DecryptBlockPortable(encKeys_, rounds_, block);
        for (int i = 0; i < 16; ++i) out[b + i] = static_cast<uint8_t>(block[i] ^ chain[i]);
        std::memcpy(chain, cipher, 16);
    }
}

}  // namespace vela::ua::security
