// Where the client's keys and the user's identity come from (files, the certificate event,
// issued tokens), and ReadNode, against node-opcua.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "tests/ua/interop/NodeOpcuaServer.h"
#include "ua/client/IdentityFiles.h"

namespace vela::ua {
namespace {

using Bytes = std::vector<uint8_t>;
using security::TuaSecureMode;
using security::TuaSecurePolicy;

std::string KeyPath(const std::string& name) { return std::string(VELA_KEYS_DIR) + "/" + name; }

std::string TempFile(const std::string& name, const std::string& content) {
    const std::string path = ::testing::TempDir() + name + "-" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

using IdentityFiles = NodeOpcuaServer;

TEST_F(IdentityFiles, IssuedTokenFromAFile) {
    TVelaUAClient client;
    client.Url = url_;
    client.UserLogin.SetIssuedToken(TempFile("vela-token", "vela-issued-token"));
    EXPECT_EQ(ConnectError(client), "");
    EXPECT_TRUE(client.Active());
    EXPECT_EQ(client.ReadNodeAttributes({uaNodeId(2259u)}, {13}).at(0).fStatusCode, 0u);
    client.SetActive(false);

    client.UserLogin.SetIssuedToken(TempFile("vela-token-wrong", "someone else's token"));
    EXPECT_EQ(ConnectError(client).substr(0, 21), "UA Error ($80210000) ");  // BadIdentityTokenRejected
    EXPECT_FALSE(client.Active());
}

TEST_F(IdentityFiles, MissingIdentityFilesAreNamed) {
    TVelaUAClient client;
    client.Url = url_;
    client.UserLogin.SetIssuedToken("RES:\\NoSuchToken");
    EXPECT_EQ(ConnectError(client), "Resource file not found: RES:\\NoSuchToken");
    client.UserLogin.SetIssuedToken("/nonexistent/token.bin");
    EXPECT_EQ(ConnectError(client), "Cannot read file: /nonexistent/token.bin");
    EXPECT_FALSE(client.Active());
}

TEST_F(IdentityFiles, UserCertificateFromFiles) {
    TVelaUAClient client;
    Configure(client, TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSign);
    client.UserLogin.SetCertificate(KeyPath("pki_cert.der"), KeyPath("pki_key.pem"), "");
    EXPECT_EQ(ConnectError(client), "");
    EXPECT_TRUE(client.Active());
    client.SetActive(false);
}

TEST_F(IdentityFiles, ClientKeysFromTheCertificateEvent) {
    TVelaUAClient client;
    client.Url = url_;
    client.SecurityPolicy = TuaSecurePolicy::uaSPAes256_Sha256_RsaPss;
    client.SecurityMode = TuaSecureMode::uaSSignAndEncrypt;
    client.ServerTrust.mode = TServerTrust::AcceptAny;  // and no store, so no certificate of its own
    int asked = 0;
    bool supply = false;
    client.OnGetCertificate = [&](std::vector<uint8_t>& key, std::vector<uint8_t>& certificate) {
        ++asked;
        if (!supply) return false;
        key = ReadFile("key2048.pem");
        certificate = ReadFile("cert2048.der");
        return true;
    };
    // nothing from the event, no resources, no key pair
    EXPECT_EQ(ConnectError(client), "OPC UA security: public or private key not defined");
    supply = true;
    EXPECT_EQ(ConnectError(client), "");
    EXPECT_TRUE(client.Active());
    EXPECT_EQ(asked, 2);
    client.SetActive(false);
}

TEST(IdentityFileReader, FilesAndResources) {
    const std::string path = TempFile("vela-identity", std::string("\0\1\2", 3));
    EXPECT_EQ(ReadIdentityFile(path), (std::vector<uint8_t>{0, 1, 2}));
    try {
        ReadIdentityFile("RES:\\MyKey");
        ADD_FAILURE();
    } catch (const uaConnectionException& e) {
        EXPECT_STREQ(e.what(), "Resource file not found: RES:\\MyKey");
    }
    const Bytes certificate = ReadFile("pki_cert.der"), key = ReadFile("pki_key.pem");
    const std::string base = ::testing::TempDir() + "vela-pair-" + std::to_string(getpid());
    std::ofstream(base + ".der", std::ios::binary).write(reinterpret_cast<const char*>(certificate.data()), certificate.size());
    std::ofstream(base + ".pem", std::ios::binary).write(reinterpret_cast<const char*>(key.data()), key.size());
    TuaKeypair pair;
    pair.LoadCertificateFromFile(base + ".key");  // the extension is replaced: .pem and .der
    EXPECT_EQ(pair.fPublicKey, ReadFile("pki_cert.der"));
    EXPECT_EQ(pair.fPrivateKey, ReadFile("pki_key.pem"));
}

using ReadNodes = NodeOpcuaServer;

TEST_F(ReadNodes, EachNodeClassGivesItsStructure) {
    TVelaUAClient client;
    client.Url = url_;
    client.SetActive(true);

    auto node = client.ReadNode(uaNodeId(std::string("Plant.Temperature"), 1));
    auto* variable = dynamic_cast<uaVariableNode*>(node.get());
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(variable->fNodeClass.fValue, 2);
    EXPECT_EQ(variable->fBrowseName.fName, "Temperature");
    EXPECT_EQ(variable->fDataType, uaNodeId(11u));
    EXPECT_EQ(variable->fValue.fType.fBuildInType, bit_Double);
    EXPECT_EQ(variable->fValueRank, -1);
    EXPECT_EQ(variable->fAccessLevel & 3, 3);

    node = client.ReadNode(uaNodeId(2253u));
    auto* server = dynamic_cast<uaObjectNode*>(node.get());
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->fDisplayName.fText, "Server");
    EXPECT_EQ(server->fEventNotifier & 1, 1);

    node = client.ReadNode(uaNodeId(11492u));  // Server.GetMonitoredItems
    ASSERT_NE(dynamic_cast<uaMethodNode*>(node.get()), nullptr);
    EXPECT_TRUE(dynamic_cast<uaMethodNode*>(node.get())->fExecutable);

    node = client.ReadNode(uaNodeId(47u));  // HasComponent
    auto* reference = dynamic_cast<uaReferenceTypeNode*>(node.get());
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(reference->fInverseName.fText, "ComponentOf");
    EXPECT_FALSE(reference->fSymmetric);

    node = client.ReadNode(uaNodeId(58u));  // BaseObjectType
    ASSERT_NE(dynamic_cast<uaObjectTypeNode*>(node.get()), nullptr);
    node = client.ReadNode(uaNodeId(63u));  // BaseDataVariableType
    ASSERT_NE(dynamic_cast<uaVariableTypeNode*>(node.get()), nullptr);
    node = client.ReadNode(uaNodeId(26u));  // Number: abstract
    ASSERT_NE(dynamic_cast<uaDataTypeNode*>(node.get()), nullptr);
    EXPECT_TRUE(dynamic_cast<uaDataTypeNode*>(node.get())->fIsAbstract);

    try {
        client.ReadNode(uaNodeId(std::string("No.Such.Node"), 1));
        ADD_FAILURE() << "an unknown node was read";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "node not found");
    }
    client.SetActive(false);
}

}  // namespace
}  // namespace vela::ua
