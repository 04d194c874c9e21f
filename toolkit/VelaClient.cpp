#ifdef _WIN32
#include <objbase.h>
#endif

#include "toolkit/VelaClient.h"

#include <cinttypes>
#include <cstdio>

#include "toolkit/ConnectionRegistry.h"
#include "toolkit/VelaExceptions.h"

namespace vela {
namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// --- TVelaMsgThread ---

TVelaMsgThread::TVelaMsgThread(TdHandleComponent& owner, MainThreadDispatcher* mainThread)
    : fOwner(owner), mainThread_(mainThread) {
    startTicks_ = NowMs();
}

void TVelaMsgThread::Start() {
    if (!thread_.joinable() && !terminated_) thread_ = std::thread([this] { Execute(); });
}

TVelaMsgThread::~TVelaMsgThread() { Terminate(); }

void TVelaMsgThread::SetTimer(int32_t ms) {
    fInitInterval = ms;
    startTicks_ = NowMs();
    Signal();
}

void TVelaMsgThread::KillTimer() {
    fInitInterval = kNoTimer;
    startTicks_ = NowMs();
}

void TVelaMsgThread::Terminate() {
    terminated_ = true;
    alive_->store(false);  // synchronised work still queued on the owning thread becomes a no-op
    Signal();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TVelaMsgThread::RunSynchronised(const std::function<void()>& work) {
    auto done = std::make_shared<Event>(true, false);
    auto alive = alive_;
    mainThread_->Post([work, done, alive] {
        if (alive->load()) {
            try {
                work();
            } catch (...) {
            }
        }
        done->Set();
    });
    while (!done->WaitFor(std::chrono::milliseconds(20)))
        if (terminated_) return;
}

void TVelaMsgThread::Deliver(const std::function<void()>& work) {
    if (fOwner.UseSynchronize()) {
        RunSynchronised(work);
        return;
    }
    try {
        work();
    } catch (...) {
    }
}

void TVelaMsgThread::Execute() {
#ifdef _WIN32
    const HRESULT comInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
    const auto drain = [this] {
        while (auto msg = fOwner.TakeMessage()) {
            if (terminated_) continue;  // freed unhandled
            try {
                fOwner.HandleMsg(*msg);
            } catch (...) {
            }
        }
    };
    const auto tick = [this] {
        TVelaMsg msg;
        msg.MsgId = kMsgKeepAlive;
        fOwner.HandleMsg(msg);
    };
    int64_t interval = fInitInterval;
    while (!terminated_) {
        // Reset before draining: a message posted during the drain signals again and is not lost.
        fBreakEvent.Reset();
        Deliver(drain);
        if (terminated_) break;
        const bool signalled = fBreakEvent.WaitFor(std::chrono::milliseconds(std::max<int64_t>(interval, 0)));
        if (terminated_) break;
        const int32_t init = fInitInterval;
        if (init == kNoTimer) {
            interval = kNoTimer;
            continue;
        }
        if (signalled) interval = init - (NowMs() - startTicks_);
        if (!signalled || interval <= 0) {
            startTicks_ = NowMs();
            interval = init;
            Deliver(tick);
        }
    }
#ifdef _WIN32
    if (SUCCEEDED(comInit)) CoUninitialize();
#endif
}

// --- TdHandleComponent ---

TdHandleComponent::TdHandleComponent(MainThreadDispatcher* mainThread)
    : mainThread_(mainThread), fWorkThread(std::make_unique<TVelaMsgThread>(*this, mainThread)) {
    fWorkThread->Start();
}

TdHandleComponent::~TdHandleComponent() { StopMessageThread(); }

void TdHandleComponent::PostMsg(int32_t msgId, std::unique_ptr<TVelaMsgObject> object, int64_t iParam) {
    auto msg = std::make_unique<TVelaMsg>();
    msg->MsgId = msgId;
    msg->IParam = iParam;
    msg->OParam = std::move(object);
    {
        std::lock_guard lock(fLock);
        fMsgQueue.push_back(std::move(msg));
    }
    fWorkThread->Signal();
}

std::unique_ptr<TVelaMsg> TdHandleComponent::TakeMessage() {
    std::lock_guard lock(fLock);
    if (fMsgQueue.empty()) return nullptr;
    auto msg = std::move(fMsgQueue.front());
    fMsgQueue.pop_front();
    return msg;
}

void TdHandleComponent::StopMessageThread() {
    fWorkThread->Terminate();
    std::deque<std::unique_ptr<TVelaMsg>> left;
    std::lock_guard lock(fLock);
    left.swap(fMsgQueue);
}

// --- TVelaClient ---

TVelaClient::TVelaClient(MainThreadDispatcher* mainThread) : TdHandleComponent(mainThread) {}

TVelaClient::~TVelaClient() { DestroyClient(); }

void TVelaClient::DestroyClient() {
    if (destroying_) return;
    destroying_ = true;
    OnDisconnect = nullptr;
    StopReconnecting();
    try {
        SetActive(false);
    } catch (...) {
    }
    StopMessageThread();
}

void TVelaClient::Connect(const std::string& serverName, const std::string& computerName) {
    SetActive(false);
    FServerName = serverName;
    FComputername = computerName;
    SetActive(true);
}

void TVelaClient::Disconnect() { SetActive(false); }

void TVelaClient::SetActive(bool value) {
    if (value) {
        if (FActive) return;
        FProtocol = DetectConnectionType(FServerName, FProtocol);
        CheckProtocolRegistered(FProtocol);
        Activate();
    } else {
        StopReconnecting();
        if (FActive) Deactivate();
        SetConnectionState(TConnectionState::csDisconnected, {});
    }
}

void TVelaClient::Activate() {
    FShutDownFromServer = false;
    FOPCClient.reset();
    ConnectionDropped();
    FOPCClient = CreateConnection();
    try {
        FOPCClient->SetOption("LOGLEVEL", std::to_string(fLogLevel));
        FOPCClient->SetOption("USESYNC", UseSynchronize() ? "1" : "0");
        FWrongServertype = false;
        fTimerInWork = false;
        FOPCClient->Connect(FClientName, FServerName, FConnectDelay, FCParams, FComputername);
    } catch (...) {
        FOPCClient.reset();
        ConnectionDropped();
        throw;
    }
    AfterConnect();
    FActive = true;
    StopReconnecting();
    SetConnectionState(TConnectionState::csConnected, {});
    if (OnConnect) OnConnect(*this);
    StartConnection();
}

void TVelaClient::Deactivate() {
    std::exception_ptr error;
    try {
        StopConnection();
    } catch (...) {
        error = std::current_exception();
    }
    try {
        if (FOPCClient) FOPCClient->Disconnect();
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    FActive = false;
    try {
        if (OnDisconnect) OnDisconnect(*this);
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    FOPCClient.reset();
    ConnectionDropped();
    if (error) std::rethrow_exception(error);
}

void TVelaClient::SetServerName(const std::string& value) {
    if (value == FServerName) return;
    SetActive(false);
    FServerName = value;
}

void TVelaClient::SetComputerName(const std::string& value) {
    if (value == FComputername) return;
    SetActive(false);
    FComputername = value;
}

void TVelaClient::SetClientName(const std::string& value) {
    FClientName = value;
    if (FActive && FOPCClient) FOPCClient->SetClientName(value);
}

void TVelaClient::SetKeepAlive(int32_t value) {
    FKeepAlive = value == 0 ? 0 : std::max(value, 500);
    if (!FActive || designMode_) return;
    if (FKeepAlive > 0) WorkThread().SetTimer(FKeepAlive);
    else WorkThread().KillTimer();
}

void TVelaClient::SetProtocol(tVelaConnectionType value) {
    if (value == FProtocol) return;
    FProtocol = value;
    if (FActive) {
        SetActive(false);
        SetActive(true);
    }
}

void TVelaClient::SetParam(const std::string& name, const std::string& value) {
    if (value.empty()) return;
    SetOptionValue(FCParams, ProtocolOptionName(FProtocol, name), value);
}

void TVelaClient::SetLogLevel(int32_t value) {
    fLogLevel = value;
    if (FOPCClient) FOPCClient->SetOption("LOGLEVEL", std::to_string(value));
}

std::string TVelaClient::GetServerCaption() {
    std::string classId;
    ConnectionServerNames(FProtocol, FServerName, FServerCaption, classId);
    return FServerCaption;
}

std::string TVelaClient::GetServerClsId() {
    std::string caption, classId;
    ConnectionServerNames(FProtocol, FServerName, caption, classId);
    return classId;
}

int32_t TVelaClient::GetLocaleId() {
    if (!FOPCClient) {
        ReportError("Not connected to server");
        return 0;
    }
    return FOPCClient->GetLocaleId();
}

void TVelaClient::SetLocaleId(int32_t localeId) {
    if (!FOPCClient) {
        ReportError("Not connected to server");
        return;
    }
    FOPCClient->SetLocaleId(localeId);
}

bool TVelaClient::Version2() { return FOPCClient && FOPCClient->ServerType() == 2; }
bool TVelaClient::Version3() { return FOPCClient && FOPCClient->ServerType() == 3; }

std::string TVelaClient::ServerTypeName() { return vela::ServerTypeName(FOPCClient ? FOPCClient->ServerType() : 0); }

std::string TVelaClient::ServerStateStr(int32_t state) const { return ServerStateText(FProtocol, state); }

void TVelaClient::ReportError(const std::string& text) {
    bool raise = true;
    if (OnError) OnError(*this, text, raise);
    if (raise) throw EOPCException(text);
}

VelaPtr<IVelaConnection> TVelaClient::CreateConnection() { throw EOPCException("please override CreateConnection"); }

void TVelaClient::StartConnection() {
    if (FKeepAlive > 0 && !designMode_) WorkThread().SetTimer(FKeepAlive);
}

void TVelaClient::StopConnection() { WorkThread().KillTimer(); }

void TVelaClient::HandleMsg(TVelaMsg& msg) {
    if (msg.MsgId == kMsgReconnect) {
        TryReconnect();
        return;
    }
    if (FShutDownFromServer) return;  // the message and its object are freed by the caller
    switch (msg.MsgId) {
        case kMsgServerShutdown:
            ServerShutdown(msg.IParam);
            break;
        case kMsgKeepAlive:
            if (!fTimerInWork) {
                fTimerInWork = true;
                try {
                    HandleTimer();
                } catch (...) {
                    fTimerInWork = false;
                    throw;
                }
                fTimerInWork = false;
            }
            break;
        case kMsgLog:
            if (OnLog && !destroying_)
                if (const auto* log = dynamic_cast<const TVelaLogMsg*>(msg.OParam.get())) OnLog(*this, *log);
            break;
        default:
            break;  // 5636 and unknown ids
    }
}

void TVelaClient::ServerShutdown(int64_t reason) {
    if (FShutDownFromServer) return;
    FShutDownFromServer = true;
    std::string text;
    if (reason != 0) {
        if (FProtocol == coUA) {
            char buffer[32];
            const uint64_t bits = (reason < 0 && reason >= INT32_MIN) ? static_cast<uint32_t>(reason)
                                                                      : static_cast<uint64_t>(reason);
            std::snprintf(buffer, sizeof buffer, "$%" PRIx64, bits);
            text = buffer;
        } else {
            text = std::to_string(reason);
        }
    }
    if (OnServerShutdown) OnServerShutdown(*this, text);
    SetActive(false);
    BeginReconnect(text.empty() ? std::string("the server ended the connection")
                                : "the connection was lost (" + text + ")");
}

void TVelaClient::HandleTimer() {
    if (designMode_ || !FActive || !FOPCClient) return;
    bool reachable = false;
    try {
        reachable = FOPCClient->DoTimer();
    } catch (...) {
        reachable = false;
    }
    if (reachable) return;
    if (FKeepAlive > 0) WorkThread().KillTimer();
    if (FShutDownFromServer) return;
    // The server is gone: nothing more is sent to it while the client tears down.
    FShutDownFromServer = true;
    if (OnTimeout) OnTimeout(*this);
    SetActive(false);
    BeginReconnect("the server does not answer");
}

TVelaClient::TConnectionState TVelaClient::ConnectionState() const {
    std::lock_guard lock(stateMutex_);
    TConnectionState state = state_;
    if (reconnector_) state.Attempts = reconnector_->Attempts();
    return state;
}

void TVelaClient::SetConnectionState(TConnectionState::TKind kind, const std::string& error) {
    std::lock_guard lock(stateMutex_);
    if (state_.Kind != kind) state_.Since = NowLocal();
    state_.Kind = kind;
    if (kind != TConnectionState::csDisconnected || !error.empty()) state_.LastError = error;
}

void TVelaClient::BeginReconnect(const std::string& reason) {
    if (!autoReconnect_ || destroying_ || designMode_) return;
    SetConnectionState(TConnectionState::csReconnecting, reason);
    std::string host;
    uint16_t port = 0;
    // Through a proxy the server's own address cannot be probed: every pause ends in an attempt.
    const bool proxied = !OptionValue(FCParams, "ua-proxy").empty() || !OptionValue(FCParams, "xml-proxy").empty();
    if (proxied || !SplitServerAddress(FServerName, host, port)) port = 0;
    if (!reconnector_) reconnector_ = std::make_unique<TVelaReconnector>([this] { PostMsg(kMsgReconnect, nullptr, 0); });
    reconnector_->Start(host, port);
}

void TVelaClient::TryReconnect() {
    if (!reconnector_ || !reconnector_->Running() || destroying_) return;
    if (FActive) {
        StopReconnecting();
        return;
    }
    try {
        SetActive(true);
    } catch (const std::exception& e) {
        if (FActive) return;  // connected; only part of the groups came back, which they report
        SetConnectionState(TConnectionState::csReconnecting, e.what());
        reconnector_->AttemptFailed();
    }
}

void TVelaClient::StopReconnecting() {
    if (reconnector_) reconnector_->Stop();
}

}  // namespace vela
