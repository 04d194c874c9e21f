// The UA transport and secure channel against node-opcua, a real UA server started here on
// 127.0.0.1 with a port of the system's choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <atomic>

#include "base/Socket.h"
#include "tests/ua/interop/NodeOpcuaServer.h"
#include "ua/client/VelaUAClient.h"
#include "ua/transport/uaRequestDispatch.h"
#include "ua/transport/uaStackClient.h"
#include "ua/uaStatusCodes.h"

namespace vela::ua {
namespace {

using namespace security;
using Bytes = std::vector<uint8_t>;

// The crypto back-ends of this build: OpenSSL only in native builds.
std::vector<TuaSecurityLib> Libraries() {
#ifdef VELA_HAVE_OPENSSL
    return {TuaSecurityLib::uaSNative, TuaSecurityLib::uaSOpenSSL};
#else
    return {TuaSecurityLib::uaSNative};
#endif
}

TEST_F(NodeOpcuaServer, EndpointsOverAnUnsecuredChannel) {
    uaStackClient client;
    client.Connect(url_, 5000);
    EXPECT_GE(client.Limits().fSendBufferSize, 8192u);
    client.OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, 600000, 10000);
    EXPECT_NE(client.SecureChannelId(), 0u);
    const auto endpoints = Endpoints(client);
    EXPECT_GE(endpoints.size(), 11u);
    for (TuaSecurePolicy p : {TuaSecurePolicy::uaSPNone, TuaSecurePolicy::uaSPBasic256, TuaSecurePolicy::uaSPBasic256Sha256,
                              TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep, TuaSecurePolicy::uaSPAes256_Sha256_RsaPss})
        EXPECT_TRUE(Offers(endpoints, p)) << uaSecurityPolicies::uaSecurityPolicyToString(p);
    EXPECT_FALSE(endpoints.at(0).fServerCertificate.empty());
    client.CloseSecureChannel();
}

// The request machinery over a real channel: concurrent calls, and a call the server refuses
// with a ServiceFault because no session exists.
TEST_F(NodeOpcuaServer, DispatchedServiceCallsOverTheChannel) {
    uaStackClient stack;
    stack.Connect(url_, 5000);
    stack.OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, 600000, 10000);
    uaRequestDispatcher client([&](uint32_t id, const TuaObj& request) { stack.SendRequest(id, request); });
    stack.onMessage = [&](uint32_t id, std::vector<uint8_t> body) { client.HandleReceivedMessage(id, body); };
    stack.onErrorMessage = [&](uint32_t code, const std::string& reason) { client.HandleErrorMessage(0, code, reason); };
    client.SetActive(true);

    std::vector<std::thread> callers;
    std::atomic<int> answered{0};
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&] {
            uaGetEndpoints call(&client);
            call.Request->fEndpointUrl = url_;
            call.RunSync(10000);
            if (call.Response && !call.Response->fEndpoints.empty()) ++answered;
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(answered, 4);

    uaRead read(&client);
    uaReadValueId currentTime;
    currentTime.fNodeId = uaNodeId(2258u);  // Server_ServerStatus_CurrentTime
    currentTime.fAttributeId = 13;
    read.Request->fNodesToRead.push_back(std::move(currentTime));
    try {
        read.Run(10000);
        ADD_FAILURE() << "a Read without a session was answered";
    } catch (const uaConnectionException& e) {
        EXPECT_NE(std::string(e.what()).find("UA Error: Read: $80"), std::string::npos) << e.what();
    }
    stack.onMessage = nullptr;
    stack.CloseSecureChannel();
}

