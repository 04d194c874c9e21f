#pragma once
// The protocol-neutral client: one connection to one server, its options, and the delivery of
// the connection's event messages on the owning thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/DateTime.h"
#include "base/Event.h"
#include "base/MainThread.h"
#include "toolkit/ConnectionOptions.h"
#include "toolkit/VelaInterfaces.h"
#include "toolkit/VelaMessages.h"
#include "toolkit/VelaReconnect.h"

namespace vela {

// The toolkit's component base: what a protocol object posts its messages to.
class TVelaComponent {
public:
    virtual ~TVelaComponent() = default;
    virtual void HandleMsg(TVelaMsg& msg) { (void)msg; }
    // Any thread may post.
    virtual void PostMsg(int32_t msgId, std::unique_ptr<TVelaMsgObject> object, int64_t iParam) {
        (void)msgId, (void)object, (void)iParam;
    }
};

class TdHandleComponent;

// The delivery thread of one component: drains its queue (on the owning thread when
// synchronised) and runs the keep-alive tick.
class TVelaMsgThread {
public:
    static constexpr int32_t kNoTimer = 2147483647;

    TVelaMsgThread(TdHandleComponent& owner, MainThreadDispatcher* mainThread);
    ~TVelaMsgThread();
    // Starts delivering; the owner calls it once it is fully set up.
    void Start();

    void Signal() { fBreakEvent.Set(); }
    void SetTimer(int32_t ms);
    void KillTimer();
    bool TimerSet() const { return fInitInterval.load() != kNoTimer; }
    // Ends the thread; messages still queued are then freed unhandled.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    std::atomic<bool> fUseSync{true};

private:
    void Execute();
    // Runs work on the owning thread and waits; gives up when the thread is told to end.
    void RunSynchronised(const std::function<void()>& work);
    void Deliver(const std::function<void()>& work);

    TdHandleComponent& fOwner;
    MainThreadDispatcher* mainThread_;
    std::atomic<int32_t> fInitInterval{kNoTimer};
    std::atomic<int64_t> startTicks_{0};  // steady-clock ms of the current period's start
    Event fBreakEvent{true, false};
    std::atomic<bool> terminated_{false};
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    std::thread thread_;
};

class TdHandleComponent : public TVelaComponent {
public:
    // Handlers run on the thread of mainThread (nullptr: on the delivery thread itself).
    explicit TdHandleComponent(MainThreadDispatcher* mainThread);
    ~TdHandleComponent() override;

    void PostMsg(int32_t msgId, std::unique_ptr<TVelaMsgObject> object, int64_t iParam) override;
    virtual void HandleTimer() {}
    bool UseSynchronize() const { return fWorkThread->fUseSync && mainThread_ != nullptr; }
    // The owning thread's dispatcher, or nullptr when handlers run on the delivery thread.
    MainThreadDispatcher* MainThread() const { return mainThread_; }
    void SetUseSynchronize(bool value) { fWorkThread->fUseSync = value; }

    // Takes the first queued message, or nothing.
    std::unique_ptr<TVelaMsg> TakeMessage();

protected:
    TVelaMsgThread& WorkThread() { return *fWorkThread; }
    // Ends the delivery thread and frees what is still queued. Every concrete class calls it
    // first in its destructor, so no message reaches a half-destroyed object.
    void StopMessageThread();

private:
    MainThreadDispatcher* mainThread_;
    std::mutex fLock;
    std::deque<std::unique_ptr<TVelaMsg>> fMsgQueue;
    std::unique_ptr<TVelaMsgThread> fWorkThread;
};

class TVelaClient : public TdHandleComponent {
public:
    using TOnOPCErrorEvent = std::function<void(TVelaClient& sender, const std::string& text, bool& raiseException)>;
    using TOnOPCServerShutdownEvent = std::function<void(TVelaClient& sender, const std::string& reason)>;
    using TOnOPCConnectEvent = std::function<void(TVelaClient& sender)>;
    using TOnOPCTimeoutEvent = std::function<void(TVelaClient& sender)>;
    using TOnOPCLogEvent = std::function<void(TVelaClient& sender, const TVelaLogMsg& message)>;

    explicit TVelaClient(MainThreadDispatcher* mainThread);
    ~TVelaClient() override;

    void Connect(const std::string& serverName, const std::string& computerName);
    void Disconnect();

    bool Active() const { return FActive; }
    // Deactivating also ends any reconnecting.
    void SetActive(bool value);

