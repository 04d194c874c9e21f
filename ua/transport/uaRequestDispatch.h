#pragma once
// How the UA client sends service requests and matches the responses: request ids and headers,
// one exclusive synchronous slot, any number of concurrent synchronous calls, asynchronous calls
// with a completion handler and a time-out, the recording of errors and their texts, and the
// generic service call every caller builds its requests with.
#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/Event.h"
#include "base/Exception.h"
#include "ua/uaStructures.h"

namespace vela::ua {

// The client's connection-level failures; the message is what callers see.
class uaConnectionException : public Exception {
public:
    using Exception::Exception;
};

// The last error recorded on the client; type 0 is critical.
struct uaMessageError {
    uint32_t code = 0;
    std::string reason;
    uint32_t type = 0;
};

// Completion handler of an asynchronous request; response is empty on time-out.
using uaServiceCallEvent =
    std::function<void(uint32_t requestId, std::unique_ptr<TuaObj> response, const std::any& data)>;

// One outstanding request.
struct TuaRequest {
    Event fEvent{true, false};
    std::atomic<uint32_t> RequestId{0};
    std::unique_ptr<TuaObj> Response;
    std::any Data;
    uaServiceCallEvent Handler;
    int Timeout = 0;
    std::string ClassName;  // of the request structure, for the reason of a lost connection
    std::chrono::steady_clock::time_point Deadline{};  // asynchronous requests only
};

// "uaReadRequest" → "Read": the class name less "ua" and the first "Request" (else "Response").
std::string ServiceName(const TuaObj& structure);
// The structure's class name, e.g. "uaReadRequest".
std::string StructureClassName(const TuaObj& structure);

// The request machinery of the UA client component.
class uaRequestDispatcher {
public:
    using SendFunction = std::function<void(uint32_t requestId, const TuaObj& request)>;
    using LogFunction = std::function<void(int severity, uint32_t type, const TuaObj* data, const std::string& text)>;

    explicit uaRequestDispatcher(SendFunction send);
    ~uaRequestDispatcher();
    uaRequestDispatcher(const uaRequestDispatcher&) = delete;
    uaRequestDispatcher& operator=(const uaRequestDispatcher&) = delete;

    // --- state shared with the session
    void SetActive(bool active) { fActive = active; }
    bool Active() const { return fActive; }
    void SetServerShutdown(bool shutdown) { fServerShutdown = shutdown; }
    bool ServerShutdown() const { return fServerShutdown; }
    bool Disconnecting() const { return fDisconnecting; }
    // Marks the client as disconnecting and wakes every waiting request; asynchronous ones are freed.
    void BeginDisconnect();
    // The connection broke: a waiting exclusive call is woken and returns without response.
    // Gives the reason to report: the text, and the waiting call's structure when there is one.
    std::string NoteConnectionLost(const std::string& text);
    void EndDisconnect() { fDisconnecting = false; }
    void SetAuthenticationToken(const uaNodeId& token);
    void ClearAuthenticationToken();
    void SetClientName(std::string name) { clientName_ = std::move(name); }
    int fTimeout = 10000;
    LogFunction OnLog;

    // --- requests
    uint32_t NextRequestId();
    // Continues the id sequence after the given id (a reconnect keeps counting).
    void SeedRequestIds(uint32_t last) { fUniqueId = last; }
    void FillRequestHeader(uint32_t id, uaRequestHeader& header) const;
    void SendRequest(uint32_t requestId, const TuaObj& request);
    // Exclusive synchronous call: one at a time; raises on time-out and on critical errors.
    std::unique_ptr<TuaObj> SendMsgAndWait(uint32_t requestId, const TuaObj& request, int timeoutMs);
    // Concurrent synchronous call: any number may wait at once.
    std::unique_ptr<TuaObj> SendMsgAndWaitList(uint32_t requestId, const TuaObj& request, int timeoutMs);
    // Asynchronous call: the handler runs once, with the response or, after the time-out, without.
    void CreateAsyncRequest(uint32_t requestId, const TuaObj& request, uaServiceCallEvent handler, std::any data,
                            int timeoutMs);
    void CancelRequest(uint32_t requestId);

