#pragma once
// SHA-1 and SHA-256 (FIPS 180-4), streaming.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vela::ua::security {

using Bytes = std::vector<uint8_t>;

enum class THashAlgorithm { SHA1, SHA256 };

class Sha1 {
public:
    static constexpr size_t kDigestSize = 20;
    static constexpr size_t kBlockSize = 64;
    Sha1() { Reset(); }
    void Reset();
    void Update(std::span<const uint8_t> data);
    std::array<uint8_t, kDigestSize> Final();
    static std::array<uint8_t, kDigestSize> Digest(std::span<const uint8_t> data);

private:
    void Compress(const uint8_t* block, size_t blocks);
    uint32_t h_[5];
    uint8_t buffer_[kBlockSize];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};

class Sha256 {
public:
    static constexpr size_t kDigestSize = 32;
    static constexpr size_t kBlockSize = 64;
    Sha256() { Reset(); }
    void Reset();
    void Update(std::span<const uint8_t> data);
    std::array<uint8_t, kDigestSize> Final();
    static std::array<uint8_t, kDigestSize> Digest(std::span<const uint8_t> data);

private:
    void Compress(const uint8_t* block, size_t blocks);
    uint32_t h_[8];
    uint8_t buffer_[kBlockSize];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};

size_t DigestSize(THashAlgorithm hash);
// The processor's SHA instructions are used where present; tests switch them off to check the
// portable code too.
void UseShaExtensions(bool allow);
Bytes HashOf(THashAlgorithm hash, std::span<const uint8_t> data);

}  // namespace vela::ua::security
