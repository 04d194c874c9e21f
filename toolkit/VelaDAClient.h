#pragma once
// The DA client model: groups and items that keep their wanted state while disconnected and
// are mirrored onto the remote server through the connection's group interface.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Event.h"
#include "toolkit/VelaBrowser.h"
#include "toolkit/VelaClient.h"
#include "toolkit/VelaItemData.h"

namespace vela {

class TVelaDAClient;
class TVelaGroup;
class TVelaGroups;
class TVelaItems;

using TOnOPCDataChangeEvent = std::function<void(TVelaDAClient& sender, TVelaItemList& items)>;

struct TdDefaultGroup {
    bool IsActive = true;
    int32_t LocaleId = 0;
    int32_t TimeBias = 0;
    int32_t UpdateRate = 1000;
    float DeadBand = 0.0f;
    bool CreateOnDatachange = true;
};

struct TdDefaultItem {
    bool IsActive = true;
    VelaADatatype RequestDataType = vtEMPTY;
    std::string AccessPath;
};

class TVelaItem : public TVelaItemData {
public:
    explicit TVelaItem(TVelaGroup* parent);

    TVelaGroup* Parent() const { return FParent; }
    void Detach() { FParent = nullptr; }

    const std::string& ItemID() const { return FItemID; }
    void SetItemID(const std::string& value);
    const std::string& AccessPath() const { return FAccessPath; }
    void SetAccessPath(const std::string& value);
    bool IsActive() const { return FIsActive; }
    void SetIsActive(bool value);
    VelaADatatype RequestDatatype() const { return FRequestDatatype; }
    void SetRequestDatatype(VelaADatatype value);

    void WriteSync(const Variant& value, int32_t quality = -1, DateTime timeStamp = -1.0);
    void WriteAsync(const Variant& value, int32_t quality = -1, DateTime timeStamp = -1.0);
    std::string ValueStr() const;
    bool IsGoodQuality() const;
    std::string QualityAsString() const;
    bool IsReadAble() const { return (FAccessRights & 1) != 0; }
    bool IsWriteAble() const { return (FAccessRights & 2) != 0; }
    bool IsArray() const;
    int32_t BaseDatatype() const;
    VarType GetBaseVarType() const;
    int32_t GetEUType();
    Variant GetEUInfo();
    std::string GetLastErrorStr() const override;

    enum Command { cmdRemove = 0, cmdAdd = 1, cmdSetActive = 2, cmdValidate = 3, cmdSetDatatypes = 4 };
    // Sends this item's change to the server when the group is there and updates are not held.
    void OPCCommand(Command command, bool parameter = false);

private:
    void Write(bool async, const Variant& value, int32_t quality, DateTime timeStamp);
    tVelaConnectionType ParentProtocol() const;

    TVelaGroup* FParent;
};

using TVelaItemPtr = std::shared_ptr<TVelaItem>;

class TVelaItems {
public:
    explicit TVelaItems(TVelaGroup& owner) : FOwner(owner) {}
    ~TVelaItems();
    TVelaItems(const TVelaItems&) = delete;
    TVelaItems& operator=(const TVelaItems&) = delete;

    int32_t FTag = 0;

