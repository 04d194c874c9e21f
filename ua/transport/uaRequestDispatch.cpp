#include "ua/transport/uaRequestDispatch.h"

#include <cstdio>

#include "base/DateTime.h"
#include "ua/uaStatusCodes.h"

namespace vela::ua {

namespace {

std::string Hex8(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", code);
    return text;
}

std::string Hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", code);
    return text;
}

// Class names of every registered structure, taken once from their own text forms.
const std::map<int32_t, std::string>& ClassNames() {
    static const std::map<int32_t, std::string> names = [] {
        std::map<int32_t, std::string> result;
        for (const uaServiceInfo& info : ServiceRegistry()) {
            const std::string text = info.ClassType()->ToString();
            const size_t start = text.find(":\"");
            const size_t end = text.find('-', start);
            if (start != std::string::npos && end != std::string::npos)
                result[info.ServiceId] = text.substr(start + 2, end - start - 2);
        }
        return result;
    }();
    return names;
}

}  // namespace

std::string StructureClassName(const TuaObj& structure) {
    const auto& names = ClassNames();
    const auto found = names.find(structure.fObjNo);
    if (found != names.end()) return found->second;
    const std::string text = structure.ToString();
    const size_t start = text.find(":\"");
    const size_t end = text.find('-', start);
    return start != std::string::npos && end != std::string::npos ? text.substr(start + 2, end - start - 2) : "";
}

std::string ServiceName(const TuaObj& structure) {
    std::string name = StructureClassName(structure);
    if (name.starts_with("ua")) name.erase(0, 2);
    if (const size_t at = name.find("Request"); at != std::string::npos) name.erase(at, 7);
    else if (const size_t at2 = name.find("Response"); at2 != std::string::npos) name.erase(at2, 8);
    return name;
}

uaRequestDispatcher::uaRequestDispatcher(SendFunction send) : send_(std::move(send)) {
    for (const uaServiceInfo& info : ServiceRegistry()) services_[info.ServiceId] = Entry{info.ClassType, {}};
    services_[uaServiceFault::kObjNo].handler = [this](uint32_t id, std::unique_ptr<TuaObj> fault) {
        RecordServiceFault(id, std::move(fault));
    };
    services_[uaPublishResponse::kObjNo].handler = [](uint32_t, std::unique_ptr<TuaObj>) {};
    timer_ = std::thread([this] { TimeoutLoop(); });
}

uaRequestDispatcher::~uaRequestDispatcher() {
    {
        std::lock_guard lock(timerLock_);
        stopTimer_ = true;
    }
    timerWake_.notify_all();
    timer_.join();
}

void uaRequestDispatcher::SetAuthenticationToken(const uaNodeId& token) {
    std::lock_guard lock(headerLock_);
    token_ = token;
    haveToken_ = true;
}

void uaRequestDispatcher::ClearAuthenticationToken() {
    std::lock_guard lock(headerLock_);
    haveToken_ = false;
}

uint32_t uaRequestDispatcher::NextRequestId() {
    uint32_t current = fUniqueId.load();
    uint32_t next;
    do {
        next = (current > 0x7FFFFFFDu ? 0 : current) + 1;
    } while (!fUniqueId.compare_exchange_weak(current, next));
    return next;
}

void uaRequestDispatcher::FillRequestHeader(uint32_t id, uaRequestHeader& header) const {
    {
        std::lock_guard lock(headerLock_);
        header.fAuthenticationToken = haveToken_ ? token_ : uaNodeId(1u, 0);
        header.fAuditEntryId = clientName_;
    }
    header.fTimestamp = NowUtc();
    header.fRequestHandle = id;
    header.fReturnDiagnostics = 0;
    header.fTimeoutHint = static_cast<uint32_t>(fTimeout);
}

void uaRequestDispatcher::SendRequest(uint32_t requestId, const TuaObj& request) {
    std::lock_guard lock(sendLock_);
    send_(requestId, request);
}

void uaRequestDispatcher::Log(int severity, uint32_t type, const TuaObj* data, const std::string& text) const {
    if (OnLog) OnLog(severity, type, data, text);
}

