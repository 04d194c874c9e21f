// Certificates whose keys a client must refuse before sizing chunks or running RSA with them,
// on every back-end built in, with the same words from each.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "HexUtil.h"
#include "base/Exception.h"
#include "ua/security/SecurityBackend.h"
#include "ua/security/SecurityPolicy.h"
#include "ua/security/X509.h"

namespace vela::ua::security {
namespace {

Bytes ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// --- just enough DER to write a certificate around any subject public key

Bytes Tlv(uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        Bytes length;
        for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Seq(std::initializer_list<Bytes> items, uint8_t tag = 0x30) {
    Bytes content;
    for (const Bytes& item : items) content.insert(content.end(), item.begin(), item.end());
    return Tlv(tag, content);
}

// A non-negative INTEGER from unsigned big-endian bytes.
Bytes Integer(Bytes value) {
    while (value.size() > 1 && value[0] == 0) value.erase(value.begin());
    if (value.empty() || (value[0] & 0x80)) value.insert(value.begin(), 0);
    return Tlv(0x02, value);
}

const Bytes kNull = {0x05, 0x00};
const Bytes kRsaEncryption = Tlv(0x06, Hex("2A864886F70D010101"));
const Bytes kSha256WithRsa = Tlv(0x06, Hex("2A864886F70D01010B"));

Bytes Name(const std::string& commonName) {
    if (commonName.empty()) return Seq({});
    return Seq({Seq({Seq({Tlv(0x06, Hex("550403")), Tlv(0x0C, Text(commonName))})}, 0x31)});
}

// Self-issued and signed with nonsense: loading a certificate does not check its signature.
Bytes Certificate(const Bytes& subjectPublicKeyInfo, const std::string& commonName = "Crafted") {
    const Bytes algorithm = Seq({kSha256WithRsa, kNull});
    const Bytes tbs = Seq({Seq({Integer({2})}, 0xA0), Integer({0x12, 0x34}), algorithm, Name(commonName),
                           Seq({Tlv(0x17, Text("250101000000Z")), Tlv(0x17, Text("350101000000Z"))}),
                           Name(commonName), subjectPublicKeyInfo});
    Bytes signature(65, 0x5A);
    signature[0] = 0;
    return Seq({tbs, algorithm, Tlv(0x03, signature)});
}

Bytes BitString(const Bytes& content) {
    Bytes bits{0};
    bits.insert(bits.end(), content.begin(), content.end());
    return Tlv(0x03, bits);
}

// The INTEGERs are given as written, so that they can be empty or negative.
Bytes RsaCertificate(const Bytes& modulus, const Bytes& exponent, const std::string& commonName = "Crafted") {
    return Certificate(Seq({Seq({kRsaEncryption, kNull}), BitString(Seq({modulus, exponent}))}), commonName);
}

Bytes GoodModulus() { return Integer(TX509Certificate::Load(ReadFile("cert2048.der")).fPublicKey.fModulus); }

Bytes Exponent(uint64_t value) {
    Bytes bytes;
    for (; value; value >>= 8) bytes.insert(bytes.begin(), static_cast<uint8_t>(value));
    return Integer(bytes);
}

std::vector<TuaSecurityLib> Libraries() {
    std::vector<TuaSecurityLib> libraries{TuaSecurityLib::uaSNative};
    if (IsSecurityBackendAvailable(TuaSecurityLib::uaSOpenSSL)) libraries.push_back(TuaSecurityLib::uaSOpenSSL);
    return libraries;
}

const char* NameOf(TuaSecurityLib library) { return library == TuaSecurityLib::uaSNative ? "native" : "OpenSSL"; }

// The message of the refusal; the test fails when the certificate loads or something else is raised.
std::string Refusal(TuaSecurityLib library, const Bytes& der, TCertificateUsage usage = TCertificateUsage::cuUseRemoteKey,
                    const TRSAKeyBits& allowed = {}) {
    auto backend = CreateSecurityBackend(library);
    try {
        backend->Asym().LoadPublicCertificate(der, usage, allowed);
    } catch (const uaCertificateKeyError& e) {
        EXPECT_FALSE(backend->Asym().HasCertificate(usage)) << NameOf(library);
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << NameOf(library) << " raised another error: " << e.what();
        return {};
    }
    ADD_FAILURE() << NameOf(library) << " loaded the certificate";
    return {};
}

struct RefusedCase {
    const char* what;
    Bytes der;
    std::string message;
};

TEST(CertificateKeys, UnusableKeysAreRefusedAtLoadByEveryBackend) {
    Bytes huge(16000, 0xFF);
    huge[0] = 0x7F;
    const Bytes modulus = GoodModulus();
    const std::vector<RefusedCase> cases = {
        {"EC P-256", ReadFile("cert_ec256.der"),
         "The server certificate (CN=Vela Test P-256) has no RSA key (id-ecPublicKey)"},
        {"RSA-512", ReadFile("cert512.der"),
         "The server certificate (CN=Vela Test 512) has a 512-bit RSA key; 1024 to 4096 bits are allowed"},
        {"even exponent", RsaCertificate(modulus, Exponent(65536)),
         "The server certificate (CN=Crafted) has an even RSA public exponent"},
        {"exponent 1", RsaCertificate(modulus, Exponent(1)),
         "The server certificate (CN=Crafted) has the RSA public exponent 1"},
        {"exponent 2^32 + 1", RsaCertificate(modulus, Exponent((uint64_t{1} << 32) + 1)),
         "The server certificate (CN=Crafted) has an RSA public exponent above 2^32 (33 bits)"},
        {"16000-byte exponent", RsaCertificate(modulus, Tlv(0x02, huge)),
         "The server certificate (CN=Crafted) has an RSA public exponent above 2^32 (127999 bits)"},
        {"empty modulus", RsaCertificate(Tlv(0x02, {}), Exponent(65537)),
         "The server certificate (CN=Crafted) has an empty RSA modulus"},
        {"zero modulus", RsaCertificate(Integer({0}), Exponent(65537)),
         "The server certificate (CN=Crafted) has an empty RSA modulus"},
        {"negative modulus", RsaCertificate(Tlv(0x02, {0x80, 0x01}), Exponent(65537)),
         "The server certificate (CN=Crafted) has a negative RSA modulus"},
        {"even modulus", RsaCertificate(Integer(Bytes(256, 0xFE)), Exponent(65537)),
         "The server certificate (CN=Crafted) has an even RSA modulus"},
        {"no exponent", RsaCertificate(modulus, Tlv(0x02, {})),
         "The server certificate (CN=Crafted) has an empty RSA public exponent"},
        {"garbage key", Certificate(Seq({Seq({kRsaEncryption, kNull}), BitString(Hex("0102030405"))})),
         "The server certificate (CN=Crafted) has a malformed RSA key"},
        {"no common name", RsaCertificate(modulus, Exponent(2), ""), "The server certificate has an even RSA public exponent"},
        {"control characters in the name", RsaCertificate(modulus, Exponent(4), "evil\r\nname"),
         "The server certificate (CN=evil??name) has an even RSA public exponent"},
    };
    for (const TuaSecurityLib library : Libraries())
        for (const RefusedCase& c : cases) EXPECT_EQ(Refusal(library, c.der), c.message) << c.what << ", " << NameOf(library);
}

TEST(CertificateKeys, TheClientCertificateIsHeldToTheSameRules) {
    for (const TuaSecurityLib library : Libraries())
        EXPECT_EQ(Refusal(library, ReadFile("cert_ec256.der"), TCertificateUsage::cuUseLocalKey),
                  "The client certificate (CN=Vela Test P-256) has no RSA key (id-ecPublicKey)")
            << NameOf(library);
}

TEST(CertificateKeys, AHugeExponentIsRefusedWithoutComputing) {
    Bytes huge(16000, 0xFF);
    huge[0] = 0x7F;
    const Bytes der = RsaCertificate(GoodModulus(), Tlv(0x02, huge));
    for (const TuaSecurityLib library : Libraries()) {
        const auto start = std::chrono::steady_clock::now();
        Refusal(library, der);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << NameOf(library);
    }
}

TEST(CertificateKeys, FitCraftedKeysLoad) {
    // the same writer with fit values, so the refusals above are down to the key alone
    for (const TuaSecurityLib library : Libraries())
        for (const uint64_t e : {uint64_t{3}, uint64_t{65537}, uint64_t{0xFFFFFFFF}}) {
            auto backend = CreateSecurityBackend(library);
            EXPECT_NO_THROW(backend->Asym().LoadPublicCertificate(RsaCertificate(GoodModulus(), Exponent(e)),
                                                                  TCertificateUsage::cuUseRemoteKey))
                << e << ", " << NameOf(library);
            EXPECT_EQ(backend->Asym().RSASize(TCertificateUsage::cuUseRemoteKey), 256u) << NameOf(library);
        }
}

TEST(CertificateKeys, TheTestCertificatesStillLoad) {
    const std::pair<const char*, size_t> files[] = {
        {"cert1024.der", 128}, {"cert2048.der", 256}, {"cert4096.der", 512}, {"cert_far.der", 256}, {"pki_cert.der", 256}};
    for (const TuaSecurityLib library : Libraries())
        for (const auto& [file, size] : files)
            for (const auto usage : {TCertificateUsage::cuUseRemoteKey, TCertificateUsage::cuUseLocalKey}) {
                auto backend = CreateSecurityBackend(library);
                EXPECT_NO_THROW(backend->Asym().LoadPublicCertificate(ReadFile(file), usage)) << file;
                EXPECT_EQ(backend->Asym().RSASize(usage), size) << file << ", " << NameOf(library);
            }
}

TEST(CertificateKeys, APolicyNarrowsTheKeyLengths) {
    using P = TuaSecurePolicy;
    EXPECT_EQ(RsaKeyBits(P::uaSPBasic128Rsa15).min, 1024u);
    EXPECT_EQ(RsaKeyBits(P::uaSPBasic256).max, 2048u);
    EXPECT_EQ(RsaKeyBits(P::uaSPAes256_Sha256_RsaPss).min, 2048u);
    EXPECT_EQ(RsaKeyBits(P::uaSPNone).min, 1024u);
    EXPECT_EQ(RsaKeyBits(P::uaSPNone).max, 4096u);
    for (const TuaSecurityLib library : Libraries()) {
        for (const P policy : {P::uaSPBasic256Sha256, P::uaSPAes128_Sha256_RsaOaep, P::uaSPAes256_Sha256_RsaPss})
            EXPECT_EQ(Refusal(library, ReadFile("cert1024.der"), TCertificateUsage::cuUseRemoteKey, RsaKeyBits(policy)),
                      "The server certificate (CN=Vela Test 1024) has a 1024-bit RSA key; 2048 to 4096 bits are allowed");
        for (const P policy : {P::uaSPBasic128Rsa15, P::uaSPBasic256})
            EXPECT_EQ(Refusal(library, ReadFile("cert4096.der"), TCertificateUsage::cuUseRemoteKey, RsaKeyBits(policy)),
                      "The server certificate (CN=Vela Test 4096) has a 4096-bit RSA key; 1024 to 2048 bits are allowed");
        for (int p = static_cast<int>(P::uaSPBasic128Rsa15); p <= static_cast<int>(P::uaSPAes256_Sha256_RsaPss); ++p) {
            auto backend = CreateSecurityBackend(library);
            EXPECT_NO_THROW(backend->Asym().LoadPublicCertificate(ReadFile("cert2048.der"), TCertificateUsage::cuUseRemoteKey,
                                                                  RsaKeyBits(static_cast<P>(p))));
        }
    }
}

TEST(CertificateKeys, ARefusalEmptiesTheSlot) {
    // a refused replacement must not leave the previous server's key in use
    for (const TuaSecurityLib library : Libraries()) {
        auto backend = CreateSecurityBackend(library);
        backend->Asym().LoadPublicCertificate(ReadFile("cert2048.der"), TCertificateUsage::cuUseRemoteKey);
        EXPECT_THROW(backend->Asym().LoadPublicCertificate(ReadFile("cert_ec256.der"), TCertificateUsage::cuUseRemoteKey),
                     uaCertificateKeyError);
        EXPECT_FALSE(backend->Asym().HasCertificate(TCertificateUsage::cuUseRemoteKey)) << NameOf(library);
        EXPECT_THROW(backend->Asym().RSASize(TCertificateUsage::cuUseRemoteKey), vela::Exception) << NameOf(library);
    }
}

TEST(CertificateKeys, TheParserStillReadsOtherKeysCertificates) {
    // reading names and URIs works for any certificate; only using the key is refused
    const TX509Certificate cert = TX509Certificate::Load(ReadFile("cert_ec256.der"));
    EXPECT_EQ(cert.fPublicKeyAlgorithm, "1.2.840.10045.2.1");
    EXPECT_EQ(cert.CommonName(), "Vela Test P-256");
    EXPECT_TRUE(cert.fPublicKey.fModulus.empty());
    EXPECT_THROW(CheckCertificateKey("server", cert.CommonName(), cert.fPublicKeyAlgorithm, cert.fPublicKeyData, {}),
                 uaCertificateKeyError);
}

}  // namespace
}  // namespace vela::ua::security
