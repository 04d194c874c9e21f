// The built-in back-end: RSA, AES, SHA and HMAC of this module.
#include <optional>

#include "base/Exception.h"
#include "ua/security/Hmac.h"
#include "ua/security/SecurityBackend.h"
#include "ua/security/X509.h"

namespace vela::ua::security {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw Exception("Native Security Error: " + what); }

class TAsym_Native final : public uaMessageSecurityAsym {
public:
    void initRSADecrypt(TCertificateUsage, TRSAPadding padding, THashAlgorithm hash) override {
        decryptPadding_ = padding;
        decryptHash_ = hash;
    }
    void initRSAEncrypt(TCertificateUsage, TRSAPadding padding, THashAlgorithm hash) override {
        encryptPadding_ = padding;
        encryptHash_ = hash;
    }
    void setRSAEncryptMode(TRSAPadding padding, THashAlgorithm hash) override {
        encryptPadding_ = padding;
        encryptHash_ = hash;
    }
    void LoadPublicCertificate(std::span<const uint8_t> der, TCertificateUsage usage,
                               const TRSAKeyBits& allowed) override {
        auto& slot = usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_;
        slot.reset();
        TX509Certificate cert = TX509Certificate::Load(der);
        CheckCertificateKey(usage == TCertificateUsage::cuUseRemoteKey ? "server" : "client", cert.CommonName(),
                            cert.fPublicKeyAlgorithm, cert.fPublicKeyData, allowed);
        slot = std::move(cert);
    }
    void LoadPrivateKey(std::span<const uint8_t> data, const std::string& password) override {
        privateKey_ = security::LoadPrivateKey(data, password);
    }
    size_t RSASize(TCertificateUsage usage) override {
        const auto& cert = usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_;
        if (cert) return cert->fPublicKey.SizeBytes();
        if (usage == TCertificateUsage::cuUseLocalKey && privateKey_) return privateKey_->SizeBytes();
        Fail("unknown Certificate");
    }
    std::string getCertificateApplicationName(TCertificateUsage usage) override {
        const auto& cert = usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_;
        if (!cert) Fail("unknown Certificate");
        return cert->ApplicationUri();
    }
    Bytes EncryptRsa(std::span<const uint8_t> plain, size_t plainBlockSize, size_t keySize) override {
        if (!remote_ || plainBlockSize == 0 || plain.size() % plainBlockSize != 0) Fail("encrypt error");
        Bytes out;
        out.reserve(plain.size() / plainBlockSize * keySize);
        for (size_t at = 0; at < plain.size(); at += plainBlockSize) {
            const Bytes block = RsaEncrypt(remote_->fPublicKey, encryptPadding_, encryptHash_, plain.subspan(at, plainBlockSize));
            if (block.size() != keySize) Fail("encrypt error");
            out.insert(out.end(), block.begin(), block.end());
        }
        return out;
    }
    Bytes DecryptRsa(std::span<const uint8_t> cipher, size_t, size_t keySize) override {
        if (!privateKey_ || keySize == 0 || cipher.size() % keySize != 0) Fail("decrypt error");
        Bytes out;
        bool failed = false;
        for (size_t at = 0; at < cipher.size(); at += keySize) {
            const auto block = RsaDecrypt(*privateKey_, decryptPadding_, decryptHash_, cipher.subspan(at, keySize));
            failed |= !block.has_value();  // every block is processed before the verdict
            if (block) out.insert(out.end(), block->begin(), block->end());
        }
        if (failed) Fail("decrypt error");
        return out;
    }
    Bytes Sign_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data) override {
        if (!privateKey_) Fail("sign error");
        return RsaSign(*privateKey_, padding, hash, data);
    }
    Bytes Sign_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
                   std::span<const uint8_t> privateKey, const std::string& password) override {
        return RsaSign(security::LoadPrivateKey(privateKey, password), padding, hash, data);
    }
    bool Verify_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
                    std::span<const uint8_t> signature) override {
        return remote_ && RsaVerify(remote_->fPublicKey, padding, hash, data, signature);
    }
    bool HasCertificate(TCertificateUsage usage) override {
        return (usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_).has_value();
    }

private:
    std::optional<TX509Certificate> remote_, local_;
    std::optional<TRSAPrivateKey> privateKey_;
    TRSAPadding encryptPadding_ = TRSAPadding::rpPKCS, decryptPadding_ = TRSAPadding::rpPKCS;
    THashAlgorithm encryptHash_ = THashAlgorithm::SHA1, decryptHash_ = THashAlgorithm::SHA1;
};

