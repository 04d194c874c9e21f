// The UA connection of the toolkit against node-opcua: connect options, server status, item
// properties as attributes, keep-alive, loss of the server, FindServers.
#include <cstdio>
#include <map>
#include <thread>

#include "tests/ua/da/DAClientFixture.h"
#include "ua/da/UADAGroup.h"

namespace vela::ua {
namespace {

using DAConnection = DAClientFixture;

std::string KeyPath(const std::string& name) { return std::string(VELA_KEYS_DIR) + "/" + name; }

TEST_F(DAConnection, ServerStatusInDAForm) {
    client->SetActive(true);
    ASSERT_TRUE(client->Active());
    TServerStateRecord status;
    client->GetServerInfo(status);
    EXPECT_EQ(status.ProductName, "Vela test server");
    EXPECT_EQ(status.StatusInfo, "Running");
    EXPECT_EQ(status.ServerState, 0);
    EXPECT_GT(status.Starttime, 0);
    EXPECT_GE(status.Currenttime, status.Starttime);
    EXPECT_FALSE(status.Version.empty());
    EXPECT_EQ(status.BuildNumber, "1");
    EXPECT_TRUE(client->Connection()->DoTimer());  // the keep-alive read
}

TEST_F(DAConnection, SecurityAndUserFromTheConnectionOptions) {
    client->SetParam("ua-securitymode", "3");
    client->SetParam("ua-securitypolicy", "5");  // Aes128_Sha256_RsaOaep
    client->SetParam("ua-cert-file", KeyPath("cert2048.der"));
    client->SetParam("ua-pkey-file", KeyPath("key2048.pem"));
    client->SetParam("ua-pki", TrustStore());
    client->SetParam("ua-usermode", "1");
    client->SetParam("ua-user", "operator");
    client->SetParam("ua-pass", "secret");
    client->SetActive(true);
    EXPECT_TRUE(client->Active());
    TServerStateRecord status;
    client->GetServerInfo(status);
    EXPECT_EQ(status.StatusInfo, "Running");
}

TEST_F(DAConnection, BadOptionsFailTheConnect) {
    struct Case {
        const char* key;
        const char* value;
        const char* error;
    };
    const Case cases[] = {
        {"ua-timeout", "ten", "'ten' is not a valid integer value"},
        {"ua-securitymode", "7", "ua-securitymode 7 is out of range (1..3)"},
        {"ua-usermode", "1", "UA Error ($802"},  // a user name without password is refused
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        auto fresh = std::make_unique<TVelaDAClient>(&loop);
        fresh->SetServerName(url_);
        fresh->SetParam(c.key, c.value);
        try {
            fresh->SetActive(true);
            ADD_FAILURE() << "connected";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fresh->Active());
    }
}

TEST_F(DAConnection, TheTimestampOptionChoosesServerOrSourceTime) {
    client->SetActive(true);
    TVelaGroup& group = ActiveGroup("G", false);
    auto item = group.OPCItems().AddItem(Id("Demo.Static.OldSource"));
    const DateTime source = EncodeDateTime({2020, 1, 1, 0, 0, 0, 0});
    TVelaItemList list(item);
    group.SyncRead(&list, false);
    EXPECT_GT(item->FTimeStamp, source + 365);  // the server's time: now
    EXPECT_TRUE(client->Connection()->SetOption("TimeStamp", "0"));
    group.SyncRead(&list, false);
    EXPECT_EQ(item->FTimeStamp, source);
    EXPECT_TRUE(client->Connection()->SetOption("timestamp", ""));  // no value: server time again
    group.SyncRead(&list, false);
    EXPECT_GT(item->FTimeStamp, source + 365);
    EXPECT_FALSE(client->Connection()->SetOption("no-such-option", "1"));
}

TEST_F(DAConnection, ItemPropertiesAreAttributes) {
    client->SetActive(true);
    TStrings lines;
    EXPECT_TRUE(client->QueryAvailableProperties(Id("Demo.Analog.Level"), lines));
    // attributes 1..20 that a Variable has; the others answer BadAttributeIdInvalid and are left out
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().substr(0, 11), "1,\"Node Id\"");
    bool value = false;
    for (const auto& line : lines) value |= line.starts_with("13,\"Value\"");
    EXPECT_TRUE(value);