    TVelaGroup& Owner() const { return FOwner; }
    size_t Count() const { return items_.size(); }
    TVelaItem& operator[](size_t index) const { return *items_.at(index); }
    const std::vector<TVelaItemPtr>& Items() const { return items_; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // Adds an item and sends it to the server; with addLater it waits for OPCAddAllItems.
    TVelaItemPtr AddItem(const std::string& itemId, bool addLater = false);
    TVelaItem* FindItem(const std::string& itemId) const;
    TVelaItem* GetOPCItem(int32_t serverHandle) const;
    // The item or the placeholder.
    TVelaItemDataPtr ItemStr(const std::string& itemId) const;
    bool Contains(const TVelaItemData* item) const;
    // Removes the item from the server and from the collection.
    void Remove(TVelaItem* item);
    void RemoveAll();

    bool OPCAddItems(TVelaItemList& list, bool add);
    bool OPCRemoveItems(TVelaItemList& list);
    bool OPCActiveItems(TVelaItemList& list, bool active);
    void OPCAddAllItems(bool checkErrors);
    void OPCRemoveAllItems();
    TVelaItemList AllItems() const;

    void BeginUpdate() { ++updating_; }
    void EndUpdate() {
        if (updating_ > 0) --updating_;
    }
    bool Updating() const { return updating_ > 0; }

private:
    TVelaGroup& FOwner;
    std::vector<TVelaItemPtr> items_;
    int updating_ = 0;
};

class TVelaGroup {
public:
    TVelaGroup(TVelaGroups& collection, int32_t id, const std::string& className = "TVelaGroup");
    virtual ~TVelaGroup();
    TVelaGroup(const TVelaGroup&) = delete;
    TVelaGroup& operator=(const TVelaGroup&) = delete;

    TVelaDAClient& Parent() const { return FParent; }
    // The number the server returns in this group's data-change messages.
    int32_t ClientHandle() const { return id_; }
    IVelaGroup* ServerGroup() const { return FVelaGroup.get(); }
    int32_t ServerHandle() const { return FServerHandle; }
    std::shared_ptr<Event> GroupEvent() const { return FGroupEvent; }
    TdDefaultItem& DefaultItem() { return FDefaultItem; }
    TVelaItems& OPCItems() { return FOPCItems; }

    bool IsActive() const { return FIsActive; }
    void SetIsActive(bool value);
    int32_t TimeBias() const { return FTimeBias; }
    void SetTimeBias(int32_t value);
    int32_t LocaleId() const { return FLocaleId; }
    void SetLocaleId(int32_t value);
    int32_t UpdateRate() const { return FUpdateRate; }
    void SetUpdateRate(int32_t value);
    float DeadBand() const { return FDeadBand; }
    void SetDeadBand(float value);  // clamped to 0..100
    const std::string& Name() const { return FName; }
    void SetName(const std::string& value);
    int32_t XMLHoldtime() const { return FHoldtime; }
    void SetXMLHoldtime(int32_t value);
    int32_t XMLWaittime() const { return FWaittime; }
    void SetXMLWaittime(int32_t value);
    bool CreateOnDatachange() const { return FCreateOnDatachange; }
    void SetCreateOnDatachange(bool value) { FCreateOnDatachange = value; }
    int32_t FTag = 0;

    void GetState(TVelaGroupStateRec& state) const;
    void SetState(const TVelaGroupStateRec& state);

    // A list of nothing means every item of the group. False when the group is not on the
    // server or the list is empty.
    bool SyncRead(TVelaItemList* items, bool fromCache);
    bool SyncWrite(TVelaItemList* items);
    bool AsyncWrite(TVelaItemList* items);
    bool AsyncRead(TVelaItemList* items);
    bool GetEUInfos(TVelaItemList* items);
    void Refresh(bool fromCache);
    void RefreshMaxAge(int32_t maxAgeMs);
    void CancelLastAsyncCall();

    void OPCCreateGroup();
    void OPCRemoveGroup();

    TOnOPCDataChangeEvent OnDatachange;

private:
    enum class Io { SyncRead, SyncWrite, AsyncWrite, AsyncRead, EUInfos };
    bool RunIo(Io io, TVelaItemList* items, bool fromCache);
    // Sends the whole state with one changed value; stores after the call.
    void ApplyState(int32_t updateRate, bool active, int32_t timeBias, float deadBand, int32_t localeId,
                    int32_t holdTime, int32_t waitTime);
    bool Sendable() const;

