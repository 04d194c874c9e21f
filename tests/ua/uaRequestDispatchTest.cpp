#include "ua/transport/uaRequestDispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "ua/uaBinaryEncoder.h"
#include "ua/uaStatusCodes.h"

namespace vela::ua {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> Encoded(const TuaObj& structure) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(structure);
    return encoder.TakeBuffer();
}

std::vector<uint8_t> ReadAnswer(uint32_t handle, uint32_t serviceResult = 0) {
    uaReadResponse response;
    response.fResponseHeader.fRequestHandle = handle;
    response.fResponseHeader.fServiceResult = serviceResult;
    response.fResults.resize(1);
    return Encoded(response);
}

std::vector<uint8_t> Fault(uint32_t code) {
    uaServiceFault fault;
    fault.fResponseHeader.fServiceResult = code;
    return Encoded(fault);
}

// The dispatcher with a stand-in for the secure channel: sent requests are recorded, and the
// test answers them by handing encoded responses to the dispatcher as the read thread would.
class Dispatch : public ::testing::Test {
protected:
    struct Sent {
        uint32_t sequenceRequestId;
        uint32_t requestHandle;
    };
    Dispatch()
        : client([this](uint32_t id, const TuaObj& request) {
              auto& header = *const_cast<TuaRequestObj&>(dynamic_cast<const TuaRequestObj&>(request)).GetRequestHeader();
              std::lock_guard lock(sentLock);
              sent.push_back({id, header.fRequestHandle});
              sentChanged.notify_all();
          }) {
        client.SetActive(true);
    }
    Sent WaitSent(size_t index) {
        std::unique_lock lock(sentLock);
        EXPECT_TRUE(sentChanged.wait_for(lock, 5s, [&] { return sent.size() > index; })) << "nothing was sent";
        return sent.size() > index ? sent[index] : Sent{};
    }
    void Answer(uint32_t requestId, const std::vector<uint8_t>& message) { client.HandleReceivedMessage(requestId, message); }

    std::mutex sentLock;
    std::condition_variable sentChanged;
    std::vector<Sent> sent;
    uaRequestDispatcher client;
};

TEST_F(Dispatch, ExclusiveCallGetsItsResponseMatchedBySequenceRequestId) {
    uaRead read(&client);
    auto answered = std::async(std::launch::async, [&] {
        const Sent s = WaitSent(0);
        Answer(s.sequenceRequestId + 100, ReadAnswer(0));  // someone else's: recorded, not matched
        Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));
        return s;
    });
    EXPECT_THROW(read.Run(3000), uaConnectionException);  // the stray answer was a critical error
    answered.get();

    uaRead second(&client);
    auto answer = std::async(std::launch::async, [&] {
        const Sent s = WaitSent(1);
        Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));
        return s;
    });
    second.Run(3000);
    const Sent s = answer.get();
    ASSERT_NE(second.Response, nullptr);
    EXPECT_EQ(second.Response->fResults.size(), 1u);
    EXPECT_EQ(second.Error, 0u);
    EXPECT_EQ(s.requestHandle, second.RequestId);
    EXPECT_NE(s.sequenceRequestId, s.requestHandle) << "a fresh id is drawn for each send";
}

TEST_F(Dispatch, SecondExclusiveCallWhileOneWaitsIsRefused) {
    uaRead first(&client), second(&client);
    auto running = std::async(std::launch::async, [&] { first.CallSync(3000); });
    const Sent s = WaitSent(0);
    try {
        second.CallSync(3000);
        ADD_FAILURE() << "no exception";
    } catch (const uaConnectionException& e) {
        EXPECT_STREQ(e.what(), "one sync call is already in process");
    }
    Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));
    running.get();
    EXPECT_NE(first.Response, nullptr);
}

TEST_F(Dispatch, ConcurrentSynchronousCallsAllComplete) {
    uaRead a(&client), b(&client);
    auto runA = std::async(std::launch::async, [&] { a.RunSync(3000); });
    const Sent sa = WaitSent(0);
    auto runB = std::async(std::launch::async, [&] { b.RunSync(3000); });
    const Sent sb = WaitSent(1);
    Answer(sb.sequenceRequestId, ReadAnswer(sb.requestHandle));  // answers in reverse order
    Answer(sa.sequenceRequestId, ReadAnswer(sa.requestHandle));
    runA.get();
    runB.get();
    ASSERT_NE(a.Response, nullptr);
    ASSERT_NE(b.Response, nullptr);
    EXPECT_EQ(a.Response->fResponseHeader.fRequestHandle, a.RequestId);
    EXPECT_EQ(b.Response->fResponseHeader.fRequestHandle, b.RequestId);
    EXPECT_EQ(client.OpenRequestCount(), 0u);
}