uaMessageError uaRequestDispatcher::LastError() const {
    std::lock_guard lock(errorLock_);
    return fLastError;
}

void uaRequestDispatcher::SetLastError(uint32_t requestId, uint32_t type, uint32_t code, const std::string& reason) {
    {
        std::lock_guard lock(errorLock_);
        fLastError = {code, reason.empty() ? Statuscodes::ToString(code) : reason, type};
    }
    if (type != 0) return;
    std::lock_guard lock(slotLock_);
    if (fOpenRequest && (requestId == 0 || requestId == fOpenRequest->RequestId)) fOpenRequest->fEvent.Set();
}

void uaRequestDispatcher::HandleErrorMessage(uint32_t type, uint32_t code, const std::string& reason) {
    SetLastError(0, type, code, reason);
}

void uaRequestDispatcher::RecordServiceFault(uint32_t requestId, std::unique_ptr<TuaObj> fault) {
    auto* response = dynamic_cast<TuaResponseObj*>(fault.get());
    const uint32_t code = response ? response->GetResponseHeader()->fServiceResult : 0;
    if (code != 0) SetLastError(requestId, 0, code, Statuscodes::ToString(code));
}

void uaRequestDispatcher::RegisterHandler(int32_t encodingId, DefaultHandler handler) {
    std::lock_guard lock(servicesLock_);
    const auto found = services_.find(encodingId);
    if (found == services_.end())
        throw Exception("Method RegisterHandler: UA Server number not found:" + std::to_string(encodingId));
    found->second.handler = std::move(handler);
}

uint32_t uaRequestDispatcher::HandleServiceFault(const TuaObj* response) {
    uint32_t code = 0x80850000;
    std::string text;
    if (const auto* answer = dynamic_cast<const TuaResponseObj*>(response)) {
        code = const_cast<TuaResponseObj*>(answer)->GetResponseHeader()->fServiceResult;
        text = Statuscodes::ToString(code);
    } else if (response) {
        text = "wrong response object: " + ServiceName(*response);
    } else {
        text = "Timeout occurred while processing the request.";
    }
    Log(3, code, response, text);
    return code;
}

uaConnectionException uaRequestDispatcher::CreateException(uint32_t code) {
    return uaConnectionException("UA Error ($" + Hex(code) + ") " + Statuscodes::ToString(code));
}

void uaRequestDispatcher::CheckStatusCode(uint32_t code) {
    if (code != 0) throw CreateException(code);
}

void uaRequestDispatcher::WaitForResponse(TuaRequest& request, int timeoutMs, const std::string& serviceName) {
    const int wait = timeoutMs == 0 ? fTimeout : timeoutMs;
    if (!request.fEvent.WaitFor(std::chrono::milliseconds(wait))) {
        request.RequestId = 0;
        throw uaConnectionException("UA Error: Timeout calling request: (1) " + serviceName);
    }
    const uaMessageError error = LastError();
    if (error.code == 0) return;
    const std::string text = "UA Error: " + serviceName + ": $" + Hex8(error.code) + " " + error.reason;
    if (error.type == 0) throw uaConnectionException(text);
    Log(3, 9, nullptr, text);
}

std::unique_ptr<TuaObj> uaRequestDispatcher::SendMsgAndWait(uint32_t requestId, const TuaObj& request, int timeoutMs) {
    if (fServerShutdown) return nullptr;
    auto pending = std::make_shared<TuaRequest>();
    pending->RequestId = requestId;
    pending->ClassName = StructureClassName(request);
    {
        std::lock_guard lock(slotLock_);
        if (fOpenRequest) throw uaConnectionException("one sync call is already in process");
        fOpenRequest = pending;
    }
    struct FreeSlot {
        uaRequestDispatcher* self;
        ~FreeSlot() {
            std::lock_guard lock(self->slotLock_);
            self->fOpenRequest.reset();
        }
    } freeSlot{this};
    {
        std::lock_guard lock(errorLock_);
        fLastError = {};
    }
    SendRequest(requestId, request);
    WaitForResponse(*pending, timeoutMs, ServiceName(request));
    std::lock_guard lock(slotLock_);
    return std::move(pending->Response);
}

