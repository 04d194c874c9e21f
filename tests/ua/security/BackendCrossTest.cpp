// The built-in back-end against the OpenSSL one, both directions, for every policy's choices.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <fstream>
#include <iterator>

#include "HexUtil.h"
#include "base/Exception.h"
#include "ua/security/Hmac.h"
#include "ua/security/Random.h"
#include "ua/security/SecurityBackend.h"

namespace vela::ua::security {
namespace {

Bytes ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Choice {
    int bits;
    TRSAPadding cryptPadding;
    THashAlgorithm cryptHash;
    TRSAPadding signPadding;
    THashAlgorithm signHash;
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.bits; }

// Each back-end holds the key pair as the client and the certificate as the remote side, so
// that one can encrypt for and verify the other.
std::unique_ptr<uaMessageSecurityImpl> Loaded(TuaSecurityLib lib, int bits) {
    auto backend = CreateSecurityBackend(lib);
    const Bytes cert = ReadFile("cert" + std::to_string(bits) + ".der");
    backend->Asym().LoadPublicCertificate(cert, TCertificateUsage::cuUseRemoteKey);
    backend->Asym().LoadPublicCertificate(cert, TCertificateUsage::cuUseLocalKey);
    backend->Asym().LoadPrivateKey(ReadFile("key" + std::to_string(bits) + ".pem"), "");
    return backend;
}

class CrossBackends : public ::testing::TestWithParam<Choice> {};

TEST_P(CrossBackends, EncryptDecryptSignVerifyBothWays) {
    const Choice& c = GetParam();
    auto native = Loaded(TuaSecurityLib::uaSNative, c.bits);
    auto openssl = Loaded(TuaSecurityLib::uaSOpenSSL, c.bits);
    const size_t k = static_cast<size_t>(c.bits / 8);
    EXPECT_EQ(native->Asym().RSASize(TCertificateUsage::cuUseRemoteKey), k);
    EXPECT_EQ(openssl->Asym().RSASize(TCertificateUsage::cuUseRemoteKey), k);
    EXPECT_EQ(native->Asym().getCertificateApplicationName(TCertificateUsage::cuUseLocalKey),
              openssl->Asym().getCertificateApplicationName(TCertificateUsage::cuUseLocalKey));
    const size_t block = RSABlockSize(k, c.cryptPadding, c.cryptHash);
    const Bytes plain = RandomBytes(block * 2);
    for (auto* from : {native.get(), openssl.get()}) {
        auto* to = from == native.get() ? openssl.get() : native.get();
        from->Asym().initRSAEncrypt(TCertificateUsage::cuUseRemoteKey, c.cryptPadding, c.cryptHash);
        to->Asym().initRSADecrypt(TCertificateUsage::cuUseLocalKey, c.cryptPadding, c.cryptHash);
        const Bytes cipher = from->Asym().EncryptRsa(plain, block, k);
        EXPECT_EQ(cipher.size(), 2 * k);
        EXPECT_EQ(to->Asym().DecryptRsa(cipher, block, k), plain);
        const Bytes data = RandomBytes(300);
        const Bytes signature = from->Asym().Sign_Rsa(c.signPadding, c.signHash, data);
        EXPECT_EQ(signature.size(), k);
        EXPECT_TRUE(to->Asym().Verify_Rsa(c.signPadding, c.signHash, data, signature));
        Bytes bad = signature;
        bad[k / 2] ^= 1;
        EXPECT_FALSE(to->Asym().Verify_Rsa(c.signPadding, c.signHash, data, bad));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, CrossBackends,
    ::testing::Values(
        // Basic128Rsa15, Basic256, Basic256Sha256 / Aes128_Sha256_RsaOaep, Aes256_Sha256_RsaPss
        Choice{1024, TRSAPadding::rpPKCS, THashAlgorithm::SHA1, TRSAPadding::rpPKCS, THashAlgorithm::SHA1},
        Choice{2048, TRSAPadding::rpPKCS, THashAlgorithm::SHA1, TRSAPadding::rpPKCS, THashAlgorithm::SHA1},
        Choice{2048, TRSAPadding::rpOAEP, THashAlgorithm::SHA1, TRSAPadding::rpPKCS, THashAlgorithm::SHA1},
        Choice{2048, TRSAPadding::rpOAEP, THashAlgorithm::SHA1, TRSAPadding::rpPKCS, THashAlgorithm::SHA256},
        Choice{2048, TRSAPadding::rpOAEP, THashAlgorithm::SHA256, TRSAPadding::rpPSS, THashAlgorithm::SHA256},
        Choice{4096, TRSAPadding::rpOAEP, THashAlgorithm::SHA1, TRSAPadding::rpPKCS, THashAlgorithm::SHA256},
        Choice{4096, TRSAPadding::rpOAEP, THashAlgorithm::SHA256, TRSAPadding::rpPSS, THashAlgorithm::SHA256},
        Choice{1024, TRSAPadding::rpOAEP, THashAlgorithm::SHA256, TRSAPadding::rpPSS, THashAlgorithm::SHA256}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

TEST(CrossBackends, Pkcs1SignaturesAreTheSameBytes) {
    // PKCS #1 v1.5 signatures are deterministic: an independent implementation must agree exactly
    for (int bits : {1024, 2048, 4096}) {
        auto native = Loaded(TuaSecurityLib::uaSNative, bits);
        auto openssl = Loaded(TuaSecurityLib::uaSOpenSSL, bits);
        const Bytes data = RandomBytes(1000);
        for (THashAlgorithm hash : {THashAlgorithm::SHA1, THashAlgorithm::SHA256})
            EXPECT_EQ(native->Asym().Sign_Rsa(TRSAPadding::rpPKCS, hash, data),
                      openssl->Asym().Sign_Rsa(TRSAPadding::rpPKCS, hash, data))
                << bits;
    }
}

// The blinded private operation, run after run with a new blinding factor each time, against
// OpenSSL: the same PKCS #1 v1.5 signatures, and decryptions of what OpenSSL encrypted.
TEST(CrossBackends, BlindedPrivateOperationsAgreeRunAfterRun) {
    for (int bits : {1024, 2048, 4096}) {
        auto native = Loaded(TuaSecurityLib::uaSNative, bits);
        auto openssl = Loaded(TuaSecurityLib::uaSOpenSSL, bits);
        const size_t k = static_cast<size_t>(bits / 8);
        const size_t block = RSABlockSize(k, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
        openssl->Asym().initRSAEncrypt(TCertificateUsage::cuUseRemoteKey, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
        native->Asym().initRSADecrypt(TCertificateUsage::cuUseLocalKey, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
        const int runs = bits == 4096 ? 4 : 12;
        for (int run = 0; run < runs; ++run) {
            const Bytes data = RandomBytes(200);
            EXPECT_EQ(native->Asym().Sign_Rsa(TRSAPadding::rpPKCS, THashAlgorithm::SHA256, data),
                      openssl->Asym().Sign_Rsa(TRSAPadding::rpPKCS, THashAlgorithm::SHA256, data))
                << bits << " run " << run;
            const Bytes pss = native->Asym().Sign_Rsa(TRSAPadding::rpPSS, THashAlgorithm::SHA256, data);
            EXPECT_TRUE(openssl->Asym().Verify_Rsa(TRSAPadding::rpPSS, THashAlgorithm::SHA256, data, pss))
                << bits << " run " << run;
            const Bytes plain = RandomBytes(block);
            EXPECT_EQ(native->Asym().DecryptRsa(openssl->Asym().EncryptRsa(plain, block, k), block, k), plain)
                << bits << " run " << run;
        }
    }
}

TEST(CrossBackends, UserSecretsArePaddedToWholeBlocks) {
    auto native = Loaded(TuaSecurityLib::uaSNative, 2048);
    auto openssl = Loaded(TuaSecurityLib::uaSOpenSSL, 2048);
    const Bytes secret = RandomBytes(300);  // two OAEP-SHA1 blocks of 214
    const Bytes cipher = EncryptRsaPlainBlockSize(*native, TRSAPadding::rpOAEP, THashAlgorithm::SHA1, secret);
    EXPECT_EQ(cipher.size(), 512u);
    openssl->Asym().initRSADecrypt(TCertificateUsage::cuUseLocalKey, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
    Bytes plain = openssl->Asym().DecryptRsa(cipher, 214, 256);
    ASSERT_EQ(plain.size(), 428u);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 300), secret);
    EXPECT_EQ(Bytes(plain.begin() + 300, plain.end()), Bytes(128, 0));
}

TEST(CrossBackends, SymmetricOperationsAgree) {
    auto native = CreateSecurityBackend(TuaSecurityLib::uaSNative);
    auto openssl = CreateSecurityBackend(TuaSecurityLib::uaSOpenSSL);
    for (const auto& [algorithm, keySize] : {std::pair{TSymmAlgorithm::saAES128, 16}, std::pair{TSymmAlgorithm::saAES256, 32}}) {
        const Bytes key = RandomBytes(static_cast<size_t>(keySize)), iv = RandomBytes(16), plain = RandomBytes(8192);
        native->Sym().InitEncryptSymm(algorithm, key, iv);
        openssl->Sym().InitDecryptSymm(algorithm, key, iv);
        Bytes cipher(plain.size()), back(plain.size());
        native->Sym().encryptSymm(plain, cipher);
        openssl->Sym().DecryptSymm(cipher, back);
        EXPECT_EQ(back, plain);
        openssl->Sym().InitEncryptSymm(algorithm, key, iv);
        Bytes cipher2(plain.size());
        openssl->Sym().encryptSymm(plain, cipher2);
        EXPECT_EQ(cipher2, cipher);
    }
    for (const THashAlgorithm hash : {THashAlgorithm::SHA1, THashAlgorithm::SHA256}) {
        const Bytes key = RandomBytes(32), data = RandomBytes(8192);
        native->Sym().InitSymmetricSign(hash, key);
        openssl->Sym().InitSymmetricVerify(hash, key);
        const Bytes mac = native->Sym().SymmetricSign(data);
        EXPECT_TRUE(openssl->Sym().SymmetricVerify(data, mac));
        openssl->Sym().InitSymmetricSign(hash, key);
        EXPECT_EQ(openssl->Sym().SymmetricSign(data), mac);
    }
}

Bytes OpenSslPrf(const char* digest, const Bytes& secret, const Bytes& seed, size_t length) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    OSSL_PARAM params[4];
    params[0] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest), 0);
    params[1] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<uint8_t*>(secret.data()), secret.size());
    params[2] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<uint8_t*>(seed.data()), seed.size());
    params[3] = OSSL_PARAM_construct_end();
    Bytes out(length);
    const int ok = EVP_KDF_derive(ctx, out.data(), length, params);
    EVP_KDF_CTX_free(ctx);
    EVP_KDF_free(kdf);
    if (ok <= 0) throw vela::Exception("the OpenSSL PRF failed");
    return out;
}

TEST(CrossBackends, KeyDerivationMatchesTheTlsPrf) {
    const Bytes clientNonce = RandomBytes(32), serverNonce = RandomBytes(32);
    EXPECT_EQ(PSHA_impl(THashAlgorithm::SHA256, {}, serverNonce, clientNonce, 0, 80),
              OpenSslPrf("SHA256", serverNonce, clientNonce, 80));
    EXPECT_EQ(PSHA_impl(THashAlgorithm::SHA1, {}, clientNonce, serverNonce, 0, 72),
              OpenSslPrf("SHA1", clientNonce, serverNonce, 72));
}

TEST(Backends, OpenSslReadsEncryptedKeysTheNativeOneRefuses) {
    auto openssl = CreateSecurityBackend(TuaSecurityLib::uaSOpenSSL);
    EXPECT_NO_THROW(openssl->Asym().LoadPrivateKey(ReadFile("key2048.encrypted.pem"), "secret"));
    EXPECT_THROW(openssl->Asym().LoadPrivateKey(ReadFile("key2048.encrypted.pem"), "wrong"), vela::Exception);
    auto native = CreateSecurityBackend(TuaSecurityLib::uaSNative);
    EXPECT_THROW(native->Asym().LoadPrivateKey(ReadFile("key2048.encrypted.pem"), "secret"), vela::Exception);
    EXPECT_THROW(openssl->Asym().LoadPublicCertificate({}, TCertificateUsage::cuUseRemoteKey), vela::Exception);
}

}  // namespace
}  // namespace vela::ua::security
