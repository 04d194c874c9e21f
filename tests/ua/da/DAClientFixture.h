#pragma once
// A toolkit DA client on the node-opcua test server: the UA binding registered, the test
// thread playing the main thread through a run loop.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "base/MainThread.h"
#include "tests/ua/interop/NodeOpcuaServer.h"
#include "toolkit/ConnectionRegistry.h"
#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"
#include "ua/da/UADAConnection.h"

namespace vela::ua {

using namespace std::chrono_literals;

class DAClientFixture : public NodeOpcuaServer {
protected:
    static void SetUpTestSuite() {
        NodeOpcuaServer::SetUpTestSuite();
        RegisterUAConnection();
    }
    void SetUp() override {
        client = std::make_unique<TVelaDAClient>(&loop);
        client->SetServerName(url_);
    }
    void TearDown() override { client.reset(); }

    TVelaGroup& ActiveGroup(const std::string& name, bool dataChange = true, int32_t rate = 100) {
        client->OPCGroupDefault().UpdateRate = rate;
        return client->OPCGroups().Add(name, true, dataChange);
    }
    static std::string Id(const std::string& path) { return "ns=1;s=" + path; }
    template <typename Pred>
    bool Pump(Pred done, std::chrono::milliseconds timeout = 10s) {
        return loop.RunUntil(done, timeout);
    }
    RunLoop loop;  // outlives the client
    std::unique_ptr<TVelaDAClient> client;
};

}  // namespace vela::ua
