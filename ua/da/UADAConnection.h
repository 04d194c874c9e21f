#pragma once
// The UA binding of the client toolkit: the connection objects the registry creates for
// "opc.tcp://" server names. One TVelaUAClient per connection; the DA connection adds the one
// shared Publish loop of all its groups, server status in DA form and item properties read as
// UA attributes.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "toolkit/VelaInterfaces.h"
#include "ua/client/VelaUAClient.h"

namespace vela::ua {

class TVelaUADAGroup;

// Settings of the UA binding shared by every connection of the process.
struct UABindingSettings {
    static inline std::atomic<int32_t> deadbandType{2};  // Percent; option "deadband"
    static constexpr uint32_t keepAliveCount = 10;
    static constexpr uint32_t lifetimeCount = 2000;
    static constexpr uint32_t notificationsPerPublish = 0;
    static constexpr uint8_t priority = 0;
    static constexpr int32_t publishTimeout = 400000000;  // ms
    static constexpr const char* browseRoot = "i=85";
};

// What the server takes per service call (its OperationLimits); 0 means no limit.
struct UAOperationLimits {
    uint32_t maxNodesPerRead = 0;
    uint32_t maxNodesPerWrite = 0;
    uint32_t maxMonitoredItemsPerCall = 0;
};

struct TuaSubscriptionAcknowledge {
    uint32_t fSubscriptionToAck = 0;
    uint32_t fSequenceToAck = 0;
};

// The connection to one UA server: options, connect, logging, server shutdown.
class TVelaUAConnection : public TVelaIntfComponent {
public:
    explicit TVelaUAConnection(TVelaComponent* owner);
    ~TVelaUAConnection() override;

    TVelaUAClient& Client() { return *fuaClient; }
    bool WantDisconnect() const { return fWantDisconnect; }
    int32_t LogLevel() const { return fLogLevel; }
    const std::string& BrowseRoot() const { return fBrowseRoot; }
    bool ServerTimeStamp() const { return fServerTimeStamp; }
    // The timestamp an item shows for a data value: server or source, by option "timestamp".
    DateTime ItemTimeStamp(const uaDataValue& value) const;
    // What Reads ask for: the one timestamp items show (Server 1, Source 0).
    int32_t TimestampsToReturn() const { return fServerTimeStamp ? 1 : 0; }
    // Logs through the toolkit (message 5637) when the log level is above 0.
    void Log(int32_t severity, uint32_t type, const std::string& text);

protected:
    void ConnectBase(const std::string& clientName, const std::string& server, const TStrings& options);
    void DisconnectBase();
    bool SetOptionBase(const std::string& name, const std::string& value);
    void SetLogLevel(int32_t level);
    virtual void HandleServerShutdown(const std::string& reason);

    std::unique_ptr<TVelaUAClient> fuaClient;
    int32_t fLogLevel = 0;
    int32_t FLocaleId = 0;
    std::string FClientName;
    bool FDisgnMode = false;
    std::atomic<bool> fWantDisconnect{false};
    std::string fPrivateKeyFile, fPublicKeyFile;
    std::atomic<bool> fUseSync{true};
    std::string fBrowseRoot = UABindingSettings::browseRoot;
    std::atomic<bool> fServerTimeStamp{true};

private:
    bool ProvideKeyFiles(std::vector<uint8_t>& privateKey, std::vector<uint8_t>& certificate) const;
    void HandleClientLog(int severity, uint32_t type, const std::string& text, const TuaObj* data = nullptr);
};

class TVelaUADAConnection final : public TVelaUAConnection, public IVelaDAConnection {
public:
    TVelaUADAConnection(TVelaComponent* owner, bool designMode);
    ~TVelaUADAConnection() override;

    // IVelaUnknown
    int32_t QueryInterface(const VelaGuid& iid, void** object) override;
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }
    // IVelaConnection
    void Connect(const std::string& clientName, const std::string& server, int32_t connectDelay,
                 const TStrings& options, const std::string& computer) override;
    void Disconnect() override;
    int32_t GetLocaleId() override { return FLocaleId; }
    bool SetOption(const std::string& name, const std::string& value) override { return SetOptionBase(name, value); }
    void SetLocaleId(int32_t) override {}
    int32_t ServerType() override { return 5; }
    TVelaIntfComponent* GetObject() override { return this; }
    tVelaConnectionType Connectiontype() override { return coUA; }
    bool SetClientName(const std::string& name) override;
    bool DoTimer() override;
    // IVelaDAConnection
    std::string GetErrorString(int32_t code) override;
    std::string ErrorIDToString(int32_t code) override { return GetErrorString(code); }
    bool QueryAvailableProperties(TVelaPropertyRequests& items, const TStrings& propertyIds, bool raiseErrors,
                                  bool withValues) override;
    std::string LookupItemId(const std::string&, int32_t) override { return {}; }
    void GetServerInfo(TServerStateRecord& status, int32_t options) override;
    VelaPtr<IVelaBrowser> CreateBrowser() override;

    int32_t NextGroupHandle() { return ++groupHandles_; }
    const UAOperationLimits& OperationLimits() const { return limits_; }

    // --- the Publish loop, shared by the groups
    void RegisterSubscription(uint32_t subscriptionId, TVelaUADAGroup* group);
    void UnregisterSubscription(uint32_t subscriptionId, const TVelaUADAGroup* group);
    void UpdateActiveGroups();
    int32_t ActiveGroups() const { return fActiveGroups; }
    int32_t PublishResponseTimeout() const { return fPublishResponseTimeout; }
    void DoPublish();
    // Acknowledgements that ride on the next Publish (tests look at them).
    std::vector<TuaSubscriptionAcknowledge> PendingAcknowledgements();
    // The Publish response handler (also called without response on a time-out).
    void UADoPublishResponse(std::unique_ptr<TuaObj> response);

private:
    void DoConnect();
    void ReadOperationLimits();
    void HandleServerShutdown(const std::string& reason) override;
    void PublishFault(const TuaObj* response);
    void PostConnectionLost(int64_t code);

    int32_t fLastTimeout = 0;
    std::atomic<int32_t> fPublishResponseTimeout{UABindingSettings::publishTimeout};
    std::mutex ackLock_;
    std::vector<TuaSubscriptionAcknowledge> fSubscriptionAcknowledgements;
    std::recursive_mutex subscriptionsLock_;  // held while a notification is processed
    std::map<uint32_t, TVelaUADAGroup*> fSubscriptions;
    std::atomic<int32_t> fActiveGroups{0};
    std::atomic<bool> fPublishInProcess{false};
    std::atomic<bool> connectionLostPosted_{false};
    std::atomic<int32_t> groupHandles_{0};
    UAOperationLimits limits_;
};

class tVelaUAServerBrowser final : public TVelaIntfComponent, public IVelaServerBrowser {
public:
    tVelaUAServerBrowser() : TVelaIntfComponent(nullptr) {}
    int32_t QueryInterface(const VelaGuid& iid, void** object) override;
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }
    void execute(tVelaServerSet serverTypes, const std::string& computer, const tVelaAddServerEvent& onAdd,
                 int32_t options, const std::string& proxy) override;
};

// Registers the UA binding for connection type coUA; false when it is registered already.
bool RegisterUAConnection();

}  // namespace vela::ua
