#pragma once
// A DA group on a UA server: with data-change delivery one subscription, each item a
// monitored item on the Value attribute of the node its item id names; reads and writes are
// Read and Write services. Works directly on the toolkit's item records.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "toolkit/VelaInterfaces.h"
#include "toolkit/VelaItemData.h"
#include "ua/client/VelaUAClient.h"

namespace vela::ua {

class TVelaUADAConnection;

// The UA built-in type a variant type code maps to.
int32_t VariantTypeToUAType(VarType type);

class TVelaUADAGroup final : public TVelaIntfComponent, public IVelaGroup {
public:
    static constexpr uint32_t kNoSubscription = 0xFFFFFFFF;

    explicit TVelaUADAGroup(TVelaUADAConnection& connection);
    ~TVelaUADAGroup() override;

    // IVelaUnknown
    int32_t QueryInterface(const VelaGuid& iid, void** object) override;
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }
    // IVelaGroup
    void RemoveGroup(bool serverShutdown, int32_t& serverHandle) override;
    void SetName(const std::string& name) override { FName = name; }
    void GetState(TVelaGroupStateRec& state) override;
    void SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand, int32_t localeId,
                  int32_t clientHandle, int32_t holdTime, int32_t waitTime) override;
    bool SyncWrite(TVelaItemList& items) override { return WriteItems(items, false); }
    bool AsyncWrite(TVelaItemList& items) override { return WriteItems(items, true); }
    bool AsyncRead(TVelaItemList& items) override { return ReadItems(items, true); }
    bool SyncRead(TVelaItemList& items, bool) override { return ReadItems(items, false); }
    bool GetEUInfos(TVelaItemList&) override { return false; }
    void CancelLastAsyncCall() override;
    void Refresh(int32_t) override {}
    bool AddItems(TVelaItemList& items, bool add) override;
    bool RemoveItems(bool serverShutdown, TVelaItemList& items) override;
    bool SetActiveState(TVelaItemList& items, bool active) override;
    bool SetDatatypes(TVelaItemList& items) override;
    TVelaIntfComponent* GetObject() override { return this; }
    void AddGroup(int32_t& serverHandle, const std::string& name, int32_t clientHandle, bool active, float deadBand,
                  int32_t timeBias, int32_t localeId, int32_t& updateRate, bool createOnDatachange, int32_t holdTime,
                  int32_t waitTime) override;

    // --- for the connection's Publish loop
    bool SubscriptionActive() const { return fSubId != kNoSubscription && fSubId != 0 && FActive; }
    int32_t UpdateRate() const { return FUpdateRate; }
    uint32_t MaxKeepAliveCount() const { return FMaxKeepAliveCount; }
    uint32_t SequenceNo() const { return fSequenceNo; }
    uint32_t SubscriptionId() const { return fSubId; }
    // Turns a notification message into data-change messages of the toolkit.
    void ProcessNotification(const uaNotificationMessage& message);

private:
    TVelaUAClient& Client() const;
    bool ValidSubscription() const { return fSubId != kNoSubscription; }
    void CheckValidSubscription() const;
    uint32_t CreateSubscriptionStep(int32_t& updateRate, bool active);
    void Subscribe(int32_t& updateRate, bool active);
    void DeleteSubscriptionStep();
    void ReadItemAttributes(TVelaItemList& items);
    void ReadAttributesOf(TVelaItemList& items);
    bool CreateMonitoredItems(TVelaItemList& items);
    bool ReadItems(TVelaItemList& items, bool asynchronous);
    bool WriteItems(TVelaItemList& items, bool asynchronous);
    uaDataValue WriteValueOf(const TVelaItemData& item);
    // The handle of an item record, made on first use; the record is found again through it.
    uint32_t HandleOf(const TVelaItemDataPtr& item);
    TVelaItemDataPtr ItemOf(uint32_t handle);
    void ForgetItem(const TVelaItemData& item);

    VelaPtr<IVelaDAConnection> connectionRef_;  // keeps the connection as long as the group
    TVelaUADAConnection& connection_;
    std::string FName;
    std::atomic<uint32_t> fSubId{kNoSubscription};
    int32_t FVelaId = -1;
    bool FActive = false;
    float FDeadBand = 0;
    int32_t FTimeBias = 0, FLocaleid = 0, FUpdateRate = 0;
    bool fOnDatachange = false;
    int32_t FClientHandle = 0, FServerHandle = -1, FActiveCount = 0, FWaitTime = 0, FHoldTime = 0;
    uint32_t fSequenceNo = 0;
    int32_t fGroupState = 0;
    std::atomic<uint32_t> fLastAsyncRequestId{0};
    uint32_t FMaxKeepAliveCount = 10;

    std::mutex handlesLock_;
    uint32_t nextHandle_ = 1;
    std::map<uint32_t, std::weak_ptr<TVelaItemData>> items_;
    std::map<const TVelaItemData*, uint32_t> handles_;
};

}  // namespace vela::ua
