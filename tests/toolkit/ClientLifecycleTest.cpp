#include "ClientFixture.h"

namespace vela::testdouble {
namespace {

using ClientLifecycle = ClientFixture;

std::vector<std::string> Without(std::vector<std::string> calls, const std::string& prefix) {
    std::erase_if(calls, [&](const std::string& c) { return c.compare(0, prefix.size(), prefix) == 0; });
    return calls;
}

TEST_F(ClientLifecycle, ActivationCreatesGroupsAndItemsKeptWhileInactive) {
    TVelaGroup& group = client->OPCGroups().Add("G1");
    auto temp = group.OPCItems().AddItem("Plant/Temp");
    auto level = group.OPCItems().AddItem("Plant/Level");
    EXPECT_EQ(Server().Calls().size(), 0u);  // nothing is sent while inactive
    EXPECT_EQ(temp->FServerHandle, -1);

    int connects = 0;
    client->OnConnect = [&](TVelaClient&) { ++connects; };
    client->SetActive(true);
    EXPECT_TRUE(client->Active());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(Without(Server().Calls(), "SetOption"),
              (std::vector<std::string>{"Connect http://plant/xmlda as Vela DA Client user=",
                                        "AddGroup G1 client=" + std::to_string(group.ClientHandle()) + " active=1",
                                        "AddItems Plant/Temp,Plant/Level"}));
    EXPECT_NE(group.ServerGroup(), nullptr);
    EXPECT_NE(temp->FServerHandle, -1);
    EXPECT_NE(level->FServerHandle, -1);
}

TEST_F(ClientLifecycle, DeactivationRemovesGroupsButKeepsTheirState) {
    TVelaGroup& group = client->OPCGroups().Add("G1");
    auto item = group.OPCItems().AddItem("Plant/Temp");
    client->SetActive(true);
    Server().calls.clear();
    int disconnects = 0;
    client->OnDisconnect = [&](TVelaClient&) { ++disconnects; };
    client->SetActive(false);
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(Server().Calls(), (std::vector<std::string>{"RemoveGroup G1", "Disconnect"}));
    EXPECT_EQ(group.ServerGroup(), nullptr);
    EXPECT_EQ(item->FServerHandle, -1);
    EXPECT_EQ(client->OPCGroups().Count(), 1u);
    EXPECT_EQ(group.OPCItems().Count(), 1u);
    // and they come back on the next activation
    client->SetActive(true);
    EXPECT_NE(item->FServerHandle, -1);
}

TEST_F(ClientLifecycle, ActivationTellsTheConnectionLogLevelAndDeliveryMode) {
    client->SetLogLevel(3);
    client->SetActive(true);
    EXPECT_EQ(Server().Count("SetOption LOGLEVEL=3"), 1u);
    EXPECT_EQ(Server().Count("SetOption USESYNC=1"), 1u);
    client->SetLogLevel(1);
    EXPECT_EQ(Server().Count("SetOption LOGLEVEL=1"), 1u);
}

TEST_F(ClientLifecycle, AFailedConnectLeavesTheClientInactive) {
    Server().failConnect = true;
    bool connected = false;
    client->OnConnect = [&](TVelaClient&) { connected = true; };
    EXPECT_THROW(client->SetActive(true), EOPCServerException);
    EXPECT_FALSE(client->Active());
    EXPECT_FALSE(connected);
    EXPECT_EQ(client->Connection(), nullptr);
}

TEST_F(ClientLifecycle, TheUrlChoosesTheProtocolAtActivation) {
    client->SetServerName("OPC.TCP://plant:4840");
    client->SetActive(true);
    EXPECT_EQ(client->Protocol(), coUA);
    EXPECT_EQ(client->Connection()->Connectiontype(), coUA);
    client->SetServerName("https://plant/xmlda");  // deactivates; no pattern: the type stays
    EXPECT_FALSE(client->Active());
    client->SetActive(true);
    EXPECT_EQ(client->Protocol(), coUA);
}

TEST_F(ClientLifecycle, AnUnregisteredProtocolFailsActivation) {
    client->SetServerName("Vendor.Server.1");  // a DA client starts on COM, which is not registered here
    try {
        client->SetActive(true);
        FAIL();
    } catch (const EOPCException& e) {
        EXPECT_EQ(std::string(e.what()), "Protocol not supported (add VelaCOMLink in uses clause)");
    }
    EXPECT_FALSE(client->Active());
}

TEST_F(ClientLifecycle, SetParamPrefixesByProtocol) {
    client->SetProtocol(coUA);
    client->SetParam("user", "x");
    EXPECT_EQ(OptionValue(client->Params(), "ua-user"), "x");
    client->SetParam("user", "");  // ignored
    EXPECT_EQ(OptionValue(client->Params(), "ua-user"), "x");
    client->SetProtocol(coXML);
    client->SetParam("user", "y");
    EXPECT_EQ(OptionValue(client->Params(), "xml-user"), "y");
    client->SetProtocol(coCOM);
    client->SetParam("user", "z");
    EXPECT_EQ(OptionValue(client->Params(), "user"), "z");
}

TEST_F(ClientLifecycle, TheOptionsReachConnect) {
    client->SetProtocol(coXML);  // as the gateway does before it names the server
    client->SetParam("user", "operator");
    client->SetActive(true);
    EXPECT_EQ(Server().Count("Connect http://plant/xmlda as Vela DA Client user=operator"), 1u);
}

struct KeepAliveCase {
    int32_t set;
    int32_t stored;
};

void PrintTo(const KeepAliveCase& c, std::ostream* os) { *os << c.set; }

class KeepAliveClamp : public ClientFixture, public ::testing::WithParamInterface<KeepAliveCase> {};

TEST_P(KeepAliveClamp, StoresTheClampedPeriod) {
    client->SetKeepAlive(GetParam().set);
    EXPECT_EQ(client->KeepAlive(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Table, KeepAliveClamp,
                         ::testing::Values(KeepAliveCase{200, 500}, KeepAliveCase{-1, 500}, KeepAliveCase{0, 0},
                                           KeepAliveCase{500, 500}, KeepAliveCase{501, 501},
                                           KeepAliveCase{10000, 10000}),
                         [](const auto& p) {
                             const int32_t v = p.param.set;
                             return (v < 0 ? "minus" + std::to_string(-v) : std::to_string(v));
                         });

TEST_F(ClientLifecycle, WithoutKeepAliveNoTickRuns) {
    client->SetKeepAlive(0);
    client->SetActive(true);
    PumpFor(700ms);
    EXPECT_EQ(Server().doTimerCalls, 0);
}

TEST_F(ClientLifecycle, AFailedKeepAliveTimesOutOnceAndDeactivates) {
    client->OPCGroups().Add("G1");
    client->SetKeepAlive(500);
    client->SetActive(true);
    Server().reachable = false;
    int timeouts = 0;
    client->OnTimeout = [&](TVelaClient&) { ++timeouts; };
    EXPECT_TRUE(Pump([&] { return !client->Active(); }, 5s));
    EXPECT_EQ(timeouts, 1);
    EXPECT_TRUE(client->ShutDownFromServer());
    // nothing is sent to the vanished server during the teardown
    EXPECT_EQ(Server().Count("RemoveGroup G1 (nothing sent)"), 1u);
    PumpFor(700ms);
    EXPECT_EQ(timeouts, 1);
}

TEST_F(ClientLifecycle, AReachableServerKeepsTheClientActive) {
    client->SetKeepAlive(500);
    client->SetActive(true);
    EXPECT_TRUE(Pump([&] { return Server().doTimerCalls >= 2; }, 5s));
    EXPECT_TRUE(client->Active());
}

struct ShutdownCase {
    const char* url;
    int64_t reason;
    const char* text;
};

void PrintTo(const ShutdownCase& c, std::ostream* os) { *os << c.url << " " << c.reason; }

class ShutdownReason : public ClientFixture, public ::testing::WithParamInterface<ShutdownCase> {};

TEST_P(ShutdownReason, IsDeliveredOnceWithItsText) {
    client->SetServerName(GetParam().url);
    client->OPCGroups().Add("G1");
    client->SetActive(true);
    std::vector<std::string> reasons;
    client->OnServerShutdown = [&](TVelaClient&, const std::string& reason) { reasons.push_back(reason); };
    PostFromConnection(kMsgServerShutdown, nullptr, GetParam().reason);
    EXPECT_TRUE(Pump([&] { return !client->Active(); }));
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0], GetParam().text);
    EXPECT_EQ(Server().Count("RemoveGroup G1 (nothing sent)"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, ShutdownReason,
                         ::testing::Values(ShutdownCase{"http://plant/xmlda", 0, ""},
                                           ShutdownCase{"http://plant/xmlda", 5, "5"},
                                           ShutdownCase{"opc.tcp://plant:4840", 0x80AB0000LL, "$80ab0000"},
                                           ShutdownCase{"opc.tcp://plant:4840", static_cast<int32_t>(0x80AB0000), "$80ab0000"}),
                         [](const auto& p) {
                             return std::string(p.param.url[0] == 'h' ? "xml_" : "ua_") + std::to_string(p.index);
                         });

TEST_F(ClientLifecycle, ASecondShutdownNoticeIsIgnored) {
    client->SetActive(true);
    int notices = 0;
    client->OnServerShutdown = [&](TVelaClient&, const std::string&) { ++notices; };
    TVelaComponent& handler = client->Connection()->GetObject()->GetHandler();
    handler.PostMsg(kMsgServerShutdown, nullptr, 1);
    handler.PostMsg(kMsgServerShutdown, nullptr, 2);
    EXPECT_TRUE(Pump([&] { return !client->Active(); }));
    PumpFor(100ms);
    EXPECT_EQ(notices, 1);
}

TEST_F(ClientLifecycle, ServerCallsOnAnInactiveClientGoThroughTheErrorHook) {
    std::string reported;
    client->OnError = [&](TVelaClient&, const std::string& text, bool& raise) {
        reported = text;
        raise = false;
    };
    TServerStateRecord status;
    client->GetState(status);
    EXPECT_EQ(reported, "Not connected to server");
    client->OnError = nullptr;
    EXPECT_THROW(client->GetErrorString(1), EOPCException);
}

TEST_F(ClientLifecycle, StatusAndTextsComeFromTheConnection) {
    client->SetActive(true);
    EXPECT_EQ(client->GetBandWidth(), 77u);
    EXPECT_TRUE(client->Version2());
    EXPECT_FALSE(client->Version3());
    EXPECT_EQ(client->ServerTypeName(), "DA 2 OPC Server");
    EXPECT_EQ(client->ServerStateStr(1), "running");
    EXPECT_EQ(client->GetErrorString(static_cast<int32_t>(0xC004000C)), "Duplicate name not allowed.");
    EXPECT_EQ(client->GetServerCaption(), "http://plant/xmlda");
    EXPECT_EQ(client->Version(), "5.28");
    client->SetClientName("Gateway");
    EXPECT_EQ(Server().Count("SetClientName Gateway"), 1u);
}

TEST_F(ClientLifecycle, DestroyingAnActiveClientRemovesItsGroupsAndDisconnects) {
    client->OPCGroups().Add("G1");
    client->SetActive(true);
    bool disconnectFired = false;
    client->OnDisconnect = [&](TVelaClient&) { disconnectFired = true; };
    client.reset();
    EXPECT_EQ(Server().Count("RemoveGroup G1"), 1u);
    EXPECT_EQ(Server().Count("Disconnect"), 1u);
    EXPECT_FALSE(disconnectFired);  // cleared before the teardown
}

}  // namespace
}  // namespace vela::testdouble