    Variant v;
    EXPECT_TRUE(client->GetItemProperty(Id("Demo.Analog.Level"), 13, v));
    EXPECT_EQ(v.ToDouble(), 42.5);
    EXPECT_TRUE(client->GetItemProperty(Id("Demo.Analog.Level"), -303, v));
    EXPECT_EQ(v.ToInt64(), 0);
    EXPECT_TRUE(client->GetItemProperty(Id("Demo.Analog.Level"), -304, v));
    EXPECT_EQ(v.Type(), vtDATE);
    EXPECT_GT(v.ToDouble(), 40000.0);  // a date of this century
    EXPECT_TRUE(client->GetItemProperty(Id("Demo.Analog.Level"), 1, v));
    EXPECT_EQ(v.ToString(), Id("Demo.Analog.Level"));

    lines.clear();
    EXPECT_FALSE(client->QueryAvailableProperties(Id("No.Such.Node"), lines));
}

#ifndef _WIN32  // needs a server of its own
TEST_F(DAConnection, ALostServerIsReportedOnce) {
    testing_support::ChildProcess server;
    const int port = StartServer(server);
    ASSERT_GT(port, 0);
    client->SetServerName("opc.tcp://127.0.0.1:" + std::to_string(port));
    int shutdowns = 0;
    std::string reason;
    client->OnServerShutdown = [&](TVelaClient&, const std::string& text) {
        ++shutdowns;
        reason = text;
    };
    client->SetActive(true);
    TVelaGroup& group = ActiveGroup("G");
    group.OPCItems().AddItem(Id("Demo.Dynamic.Fast"));
    server.Stop(SIGKILL);
    EXPECT_TRUE(Pump([&] { return shutdowns > 0; }, 20s));
    Pump([] { return false; }, 300ms);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_FALSE(client->Active());
}

// The server dies and comes back on the same port: the client notices, keeps trying with its
// own pauses, and its groups deliver data again without anybody asking.
TEST_F(DAConnection, ALostServerIsReconnectedWithItsGroups) {
    testing_support::ChildProcess server;
    const int port = StartServer(server);
    ASSERT_GT(port, 0);
    client->SetServerName("opc.tcp://127.0.0.1:" + std::to_string(port));
    client->SetAutoReconnect(true);
    int shutdowns = 0;
    client->OnServerShutdown = [&](TVelaClient&, const std::string&) { ++shutdowns; };
    int changes = 0;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList& items) {
        for (const auto& item : items) changes += item->FQuality == 0 ? 1 : 0;
    };
    EXPECT_EQ(client->ConnectionState().Kind, TVelaClient::TConnectionState::csDisconnected);
    client->SetActive(true);
    EXPECT_EQ(client->ConnectionState().Kind, TVelaClient::TConnectionState::csConnected);
    TVelaGroup& group = ActiveGroup("G", true, 100);
    const TVelaItemPtr item = group.OPCItems().AddItem(Id("Demo.Dynamic.Fast"));
    ASSERT_TRUE(Pump([&] { return changes >= 2; }));

    server.Stop(SIGKILL);
    ASSERT_TRUE(Pump([&] { return shutdowns > 0; }, 20s));
    auto state = client->ConnectionState();
    EXPECT_EQ(state.Kind, TVelaClient::TConnectionState::csReconnecting);
    EXPECT_FALSE(state.LastError.empty());
    EXPECT_GT(state.Since, 0);
    Pump([] { return false; }, 1500ms);  // a few probes of a closed port, none reaching the loop
    EXPECT_FALSE(client->Active());

