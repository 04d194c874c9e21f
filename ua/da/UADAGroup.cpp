#include "ua/da/UADAGroup.h"

#include <cmath>
#include <optional>

#include "toolkit/VelaExceptions.h"
#include "toolkit/VelaClient.h"
#include "toolkit/VelaMessages.h"
#include "toolkit/OPCResultTexts.h"
#include "ua/da/UADAConnection.h"
#include "ua/da/UADAMapping.h"
#include "ua/uaStatusCodes.h"
#include "ua/uaStructureBase.h"
#include "ua/uaVariantConvert.h"

namespace vela::ua {
namespace {

constexpr uint32_t kBadNodeIdInvalid = 0x80330000;
constexpr uint32_t kBadTimeout = 0x800A0000;
constexpr uint32_t kBadSubscriptionIdInvalid = 0x80280000;
constexpr uint32_t kDataChangeNotification = 811, kStatusChangeNotification = 820;

// Whether reading an item's value failed for the item itself. Any other status, Uncertain or
// Bad, is the value's quality: the item stands. A write-only item cannot be read but stands.
bool IsItemError(uint32_t valueStatus, int32_t accessRights) {
    const uint32_t code = valueStatus & 0xFFFF0000u;
    if (code == 0x803A0000u || code == 0x801F0000u) return (accessRights & 2) == 0;  // NotReadable, UserAccessDenied
    return IsValueReadFailure(valueStatus);
}

// An item id that is not a node id text is sent as the null node; the item gets
// BadNodeIdInvalid instead of the server's answer.
std::optional<uaNodeId> TryParse(const std::string& itemId) {
    try {
        return TVelaUAClient::ParseNodeId(itemId);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

uaReadValueId ValueOf(const std::string& itemId, uint32_t attribute) {
    uaReadValueId id;
    id.fNodeId = TryParse(itemId).value_or(uaNodeId());
    id.fAttributeId = attribute;
    return id;
}

int32_t Rounded(double interval) { return static_cast<int32_t>(std::nearbyint(interval)); }  // half to even

Variant ToItemValue(const std::optional<uaVariant>& value) {
    try {
        return value ? ToVariant(*value) : Variant();
    } catch (const std::exception&) {
        return Variant();
    }
}

bool IsArrayValue(const uaVariant& value, bool extensionObjects) {
    return value.IsArray() || value.fType.fBuildInType == bit_ByteString ||
           (extensionObjects && value.fType.fBuildInType == bit_ExtensionObject);
}

// Slices of at most `per` items, all in one when per is 0: servers cap the operations per call.
std::vector<TVelaItemList> Slices(const TVelaItemList& items, size_t per) {
    if (per == 0 || items.Count() <= per) return {items};
    std::vector<TVelaItemList> slices;
    const auto& all = items.Items();
    for (size_t at = 0; at < all.size(); at += per)
        slices.emplace_back(std::vector<TVelaItemDataPtr>(all.begin() + static_cast<ptrdiff_t>(at),
                                                          all.begin() + static_cast<ptrdiff_t>(std::min(at + per, all.size()))));
    return slices;
}

// Runs the operation once per slice when the list is beyond the limit; nothing when it is not.
template <typename Operation>
std::optional<bool> SplitCall(TVelaItemList& items, uint32_t limit, Operation operation) {
    if (limit == 0 || items.Count() <= limit) return std::nullopt;
    bool ok = true;
    for (TVelaItemList& slice : Slices(items, limit)) ok = operation(slice) && ok;
    return ok;
}

}  // namespace

int32_t VariantTypeToUAType(VarType type) {
    switch (type) {
        case vtEMPTY: case vtNULL: case vtUNKNOWN: return 0;
        case vtI2: return 4;
        case vtI4: return 6;
        case vtR4: return 10;
        case vtR8: case vtCY: return 11;
        case vtDATE: return 13;
        case vtBSTR: case vtDISPATCH: case vtERROR: case 256: case 258: return 12;
        case vtBOOL: return 1;
        case vtI1: return 2;
        case vtUI1: return 3;
        case vtUI2: return 5;
        case vtUI4: return 7;
        case vtI8: case vtUI8: return 8;
        default: return 24;
    }
}

TVelaUADAGroup::TVelaUADAGroup(TVelaUADAConnection& connection)
    : TVelaIntfComponent(connection.Owner()), connectionRef_(static_cast<IVelaDAConnection*>(&connection)),
      connection_(connection) {}

TVelaUADAGroup::~TVelaUADAGroup() {
    if (ValidSubscription()) connection_.UnregisterSubscription(fSubId, this);
}

int32_t TVelaUADAGroup::QueryInterface(const VelaGuid& iid, void** object) {
    return AnswerQuery(static_cast<IVelaGroup*>(this), iid == IID_IVelaGroup || iid == IID_IVelaUnknown, object);
}

TVelaUAClient& TVelaUADAGroup::Client() const { return connection_.Client(); }

void TVelaUADAGroup::CheckValidSubscription() const {
    if (!ValidSubscription()) throw EOPCGroupException("The subscription id is not valid.");
}

// ---------------------------------------------------------------- the group and its subscription

void TVelaUADAGroup::AddGroup(int32_t& serverHandle, const std::string& name, int32_t clientHandle, bool active,
                              float deadBand, int32_t timeBias, int32_t localeId, int32_t& updateRate,
                              bool createOnDatachange, int32_t, int32_t) {
    serverHandle = FServerHandle = connection_.NextGroupHandle();
    FName = name;
    FActive = active;
    FDeadBand = deadBand;
    FTimeBias = timeBias;
    FLocaleid = localeId;
    FUpdateRate = updateRate;
    fOnDatachange = createOnDatachange;
    FVelaId = clientHandle;
    fGroupState = 0;
    fLastAsyncRequestId = 0;
    FMaxKeepAliveCount = UABindingSettings::keepAliveCount;
    fSubId = kNoSubscription;
    FActiveCount = 0;
    fSequenceNo = 0;
    if (!createOnDatachange) {
        fSubId = 0;
        return;
    }
    Subscribe(updateRate, active);
    if (ValidSubscription()) FUpdateRate = updateRate;
    connection_.UpdateActiveGroups();
    if (connection_.ActiveGroups() > 0) connection_.DoPublish();
}

void TVelaUADAGroup::Subscribe(int32_t& updateRate, bool active) {
    fSubId = CreateSubscriptionStep(updateRate, active);
    if (ValidSubscription()) connection_.RegisterSubscription(fSubId, this);
}

uint32_t TVelaUADAGroup::CreateSubscriptionStep(int32_t& updateRate, bool active) {
    uaCreateSubscription call(&Client().Requests());
    auto& request = *call.Request;
    request.fRequestedPublishingInterval = updateRate;
    request.fRequestedLifetimeCount = UABindingSettings::lifetimeCount;
    request.fRequestedMaxKeepAliveCount = UABindingSettings::keepAliveCount;
    request.fMaxNotificationsPerPublish = UABindingSettings::notificationsPerPublish;
    request.fPublishingEnabled = active;
    request.fPriority = UABindingSettings::priority;
    call.RunSync();
    if (!call.Response) return kNoSubscription;
    FMaxKeepAliveCount = call.Response->fRevisedMaxKeepAliveCount;
    updateRate = Rounded(call.Response->fRevisedPublishingInterval);
    return call.Response->fSubscriptionId;
}

void TVelaUADAGroup::GetState(TVelaGroupStateRec& state) {
    state.UpdateRate = FUpdateRate;
    state.IsActive = FActive;
    state.Name = FName;
    state.TimeBias = FTimeBias;
    state.DeadBand = FDeadBand;
    state.LocaleId = FLocaleid;
    state.ClientHandle = FClientHandle;
    state.ServerHandle = FServerHandle;
    state.Holdtime = FHoldTime;
    state.Waittime = FWaitTime;
    state.GroupState = fGroupState;
}

void TVelaUADAGroup::SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand, int32_t localeId,
                              int32_t clientHandle, int32_t holdTime, int32_t waitTime) {
    FTimeBias = timeBias;
    FLocaleid = localeId;
    FClientHandle = clientHandle;
    FHoldTime = holdTime;
    FWaitTime = waitTime;
    if (!ValidSubscription()) {
        Subscribe(updateRate, active);
        FUpdateRate = updateRate;
        FActive = active;
    }
    if (updateRate != FUpdateRate) {
        uaModifySubscription call(&Client().Requests());
        auto& request = *call.Request;
        request.fSubscriptionId = fSubId;
        request.fRequestedPublishingInterval = updateRate;
        request.fRequestedLifetimeCount = UABindingSettings::lifetimeCount;
        request.fRequestedMaxKeepAliveCount = FMaxKeepAliveCount;
        request.fMaxNotificationsPerPublish = UABindingSettings::notificationsPerPublish;
        request.fPriority = UABindingSettings::priority;
        call.RunSync();
        if (call.Response) {
            FMaxKeepAliveCount = call.Response->fRevisedMaxKeepAliveCount;
            FUpdateRate = updateRate = Rounded(call.Response->fRevisedPublishingInterval);
        }
    }
    FDeadBand = deadBand;
    if (active != FActive) {
        uaSetPublishingMode call(&Client().Requests());
        call.Request->fPublishingEnabled = active;
        call.Request->fSubscriptionIds = {fSubId};
        call.RunSync();
        if (call.Response) FActive = active;
    }
    connection_.UpdateActiveGroups();
    if (connection_.ActiveGroups() > 0) connection_.DoPublish();
}

void TVelaUADAGroup::RemoveGroup(bool serverShutdown, int32_t& serverHandle) {
    if (serverHandle == -1) return;
    if (!serverShutdown && fSubId != 0 && Client().Active() && !Client().Requests().Disconnecting()) {
        try {
            DeleteSubscriptionStep();
        } catch (...) {
            fSubId = kNoSubscription;
            FServerHandle = serverHandle = -1;
            FVelaId = -1;
            throw;
        }
    }
    if (ValidSubscription()) connection_.UnregisterSubscription(fSubId, this);
    FServerHandle = serverHandle = -1;
    FVelaId = -1;
    fSubId = kNoSubscription;
    FActiveCount = 0;
    fLastAsyncRequestId = 0;
    connection_.UpdateActiveGroups();
}

void TVelaUADAGroup::DeleteSubscriptionStep() {
    if (!ValidSubscription()) return;
    const uint32_t id = fSubId;
    struct Invalidate {
        std::atomic<uint32_t>& subscription;
        ~Invalidate() { subscription = kNoSubscription; }
    } invalidate{fSubId};
    uaDeleteSubscriptions call(&Client().Requests());
    call.Request->fSubscriptionIds = {id};
    connection_.UnregisterSubscription(id, this);
    connection_.UpdateActiveGroups();
    call.RunSync();
    if (!call.Response || call.Response->fResults.empty()) {
        char text[64];
        std::snprintf(text, sizeof text, "UA Error ($%x) %s", id, "wrong status result");
        throw uaConnectionException(text);
    }
    const uint32_t result = call.Response->fResults[0];
    if (result != 0 && result != kBadSubscriptionIdInvalid) throw uaRequestDispatcher::CreateException(result);
}

void TVelaUADAGroup::CancelLastAsyncCall() {
    CheckValidSubscription();
    if (fLastAsyncRequestId > 0) Client().Requests().CancelRequest(fLastAsyncRequestId);
}

bool TVelaUADAGroup::SetDatatypes(TVelaItemList&) {
    CheckValidSubscription();
    return false;
}

// ---------------------------------------------------------------- items

uint32_t TVelaUADAGroup::HandleOf(const TVelaItemDataPtr& item) {
    std::lock_guard lock(handlesLock_);
    auto found = handles_.find(item.get());
    if (found != handles_.end()) {
        if (!items_[found->second].expired()) return found->second;
        items_.erase(found->second);  // a new record at the address of a freed one
    }
    const uint32_t handle = nextHandle_++;
    handles_[item.get()] = handle;
    items_[handle] = item;
    return handle;
}

TVelaItemDataPtr TVelaUADAGroup::ItemOf(uint32_t handle) {
    std::lock_guard lock(handlesLock_);
    auto found = items_.find(handle);
    return found == items_.end() ? nullptr : found->second.lock();
}

void TVelaUADAGroup::ForgetItem(const TVelaItemData& item) {
    std::lock_guard lock(handlesLock_);
    auto found = handles_.find(&item);
    if (found == handles_.end()) return;
    items_.erase(found->second);
    handles_.erase(found);
}

bool TVelaUADAGroup::AddItems(TVelaItemList& items, bool add) {
    if (items.Empty()) return false;
    for (const auto& item : items)
        if (item->FServerHandle != -1)
            throw EOPCGroupException("Item " + item->FItemID + " already exists on OPC server");
    if (!ValidSubscription()) return false;
    if (fSubId == 0) {
        for (const auto& item : items) item->FServerHandle = static_cast<int32_t>(HandleOf(item));
        ReadItemAttributes(items);
        return true;
    }
    ReadItemAttributes(items);
    if (!add) return true;
    if (auto split = SplitCall(items, connection_.OperationLimits().maxMonitoredItemsPerCall,
                               [&](TVelaItemList& slice) { return CreateMonitoredItems(slice); }))
        return *split;
    return CreateMonitoredItems(items);
}

bool TVelaUADAGroup::CreateMonitoredItems(TVelaItemList& items) {
    uaCreateMonitoredItems call(&Client().Requests());
    call.Request->fSubscriptionId = fSubId;
    call.Request->fTimestampsToReturn.fValue = 2;  // Both
    for (const auto& item : items) {
        uaMonitoredItemCreateRequest create;
        create.fItemToMonitor = ValueOf(item->FItemID, 13);
        create.fMonitoringMode.fValue = item->FIsActive ? 2 : 0;  // Reporting : Disabled
        auto& parameters = create.fRequestedParameters;
        parameters.fClientHandle = HandleOf(item);
        parameters.fSamplingInterval = item->FSamplerate;
        parameters.fQueueSize = 1;
        parameters.fDiscardOldest = false;
        const float deadband = item->FDeadBand == -1.0f ? FDeadBand : item->FDeadBand;
        if (std::fabs(deadband) > 0.00001f && item->fBaseDatatype >= 2 && item->fBaseDatatype <= 11) {
            auto filter = std::make_shared<uaDataChangeFilter>();
            filter->fTrigger.fValue = 1;  // StatusValue
            filter->fDeadbandType = static_cast<uint32_t>(UABindingSettings::deadbandType.load());
            filter->fDeadbandValue = deadband;
            parameters.fFilter.fEncoding = uaExtensionObject::eo_EncodeableObject;
            parameters.fFilter.fObject = std::move(filter);
        }
        call.Request->fItemsToCreate.push_back(std::move(create));
    }
    call.RunSync();
    if (!call.Response || call.Response->fResults.size() != items.Count())
        throw EOPCGroupException("Error creating OPC groups: ");
    bool ok = true;
    for (size_t i = 0; i < items.Count(); ++i) {
        const auto& result = call.Response->fResults[i];
        items[i].FServerHandle = static_cast<int32_t>(result.fMonitoredItemId);
        items[i].FLastError = TryParse(items[i].FItemID) ? result.fStatusCode : kBadNodeIdInvalid;
        if (items[i].FLastError != 0) ok = false;
    }
    return ok;
}

void TVelaUADAGroup::ReadItemAttributes(TVelaItemList& items) {
    for (TVelaItemList& slice : Slices(items, connection_.OperationLimits().maxNodesPerRead / 5))
        ReadAttributesOf(slice);
}

void TVelaUADAGroup::ReadAttributesOf(TVelaItemList& items) {
    static constexpr uint32_t kAttributes[] = {4, 18, 14, 15, 13};  // DisplayName .. Value
    uaRead call(&Client().Requests());
    call.Request->fMaxAge = 0;
    call.Request->fTimestampsToReturn.fValue = connection_.TimestampsToReturn();
    for (const auto& item : items)
        for (uint32_t attribute : kAttributes) call.Request->fNodesToRead.push_back(ValueOf(item->FItemID, attribute));
    call.RunSync();
    if (!call.Response) return;
    const auto& results = call.Response->fResults;
    for (size_t i = 0; i < items.Count() && (i + 1) * 5 <= results.size(); ++i) {
        TVelaItemData& item = items[i];
        const uaDataValue* v = &results[i * 5];
        if (!TryParse(item.FItemID)) {
            item.FLastError = kBadNodeIdInvalid;
            continue;
        }
        if (v[0].fStatusCode != 0) {
            item.FLastError = v[0].fStatusCode;
            continue;
        }
        if (v[0].fValue)
            if (const auto* name = std::get_if<uaLocalizedText>(&v[0].fValue->fScalar)) item.fItemName = name->fText;
        item.FAccessRights = 0;
        if (v[1].fStatusCode == 0 && v[1].fValue)
            if (const auto* level = std::get_if<uint8_t>(&v[1].fValue->fScalar)) item.FAccessRights = *level;
        if (v[2].fStatusCode == 0) {
            item.FCanonicalDatatype = 0;
            if (v[2].fValue)
                if (const auto* type = std::get_if<uaNodeId>(&v[2].fValue->fScalar))
                    if (const auto* number = std::get_if<uint32_t>(&type->fValue))
                        item.FCanonicalDatatype = static_cast<int32_t>(*number);
        }
        if (v[3].fStatusCode == 0 && v[3].fValue)
            if (const auto* rank = std::get_if<int32_t>(&v[3].fValue->fScalar); rank && *rank >= 0) item.FIsArray = true;
        if (v[4].fValue) {
            item.FIsArray = IsArrayValue(*v[4].fValue, false);
            item.fBaseDatatype = v[4].fValue->fType.fBuildInType;
            item.FValue = ToItemValue(v[4].fValue);
            item.FQuality = v[4].fStatusCode;
            item.FTimeStamp = connection_.ItemTimeStamp(v[4]);
        } else {
            item.fBaseDatatype = item.FCanonicalDatatype <= 25 ? item.FCanonicalDatatype : 0;
            item.FQuality = v[4].fStatusCode;
        }
        item.FLastError = IsItemError(v[4].fStatusCode, item.FAccessRights) ? v[4].fStatusCode : 0;
    }
}

bool TVelaUADAGroup::RemoveItems(bool serverShutdown, TVelaItemList& items) {
    if (!ValidSubscription() || fSubId == 0 || serverShutdown || connection_.WantDisconnect()) {
        for (const auto& item : items) ForgetItem(*item);
        return false;
    }
    if (items.Empty()) return true;
    if (auto split = SplitCall(items, connection_.OperationLimits().maxMonitoredItemsPerCall,
                               [&](TVelaItemList& slice) { return RemoveItems(false, slice); }))
        return *split;
    uaDeleteMonitoredItems call(&Client().Requests());
    call.Request->fSubscriptionId = fSubId;
    for (const auto& item : items) call.Request->fMonitoredItemIds.push_back(static_cast<uint32_t>(item->FServerHandle));
    for (const auto& item : items) ForgetItem(*item);
    try {
        call.RunSync();
    } catch (...) {
        fSubId = kNoSubscription;
        throw;
    }
    if (!call.Response) {
        fSubId = kNoSubscription;
        return false;
    }
    for (uint32_t code : call.Response->fResults)
        if (code != 0) return false;
    return true;
}

bool TVelaUADAGroup::SetActiveState(TVelaItemList& items, bool active) {
    CheckValidSubscription();
    if (auto split = SplitCall(items, connection_.OperationLimits().maxMonitoredItemsPerCall,
                               [&](TVelaItemList& slice) { return SetActiveState(slice, active); }))
        return *split;
    uaSetMonitoringMode call(&Client().Requests());
    call.Request->fSubscriptionId = fSubId;
    call.Request->fMonitoringMode.fValue = active ? 2 : 0;
    for (const auto& item : items) call.Request->fMonitoredItemIds.push_back(static_cast<uint32_t>(item->FServerHandle));
    call.RunSync();
    if (!call.Response) return false;
    bool ok = true;
    for (size_t i = 0; i < call.Response->fResults.size() && i < items.Count(); ++i) {
        const uint32_t code = call.Response->fResults[i];
        if (code != 0) {
            items[i].FLastError = code;
            ok = false;
        } else {
            items[i].FIsActive = active;
        }
    }
    return ok;
}

// ---------------------------------------------------------------- reads and writes

bool TVelaUADAGroup::ReadItems(TVelaItemList& items, bool asynchronous) {
    CheckValidSubscription();
    if (!asynchronous)
        if (auto split = SplitCall(items, connection_.OperationLimits().maxNodesPerRead,
                                   [&](TVelaItemList& slice) { return ReadItems(slice, false); }))
            return *split;
    uaRead call(&Client().Requests());
    call.Request->fMaxAge = 0;
    call.Request->fTimestampsToReturn.fValue = connection_.TimestampsToReturn();
    for (const auto& item : items) call.Request->fNodesToRead.push_back(ValueOf(item->FItemID, 13));
    if (asynchronous) {
        auto list = std::make_shared<TVelaItemList>(items.Items());
        VelaPtr<IVelaGroup> self(this);  // the group stays until the answer is handled
        call.RunAsync(list, Client().Requests().fTimeout,
                      [self, list](uint32_t, std::unique_ptr<TuaObj> response, const std::any&) {
                          auto& group = *static_cast<TVelaUADAGroup*>(self.get());
                          auto* read = dynamic_cast<uaReadResponse*>(response.get());
                          if (read && read->fResults.size() != list->Count())
                              throw Exception("Response has not the right length");
                          for (size_t i = 0; i < list->Count(); ++i) {
                              TVelaItemData& item = (*list)[i];
                              if (!read) {  // timed out: the items report it
                                  item.FQuality = kBadTimeout;
                                  continue;
                              }
                              const uaDataValue& value = read->fResults[i];
                              item.FValue = ToItemValue(value.fValue);
                              item.FQuality = value.fStatusCode;
                              item.FTimeStamp = group.connection_.ItemTimeStamp(value);
                          }
                          if (group.Owner())
                              group.Owner()->PostMsg(kMsgDataChange, std::make_unique<TVelaItemList>(*list), group.FVelaId);
                      });
        return true;
    }
    call.RunSync();
    if (!call.Response) return false;
    bool ok = true;
    const auto& results = call.Response->fResults;
    for (size_t i = 0; i < items.Count() && i < results.size(); ++i) {
        TVelaItemData& item = items[i];
        const uaDataValue& value = results[i];
        if (value.fValue) {
            item.FValue = ToItemValue(value.fValue);
            item.fBaseDatatype = value.fValue->fType.fBuildInType;
            item.FIsArray = IsArrayValue(*value.fValue, true);
        } else {
            item.FValue = Variant();
        }
        item.FQuality = value.fStatusCode;
        item.FLastError = IsItemError(value.fStatusCode, 0) ? value.fStatusCode : 0;  // a read needs read access
        item.FTimeStamp = connection_.ItemTimeStamp(value);
        if (item.FLastError != 0) ok = false;
    }
    return ok;
}

uaDataValue TVelaUADAGroup::WriteValueOf(const TVelaItemData& item) {
    uaDataValue value;
    int32_t type = item.fBaseDatatype;
    if (type < 1) type = VariantTypeToUAType(item.FWantValue.Type() & 0xFFF);
    if (type != bit_ExtensionObject) {
        value.fValue = CreateUaVariant(item.FWantValue, static_cast<uaBuildInType>(type));
    } else {
        // the body's bytes, refused before anything is read: a scalar would wipe the structure,
        // a number beyond a byte corrupt it
        uaByteString bytes = BytesOf(item.FWantValue);
        const auto current = Client().ReadNodeAttributes({TVelaUAClient::ParseNodeId(item.FItemID)}, {13}, 3);
        if (current.empty() || !current[0].fValue || current[0].fValue->IsArray())
            throw Exception("Item " + item.FItemID + ": the current extension object cannot be read");
        uaVariant object = *current[0].fValue;
        auto* body = std::get_if<uaExtensionObject>(&object.fScalar);
        if (!body) throw Exception("Item " + item.FItemID + ": the value is not an extension object");
        body->fObject.reset();
        body->fEncoding = uaExtensionObject::eo_BinaryBody;
        body->fBinaryBody = std::move(bytes);
        value.fValue = std::move(object);
    }
    if (item.FWantQuality >= 0) value.fStatusCode = static_cast<uint32_t>(item.FWantQuality);
    if (connection_.ServerTimeStamp() && item.FWantTimeStamp >= 0) value.fServerTimestamp = item.FWantTimeStamp;
    return value;
}

// The OPC result of a value that cannot become the node's type; such an item is not written.
static int32_t ConversionResult(const VariantError& error) {
    return error.Code() == kDispEOverflow ? kOpcERange : kOpcEBadType;
}

bool TVelaUADAGroup::WriteItems(TVelaItemList& items, bool asynchronous) {
    CheckValidSubscription();
    if (!asynchronous)
        if (auto split = SplitCall(items, connection_.OperationLimits().maxNodesPerWrite,
                                   [&](TVelaItemList& slice) { return WriteItems(slice, false); }))
            return *split;
    uaWrite call(&Client().Requests());
    // per item: its place in the request, or -1 when its value could not be converted
    std::vector<int> sent(items.Count(), -1);
    std::vector<int32_t> refused(items.Count(), 0);
    for (size_t i = 0; i < items.Count(); ++i) {
        uaWriteValue write;
        write.fNodeId = TryParse(items[i].FItemID).value_or(uaNodeId());
        write.fAttributeId = 13;
        try {
            write.fValue = WriteValueOf(items[i]);
        } catch (const VariantError& e) {
            refused[i] = ConversionResult(e);
            continue;
        } catch (const uaConversionError&) {  // text that is no GUID, node id, ...
            refused[i] = kOpcEBadType;
            continue;
        }
        sent[i] = static_cast<int>(call.Request->fNodesToWrite.size());
        call.Request->fNodesToWrite.push_back(std::move(write));
    }
    const auto resultOf = [sent, refused](size_t i, const std::vector<uint32_t>* results, uint32_t otherwise) {
        if (sent[i] < 0) return static_cast<uint32_t>(refused[i]);
        return results ? (*results)[static_cast<size_t>(sent[i])] : otherwise;
    };
    // the toolkit's own refusals are HRESULTs, the server's results UA status codes
    const auto errorOf = [sent, refused](size_t i, uint32_t code) -> int64_t {
        return sent[i] < 0 ? refused[i] : static_cast<int64_t>(code);
    };
    const size_t sentCount = call.Request->fNodesToWrite.size();
    if (asynchronous && sentCount == 0) {  // nothing for the server: the completion comes at once
        fLastAsyncRequestId = 0;  // a cancel has nothing of this write to cancel
        for (size_t i = 0; i < items.Count(); ++i) {
            items[i].FQuality = static_cast<uint32_t>(refused[i]);
            items[i].FLastError = refused[i];
        }
        if (Owner())
            Owner()->PostMsg(kMsgWriteComplete, std::make_unique<TVelaItemList>(items.Items()),
                             static_cast<int64_t>(items.Count()));
        return true;
    }
    if (asynchronous) {
        fLastAsyncRequestId = call.Request->fRequestHeader.fRequestHandle;
        auto list = std::make_shared<TVelaItemList>(items.Items());
        VelaPtr<IVelaGroup> self(this);
        call.RunAsync(list, Client().Requests().fTimeout,
                      [self, list, resultOf, errorOf, sentCount](uint32_t, std::unique_ptr<TuaObj> response, const std::any&) {
                          auto& group = *static_cast<TVelaUADAGroup*>(self.get());
                          auto* written = dynamic_cast<uaWriteResponse*>(response.get());
                          if (written && written->fResults.size() != sentCount)
                              throw Exception("Response has not the right length");
                          int64_t failed = 0;
                          for (size_t i = 0; i < list->Count(); ++i) {
                              const uint32_t code = resultOf(i, written ? &written->fResults : nullptr, kBadTimeout);
                              (*list)[i].FQuality = code;
                              (*list)[i].FLastError = errorOf(i, code);
                              if (code != 0) ++failed;
                          }
                          if (group.Owner())
                              group.Owner()->PostMsg(kMsgWriteComplete, std::make_unique<TVelaItemList>(*list), failed);
                      });
        return true;
    }
    std::vector<uint32_t> results;
    if (sentCount > 0) {
        call.RunSync();
        if (!call.Response) {
            // no answer: the refused items still say why they were not sent
            for (size_t i = 0; i < items.Count(); ++i)
                if (sent[i] < 0) {
                    items[i].FQuality = static_cast<uint32_t>(refused[i]);
                    items[i].FLastError = refused[i];
                }
            return false;
        }
        results = call.Response->fResults;
        if (results.size() != sentCount) throw Exception("Response has not the right length");
    }
    bool ok = true;
    for (size_t i = 0; i < items.Count(); ++i) {
        const uint32_t code = resultOf(i, &results, 0);
        items[i].FQuality = code;
        items[i].FLastError = errorOf(i, code);
        if (code != 0) ok = false;
    }
    return ok;
}

// ---------------------------------------------------------------- notifications

void TVelaUADAGroup::ProcessNotification(const uaNotificationMessage& message) {
    if (message.fNotificationData.empty() || !fOnDatachange) return;
    fSequenceNo = message.fSequenceNumber;
    for (const auto& data : message.fNotificationData) {
        const uint32_t type = data.ObjectNumber();
        if (type == kStatusChangeNotification) continue;
        if (type != kDataChangeNotification)
            throw EOPCGroupException("unknown group notification: " + std::to_string(type));
        uaDataChangeNotification changes;
        TExtensionObjReader::ReadObject(data, changes);
        auto list = std::make_unique<TVelaItemList>();
        for (const auto& change : changes.fMonitoredItems) {
            TVelaItemDataPtr item = ItemOf(change.fClientHandle);
            if (!item) continue;  // removed while the notification was under way
            try {
                item->FValue = change.fValue.fValue ? ToVariant(*change.fValue.fValue) : Variant();
            } catch (const std::exception& e) {
                connection_.Log(3, 0x803C0000, e.what());
                item->FValue = Variant();
            }
            item->FQuality = change.fValue.fStatusCode;
            item->FTimeStamp = connection_.ItemTimeStamp(change.fValue);
            item->FLastError = 0;
            item->IncrementChangeCount();
            list->Add(std::move(item));
        }
        if (!list->Empty() && FVelaId != -1 && Owner()) Owner()->PostMsg(kMsgDataChange, std::move(list), FVelaId);
    }
}

}  // namespace vela::ua
