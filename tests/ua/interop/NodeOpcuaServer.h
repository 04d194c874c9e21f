#pragma once
// The node-opcua test server (tools/ua-peer/test-server.js) as a test fixture: started once per
// suite on 127.0.0.1 with a port of the system's choice, stopped at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "ua/client/VelaUAClient.h"
#include "ua/transport/uaStackClient.h"

namespace vela::ua {

// The connect's error text, or empty when it connected.
inline std::string ConnectError(TVelaUAClient& client) {
    try {
        client.SetActive(true);
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
}

inline std::vector<uint8_t> ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Starts the node-opcua test server once for the suite and stops it at the end.
class NodeOpcuaServer : public ::testing::Test {
protected:
    // Starts a node-opcua test server; gives its port, or 0 when it did not come up.
    static int StartServer(testing_support::ChildProcess& server) {
        const std::string& pki = PkiFolder();
        const std::string script = std::string(VELA_UA_PEER_DIR) + "/test-server.js";
        std::string line;
        int port = 0;
        if (server.Start({"node", "--security-revert=CVE-2023-46809", script, pki}) &&
            server.WaitForLine("READY ", &line))
            std::sscanf(line.c_str(), "READY %d", &port);
        return port;
    }
#ifndef _WIN32
    // Starts a server again on the port a killed one had; its port, or 0 when it did not come up.
    static int RestartServerOnPort(testing_support::ChildProcess& server, int port) {
        setenv("UA_PORT", std::to_string(port).c_str(), 1);
        const int started = StartServer(server);
        unsetenv("UA_PORT");
        return started;
    }
#endif
    // One per test process: its servers share the certificates made by the first. Gone at exit.
    static const std::string& PkiFolder() {
        struct Folder {
            std::string path;
            ~Folder() {
                std::error_code ignored;
                std::filesystem::remove_all(path, ignored);
                std::filesystem::remove_all(path + "-client", ignored);
            }
        };
        static const Folder folder{::testing::TempDir() + "vela-ua-pki-" + std::to_string(getpid())};
        return folder.path;
    }
    static void SetUpTestSuite() {
        // A server started by the test's wrapper (the Windows build under Wine) is named here.
        if (const char* given = std::getenv("VELA_UA_URL"); given && *given) {
            url_ = given;
            port_ = std::stoi(url_.substr(url_.rfind(':') + 1));
            return;
        }
        server_ = std::make_unique<testing_support::ChildProcess>();
        port_ = StartServer(*server_);
        ASSERT_GT(port_, 0) << "the node-opcua test server did not start";
        url_ = "opc.tcp://127.0.0.1:" + std::to_string(port_);
    }
    static void TearDownTestSuite() { server_.reset(); }

    static std::vector<uaEndpointDescription> Endpoints(uaStackClient& client) {
        uaGetEndpointsRequest request;
        request.fEndpointUrl = url_;
        auto response = client.Call(request, 10000);
        auto* endpoints = dynamic_cast<uaGetEndpointsResponse*>(response.get());
        if (!endpoints) throw Exception("GetEndpoints gave no GetEndpointsResponse");
        return endpoints->fEndpoints;
    }

    // Whether the server offers the policy (Basic128Rsa15 only where its Node.js can still do
    // PKCS #1 v1.5 decryption).
    static bool Offers(const std::vector<uaEndpointDescription>& endpoints, security::TuaSecurePolicy policy) {
        const std::string uri = security::uaSecurityPolicies::uaSecurityPolicyToString(policy);
        for (const auto& e : endpoints)
            if (e.fSecurityPolicyUri == uri) return true;
        return false;
    }

    static std::vector<uint8_t> ServerCertificate() {
        uaStackClient client;
        client.Connect(url_, 5000);
        client.OpenSecureChannel(security::TuaSecurePolicy::uaSPNone, security::TuaSecureMode::uaSNone, {}, {}, 600000, 10000);
        const auto endpoints = Endpoints(client);
        client.CloseSecureChannel();
        return endpoints.at(0).fServerCertificate;
    }

    // A certificate store that trusts the test server, as an administrator would set one up.
    static std::string TrustStore() {
        static const std::string root = [] {
            const std::string folder = PkiFolder() + "-client";
            const security::TCertificateStore store(folder);
            store.Add(security::TStoreFolder::TrustedCerts, security::TX509Certificate::Load(ServerCertificate()));
            return folder;
        }();
        return root;
    }

    // A client of the test server with our key pair and the given security.
    static void Configure(TVelaUAClient& client, security::TuaSecurePolicy policy, security::TuaSecureMode mode) {
        client.Url = url_;
        client.ServerTrust.store = TrustStore();
        client.SecurityPolicy = policy;
        client.SecurityMode = mode;
        client.SecurityKeypair.fPublicKey = ReadFile("cert2048.der");
        client.SecurityKeypair.fPrivateKey = ReadFile("key2048.pem");
    }

    static inline std::unique_ptr<testing_support::ChildProcess> server_;
    static inline int port_ = 0;
    static inline std::string url_;
};

}  // namespace vela::ua
