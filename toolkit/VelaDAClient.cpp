#include "toolkit/VelaDAClient.h"

#include <algorithm>

#include "base/Text.h"
#include "toolkit/ConnectionRegistry.h"
#include "toolkit/VelaExceptions.h"
#include "toolkit/VelaPropertyBrowser.h"

namespace vela {
namespace {

void ResetWanted(TVelaItemList& list) {
    for (const auto& item : list) {
        item->FWantQuality = -1;
        item->FWantTimeStamp = -1.0;
    }
}

// Appends the display text of a value; false when a conversion failed (the text stays as far as it got).
bool AppendValueText(const Variant& value, std::string& out) {
    if (value.IsEmpty()) return true;
    if (!value.IsArray()) {
        try {
            out += value.ToString();
            return true;
        } catch (const Exception&) {
            return false;
        }
    }
    for (const Variant& element : value.Array().Elements()) {
        if (element.IsArray()) {
            out += '<';
            if (!AppendValueText(element, out)) return false;
            out += '>';
        } else {
            if (!AppendValueText(element, out)) return false;
            out += ';';
        }
    }
    return true;
}

}  // namespace

const TVelaItemDataPtr& PlaceholderItem() {
    static const TVelaItemDataPtr placeholder = [] {
        auto item = std::make_shared<TVelaItem>(nullptr);
        item->FItemID = "unknown";
        item->FValue = Variant("unknown value");
        return item;
    }();
    return placeholder;
}

// --- TVelaItem ---

TVelaItem::TVelaItem(TVelaGroup* parent) : FParent(parent) {
    if (!parent) return;
    const TdDefaultItem& defaults = parent->DefaultItem();
    FIsActive = defaults.IsActive;
    FAccessPath = defaults.AccessPath;
    FRequestDatatype = defaults.RequestDataType;
    FRequesttype = defaults.RequestDataType & 0x7F;
}

void TVelaItem::SetItemID(const std::string& value) {
    if (FServerHandle != -1) throw EOPCItemException("Not possible if connected to OPC server");
    FItemID = value;
    if (FParent && FParent->Parent().DesignMode()) OPCCommand(cmdValidate);
}

void TVelaItem::SetAccessPath(const std::string& value) {
    if (FServerHandle != -1) throw EOPCItemException("Not possible if connected to OPC server");
    FAccessPath = value;
    if (FParent && FParent->Parent().DesignMode()) OPCCommand(cmdValidate);
}

void TVelaItem::SetIsActive(bool value) {
    FIsActive = value;
    OPCCommand(cmdSetActive, value);
}

void TVelaItem::SetRequestDatatype(VelaADatatype value) {
    if (FRequestDatatype == value && FRequesttype == value) return;
    FRequestDatatype = value;
    FRequesttype = value;
    OPCCommand(cmdSetDatatypes);
}

void TVelaItem::OPCCommand(Command command, bool parameter) {
    if (!FParent) return;
    TVelaGroup& group = *FParent;
    if (!group.ServerGroup()) {
        FServerHandle = -1;
        return;
    }
    TVelaDAClient& client = group.Parent();
    if (group.OPCItems().Updating() || !client.Active()) return;
    IVelaGroup& serverGroup = *group.ServerGroup();
    TVelaItemList list(shared_from_this());
    switch (command) {
        case cmdRemove:
            if (FServerHandle != -1) serverGroup.RemoveItems(client.ShutDownFromServer(), list);
            break;
        case cmdAdd:
            serverGroup.AddItems(list, true);
            break;
        case cmdSetActive:
            serverGroup.SetActiveState(list, parameter);
            break;
        case cmdValidate:
            serverGroup.AddItems(list, false);
            break;
        case cmdSetDatatypes:
            if (client.DesignMode()) return;
            list.CheckAllActiveOnServer();
            serverGroup.SetDatatypes(list);
            break;
    }
    list.CheckOPCErrors("OPC Command:", true);
}

void TVelaItem::Write(bool async, const Variant& value, int32_t quality, DateTime timeStamp) {
    if (!FParent) throw EOPCException("OPC item has no parent connection");
    FWantValue = value;
    FWantQuality = quality;
    FWantTimeStamp = timeStamp;
    TVelaItemList list(shared_from_this());
    bool ok = false;
    try {
        ok = async ? FParent->AsyncWrite(&list) : FParent->SyncWrite(&list);
    } catch (...) {
        FWantQuality = -1;
        FWantTimeStamp = -1.0;
        throw;
    }
    FWantQuality = -1;
    FWantTimeStamp = -1.0;
    if (!ok) list.CheckOPCErrors("Cannot write Items:", true);
}

void TVelaItem::WriteSync(const Variant& value, int32_t quality, DateTime timeStamp) {
    Write(false, value, quality, timeStamp);
}

void TVelaItem::WriteAsync(const Variant& value, int32_t quality, DateTime timeStamp) {
    Write(true, value, quality, timeStamp);
}

std::string TVelaItem::ValueStr() const {
    std::string text;
    AppendValueText(FValue, text);
    return text;
}

tVelaConnectionType TVelaItem::ParentProtocol() const {
    if (!FParent) throw EOPCException("OPC item has no parent connection");
    return FParent->Parent().Protocol();
}

bool TVelaItem::IsGoodQuality() const {
    if (ParentProtocol() == coUA) return (FQuality >> 30) == 0;
    return (FQuality & 0xC0) == 0xC0;
}

std::string TVelaItem::QualityAsString() const {
    if (ParentProtocol() == coUA) {
        if (FQuality & 0x80000000u) return "bad";
        if (FQuality & 0x40000000u) return "uncertain";
        return "good";
    }
    std::string text;
    switch (FQuality & 0xC0) {
        case 0x00: text = "bad"; break;
        case 0x40: text = "uncertain"; break;
        case 0xC0: text = "good"; break;
        default: break;
    }
    switch (FQuality & 0xFC) {
        case 0x04: text += "ConfigurationError"; break;
        case 0x08: text += "NotConnected"; break;
        case 0x0C: text += "DeviceFailure"; break;
        case 0x10: text += "SensorFailure"; break;
        case 0x14: text += "LastKnownValue"; break;
        case 0x18: text += "CommFailure"; break;
        case 0x1C: text += "OutOfService"; break;
        case 0x44: text += "LastUsableValue"; break;
        case 0x50: text += "SensorNotAccurate"; break;
        case 0x54: text += "EUExceeded"; break;
        case 0x58: text += "SubNormal"; break;
        case 0xD8: text += "LocalOverride"; break;
        default: break;
    }
    return text;
}

bool TVelaItem::IsArray() const {
    if (ParentProtocol() == coUA) return FIsArray;
    return (FCanonicalDatatype & 0x2000) != 0;
}

int32_t TVelaItem::BaseDatatype() const {
    return ParentProtocol() == coUA ? fBaseDatatype : FCanonicalDatatype;
}

VarType TVelaItem::GetBaseVarType() const {
    if (ParentProtocol() != coUA) return static_cast<VarType>(FCanonicalDatatype & 0xFFF);
    switch (fBaseDatatype) {
        case 1: return vtBOOL;
        case 2: return vtI1;
        case 3: case 15: case 22: return vtUI1;
        case 4: return vtI2;
        case 5: return vtUI2;
        case 6: case 27: return vtI4;
        case 7: case 19: case 28: return vtUI4;
        case 8: return vtI8;
        case 9: return vtUI8;
        case 10: return vtR4;
        case 11: case 290: return vtR8;
        case 12: case 14: case 16: case 17: case 18: case 20: case 21: return vtBSTR;
        case 13: return vtDATE;
        case 24: case 26: return vtVARIANT;
        default: return vtNULL;
    }
}

int32_t TVelaItem::GetEUType() {
    if (FEUType == -1) {
        if (!FParent) throw EOPCItemException("error GetEUType");
        FParent->GetEUInfos(nullptr);
    }
    return FEUType;
}

Variant TVelaItem::GetEUInfo() {
    if (FEUType == -1) {
        if (!FParent) throw EOPCItemException("error GetEUType");
        FParent->GetEUInfos(nullptr);
    }
    return FEUInfo;
}

std::string TVelaItem::GetLastErrorStr() const {
    if (FLastError == 0) return {};
    std::string text;
    if (FParent)
        if (IVelaDAConnection* connection = FParent->Parent().OPCConnection())
            text = connection->ErrorIDToString(static_cast<int32_t>(FLastError));
    if (TrimBlanks(text).empty()) text = "Unknown error : " + std::to_string(FLastError);
    return text;
}

// --- TVelaItems ---

TVelaItems::~TVelaItems() {
    for (const auto& item : items_) item->Detach();  // lists still in flight must not reach the group
}

TVelaItemPtr TVelaItems::AddItem(const std::string& itemId, bool addLater) {
    TVelaItemPtr item = FOwner.Parent().NewItem(FOwner);
    item->FItemID = itemId;
    items_.push_back(item);
    if (addLater) BeginUpdate();
    try {
        item->OPCCommand(TVelaItem::cmdAdd);
    } catch (...) {
        if (addLater) EndUpdate();
        throw;
    }
    if (addLater) EndUpdate();
    return item;
}

TVelaItem* TVelaItems::FindItem(const std::string& itemId) const {
    for (const auto& item : items_)
        if (item->FItemID == itemId) return item.get();
    return nullptr;
}

TVelaItem* TVelaItems::GetOPCItem(int32_t serverHandle) const {
    for (const auto& item : items_)
        if (item->FServerHandle == serverHandle) return item.get();
    return nullptr;
}

TVelaItemDataPtr TVelaItems::ItemStr(const std::string& itemId) const {
    for (const auto& item : items_)
        if (item->FItemID == itemId) return item;
    return PlaceholderItem();
}

bool TVelaItems::Contains(const TVelaItemData* item) const {
    const auto* asItem = dynamic_cast<const TVelaItem*>(item);
    return asItem && asItem->Parent() == &FOwner;
}

void TVelaItems::Remove(TVelaItem* item) {
    const auto it = std::find_if(items_.begin(), items_.end(), [item](const TVelaItemPtr& p) { return p.get() == item; });
    if (it == items_.end()) return;
    const TVelaItemPtr keep = *it;
    std::exception_ptr error;
    try {
        keep->OPCCommand(TVelaItem::cmdRemove);
    } catch (...) {
        error = std::current_exception();
    }
    keep->Detach();
    items_.erase(std::find(items_.begin(), items_.end(), keep));
    if (error) std::rethrow_exception(error);
}

void TVelaItems::RemoveAll() {
    std::exception_ptr error;
    try {
        OPCRemoveAllItems();
    } catch (...) {
        error = std::current_exception();
    }
    for (const auto& item : items_) item->Detach();
    items_.clear();
    if (error) std::rethrow_exception(error);
}

bool TVelaItems::OPCAddItems(TVelaItemList& list, bool add) {
    IVelaGroup* group = FOwner.ServerGroup();
    return group ? group->AddItems(list, add) : false;
}

bool TVelaItems::OPCRemoveItems(TVelaItemList& list) {
    IVelaGroup* group = FOwner.ServerGroup();
    return group ? group->RemoveItems(FOwner.Parent().ShutDownFromServer(), list) : false;
}

bool TVelaItems::OPCActiveItems(TVelaItemList& list, bool active) {
    IVelaGroup* group = FOwner.ServerGroup();
    return group ? group->SetActiveState(list, active) : false;
}

void TVelaItems::OPCAddAllItems(bool checkErrors) {
    IVelaGroup* group = FOwner.ServerGroup();
    if (!group) return;
    TVelaItemList list;
    for (const auto& item : items_)
        if (item->FServerHandle == -1) list.Add(item);
    if (list.Empty()) return;
    group->AddItems(list, !FOwner.Parent().DesignMode());
    if (checkErrors) list.CheckOPCErrors("Cannot add Items:", true);
}

void TVelaItems::OPCRemoveAllItems() {
    TVelaItemList list;
    for (const auto& item : items_)
        if (item->FServerHandle != -1) list.Add(item);
    if (!list.Empty()) OPCRemoveItems(list);
}

TVelaItemList TVelaItems::AllItems() const {
    return TVelaItemList(std::vector<TVelaItemDataPtr>(items_.begin(), items_.end()));
}

// --- TVelaGroup ---

TVelaGroup::TVelaGroup(TVelaGroups& collection, int32_t id, const std::string& className)
    : collection_(collection),
      FParent(collection.Owner()),
      id_(id),
      FIsActive(FParent.OPCGroupDefault().IsActive),
      FTimeBias(FParent.OPCGroupDefault().TimeBias),
      FLocaleId(FParent.OPCGroupDefault().LocaleId),
      FUpdateRate(FParent.OPCGroupDefault().UpdateRate),
      FDeadBand(FParent.OPCGroupDefault().DeadBand),
      FName(className + std::to_string(collection.Count())),
      FOPCItems(*this),
      FCreateOnDatachange(FParent.OPCGroupDefault().CreateOnDatachange) {}

TVelaGroup::~TVelaGroup() {
    try {
        OPCRemoveGroup();
    } catch (...) {
    }
}

bool TVelaGroup::Sendable() const { return FVelaGroup && !FParent.ShutDownFromServer(); }

void TVelaGroup::ApplyState(int32_t updateRate, bool active, int32_t timeBias, float deadBand, int32_t localeId,
                            int32_t holdTime, int32_t waitTime) {
    int32_t revised = updateRate;
    FVelaGroup->SetState(revised, active, timeBias, deadBand, localeId, id_, holdTime, waitTime);
    FUpdateRate = revised;
}

void TVelaGroup::SetIsActive(bool value) {
    if (value == FIsActive) return;
    if (Sendable()) {
        try {
            ApplyState(FUpdateRate, value, FTimeBias, FDeadBand, FLocaleId, FHoldtime, FWaittime);
        } catch (const std::exception& e) {
            if (value) {
                try {
                    ApplyState(FUpdateRate, false, FTimeBias, FDeadBand, FLocaleId, FHoldtime, FWaittime);
                } catch (...) {
                }
            }
            throw EOPCException(e.what());
        }
    }
    FIsActive = value;
}

void TVelaGroup::SetTimeBias(int32_t value) {
    if (value == FTimeBias) return;
    if (Sendable()) ApplyState(FUpdateRate, FIsActive, value, FDeadBand, FLocaleId, FHoldtime, FWaittime);
    FTimeBias = value;
}

void TVelaGroup::SetLocaleId(int32_t value) {
    if (value == FLocaleId) return;
    if (Sendable()) ApplyState(FUpdateRate, FIsActive, FTimeBias, FDeadBand, value, FHoldtime, FWaittime);
    FLocaleId = value;
}

void TVelaGroup::SetUpdateRate(int32_t value) {
    if (value == FUpdateRate) return;
    if (Sendable()) ApplyState(value, FIsActive, FTimeBias, FDeadBand, FLocaleId, FHoldtime, FWaittime);
    else FUpdateRate = value;
}

void TVelaGroup::SetDeadBand(float value) {
    value = std::clamp(value, 0.0f, 100.0f);
    if (value == FDeadBand) return;
    if (Sendable()) ApplyState(FUpdateRate, FIsActive, FTimeBias, value, FLocaleId, FHoldtime, FWaittime);
    FDeadBand = value;
}

void TVelaGroup::SetXMLHoldtime(int32_t value) {
    if (value == FHoldtime) return;
    if (Sendable()) ApplyState(FUpdateRate, FIsActive, FTimeBias, FDeadBand, FLocaleId, value, FWaittime);
    FHoldtime = value;
}

void TVelaGroup::SetXMLWaittime(int32_t value) {
    if (value == FWaittime) return;
    if (Sendable()) ApplyState(FUpdateRate, FIsActive, FTimeBias, FDeadBand, FLocaleId, FHoldtime, value);
    FWaittime = value;
}

void TVelaGroup::SetName(const std::string& value) {
    if (value == FName) return;
    if (FVelaGroup) FVelaGroup->SetName(value);
    FName = value;
}

void TVelaGroup::GetState(TVelaGroupStateRec& state) const {
    state.UpdateRate = FUpdateRate;
    state.IsActive = FIsActive;
    state.Name = FName;
    state.TimeBias = FTimeBias;
    state.DeadBand = FDeadBand;
    state.LocaleId = FLocaleId;
    state.ClientHandle = id_;
    state.ServerHandle = -1;
    state.Holdtime = FHoldtime;
    state.Waittime = FWaittime;
    state.GroupState = 0;
    if (FVelaGroup) FVelaGroup->GetState(state);
}

void TVelaGroup::SetState(const TVelaGroupStateRec& state) {
    const float deadBand = std::clamp(state.DeadBand, 0.0f, 100.0f);
    if (Sendable())
        ApplyState(state.UpdateRate, state.IsActive, state.TimeBias, deadBand, state.LocaleId, state.Holdtime,
                   state.Waittime);
    else
        FUpdateRate = state.UpdateRate;
    FIsActive = state.IsActive;
    FTimeBias = state.TimeBias;
    FDeadBand = deadBand;
    FLocaleId = state.LocaleId;
    FHoldtime = state.Holdtime;
    FWaittime = state.Waittime;
    if (!state.Name.empty()) SetName(state.Name);
}

bool TVelaGroup::RunIo(Io io, TVelaItemList* items, bool fromCache) {
    if (!FVelaGroup) return false;
    TVelaItemList all;
    TVelaItemList* list = items;
    if (!list) {
        all = FOPCItems.AllItems();
        list = &all;
    }
    if (list->Empty()) return false;
    if (io != Io::EUInfos) list->CheckAllActiveOnServer();
    const bool write = io == Io::SyncWrite || io == Io::AsyncWrite;
    bool result = false;
    try {
        switch (io) {
            case Io::SyncRead: result = FVelaGroup->SyncRead(*list, fromCache); break;
            case Io::SyncWrite: result = FVelaGroup->SyncWrite(*list); break;
            case Io::AsyncWrite: result = FVelaGroup->AsyncWrite(*list); break;
            case Io::AsyncRead: result = FVelaGroup->AsyncRead(*list); break;
            case Io::EUInfos: result = FVelaGroup->GetEUInfos(*list); break;
        }
    } catch (...) {
        if (write) ResetWanted(*list);
        throw;
    }
    if (write) ResetWanted(*list);
    return result;
}

bool TVelaGroup::SyncRead(TVelaItemList* items, bool fromCache) { return RunIo(Io::SyncRead, items, fromCache); }
bool TVelaGroup::SyncWrite(TVelaItemList* items) { return RunIo(Io::SyncWrite, items, false); }
bool TVelaGroup::AsyncWrite(TVelaItemList* items) { return RunIo(Io::AsyncWrite, items, false); }
bool TVelaGroup::AsyncRead(TVelaItemList* items) { return RunIo(Io::AsyncRead, items, false); }
bool TVelaGroup::GetEUInfos(TVelaItemList* items) { return RunIo(Io::EUInfos, items, false); }

void TVelaGroup::Refresh(bool fromCache) { RefreshMaxAge(fromCache ? kMaxAgeFromCache : kMaxAgeFromDevice); }

void TVelaGroup::RefreshMaxAge(int32_t maxAgeMs) {
    if (FVelaGroup) FVelaGroup->Refresh(maxAgeMs);
}

void TVelaGroup::CancelLastAsyncCall() {
    if (FVelaGroup) FVelaGroup->CancelLastAsyncCall();
}

void TVelaGroup::OPCCreateGroup() {
    FGroupEvent = std::make_shared<Event>(true, false);
    IVelaConnection* connection = FParent.Connection();
    if (!connection) throw EOPCGroupException("Not connected to server");
    VelaPtr<IVelaGroup> group = CreateConnectionGroup(*connection);
    int32_t serverHandle = -1;
    int32_t updateRate = FUpdateRate;
    group->AddGroup(serverHandle, FName, id_, FIsActive, FDeadBand, FTimeBias, FLocaleId, updateRate,
                    FCreateOnDatachange, FHoldtime, FWaittime);
    FVelaGroup = group;
    FServerHandle = serverHandle;
    FUpdateRate = updateRate;
    FOPCItems.OPCAddAllItems(true);
    FParent.OPCGroupDefault().CreateOnDatachange = true;
}

void TVelaGroup::OPCRemoveGroup() {
    if (!FVelaGroup) {
        FServerHandle = -1;
        return;
    }
    for (const auto& item : FOPCItems) {
        item->FServerHandle = -1;
        item->FLastError = 0;
    }
    std::exception_ptr error;
    try {
        FVelaGroup->RemoveGroup(FParent.ShutDownFromServer(), FServerHandle);
    } catch (...) {
        error = std::current_exception();
    }
    FVelaGroup.reset();
    FServerHandle = -1;
    if (error) std::rethrow_exception(error);
}

// --- TVelaGroups ---

TVelaGroups::~TVelaGroups() {
    while (!groups_.empty()) groups_.pop_back();
}

TVelaGroup& TVelaGroups::Add(const std::string& name) {
    return Add(name, FOwner.OPCGroupDefault().IsActive, FOwner.OPCGroupDefault().CreateOnDatachange);
}

TVelaGroup& TVelaGroups::Add(const std::string& name, bool active, bool createOnDatachange) {
    if (GetOPCGroup(name) || TrimBlanks(name).empty()) throw EOPCGroupException("Group " + name + " already exists");
    std::unique_ptr<TVelaGroup> group = FOwner.NewGroup(*this, nextId_++);
    group->SetName(name);
    group->SetCreateOnDatachange(createOnDatachange);
    group->SetIsActive(active);
    TVelaGroup& added = *group;
    groups_.push_back(std::move(group));
    if (FOwner.Connection() && FOwner.Active() && !FOwner.DesignMode()) {
        try {
            added.OPCCreateGroup();
        } catch (...) {
            groups_.pop_back();
            throw;
        }
    }
    return added;
}

TVelaGroup* TVelaGroups::GetOPCGroup(const std::string& name) const {
    for (const auto& group : groups_)
        if (group->Name() == name) return group.get();
    return nullptr;
}

TVelaGroup* TVelaGroups::FindByClientHandle(int32_t clientHandle) const {
    for (const auto& group : groups_)
        if (group->ClientHandle() == clientHandle) return group.get();
    return nullptr;
}

void TVelaGroups::Remove(const std::string& name) {
    const auto it = std::find_if(groups_.begin(), groups_.end(),
                                 [&](const std::unique_ptr<TVelaGroup>& g) { return g->Name() == name; });
    if (it == groups_.end()) throw EOPCGroupException("Group not found");
    groups_.erase(it);  // the group removes itself from the server
}

void TVelaGroups::Remove(const TVelaGroup* group) {
    const auto it = std::find_if(groups_.begin(), groups_.end(),
                                 [group](const std::unique_ptr<TVelaGroup>& g) { return g.get() == group; });
    if (it == groups_.end()) throw EOPCGroupException("Group not found");
    groups_.erase(it);
}

void TVelaGroups::RemoveAll() {
    std::exception_ptr error;
    try {
        FOwner.OPCRemoveAll();
    } catch (...) {
        error = std::current_exception();
    }
    groups_.clear();
    if (error) std::rethrow_exception(error);
}

// --- TVelaDAClient ---

TVelaDAClient::TVelaDAClient(MainThreadDispatcher* mainThread)
    : TVelaClient(mainThread),
      FBrowser(std::make_unique<TVelaBrowser>(this)),
      FOPCGroups(std::make_unique<TVelaGroups>(*this)) {
    FClientName = "Vela DA Client";
    FVersion = "5.28";
}

TVelaDAClient::~TVelaDAClient() {
    DestroyClient();
    FOPCGroups.reset();
    FBrowser.reset();
}

VelaPtr<IVelaConnection> TVelaDAClient::CreateConnection() {
    daConnection_ = CreateDAConnection(this, Protocol(), DesignMode());
    if (!daConnection_) throw EOPCException("The protocol module gave no connection");
    return VelaPtr<IVelaConnection>(daConnection_);
}

void TVelaDAClient::AfterConnect() { FBrowser->SetOPCClient(this); }

void TVelaDAClient::StartConnection() {
    std::exception_ptr error;
    try {
        OPCCreateAll();
    } catch (...) {
        error = std::current_exception();
    }
    TVelaClient::StartConnection();
    if (error) std::rethrow_exception(error);
}

void TVelaDAClient::StopConnection() {
    TVelaClient::StopConnection();
    FBrowser->SetOPCClient(nullptr);
    OPCRemoveAll();
}

bool TVelaDAClient::CheckConnected() {
    if (Active() && daConnection_) return true;
    ReportError("Not connected to server");
    return false;
}

void TVelaDAClient::GetServerInfo(TServerStateRecord& status) {
    if (CheckConnected()) daConnection_->GetServerInfo(status, 0);
}

uint32_t TVelaDAClient::GetBandWidth() {
    TServerStateRecord status;
    GetServerInfo(status);
    return status.BandWidth;
}

std::string TVelaDAClient::GetErrorString(int32_t code) {
    return CheckConnected() ? daConnection_->GetErrorString(code) : std::string();
}

std::string TVelaDAClient::LookupItemId(const std::string& itemId, int32_t propertyId) {
    return CheckConnected() ? daConnection_->LookupItemId(itemId, propertyId) : std::string();
}

bool TVelaDAClient::QueryAvailableProperties(const std::string& itemId, TStrings& lines) {
    lines.clear();
    TVelaPropertyBrowser browser;
    browser.SetOPCClient(this);
    browser.SetValues(false);
    browser.AddItem(itemId);
    browser.Execute(true);
    bool ok = true;
    for (const auto& property : browser.GetProps(0)) {
        lines.push_back(std::to_string(property->FId) + ",\"" + property->FDescription + "\"," +
                        std::to_string(property->FDataType));
        if (property->FStatusCode != 0) ok = false;
    }
    return ok;
}

bool TVelaDAClient::GetItemProperty(const std::string& itemId, int32_t propertyId, Variant& value) {
    TVelaPropertyBrowser browser;
    browser.SetOPCClient(this);
    browser.SetValues(true);
    browser.AddItem(itemId);
    browser.AddProperty(propertyId);
    browser.Execute(true);
    value = Variant::Null();
    const TVelaItemProperties& properties = browser.GetProps(0);
    if (properties.Count() > 0 && properties[0].FStatusCode == 0) value = properties[0].FValue;
    return !value.IsNull();
}

std::unique_ptr<TVelaGroup> TVelaDAClient::NewGroup(TVelaGroups& collection, int32_t id) {
    return std::make_unique<TVelaGroup>(collection, id);
}

TVelaItemPtr TVelaDAClient::NewItem(TVelaGroup& group) { return std::make_shared<TVelaItem>(&group); }

void TVelaDAClient::OPCCreateAll() {
    int failures = 0;
    std::string lastMessage;
    for (const auto& group : *FOPCGroups) {
        if (group->ServerGroup()) continue;
        try {
            group->OPCCreateGroup();
        } catch (const std::exception& e) {
            ++failures;
            lastMessage = e.what();
        }
    }
    if (failures > 0) throw EOPCGroupException("Error creating OPC groups: " + lastMessage);
}

void TVelaDAClient::OPCRemoveAll() {
    std::exception_ptr error;
    for (const auto& group : *FOPCGroups) {
        try {
            group->OPCRemoveGroup();
        } catch (...) {
            if (!error) error = std::current_exception();
        }
    }
    if (error) std::rethrow_exception(error);
}

void TVelaDAClient::HandleMsg(TVelaMsg& msg) {
    switch (msg.MsgId) {
        case kMsgDataChange:
            HandleDataChange(msg);
            return;
        case kMsgWriteComplete: {
            if (destroying_) return;
            auto* list = dynamic_cast<TVelaItemList*>(msg.OParam.get());
            if (!list) return;
            list->FTag = static_cast<int32_t>(msg.IParam);
            if (OnWriteComplete) {
                try {
                    OnWriteComplete(*this, *list);
                } catch (...) {
                }
            }
            return;
        }
        default:
            TVelaClient::HandleMsg(msg);
    }
}

void TVelaDAClient::HandleDataChange(TVelaMsg& msg) {
    if (destroying_) return;
    auto* list = dynamic_cast<TVelaItemList*>(msg.OParam.get());
    if (!list) return;
    TVelaGroup* group = FOPCGroups->FindByClientHandle(static_cast<int32_t>(msg.IParam));
    if (!group) return;
    // Items removed since the connection posted the list are left out.
    auto& items = list->Items();
    items.erase(std::remove_if(items.begin(), items.end(),
                               [group](const TVelaItemDataPtr& item) { return !group->OPCItems().Contains(item.get()); }),
                items.end());
    group->GroupEvent()->Set();
    // copies: a handler may remove the group or replace the handlers
    if (const TOnOPCDataChangeEvent groupHandler = group->OnDatachange) {
        try {
            groupHandler(*this, *list);
        } catch (...) {
        }
    }
    if (const TOnOPCDataChangeEvent clientHandler = OnDatachange) {
        try {
            clientHandler(*this, *list);
        } catch (...) {
        }
    }
}

}  // namespace vela