TEST_F(Dispatch, AsynchronousTimeOutCallsTheHandlerOnceAndALateAnswerIsRecorded) {
    std::atomic<int> calls{0};
    std::atomic<bool> hadResponse{false};
    std::promise<void> called;
    uaRead read(&client);
    const auto started = std::chrono::steady_clock::now();
    read.RunAsync(std::any(42), 300, [&](uint32_t, std::unique_ptr<TuaObj> response, const std::any&) {
        hadResponse = response != nullptr;
        if (++calls == 1) called.set_value();
    });
    const Sent s = WaitSent(0);
    ASSERT_EQ(called.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 290ms);
    EXPECT_EQ(client.LastError().code, 0x80850000u);
    Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(hadResponse);
    EXPECT_EQ(client.LastError().code, 9002u);
    EXPECT_EQ(client.LastError().reason, "no handler for object: 634");
}

TEST_F(Dispatch, AsynchronousAnswerReachesTheHandlerWithItsData) {
    std::promise<std::pair<bool, int>> result;
    uaRead read(&client);
    read.RunAsync(std::any(7), 5000, [&](uint32_t, std::unique_ptr<TuaObj> response, const std::any& data) {
        result.set_value({dynamic_cast<uaReadResponse*>(response.get()) != nullptr, std::any_cast<int>(data)});
    });
    const Sent s = WaitSent(0);
    Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), std::make_pair(true, 7));
}

TEST_F(Dispatch, AnsweredAsynchronousRequestsAreNotKeptUntilTheirTimeOut) {
    std::atomic<int> calls{0};
    auto data = std::make_shared<int>(1);
    for (int i = 0; i < 100; ++i) {
        uaRead read(&client);
        read.RunAsync(std::any(data), 60000, [&](uint32_t, std::unique_ptr<TuaObj>, const std::any&) {
            ++calls;
            throw Exception("a failing handler");  // must not reach the read thread
        });
        const Sent s = WaitSent(static_cast<size_t>(i));
        Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));
    }
    EXPECT_EQ(calls, 100);
    EXPECT_EQ(data.use_count(), 1) << "finished requests still hold their data";
}