// The client component: endpoint selection, session, user identity, disconnect.
TEST_F(NodeOpcuaServer, AnonymousSessionReadsWritesAndReconnects) {
    TVelaUAClient client;
    client.Url = url_ + "/";
    int connects = 0, disconnects = 0;
    client.OnConnect = [&] { ++connects; };
    client.OnDisconnect = [&] { ++disconnects; };
    client.SetActive(true);
    ASSERT_TRUE(client.Active());
    EXPECT_EQ(client.SessionName(), "Vela-Session 1");
    EXPECT_EQ(client.UserTokenPolicyUri(), "http://opcfoundation.org/UA/SecurityPolicy#None");
    EXPECT_GE(client.GetNamespaceArray().size(), 2u);
    EXPECT_EQ(client.GetNamespaceIndex("http://opcfoundation.org/UA/"), 0);

    const uaNodeId temperature(std::string("Plant.Temperature"), 1);
    uaDataValue value;
    value.fValue = uaVariant::Scalar(bit_Double, 42.25);
    EXPECT_EQ(client.WriteNodeAttributes({temperature}, {13}, {value}), std::vector<uaStatusCode>{0});
    const auto read = client.ReadNodeAttributes({temperature}, {13});
    ASSERT_EQ(read.size(), 1u);
    ASSERT_TRUE(read[0].fValue.has_value());
    EXPECT_EQ(std::get<double>(read[0].fValue->fScalar), 42.25);

    client.SetActive(false);
    EXPECT_FALSE(client.Active());
    EXPECT_THROW(client.ReadNodeAttributes({temperature}, {13}), Exception);
    client.SetActive(true);
    EXPECT_EQ(client.SessionName(), "Vela-Session 2");
    client.SetActive(false);
    EXPECT_EQ(connects, 2);
    EXPECT_EQ(disconnects, 2);
}

