// The application's own certificate: made once, kept while it serves, made again (the old pair
// kept aside) when it no longer does.
#include <gtest/gtest.h>

#include <filesystem>

#include "ua/security/OwnCertificate.h"
#include "ua/security/X509.h"

namespace vela::ua::security {
namespace {

TEST(OwnCertificate, IsMadeOnceAndAgainOnlyWhenItNoLongerServes) {
    const std::string root = ::testing::TempDir() + "vela-own-certificate";
    std::filesystem::remove_all(root);
    const TCertificateStore store(root);
    TOwnCertificateRequest request{"Vela Gateway", "urn:plant-pc:VelaUA:Vela Gateway", "plant-pc"};
    const TOwnCertificate first = LoadOrCreateOwnCertificate(store, request);
    EXPECT_TRUE(first.made);
    const TX509Certificate certificate = TX509Certificate::Load(first.certificate);
    EXPECT_EQ(certificate.ApplicationUri(), request.applicationUri);
    EXPECT_EQ(certificate.DnsNames(), (std::vector<std::string>{"plant-pc", "localhost"}));
    EXPECT_EQ(certificate.fPublicKey.SizeBits(), 2048u);
    EXPECT_EQ(LoadPrivateKey(first.privateKey).fModulus, certificate.fPublicKey.fModulus);

    const TOwnCertificate again = LoadOrCreateOwnCertificate(store, request);
    EXPECT_FALSE(again.made);
    EXPECT_EQ(again.certificate, first.certificate);

    request.applicationUri = "urn:renamed-pc:VelaUA:Vela Gateway";  // the machine got another name
    const TOwnCertificate renamed = LoadOrCreateOwnCertificate(store, request);
    EXPECT_TRUE(renamed.made);
    EXPECT_NE(renamed.certificate, first.certificate);
    EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(first.certificatePath + ".old")));
    EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(first.keyPath + ".old")));
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace vela::ua::security
