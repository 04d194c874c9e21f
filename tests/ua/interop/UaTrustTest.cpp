// Trust in node-opcua's certificate: refused while unknown, trusted by hand or on first use, and
// the client's own certificate made on first use and accepted by the server.
#include <gtest/gtest.h>

#include <filesystem>

#include "NodeOpcuaServer.h"
#include "ua/security/CertificateBuilder.h"
#include "ua/security/CertificateStore.h"
#include "ua/security/KeyGeneration.h"

namespace vela::ua {
namespace {

using security::TCertificateStore;
using security::TStoreFolder;
using security::TuaSecureMode;
using security::TuaSecurePolicy;

class ServerTrust : public NodeOpcuaServer {
protected:
    void SetUp() override {
        root_ = PkiFolder() + "-trust";
        std::filesystem::remove_all(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    void Secured(TVelaUAClient& client, TServerTrust mode = TServerTrust::Validate) {
        Configure(client, TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSignAndEncrypt);
        client.ServerTrust = {root_, mode};
    }
    std::string root_;
};

TEST_F(ServerTrust, AnUnknownServerIsRefusedUntilItsCertificateIsTrusted) {
    const TCertificateStore store(root_);
    {
        TVelaUAClient client;
        Secured(client);
        const std::string error = ConnectError(client);
        EXPECT_NE(error.find("is not trusted"), std::string::npos) << error;
        EXPECT_EQ(client.ServerCertificateVerdict().status, security::kBadCertificateUntrusted);
    }
    const auto rejected = store.Certificates(TStoreFolder::RejectedCerts);
    ASSERT_EQ(rejected.size(), 1u);
    ASSERT_TRUE(store.TrustRejected(rejected[0].ThumbprintHEX()));
    TVelaUAClient client;
    Secured(client);
    EXPECT_EQ(ConnectError(client), "");
    EXPECT_TRUE(client.ServerCertificateVerdict().Good());
}

TEST_F(ServerTrust, TrustOnFirstUseTakesOnlyTheFirstCertificateOfAServer) {
    const TCertificateStore store(root_);
    for (int use = 0; use < 2; ++use) {
        TVelaUAClient client;
        Secured(client, TServerTrust::TrustOnFirstUse);
        EXPECT_EQ(ConnectError(client), "") << use;
        EXPECT_EQ(store.Certificates(TStoreFolder::TrustedCerts).size(), 1u);
    }
    // another certificate for the same application trusted before: this one is an impostor's
    std::filesystem::remove_all(root_);
    const auto real = security::TX509Certificate::Load(ServerCertificate());
    security::TCertificateRequest request;
    request.commonName = "Earlier";
    request.applicationUri = real.ApplicationUri();
    request.notBefore = NowUtc() - 1;
    request.notAfter = NowUtc() + 30;
    store.Add(TStoreFolder::TrustedCerts, security::TX509Certificate::Load(security::CreateSelfSignedCertificate(
                                              security::GenerateRsaKey(2048), request)));
    TVelaUAClient client;
    Secured(client, TServerTrust::TrustOnFirstUse);
    const std::string error = ConnectError(client);
    EXPECT_NE(error.find("is not trusted"), std::string::npos) << error;
    EXPECT_EQ(store.Certificates(TStoreFolder::RejectedCerts).size(), 1u);
}

TEST_F(ServerTrust, WithoutACertificateTheClientMakesItsOwnOnce) {
    const TCertificateStore store(root_);
    store.Add(TStoreFolder::TrustedCerts, security::TX509Certificate::Load(ServerCertificate()));
    std::vector<uint8_t> first;
    for (int use = 0; use < 2; ++use) {
        TVelaUAClient client;
        Secured(client);
        client.SecurityKeypair = {};
        EXPECT_EQ(ConnectError(client), "") << use;
        const auto own = store.Certificates(TStoreFolder::OwnCerts);
        ASSERT_EQ(own.size(), 1u);
        EXPECT_EQ(own[0].ApplicationUri().rfind("urn:", 0), 0u);
        if (use == 0) first = own[0].fRawData;
        else EXPECT_EQ(own[0].fRawData, first);  // kept, not made again
    }
#ifndef _WIN32
    for (const auto& key : std::filesystem::directory_iterator(store.Folder(TStoreFolder::OwnPrivate)))
        EXPECT_EQ(key.status().permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

}  // namespace
}  // namespace vela::ua