class TSym_Native final : public uaMessageSecuritySym {
public:
    void InitSymmetricSign(THashAlgorithm hash, std::span<const uint8_t> key) override { signer_.emplace(hash, key); }
    Bytes SymmetricSign(std::span<const uint8_t> data) override {
        if (!signer_) Fail("sign error");
        return signer_->Compute(data);
    }
    void InitSymmetricVerify(THashAlgorithm hash, std::span<const uint8_t> key) override { verifier_.emplace(hash, key); }
    bool SymmetricVerify(std::span<const uint8_t> data, std::span<const uint8_t> mac) override {
        return verifier_ && ConstantTimeEquals(verifier_->Compute(data), mac);
    }
    void InitEncryptSymm(TSymmAlgorithm algorithm, std::span<const uint8_t> key, std::span<const uint8_t> iv) override {
        encryptor_ = Make(algorithm, key);
        encryptIv_.assign(iv.begin(), iv.end());
    }
    void encryptSymm(std::span<const uint8_t> in, std::span<uint8_t> out) override {
        if (!encryptor_) Fail("encrypt error");
        encryptor_->Encrypt(encryptIv_, in, out);  // every chunk starts from the token's IV
    }
    void InitDecryptSymm(TSymmAlgorithm algorithm, std::span<const uint8_t> key, std::span<const uint8_t> iv) override {
        decryptor_ = Make(algorithm, key);
        decryptIv_.assign(iv.begin(), iv.end());
    }
    void DecryptSymm(std::span<const uint8_t> in, std::span<uint8_t> out) override {
        if (!decryptor_) Fail("decrypt error");
        decryptor_->Decrypt(decryptIv_, in, out);
    }

private:
    static std::optional<AesCbc> Make(TSymmAlgorithm algorithm, std::span<const uint8_t> key) {
        const size_t wanted = algorithm == TSymmAlgorithm::saAES128 ? 16 : algorithm == TSymmAlgorithm::saAES256 ? 32 : 0;
        if (wanted == 0 || key.size() != wanted) Fail("unknown AES function");
        return AesCbc(key);
    }
    std::optional<THMAC> signer_, verifier_;
    std::optional<AesCbc> encryptor_, decryptor_;
    Bytes encryptIv_, decryptIv_;
};

class TSecurityNative final : public uaMessageSecurityImpl {
public:
    TuaSecurityLib Library() const override { return TuaSecurityLib::uaSNative; }
    uaMessageSecurityAsym& Asym() override { return asym_; }
    uaMessageSecuritySym& Sym() override { return sym_; }

private:
    TAsym_Native asym_;
    TSym_Native sym_;
};

}  // namespace

std::unique_ptr<uaMessageSecurityImpl> CreateNativeBackend() { return std::make_unique<TSecurityNative>(); }

Bytes EncryptRsaPlainBlockSize(uaMessageSecurityImpl& backend, TRSAPadding padding, THashAlgorithm hash,
                               std::span<const uint8_t> plain) {
    auto& asym = backend.Asym();
    asym.setRSAEncryptMode(padding, hash);
    const size_t keySize = asym.RSASize(TCertificateUsage::cuUseRemoteKey);
    const size_t block = RSABlockSize(keySize, padding, hash);
    if (block == 0) Fail("unknown padding");
    Bytes padded(plain.begin(), plain.end());
    padded.resize((plain.size() + block - 1) / block * block, 0);
    if (padded.empty()) padded.resize(block, 0);
    return asym.EncryptRsa(padded, block, keySize);
}

bool IsSecurityBackendAvailable(TuaSecurityLib library) {
#ifdef VELA_HAVE_OPENSSL
    (void)library;
    return true;
#else
    return library == TuaSecurityLib::uaSNative;
#endif
}

std::unique_ptr<uaMessageSecurityImpl> CreateSecurityBackend(TuaSecurityLib library) {
    if (library == TuaSecurityLib::uaSNative) return CreateNativeBackend();
#ifdef VELA_HAVE_OPENSSL
    return CreateOpenSslBackend();
#else
    throw Exception("Could not load OpenSSL : this program is built without the OpenSSL library");
#endif
}

}  // namespace vela::ua::security