#ifndef _WIN32  // needs a server of its own
// A server that dies under an active client: the client notices, becomes inactive and reports
// the shutdown once.
TEST_F(NodeOpcuaServer, LostServerEndsTheSessionAndIsReportedOnce) {
    testing_support::ChildProcess server;
    const int port = StartServer(server);
    ASSERT_GT(port, 0);
    TVelaUAClient client;
    client.Url = "opc.tcp://127.0.0.1:" + std::to_string(port);
    std::mutex lock;
    std::condition_variable reported;
    std::vector<std::string> reasons;
    client.OnServerShutdown = [&](const std::string& reason) {
        std::lock_guard guard(lock);
        reasons.push_back(reason);
        reported.notify_all();
    };
    client.SetActive(true);
    ASSERT_TRUE(client.Active());
    server.Stop(SIGKILL);
    {
        std::unique_lock guard(lock);
        EXPECT_TRUE(reported.wait_for(guard, std::chrono::seconds(20), [&] { return !reasons.empty(); }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(client.Active());
    EXPECT_EQ(reasons.size(), 1u);
    EXPECT_THROW(client.ReadNodeAttributes({uaNodeId(2258u)}, {13}), Exception);
}

#endif

// A short token lifetime: the renew timer renews at three quarters of it and traffic goes on
// under the new keys.
TEST_F(NodeOpcuaServer, TokensAreRenewedWhileTheSessionRuns) {
    TVelaUAClient client;
    Configure(client, TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSignAndEncrypt);
    client.ChannelLifetime = 1000;
    std::vector<std::string> problems;
    client.OnLog = [&](int severity, uint32_t, const std::string& text, const TuaObj*) {
        if (severity >= 3) problems.push_back(text);
    };
    client.SetActive(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (client.Renewals() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(client.Renewals(), 2u);
    const auto read = client.ReadNodeAttributes({uaNodeId(std::string("Plant.Counter"), 1)}, {13});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].fStatusCode, 0u);
    client.SetActive(false);
    EXPECT_TRUE(problems.empty()) << problems.front();
}

// Renewals swap the channel's keys while other threads send and the read thread receives: run
// under ThreadSanitizer (tools/test-all.sh), this shows the swap is safe.
TEST_F(NodeOpcuaServer, TokensAreRenewedUnderConcurrentTraffic) {
    TVelaUAClient client;
    Configure(client, TuaSecurePolicy::uaSPBasic256Sha256, TuaSecureMode::uaSSignAndEncrypt);
    client.ChannelLifetime = 1000;
    client.SetActive(true);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, failures{0};
    const auto reader = [&] {
        while (!stop) {
            try {
                const auto read = client.ReadNodeAttributes({uaNodeId(std::string("Plant.Counter"), 1)}, {13});
                if (read.size() == 1 && read[0].fStatusCode == 0) ++reads;
                else ++failures;
            } catch (const std::exception&) {
                ++failures;
            }
        }
    };
    std::thread first(reader), second(reader);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (client.Renewals() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    first.join();
    second.join();
    EXPECT_GE(client.Renewals(), 3u);
    EXPECT_GT(reads.load(), 10);
    EXPECT_EQ(failures.load(), 0);
    client.SetActive(false);
}

// The status poll: each answer reaches the handler; a handler that declares the server gone
// ends the session as a lost connection would.
TEST_F(NodeOpcuaServer, StatusPollReportsAndCanEndTheSession) {
    TVelaUAClient client;
    client.Url = url_;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<uint32_t, int32_t>> polls;  // status code, server state
    std::string shutdownReason;
    client.OnServerStatusRead = [&](uint32_t code, const uaServerStatusDataType* status, bool& shutdown) {
        std::lock_guard guard(lock);
        polls.emplace_back(code, status ? status->fState.fValue : -1);
        if (polls.size() == 2) shutdown = true;
        changed.notify_all();
    };
    client.OnServerShutdown = [&](const std::string& reason) {
        std::lock_guard guard(lock);
        shutdownReason = reason;
        changed.notify_all();
    };
    client.SetKeepAlive(100);
    client.SetActive(true);
    uaServerStatusDataType status;
    EXPECT_EQ(client.ReadServerStatus(status), 0u);
    EXPECT_EQ(status.fBuildInfo.fProductName, "Vela test server");
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(20), [&] { return !shutdownReason.empty(); }));
        EXPECT_EQ(shutdownReason, "The operation was cancelled because the application is shutting down.");
        ASSERT_GE(polls.size(), 3u);
        EXPECT_EQ(polls[0], std::make_pair(0u, 0));  // Good, Running
        EXPECT_EQ(polls[2].first, 0x800E0000u);      // then told: halted
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(client.Active());
}

// Methods of the standard Server object: found by browsing, their parent found back, called.
TEST_F(NodeOpcuaServer, MethodsAreFoundAndCalled) {
    TVelaUAClient client;
    client.Url = url_;
    client.SetActive(true);
    const auto methods = client.MethodsGet("i=2253");
    const std::string getMonitoredItems = uaNodeId(11492u).ToString();
    EXPECT_NE(std::find(methods.begin(), methods.end(), getMonitoredItems), methods.end());
    EXPECT_EQ(client.MethodGetParent(getMonitoredItems), uaNodeId(2253u).ToString());

    uaCreateSubscription subscription(&client.Requests());
    subscription.Request->fRequestedPublishingInterval = 1000;
    subscription.Request->fRequestedLifetimeCount = 100;
    subscription.Request->fRequestedMaxKeepAliveCount = 10;
    subscription.RunSync();
    ASSERT_NE(subscription.Response, nullptr);
    const auto outputs = client.MethodCall("i=2253", getMonitoredItems,
                                           {uaVariant::Scalar(bit_UInt32, subscription.Response->fSubscriptionId)});
    EXPECT_EQ(outputs.size(), 2u);  // server handles, client handles
    EXPECT_THROW(client.MethodCall("i=2253", getMonitoredItems, {uaVariant::Scalar(bit_UInt32, uint32_t{999999})}),
                 uaConnectionException);
    try {
        client.MethodCall("nil", "i=abc", {});
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("$80330000 Cannot parse node id text (i=abc) ")) << e.what();
    }
    client.SetActive(false);
}

struct SessionCase {
    TuaSecurePolicy policy;
    TuaSecureMode mode;
    TuaSecurityLib library;
    TuaSecurityUser user;
};

void PrintTo(const SessionCase& c, std::ostream* os) {
    *os << uaSecurityPolicies::uaSecurityPolicyToString(c.policy) << " mode " << static_cast<int>(c.mode) << " lib "
        << static_cast<int>(c.library) << " user " << static_cast<int>(c.user);
}

std::vector<SessionCase> AllSessionCases() {
    std::vector<SessionCase> cases;
    for (TuaSecurityLib library : Libraries())
        for (TuaSecurityUser user : {TuaSecurityUser::Anonymous, TuaSecurityUser::UserName, TuaSecurityUser::Certificate}) {
            cases.push_back({TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, library, user});
            for (TuaSecurePolicy policy : {TuaSecurePolicy::uaSPBasic128Rsa15, TuaSecurePolicy::uaSPBasic256,
                                           TuaSecurePolicy::uaSPBasic256Sha256, TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep,
                                           TuaSecurePolicy::uaSPAes256_Sha256_RsaPss})
                for (TuaSecureMode mode : {TuaSecureMode::uaSSign, TuaSecureMode::uaSSignAndEncrypt})
                    cases.push_back({policy, mode, library, user});
        }
    return cases;
}

class SecuredSessions : public NodeOpcuaServer, public ::testing::WithParamInterface<SessionCase> {
protected:
    void Configure(TVelaUAClient& client) const {
        NodeOpcuaServer::Configure(client, GetParam().policy, GetParam().mode);
        client.SecurityLib = GetParam().library;
        if (GetParam().user == TuaSecurityUser::UserName) client.UserLogin.SetUser("operator", "secret");
        if (GetParam().user == TuaSecurityUser::Certificate)
            client.UserLogin.SetCertificate(ReadFile("pki_cert.der"), ReadFile("pki_key.pem"), "");
    }
};

// Every endpoint the server offers, with both back-ends and the three user tokens: connect, read,
// write, browse, a subscription whose Publish response carries the data change, disconnect.
TEST_P(SecuredSessions, ConnectReadWriteBrowseSubscribe) {
    TVelaUAClient client;
    Configure(client);
    try {
        client.SetActive(true);
    } catch (const uaConnectionException& e) {
        if (std::string(e.what()).starts_with("Can't find right Security Mode"))
            GTEST_SKIP() << "the server does not offer this endpoint here";
        throw;
    }
    ASSERT_TRUE(client.Active());
    const uaNodeId counter(std::string("Plant.Counter"), 1), temperature(std::string("Plant.Temperature"), 1);
    const auto read = client.ReadNodeAttributes({counter}, {13});
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].fStatusCode, 0u);
    uaDataValue value;
    value.fValue = uaVariant::Scalar(bit_Double, 19.5);
    EXPECT_EQ(client.WriteNodeAttributes({temperature}, {13}, {value}), std::vector<uaStatusCode>{0});

    uaBrowse browse(&client.Requests());
    uaBrowseDescription objects;
    objects.fNodeId = uaNodeId(85u);  // Objects folder
    objects.fIncludeSubtypes = true;
    objects.fResultMask = 63;
    browse.Request->fNodesToBrowse.push_back(std::move(objects));
    browse.RunSync();
    ASSERT_NE(browse.Response, nullptr);
    ASSERT_EQ(browse.Response->fResults.size(), 1u);
    EXPECT_GE(browse.Response->fResults[0].fReferences.size(), 2u);  // Server and Plant at least

    uaCreateSubscription subscription(&client.Requests());
    subscription.Request->fRequestedPublishingInterval = 50;
    subscription.Request->fRequestedLifetimeCount = 100;
    subscription.Request->fRequestedMaxKeepAliveCount = 10;
    subscription.Request->fPublishingEnabled = true;
    subscription.RunSync();
    ASSERT_NE(subscription.Response, nullptr);
    uaCreateMonitoredItems items(&client.Requests());
    items.Request->fSubscriptionId = subscription.Response->fSubscriptionId;
    uaMonitoredItemCreateRequest item;
    item.fItemToMonitor.fNodeId = counter;
    item.fItemToMonitor.fAttributeId = 13;
    item.fMonitoringMode.fValue = 2;  // reporting
    item.fRequestedParameters.fClientHandle = 7;
    item.fRequestedParameters.fSamplingInterval = 50;
    item.fRequestedParameters.fQueueSize = 1;
    items.Request->fItemsToCreate.push_back(std::move(item));
    items.RunSync();
    ASSERT_NE(items.Response, nullptr);
    uaPublish publish(&client.Requests());
    publish.RunSync();
    ASSERT_NE(publish.Response, nullptr);
    EXPECT_EQ(publish.Response->fSubscriptionId, subscription.Response->fSubscriptionId);
    ASSERT_FALSE(publish.Response->fNotificationMessage.fNotificationData.empty());
    const uaExtensionObject& change = publish.Response->fNotificationMessage.fNotificationData[0];
    EXPECT_EQ(change.fObject ? static_cast<uint32_t>(change.fObject->fObjNo) : change.ObjectNumber(), 811u);

    client.SetActive(false);
    EXPECT_FALSE(client.Active());
}

