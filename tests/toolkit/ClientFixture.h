#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "InMemoryProtocol.h"
#include "base/MainThread.h"
#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"

namespace vela::testdouble {

using namespace std::chrono_literals;

// A DA client on an XML-DA URL, served by the in-memory module; the test thread plays the
// main thread through a run loop.
class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ClearConnectionRegistry();
        Server().Reset();
        RegisterInMemoryProtocol(coXML);
        RegisterInMemoryProtocol(coUA);
        client = std::make_unique<TVelaDAClient>(&loop);
        client->SetServerName("http://plant/xmlda");
    }
    void TearDown() override {
        client.reset();
        ClearConnectionRegistry();
    }

    // Posts as a connection does: through the handler its protocol objects hold.
    void PostFromConnection(int32_t id, std::unique_ptr<TVelaMsgObject> object, int64_t iParam) {
        client->Connection()->GetObject()->GetHandler().PostMsg(id, std::move(object), iParam);
    }
    template <typename Pred>
    bool Pump(Pred done, std::chrono::milliseconds timeout = 5s) {
        return loop.RunUntil(done, timeout);
    }
    void PumpFor(std::chrono::milliseconds time) {
        loop.RunUntil([] { return false; }, time);
    }

    RunLoop loop;  // outlives the client
    std::unique_ptr<TVelaDAClient> client;
};

}  // namespace vela::testdouble