    // --- receiving (the transport's read thread)
    void HandleReceivedMessage(uint32_t requestId, std::span<const uint8_t> message);
    void HandleErrorMessage(uint32_t type, uint32_t code, const std::string& reason);

    // --- errors
    void SetLastError(uint32_t requestId, uint32_t type, uint32_t code, const std::string& reason);
    uaMessageError LastError() const;
    void RecordServiceFault(uint32_t requestId, std::unique_ptr<TuaObj> fault);
    void RegisterHandler(int32_t encodingId, std::function<void(uint32_t, std::unique_ptr<TuaObj>)> handler);
    uint32_t HandleServiceFault(const TuaObj* response);
    static void CheckStatusCode(uint32_t code);
    static uaConnectionException CreateException(uint32_t code);
    void Log(int severity, uint32_t type, const TuaObj* data, const std::string& text) const;

    size_t OpenRequestCount() const;

private:
    using DefaultHandler = std::function<void(uint32_t, std::unique_ptr<TuaObj>)>;
    struct Entry {
        std::function<std::unique_ptr<TuaObj>()> classType;
        DefaultHandler handler;
    };
    void WaitForResponse(TuaRequest& request, int timeoutMs, const std::string& serviceName);
    std::shared_ptr<TuaRequest> TakeOpenRequest(uint32_t requestId);
    void TimeoutLoop();
    void ForgetDeadline(const std::shared_ptr<TuaRequest>& request);

    SendFunction send_;
    std::mutex sendLock_;
    std::atomic<uint32_t> fUniqueId{1};
    std::map<int32_t, Entry> services_;
    std::mutex servicesLock_;

    std::mutex slotLock_;
    std::shared_ptr<TuaRequest> fOpenRequest;
    mutable std::mutex listLock_;
    std::map<uint32_t, std::shared_ptr<TuaRequest>> fOpenRequests;
    mutable std::mutex errorLock_;
    uaMessageError fLastError;

    std::atomic<bool> fActive{false}, fServerShutdown{false}, fDisconnecting{false};
    mutable std::mutex headerLock_;
    bool haveToken_ = false;
    uaNodeId token_{};
    std::string clientName_;

    // time-outs of asynchronous requests: one thread serves all deadlines
    std::mutex timerLock_;
    std::condition_variable timerWake_;
    std::multimap<std::chrono::steady_clock::time_point, std::shared_ptr<TuaRequest>> deadlines_;
    bool stopTimer_ = false;
    std::thread timer_;
};

// One service call: builds the request with a fresh header and runs it in one of three ways.
template <typename RequestT, typename ResponseT>
class TuaServiceCall {
public:
    explicit TuaServiceCall(uaRequestDispatcher* client) : uaClient(client) {
        if (!client) throw Exception("Client object is nil (not allowed)");
        Request = std::make_unique<RequestT>();
        RequestId = client->NextRequestId();
        client->FillRequestHeader(RequestId, *Request->GetRequestHeader());
    }

    std::unique_ptr<RequestT> Request;
    std::unique_ptr<ResponseT> Response;
    uaRequestDispatcher* uaClient;
    uint32_t RequestId = 0;
    uint32_t Error = 0;

    std::string Name() const { return ServiceName(*Request); }