    testing_support::ChildProcess again;
    ASSERT_EQ(RestartServerOnPort(again, port), port);
    const auto back = std::chrono::steady_clock::now();
    const int before = changes;
    EXPECT_TRUE(Pump([&] { return client->Active() && changes >= before + 2; }, 15s));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - back);
    // at most the longest pause, a probe and a connection with its subscription (a bound, not a speed)
    EXPECT_LE(took.count(), 6000) << "data came back after " << took.count() << " ms";
    state = client->ConnectionState();
    EXPECT_EQ(state.Kind, TVelaClient::TConnectionState::csConnected);
    EXPECT_EQ(client->OPCGroups().Count(), 1u);
    EXPECT_EQ(group.OPCItems().Count(), 1u);
    EXPECT_EQ(shutdowns, 1);

    // Deactivating ends it for good, also while it would be reconnecting.
    again.Stop(SIGKILL);
    ASSERT_TRUE(Pump([&] { return shutdowns == 2; }, 20s));
    client->SetActive(false);
    EXPECT_EQ(client->ConnectionState().Kind, TVelaClient::TConnectionState::csDisconnected);
}

// 10,000 monitored items through a loss and a return of the server: every one goes bad once,
// none is lost or doubled, and every one is good again soon after the server is back.
TEST_F(DAConnection, TenThousandItemsComeBackWhole) {
    constexpr int kItems = 10000;
    testing_support::ChildProcess server;
    const int port = StartServer(server);
    ASSERT_GT(port, 0);
    client->SetServerName("opc.tcp://127.0.0.1:" + std::to_string(port));
    client->SetAutoReconnect(true);
    bool lost = false;
    client->OnServerShutdown = [&](TVelaClient&, const std::string&) { lost = true; };
    client->SetActive(true);
    TVelaGroup& group = ActiveGroup("Bulk", true, 100);
    char name[40];
    for (int i = 0; i < kItems; ++i) {
        std::snprintf(name, sizeof name, "ns=1;s=Demo.Bulk.V%05d", i);
        group.OPCItems().AddItem(name, true);
    }
    group.OPCItems().OPCAddAllItems(true);
    std::map<const TVelaItemData*, int> good;  // good changes per item since the last reset
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList& items) {
        for (const auto& item : items)
            if (item->FQuality == 0) ++good[item.get()];
    };
    ASSERT_TRUE(Pump([&] { return good.size() == static_cast<size_t>(kItems); }, 30s));

    server.Stop(SIGKILL);
    ASSERT_TRUE(Pump([&] { return lost; }, 20s));
    Pump([] { return false; }, 500ms);
    good.clear();

    testing_support::ChildProcess again;
    ASSERT_EQ(RestartServerOnPort(again, port), port);
    const auto back = std::chrono::steady_clock::now();
    EXPECT_TRUE(Pump([&] { return good.size() == static_cast<size_t>(kItems); }, 30s));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - back);
    EXPECT_EQ(good.size(), static_cast<size_t>(kItems)) << "items heard from again";
    EXPECT_EQ(group.OPCItems().Count(), static_cast<size_t>(kItems));
    size_t handlesKept = 0;
    for (const auto& item : group.OPCItems()) handlesKept += item->FServerHandle != -1 && item->FLastError == 0;
    EXPECT_EQ(handlesKept, static_cast<size_t>(kItems));
    std::printf("10,000 items good again %lld ms after the server was back\n", static_cast<long long>(took.count()));
    client->SetActive(false);
}

#endif