    TVelaGroups& collection_;
    TVelaDAClient& FParent;
    int32_t id_;
    VelaPtr<IVelaGroup> FVelaGroup;
    int32_t FServerHandle = -1;
    bool FIsActive;
    int32_t FTimeBias;
    int32_t FLocaleId;
    int32_t FUpdateRate;
    float FDeadBand;
    std::string FName;
    TdDefaultItem FDefaultItem;
    TVelaItems FOPCItems;
    std::shared_ptr<Event> FGroupEvent = std::make_shared<Event>(true, false);
    int32_t FHoldtime = 0;
    int32_t FWaittime = 0;
    bool FCreateOnDatachange;
};

class TVelaGroups {
public:
    explicit TVelaGroups(TVelaDAClient& owner) : FOwner(owner) {}
    ~TVelaGroups();
    TVelaGroups(const TVelaGroups&) = delete;
    TVelaGroups& operator=(const TVelaGroups&) = delete;

    int32_t FTag = 0;

    TVelaDAClient& Owner() const { return FOwner; }
    TVelaGroup& Add(const std::string& name);
    TVelaGroup& Add(const std::string& name, bool active, bool createOnDatachange);
    TVelaGroup* GetOPCGroup(const std::string& name) const;
    TVelaGroup* FindByClientHandle(int32_t clientHandle) const;
    void Remove(const std::string& name);
    // Removes this very group (names need not be unique while a group is renamed).
    void Remove(const TVelaGroup* group);
    void RemoveAll();
    size_t Count() const { return groups_.size(); }
    TVelaGroup& operator[](size_t index) const { return *groups_.at(index); }
    auto begin() const { return groups_.begin(); }
    auto end() const { return groups_.end(); }

private:
    TVelaDAClient& FOwner;
    std::vector<std::unique_ptr<TVelaGroup>> groups_;
    int32_t nextId_ = 0;
};

class TVelaDAClient : public TVelaClient {
public:
    explicit TVelaDAClient(MainThreadDispatcher* mainThread);
    ~TVelaDAClient() override;

    IVelaDAConnection* OPCConnection() const { return daConnection_.get(); }
    TVelaGroups& OPCGroups() { return *FOPCGroups; }
    TdDefaultGroup& OPCGroupDefault() { return FDefaultGroup; }
    TVelaBrowser& Browser() { return *FBrowser; }

    void GetServerInfo(TServerStateRecord& status) override;
    uint32_t GetBandWidth();
    std::string GetErrorString(int32_t code);
    std::string LookupItemId(const std::string& itemId, int32_t propertyId);
    // One line per property: id,"description",datatype. False when a property failed.
    bool QueryAvailableProperties(const std::string& itemId, TStrings& lines);
    // The property's value; true when it is not Null.
    bool GetItemProperty(const std::string& itemId, int32_t propertyId, Variant& value);

    TOnOPCDataChangeEvent OnDatachange;
    TOnOPCDataChangeEvent OnWriteComplete;

    void HandleMsg(TVelaMsg& msg) override;

    // The classes instantiated for groups and items; derived clients may return their own.
    virtual std::unique_ptr<TVelaGroup> NewGroup(TVelaGroups& collection, int32_t id);
    virtual TVelaItemPtr NewItem(TVelaGroup& group);

    // Creates every group that is not on the server yet; raises after trying them all.
    void OPCCreateAll();
    void OPCRemoveAll();

protected:
    VelaPtr<IVelaConnection> CreateConnection() override;
    void AfterConnect() override;
    void StartConnection() override;
    void StopConnection() override;
    void ConnectionDropped() override { daConnection_.reset(); }
    // Checks the client is active: else reports "Not connected to server" and answers false.
    bool CheckConnected();

private:
    void HandleDataChange(TVelaMsg& msg);

    VelaPtr<IVelaDAConnection> daConnection_;
    std::unique_ptr<TVelaBrowser> FBrowser;
    TdDefaultGroup FDefaultGroup;
    std::unique_ptr<TVelaGroups> FOPCGroups;
};

}  // namespace vela