    // Exclusive synchronous call, allowed while the client is still connecting.
    void CallSync(int timeoutMs = 0) {
        if (uaClient->ServerShutdown()) return;
        uaClient->Log(1, 6, Request.get(), Name());
        Take(uaClient->SendMsgAndWait(uaClient->NextRequestId(), *Request, timeoutMs));
    }
    void Run(int timeoutMs = 0) {
        if (uaClient->Active() && !uaClient->ServerShutdown()) CallSync(timeoutMs);
        if (!Response && !(uaClient->Active() && uaClient->ServerShutdown())) {
            Error = 0x800D0000;
            throw Exception("UA Error " + Name() + ": no response or not connected");
        }
    }
    // Concurrent synchronous call.
    void RunSync(int timeoutMs = 0) {
        if (uaClient->ServerShutdown() || uaClient->Disconnecting()) return;
        if (!uaClient->Active()) {
            Error = 0x800D0000;
            throw Exception("UA Error RunSync " + Name() + ": not connected");
        }
        uaClient->Log(1, 6, Request.get(), Name());
        Take(uaClient->SendMsgAndWaitList(uaClient->NextRequestId(), *Request, timeoutMs));
    }
    void RunAsync(std::any additionalData, int timeoutMs, uaServiceCallEvent handler) {
        if (!uaClient->Active()) throw uaConnectionException("first connect to server");
        if (uaClient->Disconnecting() || uaClient->ServerShutdown()) return;
        uaClient->Log(1, 7, Request.get(), Name());
        RequestId = uaClient->NextRequestId();
        uaClient->CreateAsyncRequest(RequestId, *Request, std::move(handler), std::move(additionalData), timeoutMs);
    }
    static void CheckStatusCode(uint32_t code) {
        if ((code & 0xC0000000u) != 0) throw uaRequestDispatcher::CreateException(code);
    }

private:
    void Take(std::unique_ptr<TuaObj> received) {
        if (!received) {
            if (!uaClient->ServerShutdown()) uaClient->Log(0, 5, nullptr, StructureClassName(*Request) + ": Response = nil");
            return;
        }
        if (auto* header = dynamic_cast<TuaResponseObj*>(received.get())) {
            Error = header->GetResponseHeader()->fServiceResult;
            if (Error != 0) throw uaRequestDispatcher::CreateException(Error);
        }
        uaClient->Log(1, 9, received.get(), Name());
        if (dynamic_cast<ResponseT*>(received.get())) Response.reset(static_cast<ResponseT*>(received.release()));
    }
};

using uaFindServers = TuaServiceCall<uaFindServersRequest, uaFindServersResponse>;
using uaGetEndpoints = TuaServiceCall<uaGetEndpointsRequest, uaGetEndpointsResponse>;
using uaBrowse = TuaServiceCall<uaBrowseRequest, uaBrowseResponse>;
using uaBrowseNext = TuaServiceCall<uaBrowseNextRequest, uaBrowseNextResponse>;
using uaRead = TuaServiceCall<uaReadRequest, uaReadResponse>;
using uaWrite = TuaServiceCall<uaWriteRequest, uaWriteResponse>;
using uaCall = TuaServiceCall<uaCallRequest, uaCallResponse>;
using uaCreateMonitoredItems = TuaServiceCall<uaCreateMonitoredItemsRequest, uaCreateMonitoredItemsResponse>;
using uaSetMonitoringMode = TuaServiceCall<uaSetMonitoringModeRequest, uaSetMonitoringModeResponse>;
using uaDeleteMonitoredItems = TuaServiceCall<uaDeleteMonitoredItemsRequest, uaDeleteMonitoredItemsResponse>;
using uaCreateSubscription = TuaServiceCall<uaCreateSubscriptionRequest, uaCreateSubscriptionResponse>;
using uaModifySubscription = TuaServiceCall<uaModifySubscriptionRequest, uaModifySubscriptionResponse>;
using uaSetPublishingMode = TuaServiceCall<uaSetPublishingModeRequest, uaSetPublishingModeResponse>;
using uaPublish = TuaServiceCall<uaPublishRequest, uaPublishResponse>;
using uaRepublish = TuaServiceCall<uaRepublishRequest, uaRepublishResponse>;
using uaDeleteSubscriptions = TuaServiceCall<uaDeleteSubscriptionsRequest, uaDeleteSubscriptionsResponse>;

}  // namespace vela::ua