TEST_F(Dispatch, ErrorMessageWakesTheExclusiveCallAtOnce) {
    uaRead read(&client);
    auto error = std::async(std::launch::async, [&] {
        WaitSent(0);
        client.HandleErrorMessage(0, 0x80AB0000, "too big");
    });
    const auto started = std::chrono::steady_clock::now();
    try {
        read.CallSync(10000);
        ADD_FAILURE() << "no exception";
    } catch (const uaConnectionException& e) {
        EXPECT_STREQ(e.what(), "UA Error: Read: $80AB0000 too big");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    error.get();
}

TEST_F(Dispatch, ServiceFaults) {
    // answering an exclusive call
    uaRead exclusive(&client);
    auto answer = std::async(std::launch::async, [&] {
        const Sent s = WaitSent(0);
        Answer(s.sequenceRequestId, Fault(0x80250000));
    });
    try {
        exclusive.CallSync(3000);
        ADD_FAILURE() << "no exception";
    } catch (const uaConnectionException& e) {
        EXPECT_EQ(std::string(e.what()), "UA Error: Read: $80250000 " + Statuscodes::ToString(0x80250000));
    }
    answer.get();

    // answering a concurrent synchronous call: the fault's result is the call's error
    uaRead concurrent(&client);
    answer = std::async(std::launch::async, [&] {
        const Sent s = WaitSent(1);
        Answer(s.sequenceRequestId, Fault(0x80260000));
    });
    try {
        concurrent.RunSync(3000);
        ADD_FAILURE() << "no exception";
    } catch (const uaConnectionException& e) {
        EXPECT_EQ(std::string(e.what()), "UA Error ($80260000) " + Statuscodes::ToString(0x80260000));
    }
    answer.get();
    EXPECT_EQ(concurrent.Error, 0x80260000u);

    // answering an asynchronous call with a handler: the handler receives the fault
    std::promise<bool> gotFault;
    uaRead async(&client);
    async.RunAsync({}, 5000, [&](uint32_t, std::unique_ptr<TuaObj> response, const std::any&) {
        gotFault.set_value(dynamic_cast<uaServiceFault*>(response.get()) != nullptr);
    });
    const Sent s = WaitSent(2);
    Answer(s.sequenceRequestId, Fault(0x80270000));
    auto future = gotFault.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(future.get());
}

TEST_F(Dispatch, UnknownOrBrokenMessagesAreRecordedNotFatal) {
    uaNodeId unknown(12345u);
    TuaBinaryEncoder encoder;
    encoder.Write(unknown);
    Answer(3, encoder.TakeBuffer());
    EXPECT_EQ(client.LastError().code, 9001u);
    EXPECT_EQ(client.LastError().reason, "unsupported object: 12345");

    std::vector<uint8_t> truncated = ReadAnswer(1);
    truncated.resize(truncated.size() / 2);
    Answer(4, truncated);
    EXPECT_NE(client.LastError().code, 0u);
}

TEST_F(Dispatch, SynchronousTimeOutNamesTheService) {
    uaRead read(&client);
    try {
        read.CallSync(100);
        ADD_FAILURE() << "no exception";
    } catch (const uaConnectionException& e) {
        EXPECT_STREQ(e.what(), "UA Error: Timeout calling request: (1) Read");
    }
    const Sent s = WaitSent(0);
    Answer(s.sequenceRequestId, ReadAnswer(s.requestHandle));  // too late: matches nothing
    EXPECT_EQ(client.LastError().code, 9002u);
}

TEST_F(Dispatch, NotConnectedCallsRaiseTheirTexts) {
    client.SetActive(false);
    uaRead run(&client), runSync(&client), async(&client);
    try {
        run.Run();
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "UA Error Read: no response or not connected");
    }
    EXPECT_EQ(run.Error, 0x800D0000u);
    try {
        runSync.RunSync();
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "UA Error RunSync Read: not connected");
    }
    EXPECT_THROW(async.RunAsync({}, 0, {}), uaConnectionException);
    EXPECT_THROW((uaRead(nullptr)), Exception);
    EXPECT_TRUE(sent.empty());
}

TEST_F(Dispatch, DisconnectingWakesWaitersWithoutResponse) {
    uaRead read(&client);
    auto running = std::async(std::launch::async, [&] { read.RunSync(10000); });
    WaitSent(0);
    client.BeginDisconnect();
    ASSERT_EQ(running.wait_for(5s), std::future_status::ready);
    running.get();
    EXPECT_EQ(read.Response, nullptr);
}

TEST(RequestIds, WrapFromTheLastPositiveToOneNeverZero) {
    uaRequestDispatcher client([](uint32_t, const TuaObj&) {});
    EXPECT_EQ(client.NextRequestId(), 2u);
    client.SeedRequestIds(0x7FFFFFFC);
    std::vector<uint32_t> drawn;
    for (int i = 0; i < 4; ++i) drawn.push_back(client.NextRequestId());
    EXPECT_EQ(drawn, (std::vector<uint32_t>{0x7FFFFFFD, 0x7FFFFFFE, 1, 2}));
}

TEST(ServiceNames, FollowTheClassNames) {
    EXPECT_EQ(ServiceName(uaReadRequest()), "Read");
    EXPECT_EQ(ServiceName(uaReadResponse()), "Read");
    EXPECT_EQ(ServiceName(uaServiceFault()), "ServiceFault");
    EXPECT_EQ(ServiceName(uaCreateMonitoredItemsRequest()), "CreateMonitoredItems");
    EXPECT_EQ(StructureClassName(uaReadRequest()), "uaReadRequest");
}

TEST(RegisterHandler, UnknownIdsAreRefused) {
    uaRequestDispatcher client([](uint32_t, const TuaObj&) {});
    try {
        client.RegisterHandler(4711, {});
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Method RegisterHandler: UA Server number not found:4711");
    }
}

}  // namespace
}  // namespace vela::ua