    // The connection as its owner sees it; readable from any thread.
    struct TConnectionState {
        enum TKind { csDisconnected, csConnected, csReconnecting };
        TKind Kind = csDisconnected;
        DateTime Since = 0;      // local time of the last change of kind
        std::string LastError;   // why the connection was lost, or why the last attempt failed
        int32_t Attempts = 0;    // connection attempts since it was lost
    };
    TConnectionState ConnectionState() const;
    // After the server is lost the client connects again by itself, its groups and items made
    // anew, until that works or the client is deactivated. Off by default.
    bool AutoReconnect() const { return autoReconnect_; }
    void SetAutoReconnect(bool value) { autoReconnect_ = value; }
    const std::string& ServerName() const { return FServerName; }
    void SetServerName(const std::string& value);
    const std::string& ComputerName() const { return FComputername; }
    void SetComputerName(const std::string& value);
    const std::string& ClientName() const { return FClientName; }
    void SetClientName(const std::string& value);
    int32_t ConnectDelay() const { return FConnectDelay; }
    void SetConnectDelay(int32_t value) { FConnectDelay = value; }
    int32_t KeepAlive() const { return FKeepAlive; }
    void SetKeepAlive(int32_t value);
    tVelaConnectionType Protocol() const { return FProtocol; }
    void SetProtocol(tVelaConnectionType value);
    const TStrings& Params() const { return FCParams; }
    void SetParams(const TStrings& value) { FCParams = value; }
    void SetParam(const std::string& name, const std::string& value);
    int32_t LogLevel() const { return fLogLevel; }
    void SetLogLevel(int32_t value);
    const std::string& Version() const { return FVersion; }
    bool ShutDownFromServer() const { return FShutDownFromServer; }
    bool DesignMode() const { return designMode_; }
    void SetDesignMode(bool value) { designMode_ = value; }
    bool Destroying() const { return destroying_; }

    std::string GetServerCaption();
    std::string GetServerClsId();
    int32_t GetLocaleId();
    void SetLocaleId(int32_t localeId);
    bool Version2();
    bool Version3();
    std::string ServerTypeName();
    std::string ServerStateStr(int32_t state) const;
    void GetState(TServerStateRecord& status) { GetServerInfo(status); }
    IVelaConnection* Connection() const { return FOPCClient.get(); }

    // Reports through OnError; raises EOPCException with the text unless the handler cleared the flag.
    void ReportError(const std::string& text);

    TOnOPCErrorEvent OnError;
    TOnOPCServerShutdownEvent OnServerShutdown;
    TOnOPCConnectEvent OnConnect;
    TOnOPCConnectEvent OnDisconnect;
    TOnOPCTimeoutEvent OnTimeout;
    TOnOPCLogEvent OnLog;

    void HandleMsg(TVelaMsg& msg) override;
    void HandleTimer() override;

protected:
    virtual VelaPtr<IVelaConnection> CreateConnection();
    virtual void AfterConnect() {}
    virtual void StartConnection();
    virtual void StopConnection();
    virtual void GetServerInfo(TServerStateRecord& status) { (void)status; }
    // Called whenever the client lets go of its connection.
    virtual void ConnectionDropped() {}
    // The destructor's part that needs the derived object: every concrete class calls it first.
    void DestroyClient();

    std::string FVersion = "unknown";
    std::string FClientName;
    bool destroying_ = false;

private:
    void Activate();
    void Deactivate();
    void ServerShutdown(int64_t reason);
    void SetConnectionState(TConnectionState::TKind kind, const std::string& error);
    void BeginReconnect(const std::string& reason);
    void TryReconnect();
    void StopReconnecting();

    VelaPtr<IVelaConnection> FOPCClient;
    bool FActive = false;
    std::string FServerName;
    std::string FComputername;
    std::string FServerCaption;
    int32_t FConnectDelay = 0;
    int32_t FKeepAlive = 0;
    bool FWrongServertype = false;
    tVelaConnectionType FProtocol = coCOM;
    TStrings FCParams = DefaultConnectionOptions();
    int32_t fLogLevel = 0;
    bool FShutDownFromServer = false;
    bool fTimerInWork = false;
    bool designMode_ = false;
    bool autoReconnect_ = false;
    std::unique_ptr<TVelaReconnector> reconnector_;
    mutable std::mutex stateMutex_;
    TConnectionState state_;
};

}  // namespace vela
