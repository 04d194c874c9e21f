// The back-end on the OpenSSL library (EVP interfaces of OpenSSL 3).
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "base/Exception.h"
#include "ua/security/Hmac.h"
#include "ua/security/SecurityBackend.h"
#include "ua/security/X509.h"

namespace vela::ua::security {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    ERR_clear_error();
    throw Exception(what);
}

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

const EVP_MD* Digest(THashAlgorithm hash) { return hash == THashAlgorithm::SHA1 ? EVP_sha1() : EVP_sha256(); }

Pkey ReadPrivateKey(std::span<const uint8_t> data, const std::string& password) {
    if (data.empty()) Fail("Can not load the buffer");
    BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    if (!bio) Fail("Can not load the buffer");
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(password.c_str()));
    if (!key) {  // DER keys too
        BIO_reset(bio);
        key = d2i_PrivateKey_bio(bio, nullptr);
    }
    BIO_free(bio);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
        EVP_PKEY_free(key);
        Fail("Could not load RSA private key");
    }
    return Pkey(key);
}

void SetPadding(EVP_PKEY_CTX* ctx, TRSAPadding padding, THashAlgorithm hash) {
    if (padding == TRSAPadding::rpOAEP) {
        if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) <= 0 ||
            EVP_PKEY_CTX_set_rsa_oaep_md(ctx, Digest(hash)) <= 0 || EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, Digest(hash)) <= 0)
            Fail("cannot set padding");
    } else if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) <= 0) {
        Fail("cannot set padding");
    }
}

Bytes SignWith(EVP_PKEY* key, TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data) {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> md(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!md || EVP_DigestSignInit(md.get(), &pctx, Digest(hash), nullptr, key) <= 0)
        Fail("cannot initialize signing context");
    if (padding == TRSAPadding::rpPSS) {
        if (EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) <= 0 ||
            EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, RSA_PSS_SALTLEN_DIGEST) <= 0 ||
            EVP_PKEY_CTX_set_rsa_mgf1_md(pctx, Digest(hash)) <= 0)
            Fail("cannot set saltlen");
    }
    size_t length = 0;
    if (EVP_DigestSign(md.get(), nullptr, &length, data.data(), data.size()) <= 0) Fail("signing failed");
    Bytes signature(length);
    if (EVP_DigestSign(md.get(), signature.data(), &length, data.data(), data.size()) <= 0) Fail("signing failed");
    signature.resize(length);
    return signature;
}

class TIndy_OpenSSL final : public uaMessageSecurityImpl, public uaMessageSecurityAsym, public uaMessageSecuritySym {
public:
    TuaSecurityLib Library() const override { return TuaSecurityLib::uaSOpenSSL; }
    uaMessageSecurityAsym& Asym() override { return *this; }
    uaMessageSecuritySym& Sym() override { return *this; }

