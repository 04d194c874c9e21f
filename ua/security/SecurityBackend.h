#pragma once
// The two interchangeable crypto back-ends of UA message security: the built-in one and the
// one on the OpenSSL library. The channel sees only these interfaces.
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "ua/security/Aes.h"
#include "ua/security/Rsa.h"

namespace vela::ua::security {

enum class TuaSecurityLib { uaSOpenSSL, uaSNative };
enum class TCertificateUsage { cuUseRemoteKey, cuUseLocalKey };

class uaMessageSecurityAsym {
public:
    virtual ~uaMessageSecurityAsym() = default;
    virtual void initRSADecrypt(TCertificateUsage usage, TRSAPadding padding, THashAlgorithm hash) = 0;
    virtual void initRSAEncrypt(TCertificateUsage usage, TRSAPadding padding, THashAlgorithm hash) = 0;
    virtual void setRSAEncryptMode(TRSAPadding padding, THashAlgorithm hash) = 0;
    // Refuses (uaCertificateKeyError) a certificate without an RSA key, or whose key is outside
    // allowed or has an unusable public exponent; the slot is empty after a refusal. Where the
    // policy is known, pass RsaKeyBits(policy) for its own range.
    virtual void LoadPublicCertificate(std::span<const uint8_t> der, TCertificateUsage usage,
                                       const TRSAKeyBits& allowed) = 0;
    void LoadPublicCertificate(std::span<const uint8_t> der, TCertificateUsage usage) {
        LoadPublicCertificate(der, usage, TRSAKeyBits{});
    }
    virtual void LoadPrivateKey(std::span<const uint8_t> data, const std::string& password) = 0;
    virtual size_t RSASize(TCertificateUsage usage) = 0;  // key length in bytes
    virtual std::string getCertificateApplicationName(TCertificateUsage usage) = 0;
    // Block by block with the remote public key: each plainBlockSize block gives keySize bytes.
    virtual Bytes EncryptRsa(std::span<const uint8_t> plain, size_t plainBlockSize, size_t keySize) = 0;
    // Block by block with the local private key.
    virtual Bytes DecryptRsa(std::span<const uint8_t> cipher, size_t plainBlockSize, size_t keySize) = 0;
    virtual Bytes Sign_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data) = 0;
    virtual Bytes Sign_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
                           std::span<const uint8_t> privateKey, const std::string& password) = 0;
    // Received chunks are verified with the remote certificate's key.
    virtual bool Verify_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
                            std::span<const uint8_t> signature) = 0;
    virtual bool HasCertificate(TCertificateUsage usage) = 0;
};

class uaMessageSecuritySym {
public:
    virtual ~uaMessageSecuritySym() = default;
    virtual void InitSymmetricSign(THashAlgorithm hash, std::span<const uint8_t> key) = 0;
    virtual Bytes SymmetricSign(std::span<const uint8_t> data) = 0;
    virtual void InitSymmetricVerify(THashAlgorithm hash, std::span<const uint8_t> key) = 0;
    virtual bool SymmetricVerify(std::span<const uint8_t> data, std::span<const uint8_t> mac) = 0;
    virtual void InitEncryptSymm(TSymmAlgorithm algorithm, std::span<const uint8_t> key, std::span<const uint8_t> iv) = 0;
    virtual void encryptSymm(std::span<const uint8_t> in, std::span<uint8_t> out) = 0;
    virtual void InitDecryptSymm(TSymmAlgorithm algorithm, std::span<const uint8_t> key, std::span<const uint8_t> iv) = 0;
    virtual void DecryptSymm(std::span<const uint8_t> in, std::span<uint8_t> out) = 0;
};

class uaMessageSecurityImpl {
public:
    virtual ~uaMessageSecurityImpl() = default;
    virtual TuaSecurityLib Library() const = 0;
    virtual uaMessageSecurityAsym& Asym() = 0;
    virtual uaMessageSecuritySym& Sym() = 0;
};

// Encrypts a user secret with the remote key: the plaintext is extended with zero bytes to
// whole plaintext blocks and each block is encrypted on its own.
Bytes EncryptRsaPlainBlockSize(uaMessageSecurityImpl& backend, TRSAPadding padding, THashAlgorithm hash,
                               std::span<const uint8_t> plain);

// The back-end of that kind; raises when it is not built in this program (OpenSSL on Windows):
// "Could not load OpenSSL : " and the reason.
std::unique_ptr<uaMessageSecurityImpl> CreateSecurityBackend(TuaSecurityLib library);
bool IsSecurityBackendAvailable(TuaSecurityLib library);

std::unique_ptr<uaMessageSecurityImpl> CreateNativeBackend();
#ifdef VELA_HAVE_OPENSSL
std::unique_ptr<uaMessageSecurityImpl> CreateOpenSslBackend();
#endif

}  // namespace vela::ua::security