TEST_F(NodeOpcuaServer, WrongPasswordFailsTheConnect) {
    TVelaUAClient client;
    client.Url = url_;
    client.ServerTrust.store = TrustStore();  // the password is encrypted for the server's certificate
    client.UserLogin.SetUser("operator", "wrong");
    try {
        client.SetActive(true);
        ADD_FAILURE() << "a wrong password was accepted";
    } catch (const uaConnectionException& e) {
        EXPECT_NE(std::string(e.what()).find("UA Error"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(client.Active());
}

INSTANTIATE_TEST_SUITE_P(Endpoints, SecuredSessions, ::testing::ValuesIn(AllSessionCases()));

TEST_F(NodeOpcuaServer, ConnectFailuresLeaveTheClientInactive) {
    TVelaUAClient client;
    Configure(client, TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSSign);
    try {
        client.SetActive(true);
        ADD_FAILURE();
    } catch (const uaConnectionException& e) {
        const std::string text = e.what();
        EXPECT_TRUE(text.starts_with("Can't find right Security Mode: Sign with Policy: "
                                     "http://opcfoundation.org/UA/SecurityPolicy#None\n\n"
                                     "Possible security modes for opc.tcp:// are:\nNone - None\n"))
            << text;
        EXPECT_NE(text.find("SignAndEncrypt - Basic256Sha256"), std::string::npos);
    }
    EXPECT_FALSE(client.Active());

    client.SecurityPolicy = TuaSecurePolicy::uaSPBasic256Sha256;
    client.OnTrustCertificate = [](const Bytes& certificate) { return certificate.empty(); };
    EXPECT_NO_THROW(client.SetActive(true));
    EXPECT_FALSE(client.Active());

    TVelaUAClient wrongUrl;
    wrongUrl.Url = "http://127.0.0.1:1/";
    try {
        wrongUrl.SetActive(true);
        ADD_FAILURE();
    } catch (const uaConnectionException& e) {
        EXPECT_STREQ(e.what(), "wrong endpoint URL for OPC UA server");
    }
}

struct SecuredCase {
    TuaSecurePolicy policy;
    TuaSecureMode mode;
    TuaSecurityLib library;
};

void PrintTo(const SecuredCase& c, std::ostream* os) { *os << static_cast<int>(c.policy); }

class SecuredChannels : public NodeOpcuaServer, public ::testing::WithParamInterface<SecuredCase> {};

TEST_P(SecuredChannels, OpenCallRenewAndClose) {
    static const Bytes serverCertificate = ServerCertificate();
    static const std::vector<uaEndpointDescription> offered = [] {
        uaStackClient probe;
        probe.Connect(url_, 5000);
        probe.OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, 600000, 10000);
        auto e = Endpoints(probe);
        probe.CloseSecureChannel();
        return e;
    }();
    if (!Offers(offered, GetParam().policy)) GTEST_SKIP() << "the server does not offer this policy here";
    uaStackClient client(GetParam().library);
    client.Security().Asym().LoadPrivateKey(ReadFile("key2048.pem"), "");
    client.Connect(url_, 5000);
    client.OpenSecureChannel(GetParam().policy, GetParam().mode, ReadFile("cert2048.der"), serverCertificate, 600000, 10000);
    EXPECT_EQ(Endpoints(client).size(), offered.size());
    client.OpenSecureChannel(GetParam().policy, GetParam().mode, ReadFile("cert2048.der"), serverCertificate, 600000,
                             10000, true);  // renewal: new keys, traffic goes on
    EXPECT_NE(client.Symmetric().PreviousToken(), nullptr);
    EXPECT_EQ(Endpoints(client).size(), offered.size());
    client.CloseSecureChannel();
}

std::vector<SecuredCase> AllSecuredCases() {
    std::vector<SecuredCase> cases;
    for (TuaSecurePolicy p : {TuaSecurePolicy::uaSPBasic128Rsa15, TuaSecurePolicy::uaSPBasic256, TuaSecurePolicy::uaSPBasic256Sha256,
                              TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep, TuaSecurePolicy::uaSPAes256_Sha256_RsaPss})
        for (TuaSecureMode m : {TuaSecureMode::uaSSign, TuaSecureMode::uaSSignAndEncrypt})
            for (TuaSecurityLib l : Libraries()) cases.push_back({p, m, l});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Policies, SecuredChannels, ::testing::ValuesIn(AllSecuredCases()),
                         [](const auto& p) {
                             return "policy" + std::to_string(static_cast<int>(p.param.policy)) + "_mode" +
                                    std::to_string(static_cast<int>(p.param.mode)) +
                                    (p.param.library == TuaSecurityLib::uaSNative ? "_native" : "_openssl");
                         });

TEST_F(NodeOpcuaServer, MessagesLargerThanOneChunkBothWays) {
    uaStackClient client;
    uaMessageLimits small;
    small.fReceiveBufferSize = 8192;
    small.fSendBufferSize = 8192;
    client.Connect(url_, 5000, small);
    EXPECT_EQ(client.Limits().fReceiveBufferSize, 8192u);
    client.OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, 600000, 10000);
    uaGetEndpointsRequest request;
    request.fEndpointUrl = url_;
    for (int i = 0; i < 400; ++i) request.fProfileUris.push_back("urn:vela:profile:" + std::string(60, 'x') + std::to_string(i));
    auto response = client.Call(request, 10000);  // about 30 KB out, in several chunks
    ASSERT_NE(dynamic_cast<uaGetEndpointsResponse*>(response.get()), nullptr);
    const auto endpoints = Endpoints(client);  // some 15 KB of certificates come back in chunks of 8 KB
    EXPECT_GE(endpoints.size(), 11u);
    client.CloseSecureChannel();
}

TEST(UaTransport, ServersThatDoNotAnswerEndCleanly) {
    TcpListener silent;
    uaStackClient client;
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Connect("opc.tcp://127.0.0.1:" + std::to_string(silent.Port()), 500);
        FAIL();
    } catch (const uaConnectionError& e) {
        EXPECT_NE(std::string(e.what()).find("No Acknowledge"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_THROW(client.Connect("http://127.0.0.1:4840", 500), uaConnectionError);
    EXPECT_THROW(ParseEndpointUrl("opc.tcp://"), uaConnectionError);
    EXPECT_EQ(ParseEndpointUrl("opc.tcp://host:4841/path").port, 4841);
    EXPECT_EQ(ParseEndpointUrl("opc.tcp://host/path").port, 4840);
    EXPECT_EQ(ParseEndpointUrl("opc.tcp://host:65535").port, 65535);
    EXPECT_EQ(ParseEndpointUrl("OPC.TCP://Host:4843").host, "Host");
    const uaEndpointAddress v6 = ParseEndpointUrl("opc.tcp://[::1]:4842/x");
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, 4842);
    EXPECT_EQ(ParseEndpointUrl("opc.tcp://[fe80::1]").port, 4840);
    // a port that would wrap onto another one is refused, not taken modulo 65536
    for (const char* bad : {"opc.tcp://host:99999", "opc.tcp://host:0", "opc.tcp://host:", "opc.tcp://host:48a",
                            "opc.tcp://host:-1", "opc.tcp://[::1", "opc.tcp://[::1]x", "opc.tcp://:4840"})
        EXPECT_THROW(ParseEndpointUrl(bad), uaConnectionError) << bad;
}

TEST(UaTransport, NegotiationTakesTheSmallerNonZeroValue) {
    uaMessageLimits remote;
    remote.fReceiveBufferSize = 8192;
    remote.fSendBufferSize = 0;
    remote.fMaxMessageSize = 0;
    remote.fMaxChunkCount = 10;
    const uaMessageLimits n = NegotiateLimits(uaMessageLimits{}, remote);
    EXPECT_EQ(n.fSendBufferSize, 8192u);
    EXPECT_EQ(n.fReceiveBufferSize, 65535u);
    EXPECT_EQ(n.fMaxMessageSize, 16777216u);
    EXPECT_EQ(n.fMaxChunkCount, 0u);  // our 0 (no limit) is below any remote value
}

}  // namespace
}  // namespace vela::ua
