// Server certificates judged against a store: certificates made by the openssl tool for each
// way a certificate can fail, and the store's own handling of rejected ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "ua/security/CertificateBuilder.h"
#include "ua/security/CertificateValidation.h"
#include "ua/security/KeyGeneration.h"

namespace vela::ua::security {
namespace {
namespace fs = std::filesystem;

class CertificateValidation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        made_ = ::testing::TempDir() + "vela-trust-certs-" + std::to_string(getpid());
        const std::string command = std::string("bash '") + VELA_TRUST_SCRIPT + "' '" + made_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(made_, ignored);
    }
    void SetUp() override {
        root_ = ::testing::TempDir() + "vela-store-" + std::to_string(getpid());
        fs::remove_all(root_);
        store_ = TCertificateStore(root_);
        store_.Create();
    }
    void TearDown() override { fs::remove_all(root_); }

    static Bytes Made(const std::string& name) {
        std::ifstream in(made_ + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void Put(TStoreFolder folder, const std::string& name) {
        fs::copy_file(made_ + "/" + name, store_.Folder(folder) + "/" + name);
    }
    TCertificateVerdict Check(const Bytes& chain, TuaSecurePolicy policy = TuaSecurePolicy::uaSPBasic256Sha256) {
        TCertificateCheckContext context;
        context.policy = policy;
        context.applicationUri = "urn:vela:trust:server";
        context.hostName = "localhost";
        return ValidateCertificate(store_, chain, context);
    }

    static inline std::string made_;
    std::string root_;
    TCertificateStore store_;
};

struct Case {
    const char* certificate;
    std::vector<std::pair<TStoreFolder, const char*>> store;
    uint32_t status;
};

TEST_F(CertificateValidation, EachFaultHasItsOwnVerdict) {
    using enum TStoreFolder;
    const Case cases[] = {
        {"self.der", {{TrustedCerts, "self.der"}}, 0},
        {"self.der", {}, kBadCertificateUntrusted},
        {"self.der", {{TrustedCerts, "other.der"}}, kBadCertificateUntrusted},
        {"expired.der", {{TrustedCerts, "expired.der"}}, kBadCertificateTimeInvalid},
        {"not_yet_valid.der", {{TrustedCerts, "not_yet_valid.der"}}, kBadCertificateTimeInvalid},
        {"wrong_uri.der", {{TrustedCerts, "wrong_uri.der"}}, kBadCertificateUriInvalid},
        {"wrong_host.der", {{TrustedCerts, "wrong_host.der"}}, kBadCertificateHostNameInvalid},
        {"signing_only.der", {{TrustedCerts, "signing_only.der"}}, kBadCertificateUseNotAllowed},
        {"short.der", {{TrustedCerts, "short.der"}}, kBadCertificatePolicyCheckFailed},
        {"sha1.der", {{TrustedCerts, "sha1.der"}}, kBadCertificatePolicyCheckFailed},
        // through a trusted CA, the server's own certificate unknown
        {"by_root.der", {{TrustedCerts, "root.der"}}, 0},
        {"by_root.der", {{IssuerCerts, "root.der"}}, kBadCertificateUntrusted},
        {"by_root.der", {}, kBadCertificateChainIncomplete},
        {"by_intermediate.der", {{TrustedCerts, "root.der"}, {IssuerCerts, "intermediate.der"}}, 0},
        {"by_intermediate.der", {{TrustedCerts, "root.der"}}, kBadCertificateChainIncomplete},
        {"by_intermediate.der",
         {{TrustedCerts, "root.der"}, {IssuerCerts, "intermediate.der"}, {TrustedCrls, "root.crl"}},
         kBadCertificateIssuerRevoked},
        // a list of another issuer is no reason to refuse
        {"by_root.der", {{TrustedCerts, "root.der"}, {IssuerCrls, "root.crl"}}, 0},
        // a CA certificate is no server certificate
        {"root.der", {{TrustedCerts, "root.der"}}, kBadCertificateHostNameInvalid},
        {"client_only.der", {{TrustedCerts, "client_only.der"}}, kBadCertificateUseNotAllowed},
        {"strange_critical.der", {{TrustedCerts, "strange_critical.der"}}, kBadCertificateUseNotAllowed},
        {"by_narrow_intermediate.der",
         {{TrustedCerts, "narrow_root.der"}, {IssuerCerts, "narrow_intermediate.der"}},
         kBadCertificateIssuerUseNotAllowed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificate + std::string(" with ") + std::to_string(c.store.size()) + " stored");
        fs::remove_all(root_);
        store_.Create();
        for (const auto& [folder, name] : c.store) Put(folder, name);
        const TCertificateVerdict verdict = Check(Made(c.certificate));
        EXPECT_EQ(verdict.status, c.status) << verdict.reason;
        EXPECT_EQ(verdict.Good(), verdict.reason.empty()) << verdict.reason;
    }
}

TEST_F(CertificateValidation, AnOutdatedRevocationListLeavesTheRevocationUnknown) {
    Put(TStoreFolder::TrustedCerts, "root.der");
    Put(TStoreFolder::TrustedCrls, "root.crl");  // the root's, current for 30 days
    TCertificateCheckContext context;
    context.policy = TuaSecurePolicy::uaSPBasic256Sha256;
    EXPECT_TRUE(ValidateCertificate(store_, Made("by_root.der"), context).Good());
    context.now = NowUtc() + 60;
    EXPECT_EQ(ValidateCertificate(store_, Made("by_root.der"), context).status, kBadCertificateRevocationUnknown);
    Put(TStoreFolder::IssuerCerts, "intermediate.der");
    EXPECT_EQ(ValidateCertificate(store_, Made("by_intermediate.der"), context).status, kBadCertificateIssuerRevoked);
}

TEST_F(CertificateValidation, TheIntermediateMayComeWithTheServersCertificate) {
    Put(TStoreFolder::TrustedCerts, "root.der");
    Bytes chain = Made("by_intermediate.der");
    const Bytes intermediate = Made("intermediate.der");
    chain.insert(chain.end(), intermediate.begin(), intermediate.end());
    const TCertificateVerdict verdict = Check(chain);
    EXPECT_TRUE(verdict.Good()) << verdict.reason;
    EXPECT_EQ(verdict.certificate.CommonName(), "Vela Trust By Intermediate");
}

TEST_F(CertificateValidation, TheOlderPoliciesStillAcceptSha1AndShortKeys) {
    for (const char* name : {"sha1.der", "short.der"}) Put(TStoreFolder::TrustedCerts, name);
    EXPECT_TRUE(Check(Made("sha1.der"), TuaSecurePolicy::uaSPBasic256).Good());
    EXPECT_TRUE(Check(Made("short.der"), TuaSecurePolicy::uaSPBasic128Rsa15).Good());
    EXPECT_EQ(Check(Made("short.der"), TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep).status,
              kBadCertificatePolicyCheckFailed);
}

TEST_F(CertificateValidation, ForgedBytesAreRefused) {
    Put(TStoreFolder::TrustedCerts, "self.der");
    Bytes tampered = Made("self.der");
    tampered[tampered.size() - 10] ^= 1;  // in the signature
    EXPECT_EQ(Check(tampered).status, kBadCertificateInvalid);
    // another key's signature under the trusted one's name
    fs::remove_all(root_);
    store_.Create();
    Put(TStoreFolder::TrustedCerts, "root.der");
    EXPECT_NE(Check(Made("by_intermediate.der")).status, 0u);
    for (const Bytes& junk : {Bytes{}, Bytes{0x30, 0x03, 0x02, 0x01}, Bytes(100, 0x30)})
        EXPECT_EQ(Check(junk).status, kBadCertificateInvalid);
}

TEST_F(CertificateValidation, ARejectedCertificateIsTrustedByItsThumbprint) {
    const TX509Certificate certificate = TX509Certificate::Load(Made("self.der"));
    const std::string path = store_.Add(TStoreFolder::RejectedCerts, certificate);
    EXPECT_NE(path.find("Vela Trust Server [" + certificate.ThumbprintHEX() + "].der"), std::string::npos);
    ASSERT_EQ(store_.Certificates(TStoreFolder::RejectedCerts).size(), 1u);
    EXPECT_FALSE(store_.TrustRejected("00112233"));
    std::string lower = certificate.ThumbprintHEX();
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(store_.TrustRejected(lower));
    EXPECT_TRUE(store_.Certificates(TStoreFolder::RejectedCerts).empty());
    EXPECT_TRUE(store_.Contains(TStoreFolder::TrustedCerts, certificate));
    EXPECT_TRUE(Check(Made("self.der")).Good());
}

TEST_F(CertificateValidation, RejectedCertificatesAreKeptToTheNewestHundred) {
    const TRSAPrivateKey key = GenerateRsaKey(2048);
    TCertificateRequest request{"Changing", "", "urn:changing", {}, {}, NowUtc() - 1, NowUtc() + 1};
    std::string newest;
    for (int i = 0; i < 105; ++i)  // a new serial, so a new certificate, each time
        newest = store_.Add(TStoreFolder::RejectedCerts,
                            TX509Certificate::Load(CreateSelfSignedCertificate(key, request)));
    EXPECT_EQ(store_.Certificates(TStoreFolder::RejectedCerts).size(), 100u);
    EXPECT_TRUE(fs::exists(newest));
}

TEST_F(CertificateValidation, StrayFilesInTheStoreAreIgnored) {
    std::ofstream(store_.Folder(TStoreFolder::TrustedCerts) + "/junk.der") << "not a certificate";
    std::ofstream(store_.Folder(TStoreFolder::TrustedCrls) + "/junk.crl") << "not a list";
    Put(TStoreFolder::TrustedCerts, "self.pem");
    EXPECT_TRUE(Check(Made("self.der")).Good());
}

TEST_F(CertificateValidation, HostNamesAndAddressesAreMatchedAsNames) {
    Put(TStoreFolder::TrustedCerts, "self.der");
    TCertificateCheckContext context;
    context.policy = TuaSecurePolicy::uaSPBasic256Sha256;
    for (const auto& [host, good] : std::vector<std::pair<std::string, bool>>{
             {"localhost", true}, {"LOCALHOST", true}, {"127.0.0.1", true}, {"127.0.0.2", false},
             {"127.0.0.1.example", false}, {"localhost.example", false}, {"::1", false}, {"", true}}) {
        context.hostName = host;
        EXPECT_EQ(ValidateCertificate(store_, Made("self.der"), context).Good(), good) << host;
    }
    Put(TStoreFolder::TrustedCerts, "ipv6.der");
    for (const auto& [host, good] : std::vector<std::pair<std::string, bool>>{
             {"::1", true}, {"0:0:0:0:0:0:0:1", true}, {"fe80::1%eth0", true}, {"fe80::2", false}, {"127.0.0.1", false}}) {
        context.hostName = host;
        EXPECT_EQ(ValidateCertificate(store_, Made("ipv6.der"), context).Good(), good) << host;
    }
}

}  // namespace
}  // namespace vela::ua::security