std::unique_ptr<TuaObj> uaRequestDispatcher::SendMsgAndWaitList(uint32_t requestId, const TuaObj& request,
                                                                int timeoutMs) {
    if (fServerShutdown) return nullptr;
    auto pending = std::make_shared<TuaRequest>();
    pending->RequestId = requestId;
    {
        std::lock_guard lock(listLock_);
        fOpenRequests[requestId] = pending;
    }
    struct Remove {
        uaRequestDispatcher* self;
        uint32_t id;
        ~Remove() { self->TakeOpenRequest(id); }
    } remove{this, requestId};
    {
        std::lock_guard lock(errorLock_);
        fLastError = {};
    }
    SendRequest(requestId, request);
    WaitForResponse(*pending, timeoutMs, ServiceName(request));
    std::lock_guard lock(listLock_);
    return std::move(pending->Response);
}

void uaRequestDispatcher::CreateAsyncRequest(uint32_t requestId, const TuaObj& request, uaServiceCallEvent handler,
                                             std::any data, int timeoutMs) {
    auto pending = std::make_shared<TuaRequest>();
    pending->RequestId = requestId;
    pending->Handler = std::move(handler);
    pending->Data = std::move(data);
    pending->Timeout = timeoutMs != 0 ? timeoutMs : fTimeout;
    {
        std::lock_guard lock(listLock_);
        fOpenRequests[requestId] = pending;
    }
    {
        std::lock_guard lock(errorLock_);
        fLastError = {};
    }
    pending->Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(pending->Timeout);
    {
        std::lock_guard lock(timerLock_);
        deadlines_.emplace(pending->Deadline, pending);
    }
    timerWake_.notify_all();
    try {
        SendRequest(requestId, request);
    } catch (...) {
        // an unsent request never completes: take it back so that only the caller hears of it
        TakeOpenRequest(requestId);
        pending->fEvent.Set();
        throw;
    }
}

void uaRequestDispatcher::TimeoutLoop() {
    std::unique_lock lock(timerLock_);
    while (!stopTimer_) {
        if (deadlines_.empty()) {
            timerWake_.wait(lock);
            continue;
        }
        const auto first = deadlines_.begin();
        if (first->second->fEvent.IsSet()) {  // answered in time
            deadlines_.erase(first);
            continue;
        }
        if (const auto due = first->first; std::chrono::steady_clock::now() < due) {
            timerWake_.wait_until(lock, due);  // a copy: the entry may go while we wait
            continue;
        }
        std::shared_ptr<TuaRequest> request = first->second;
        deadlines_.erase(first);
        lock.unlock();
        {
            std::lock_guard errors(errorLock_);
            fLastError = {0x80850000, "Timeout occurred while processing the request.", 0};
        }
        const bool wasOpen = TakeOpenRequest(request->RequestId) != nullptr;
        if (wasOpen && !fDisconnecting && fActive && request->Handler) {
            try {
                request->Handler(request->RequestId, nullptr, std::any{});
            } catch (...) {
                // a handler's failure must not end the time-out service
            }
        }
        lock.lock();
    }
}

void uaRequestDispatcher::ForgetDeadline(const std::shared_ptr<TuaRequest>& request) {
    if (request->Timeout == 0) return;
    std::lock_guard lock(timerLock_);
    auto [first, last] = deadlines_.equal_range(request->Deadline);
    for (auto it = first; it != last; ++it)
        if (it->second == request) {
            deadlines_.erase(it);
            return;
        }
}

std::shared_ptr<TuaRequest> uaRequestDispatcher::TakeOpenRequest(uint32_t requestId) {
    std::lock_guard lock(listLock_);
    const auto found = fOpenRequests.find(requestId);
    if (found == fOpenRequests.end()) return nullptr;
    std::shared_ptr<TuaRequest> request = std::move(found->second);
    fOpenRequests.erase(found);
    return request;
}

size_t uaRequestDispatcher::OpenRequestCount() const {
    std::lock_guard lock(listLock_);
    return fOpenRequests.size();
}