    // --- asymmetric
    void initRSADecrypt(TCertificateUsage, TRSAPadding padding, THashAlgorithm hash) override {
        decryptPadding_ = padding;
        decryptHash_ = hash;
    }
    void initRSAEncrypt(TCertificateUsage, TRSAPadding padding, THashAlgorithm hash) override { setRSAEncryptMode(padding, hash); }
    void setRSAEncryptMode(TRSAPadding padding, THashAlgorithm hash) override {
        encryptPadding_ = padding;
        encryptHash_ = hash;
    }
    void LoadPublicCertificate(std::span<const uint8_t> der, TCertificateUsage usage,
                               const TRSAKeyBits& allowed) override {
        auto& slot = usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_;
        slot = {};
        if (der.empty()) Fail("Could not load X509 buffer");
        const unsigned char* p = der.data();
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        if (!cert) Fail("Could not load X509 certificate");
        std::unique_ptr<X509, X509Free> owned(cert);
        // the key is judged from its encoding, by the rules and in the words of the built-in
        // back-end, before OpenSSL gets to use it
        ASN1_OBJECT* algorithm = nullptr;
        const unsigned char* bits = nullptr;
        int length = 0;
        X509_PUBKEY* subjectKey = X509_get_X509_PUBKEY(cert);
        if (!subjectKey || X509_PUBKEY_get0_param(&algorithm, &bits, &length, nullptr, subjectKey) != 1)
            Fail("Could not load public key X509");
        char oid[128] = {};
        if (algorithm) OBJ_obj2txt(oid, sizeof oid, algorithm, 1);
        std::string commonName;
        const X509_NAME* subject = X509_get_subject_name(cert);
        const int at = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
        if (at >= 0) {
            const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
            commonName.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                              static_cast<size_t>(ASN1_STRING_length(value)));
        }
        ERR_clear_error();
        CheckCertificateKey(usage == TCertificateUsage::cuUseRemoteKey ? "server" : "client", commonName, oid,
                            std::span<const uint8_t>(bits, bits ? static_cast<size_t>(length) : 0), allowed);
        EVP_PKEY* key = X509_get_pubkey(cert);
        if (!key) Fail("Could not load public key X509");
        if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
            EVP_PKEY_free(key);
            Fail("Could not load RSA public key");
        }
        slot.key.reset(key);
        slot.cert = std::move(owned);
    }
    void LoadPrivateKey(std::span<const uint8_t> data, const std::string& password) override {
        private_ = ReadPrivateKey(data, password);
    }
    size_t RSASize(TCertificateUsage usage) override {
        EVP_PKEY* key = usage == TCertificateUsage::cuUseRemoteKey ? remote_.key.get()
                                                                   : (local_.key ? local_.key.get() : private_.get());
        if (!key) Fail("unknown Certificate");
        return static_cast<size_t>(EVP_PKEY_get_size(key));
    }
    std::string getCertificateApplicationName(TCertificateUsage usage) override {
        X509* cert = (usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_).cert.get();
        if (!cert) Fail("unknown Certificate");
        std::string uri;
        auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
        for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
            if (name->type == GEN_URI && uri.empty()) {
                const ASN1_IA5STRING* s = name->d.uniformResourceIdentifier;
                uri.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), static_cast<size_t>(ASN1_STRING_length(s)));
            }
        }
        GENERAL_NAMES_free(names);
        return uri;
    }
    Bytes EncryptRsa(std::span<const uint8_t> plain, size_t plainBlockSize, size_t keySize) override {
        if (!remote_.key || plainBlockSize == 0 || plain.size() % plainBlockSize != 0) Fail("init encrypt");
        std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(remote_.key.get(), nullptr));
        if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) <= 0) Fail("init encrypt");
        SetPadding(ctx.get(), encryptPadding_, encryptHash_);
        Bytes out;
        for (size_t at = 0; at < plain.size(); at += plainBlockSize) {
            size_t length = keySize;
            Bytes block(keySize);
            if (EVP_PKEY_encrypt(ctx.get(), block.data(), &length, plain.data() + at, plainBlockSize) <= 0 ||
                length != keySize)
                Fail("encrypt error");
            out.insert(out.end(), block.begin(), block.end());
        }
        return out;
    }
    Bytes DecryptRsa(std::span<const uint8_t> cipher, size_t, size_t keySize) override {
        if (!private_ || keySize == 0 || cipher.size() % keySize != 0) Fail("init decrypt");
        std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(private_.get(), nullptr));
        if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0) Fail("init decrypt");
        SetPadding(ctx.get(), decryptPadding_, decryptHash_);
        Bytes out;
        for (size_t at = 0; at < cipher.size(); at += keySize) {
            Bytes block(keySize);
            size_t length = keySize;
            if (EVP_PKEY_decrypt(ctx.get(), block.data(), &length, cipher.data() + at, keySize) <= 0)
                Fail("decrypt error pos " + std::to_string(at) + " keySize: " + std::to_string(keySize) +
                     " text length: " + std::to_string(cipher.size() - at));
            out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
        }
        return out;
    }
    Bytes Sign_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data) override {
        if (!private_) Fail("unknown Certificate");
        return SignWith(private_.get(), padding, hash, data);
    }
    Bytes Sign_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
                   std::span<const uint8_t> privateKey, const std::string& password) override {
        const Pkey key = ReadPrivateKey(privateKey, password);
        return SignWith(key.get(), padding, hash, data);
    }
    bool Verify_Rsa(TRSAPadding padding, THashAlgorithm hash, std::span<const uint8_t> data,
                    std::span<const uint8_t> signature) override {
        if (!remote_.key) return false;
        std::unique_ptr<EVP_MD_CTX, MdCtxFree> md(EVP_MD_CTX_new());
        EVP_PKEY_CTX* pctx = nullptr;
        if (!md || EVP_DigestVerifyInit(md.get(), &pctx, Digest(hash), nullptr, remote_.key.get()) <= 0) return false;
        if (padding == TRSAPadding::rpPSS &&
            (EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) <= 0 ||
             EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, RSA_PSS_SALTLEN_DIGEST) <= 0))
            return false;
        const bool ok = EVP_DigestVerify(md.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
        ERR_clear_error();
        return ok;
    }
    bool HasCertificate(TCertificateUsage usage) override {
        return (usage == TCertificateUsage::cuUseRemoteKey ? remote_ : local_).cert != nullptr;
    }

    // --- symmetric
    void InitSymmetricSign(THashAlgorithm hash, std::span<const uint8_t> key) override {
        signHash_ = hash;
        signKey_.assign(key.begin(), key.end());
    }
    Bytes SymmetricSign(std::span<const uint8_t> data) override { return Mac(signHash_, signKey_, data); }
    void InitSymmetricVerify(THashAlgorithm hash, std::span<const uint8_t> key) override {
        verifyHash_ = hash;
        verifyKey_.assign(key.begin(), key.end());
    }
    bool SymmetricVerify(std::span<const uint8_t> data, std::span<const uint8_t> mac) override {
        return !verifyKey_.empty() && ConstantTimeEquals(Mac(verifyHash_, verifyKey_, data), mac);
    }
    void InitEncryptSymm(TSymmAlgorithm algorithm, std::span<const uint8_t> key, std::span<const uint8_t> iv) override {
        encrypt_ = {Cipher(algorithm, key.size()), Bytes(key.begin(), key.end()), Bytes(iv.begin(), iv.end())};
    }
    void encryptSymm(std::span<const uint8_t> in, std::span<uint8_t> out) override { Run(encrypt_, true, in, out); }
    void InitDecryptSymm(TSymmAlgorithm algorithm, std::span<const uint8_t> key, std::span<const uint8_t> iv) override {
        decrypt_ = {Cipher(algorithm, key.size()), Bytes(key.begin(), key.end()), Bytes(iv.begin(), iv.end())};
    }
    void DecryptSymm(std::span<const uint8_t> in, std::span<uint8_t> out) override { Run(decrypt_, false, in, out); }