// The Publish loop's bookkeeping, fed with crafted responses while no Publish is under way (the
// only group is inactive, so the loop is idle).
TEST_F(DAConnection, PublishResponsesAcknowledgementsAndFaults) {
    client->SetActive(true);
    client->SetLogLevel(2);  // with the structures' text as detail
    std::vector<std::string> logged;
    bool detail = false;
    client->OnLog = [&](TVelaClient&, const TVelaLogMsg& message) {
        logged.push_back(message.Msg);
        detail |= message.Detail.find("SubscriptionId") != std::string::npos;
    };
    int shutdowns = 0;
    std::string reason;
    client->OnServerShutdown = [&](TVelaClient&, const std::string& text) {
        ++shutdowns;
        reason = text;
    };
    TVelaGroup& group = client->OPCGroups().Add("Idle", false, true);
    auto* connection = dynamic_cast<TVelaUADAConnection*>(client->Connection()->GetObject());
    ASSERT_NE(connection, nullptr);
    const uint32_t subscription = dynamic_cast<TVelaUADAGroup*>(group.ServerGroup()->GetObject())->SubscriptionId();
    EXPECT_EQ(connection->ActiveGroups(), 0);
    EXPECT_EQ(connection->PublishResponseTimeout(), 400000000);  // no active group

    auto publish = std::make_unique<uaPublishResponse>();
    publish->fSubscriptionId = subscription;
    publish->fAvailableSequenceNumbers = {5, 6};
    connection->UADoPublishResponse(std::move(publish));
    const auto acks = connection->PendingAcknowledgements();
    ASSERT_EQ(acks.size(), 2u);
    EXPECT_EQ(acks[0].fSubscriptionToAck, subscription);
    EXPECT_EQ(acks[0].fSequenceToAck, 5u);
    EXPECT_EQ(acks[1].fSequenceToAck, 6u);

    publish = std::make_unique<uaPublishResponse>();
    publish->fSubscriptionId = subscription + 1000;
    publish->fResults = {0, 0x80280000};
    connection->UADoPublishResponse(std::move(publish));
    EXPECT_TRUE(Pump([&] { return logged.size() >= 2; }));
    EXPECT_NE(std::find(logged.begin(), logged.end(), "The subscription id is not valid."), logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(), std::to_string(static_cast<int32_t>(0x80280000))), logged.end());
    EXPECT_TRUE(detail);  // the CreateSubscription exchange was logged with its structures

    auto noSubscription = std::make_unique<uaPublishResponse>();
    noSubscription->fResponseHeader.fServiceResult = 0x80790000;  // BadNoSubscription: ignored
    connection->UADoPublishResponse(std::move(noSubscription));
    Pump([] { return false; }, 200ms);
    EXPECT_EQ(shutdowns, 0);

    group.SetIsActive(true);  // the next Publish takes the acknowledgements along
    EXPECT_TRUE(connection->PendingAcknowledgements().empty());
    EXPECT_EQ(connection->ActiveGroups(), 1);

    connection->UADoPublishResponse(nullptr);  // a Publish that timed out ends the connection
    EXPECT_TRUE(Pump([&] { return shutdowns > 0; }));
    EXPECT_EQ(reason.substr(0, 9), "$80850000");  // BadRequestTimeout
    Pump([] { return false; }, 200ms);
    EXPECT_EQ(shutdowns, 1);
}

#ifndef _WIN32  // needs a server of its own
// A Publish left waiting by a server that died must not keep the connection alive once its
// client lets go of it.
TEST_F(DAConnection, NothingOutlivesTheClient) {
    testing_support::ChildProcess server;
    const int port = StartServer(server);
    ASSERT_GT(port, 0);
    client->SetServerName("opc.tcp://127.0.0.1:" + std::to_string(port));
    bool lost = false;
    client->OnServerShutdown = [&](TVelaClient&, const std::string&) { lost = true; };
    client->SetActive(true);
    TVelaGroup& group = ActiveGroup("G", true, 1000);
    group.OPCItems().AddItem(Id("Demo.Dynamic.Slow"));
    IVelaConnection* connection = client->Connection();
    connection->AddRef();
    server.Stop(SIGKILL);
    EXPECT_TRUE(Pump([&] { return lost; }, 20s));
    client.reset();
    EXPECT_EQ(connection->Release(), 0u);  // ours was the last reference
}

#endif

TEST_F(DAConnection, FindServersListsTheServer) {
    auto browser = FindConnectionClass(coUA, true)->IFCreateServerBrowser();
    std::vector<std::string> found;
    browser->execute(0, url_, [&](const std::string& caption, const std::string& name, const std::string& url,
                                  tVelaServerSet types) {
        EXPECT_EQ(types, ServerSetOf(svr_UA));
        EXPECT_FALSE(name.empty());
        found.push_back(caption + " " + url);
    }, 0, "");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("opc.tcp://"), std::string::npos);
}

}  // namespace
}  // namespace vela::ua
