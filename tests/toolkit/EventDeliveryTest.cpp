#include <atomic>
#include <thread>

#include "ClientFixture.h"

namespace vela::testdouble {
namespace {

class EventDelivery : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        client->SetActive(true);
        group = &client->OPCGroups().Add("G1");
        item = group->OPCItems().AddItem("Plant/Temp");
    }
    std::unique_ptr<TVelaItemList> ListOf(const TVelaItemDataPtr& record) {
        return std::make_unique<TVelaItemList>(record);
    }
    TVelaGroup* group = nullptr;
    TVelaItemPtr item;
};

TEST_F(EventDelivery, DataChangesReachTheGroupThenTheClientOnTheOwningThread) {
    std::vector<std::string> order;
    std::thread::id handlerThread;
    group->OnDatachange = [&](TVelaDAClient& sender, TVelaItemList& list) {
        EXPECT_EQ(&sender, client.get());
        EXPECT_EQ(list.Count(), 1u);
        handlerThread = std::this_thread::get_id();
        order.push_back("group");
    };
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList& list) {
        EXPECT_EQ(list[0].FItemID, "Plant/Temp");
        order.push_back("client");
    };
    group->GroupEvent()->Reset();
    std::thread poster([&] { PostFromConnection(kMsgDataChange, ListOf(item), group->ClientHandle()); });
    poster.join();
    EXPECT_TRUE(Pump([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"group", "client"}));
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_TRUE(group->GroupEvent()->IsSet());
}

TEST_F(EventDelivery, DataChangesForNoGroupAreDroppedAndFreed) {
    int calls = 0;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) { ++calls; };
    const long before = item.use_count();
    PostFromConnection(kMsgDataChange, ListOf(item), group->ClientHandle() + 1000);
    PostFromConnection(kMsgDataChange, std::make_unique<TVelaLogMsg>(), group->ClientHandle());  // wrong payload
    PostFromConnection(kMsgDataChange, nullptr, group->ClientHandle());
    PumpFor(200ms);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(item.use_count(), before);  // the list let go of the record
}

TEST_F(EventDelivery, ItemsRemovedBeforeDeliveryAreLeftOut) {
    auto other = group->OPCItems().AddItem("Plant/Level");
    auto list = std::make_unique<TVelaItemList>();
    list->Add(item);
    list->Add(other);
    PostFromConnection(kMsgDataChange, std::move(list), group->ClientHandle());
    group->OPCItems().Remove(item.get());  // before the main thread delivers
    std::vector<std::string> seen;
    group->OnDatachange = [&](TVelaDAClient&, TVelaItemList& l) {
        for (const auto& r : l) seen.push_back(r->FItemID);
    };
    EXPECT_TRUE(Pump([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, (std::vector<std::string>{"Plant/Level"}));
}

TEST_F(EventDelivery, AGroupRemovedInItsOwnHandlerIsSafe) {
    int clientCalls = 0;
    group->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) { client->OPCGroups().Remove("G1"); };
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) { ++clientCalls; };
    PostFromConnection(kMsgDataChange, ListOf(item), group->ClientHandle());
    EXPECT_TRUE(Pump([&] { return clientCalls == 1; }));
    EXPECT_EQ(client->OPCGroups().Count(), 0u);
}

TEST_F(EventDelivery, WriteCompletionsCarryTheFailureCount) {
    int32_t failed = -1;
    client->OnWriteComplete = [&](TVelaDAClient&, TVelaItemList& list) { failed = list.FTag; };
    PostFromConnection(kMsgWriteComplete, ListOf(item), 3);
    EXPECT_TRUE(Pump([&] { return failed == 3; }));
}

TEST_F(EventDelivery, LogLinesReachOnLogUntilTheServerIsGone) {
    std::vector<std::string> lines;
    client->OnLog = [&](TVelaClient&, const TVelaLogMsg& log) { lines.push_back(log.Msg); };
    auto log = std::make_unique<TVelaLogMsg>();
    log->Msg = "hello";
    PostFromConnection(kMsgLog, std::move(log), 1);
    EXPECT_TRUE(Pump([&] { return lines.size() == 1; }));
    TVelaComponent& handler = client->Connection()->GetObject()->GetHandler();
    handler.PostMsg(kMsgServerShutdown, nullptr, 0);
    auto late = std::make_unique<TVelaLogMsg>();
    late->Msg = "after";
    handler.PostMsg(kMsgLog, std::move(late), 1);
    handler.PostMsg(kMsgReserved, nullptr, 0);
    EXPECT_TRUE(Pump([&] { return !client->Active(); }));
    PumpFor(100ms);
    EXPECT_EQ(lines, (std::vector<std::string>{"hello"}));
}

TEST_F(EventDelivery, ManyPostingThreadsAllArriveOnTheOwningThread) {
    constexpr int kThreads = 4, kEach = 250;
    std::atomic<int> offThread{0};
    int delivered = 0;
    const auto mainId = std::this_thread::get_id();
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) {
        if (std::this_thread::get_id() != mainId) ++offThread;
        ++delivered;
    };
    TVelaComponent& handler = client->Connection()->GetObject()->GetHandler();
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                handler.PostMsg(kMsgDataChange, std::make_unique<TVelaItemList>(item), group->ClientHandle());
        });
    for (auto& p : posters) p.join();
    EXPECT_TRUE(Pump([&] { return delivered == kThreads * kEach; }, 10s));
    EXPECT_EQ(offThread.load(), 0);
}

TEST_F(EventDelivery, HandlerExceptionsAreSwallowed) {
    int calls = 0;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) {
        ++calls;
        throw std::runtime_error("handler bug");
    };
    PostFromConnection(kMsgDataChange, ListOf(item), group->ClientHandle());
    PostFromConnection(kMsgDataChange, ListOf(item), group->ClientHandle());
    EXPECT_TRUE(Pump([&] { return calls == 2; }));
}

TEST_F(EventDelivery, MessagesPendingAtDestructionAreFreedUnhandled) {
    int calls = 0;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) { ++calls; };
    for (int i = 0; i < 50; ++i) PostFromConnection(kMsgDataChange, ListOf(item), group->ClientHandle());
    client.reset();  // without pumping: the delivery thread waits on this thread, which tears down
    PumpFor(50ms);   // synchronised work left in the loop runs as a no-op
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(item.use_count(), 1);
}

TEST_F(EventDelivery, WithoutSynchronisingHandlersRunOnTheDeliveryThread) {
    auto direct = std::make_unique<TVelaDAClient>(nullptr);
    direct->SetServerName("http://plant/xmlda");
    direct->SetActive(true);
    EXPECT_EQ(Server().Count("SetOption USESYNC=0"), 1u);
    TVelaGroup& g = direct->OPCGroups().Add("D");
    auto i = g.OPCItems().AddItem("Plant/Temp");
    std::atomic<bool> seen{false};
    std::atomic<bool> onOtherThread{false};
    const auto mainId = std::this_thread::get_id();
    direct->OnDatachange = [&](TVelaDAClient&, TVelaItemList&) {
        onOtherThread = std::this_thread::get_id() != mainId;
        seen = true;
    };
    direct->Connection()->GetObject()->GetHandler().PostMsg(kMsgDataChange, std::make_unique<TVelaItemList>(i),
                                                            g.ClientHandle());
    for (int n = 0; n < 500 && !seen; ++n) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(onOtherThread);
}

}  // namespace
}  // namespace vela::testdouble