private:
    struct KeySlot {
        std::unique_ptr<X509, X509Free> cert;
        Pkey key;
    };
    struct CipherState {
        const EVP_CIPHER* cipher = nullptr;
        Bytes key, iv;
    };

    static Bytes Mac(THashAlgorithm hash, const Bytes& key, std::span<const uint8_t> data) {
        unsigned int length = 0;
        Bytes out(EVP_MAX_MD_SIZE);
        if (!HMAC(Digest(hash), key.data(), static_cast<int>(key.size()), data.data(), data.size(), out.data(), &length))
            Fail("unknown HashFunction");
        out.resize(length);
        return out;
    }
    static const EVP_CIPHER* Cipher(TSymmAlgorithm algorithm, size_t keySize) {
        if (algorithm == TSymmAlgorithm::saAES128 && keySize == 16) return EVP_aes_128_cbc();
        if (algorithm == TSymmAlgorithm::saAES256 && keySize == 32) return EVP_aes_256_cbc();
        Fail("unknown AES function");
    }
    static void Run(const CipherState& state, bool encrypt, std::span<const uint8_t> in, std::span<uint8_t> out) {
        if (!state.cipher || in.size() % 16 != 0 || out.size() < in.size()) Fail("unknown AES function");
        std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
        int length = 0, final = 0;
        if (!ctx || EVP_CipherInit_ex(ctx.get(), state.cipher, nullptr, state.key.data(), state.iv.data(), encrypt ? 1 : 0) != 1)
            Fail(encrypt ? "EncryptUpdate" : "EVP_DecryptUpdate");
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
        if (EVP_CipherUpdate(ctx.get(), out.data(), &length, in.data(), static_cast<int>(in.size())) != 1)
            Fail(encrypt ? "EncryptUpdate" : "EVP_DecryptUpdate");
        if (EVP_CipherFinal_ex(ctx.get(), out.data() + length, &final) != 1)
            Fail(encrypt ? "EncryptFinal" : "EVP_DecryptFinal");
    }

    KeySlot remote_, local_;
    Pkey private_;
    TRSAPadding encryptPadding_ = TRSAPadding::rpPKCS, decryptPadding_ = TRSAPadding::rpPKCS;
    THashAlgorithm encryptHash_ = THashAlgorithm::SHA1, decryptHash_ = THashAlgorithm::SHA1;
    THashAlgorithm signHash_ = THashAlgorithm::SHA1, verifyHash_ = THashAlgorithm::SHA1;
    Bytes signKey_, verifyKey_;
    CipherState encrypt_, decrypt_;
};

}  // namespace

std::unique_ptr<uaMessageSecurityImpl> CreateOpenSslBackend() { return std::make_unique<TIndy_OpenSSL>(); }

}  // namespace vela::ua::security
