#pragma once
// AES (FIPS 197) with 128- or 256-bit keys in CBC mode (SP 800-38A), no padding of its own:
// the data must be whole 16-byte blocks. The processor's AES instructions are used where
// present; the portable code serves elsewhere.
#include <cstdint>
#include <span>
#include <vector>

namespace vela::ua::security {

enum class TSymmAlgorithm { saAES128, saAES192, saAES256 };

class AesCbc {
public:
    static constexpr size_t kBlockSize = 16;
    // Raises for a key that is not 16 or 32 bytes.
    explicit AesCbc(std::span<const uint8_t> key);
    // Both raise when the length is not whole blocks or the IV not one block; in place is fine.
    void Encrypt(std::span<const uint8_t> iv, std::span<const uint8_t> in, std::span<uint8_t> out) const;
    void Decrypt(std::span<const uint8_t> iv, std::span<const uint8_t> in, std::span<uint8_t> out) const;

private:
    int rounds_;
    alignas(16) uint8_t encKeys_[15 * 16];
    alignas(16) uint8_t decKeys_[15 * 16];  // for the equivalent inverse cipher of the AES instructions
};

void UseAesExtensions(bool allow);

}  // namespace vela::ua::security