void uaRequestDispatcher::HandleReceivedMessage(uint32_t requestId, std::span<const uint8_t> message) {
    std::unique_ptr<TuaObj> structure;
    DefaultHandler defaultHandler;
    uint32_t encodingId = 0;
    try {
        TuaBinaryDecoder decoder(message);
        encodingId = decoder.ReadMessageId();
        {
            std::lock_guard lock(servicesLock_);
            const auto found = services_.find(static_cast<int32_t>(encodingId));
            if (found == services_.end()) {
                SetLastError(requestId, 0, 9001, "unsupported object: " + std::to_string(encodingId));
                return;
            }
            structure = found->second.classType();
            defaultHandler = found->second.handler;
        }
        decoder.Read(*structure);
    } catch (const Exception& e) {
        SetLastError(requestId, 0, 0x80070000, std::string("a response that does not decode: ") + e.what());
        return;
    }
    const bool fault = encodingId == static_cast<uint32_t>(uaServiceFault::kObjNo);
    {
        std::unique_lock lock(slotLock_);
        if (fOpenRequest && requestId != 0 && fOpenRequest->RequestId == requestId) {
            if (fault) {
                lock.unlock();
                RecordServiceFault(requestId, std::move(structure));
            } else {
                fOpenRequest->Response = std::move(structure);
                fOpenRequest->fEvent.Set();
            }
            return;
        }
    }
    std::shared_ptr<TuaRequest> request = TakeOpenRequest(requestId);
    if (!request || fDisconnecting) {
        if (!fDisconnecting) SetLastError(requestId, 0, 9002, "no handler for object: " + std::to_string(encodingId));
        if (request) request->fEvent.Set();
        return;
    }
    if (!request->Handler && request->Timeout != 0 && defaultHandler) {
        request->Handler = [defaultHandler](uint32_t id, std::unique_ptr<TuaObj> response, const std::any&) {
            defaultHandler(id, std::move(response));
        };
    }
    ForgetDeadline(request);
    if (request->Handler) {
        request->fEvent.Set();
        if (requestId != 0) Log(1, 10, structure.get(), ServiceName(*structure));
        try {
            request->Handler(requestId, std::move(structure), request->Data);
        } catch (const std::exception& e) {
            // a handler's failure must not end the connection's read thread
            Log(3, 9, nullptr, std::string("UA Error: completion handler: ") + e.what());
        }
        return;
    }
    {
        std::lock_guard lock(listLock_);
        request->Response = std::move(structure);
    }
    request->fEvent.Set();
}

void uaRequestDispatcher::BeginDisconnect() {
    fDisconnecting = true;
    std::map<uint32_t, std::shared_ptr<TuaRequest>> open;
    {
        std::lock_guard lock(listLock_);
        open.swap(fOpenRequests);
    }
    for (auto& [id, request] : open) request->fEvent.Set();
    // Requests taken back here are never completed: their time-outs go too, with the handlers
    // and whatever the handlers hold.
    decltype(deadlines_) timed;
    {
        std::lock_guard timer(timerLock_);
        timed.swap(deadlines_);
    }
    timed.clear();
    std::lock_guard lock(slotLock_);
    if (fOpenRequest) fOpenRequest->fEvent.Set();
}

std::string uaRequestDispatcher::NoteConnectionLost(const std::string& text) {
    std::lock_guard lock(slotLock_);
    if (!fOpenRequest) return text;
    const std::string reason = text + " was returned during " + fOpenRequest->ClassName;
    {
        std::lock_guard errors(errorLock_);
        if (fLastError.code == 0) fLastError = {0x80AE0000, reason, 1};
    }
    fOpenRequest->fEvent.Set();
    return reason;
}

void uaRequestDispatcher::CancelRequest(uint32_t requestId) {
    uint32_t slotId = 0;
    {
        std::lock_guard lock(slotLock_);
        if (!fOpenRequest) return;
        slotId = fOpenRequest->RequestId;
    }
    TuaServiceCall<uaCancelRequest, uaCancelResponse> cancel(this);
    cancel.Request->fRequestHandle = requestId != 0 ? requestId : slotId;
    cancel.RunSync();
}

}  // namespace vela::ua
