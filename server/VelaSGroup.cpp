// The server group's state, life and items.
#include "server/VelaSGroup.h"

#include <olectl.h>

#include <cstring>
#include <unordered_set>

#include "base/Text.h"
#include "base/Utf.h"
#include "server/DAEdge.h"
#include "server/Enumerators.h"
#include "server/VelaDataAccess.h"

namespace vela::server {
namespace {

constexpr size_t kMaxDataCallbackSinks = 64;

bool ToInteger(const std::string& text, int32_t& value) {
    const std::string trimmed(TrimBlanks(text));
    try {
        size_t used = 0;
        value = std::stoi(trimmed, &used);
        return used == trimmed.size();
    } catch (const std::exception&) {
        return false;
    }
}

int32_t IntegerOf(const Variant& value) {
    try {
        return static_cast<int32_t>(value.ChangeType(vtI4).SignedValue());
    } catch (const std::exception&) {
        return 0;
    }
}

// The common start of the calls that answer one code per server handle: the arguments
// checked and the errors array made.
HRESULT StartPerItem(DWORD count, const OPCHANDLE* handles, bool argumentsGiven, HRESULT** ppErrors,
                     std::unique_ptr<TaskMemArray<HRESULT>>& errors) {
    if (!ppErrors) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (count == 0 || !handles || !argumentsGiven) return E_INVALIDARG;
    errors = std::make_unique<TaskMemArray<HRESULT>>(count);
    return *errors ? S_OK : E_OUTOFMEMORY;
}

// Hands the errors to the caller: S_FALSE when any is set.
HRESULT FinishPerItem(DWORD count, TaskMemArray<HRESULT>& errors, HRESULT** ppErrors) {
    bool anyError = false;
    for (DWORD i = 0; i < count; ++i) anyError = anyError || errors[i] != S_OK;
    *ppErrors = errors.release();
    return anyError ? S_FALSE : S_OK;
}

// The toolkit's batch mode for the life of a call, also when it ends in an exception.
class UpdateScope {
public:
    explicit UpdateScope(TVelaItems& items) : items_(items) { items_.BeginUpdate(); }
    ~UpdateScope() { items_.EndUpdate(); }
    UpdateScope(const UpdateScope&) = delete;
    UpdateScope& operator=(const UpdateScope&) = delete;

private:
    TVelaItems& items_;
};

}  // namespace

bool AcceptableRequestedType(VARTYPE type) {
    if (type & VT_ARRAY) type &= 0x0FFF;
    return type <= VT_I8;
}

// --- life ---

TVelaSGroup* TVelaSGroup::Create(VelaDataAccess& server) { return new TVelaSGroup(server); }

TVelaSGroup::TVelaSGroup(VelaDataAccess& server)
    : FDataAccess(&server),
      dataCallbackPoint_(this, IID_IOPCDataCallback, kMaxDataCallbackSinks),
      serverHandle_(server.NextGroupHandle()) {
    TVelaDAClient& client = *server.Client();
    FDataChangeThread = std::make_unique<TVelaSUpdateThread>(
        *server.MainThread(),
        TVelaSUpdateThread::Work{[this] { return QueueEmpty(); }, [this] { AsyncCall(); },
                                 [this] { PeriodicDataChange(); }},
        0);
    int32_t minRate = 0, waitTime = 0, holdTime = 0;
    if (ToInteger(OptionValue(client.Params(), "min-updaterate"), minRate) &&
        ToInteger(OptionValue(client.Params(), "xml-waittime"), waitTime) &&
        ToInteger(OptionValue(client.Params(), "xml-holdtime"), holdTime)) {
        FMINUPDATERATE = static_cast<DWORD>(minRate);
        FXMLWaitTime = waitTime;
        FXMLHoldTime = holdTime;
    }
    client.OPCGroupDefault().IsActive = false;
    TVelaGroup& group = client.OPCGroups().Add(std::to_string(reinterpret_cast<uintptr_t>(this)));
    group.OnDatachange = [this](TVelaDAClient&, TVelaItemList& items) { OnToolkitDataChange(items); };
    FServerGroup = &group;
    dataCallbackPoint_.onConnectionChange = [this](IUnknown* sink) { OnDataCallbackConnection(sink); };
}

TVelaSGroup::~TVelaSGroup() {
    destroying_ = true;
    if (FDataAccess) FDataAccess->GroupDestroyed(this);
    Detach();
    dataCallbackPoint_.Disconnect();
}

void TVelaSGroup::Detach() {
    FDataChangeThread.reset();  // waits for the thread; what it handed over is dropped
    {
        std::lock_guard lock(FLock);
        AsyncIOList.clear();
    }
    if (FServerGroup && FDataAccess) {
        TVelaGroup* group = FServerGroup;
        FServerGroup = nullptr;
        group->OnDatachange = nullptr;
        try {
            group->SetIsActive(false);
        } catch (...) {
        }
        try {
            FDataAccess->Client()->OPCGroups().Remove(group);
        } catch (...) {
        }
    }
    items_.clear();
    handles_.clear();
    FServerGroup = nullptr;
    FDataAccess = nullptr;
}

STDMETHODIMP TVelaSGroup::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOPCGroupStateMgt) *object = static_cast<IOPCGroupStateMgt*>(this);
    else if (riid == IID_IOPCPublicGroupStateMgt) *object = static_cast<IOPCPublicGroupStateMgt*>(this);
    else if (riid == IID_IOPCItemMgt) *object = static_cast<IOPCItemMgt*>(this);
    else if (riid == IID_IOPCSyncIO) *object = static_cast<IOPCSyncIO*>(this);
    else if (riid == IID_IOPCAsyncIO2) *object = static_cast<IOPCAsyncIO2*>(this);
    else if (riid == IID_IConnectionPointContainer) *object = static_cast<IConnectionPointContainer*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// The toolkit group stops with the last reference (the group's destruction), not before: a
// client that lets go of one of several interface pointers keeps its data changes.
STDMETHODIMP_(ULONG) TVelaSGroup::Release() { return ReleaseImpl(); }

// --- state ---

HRESULT TVelaSGroup::Init(const std::wstring& name, bool active, LCID locale, const float* deadBand,
                          const LONG* timeBias, OPCHANDLE clientGroup, DWORD requestedRate) {
    FName = name;
    FActive = active ? TRUE : FALSE;
    SetUpdateRate(requestedRate);
    FClientGroup = clientGroup;
    SetTimeBias(timeBias);
    SetLocale(locale);
    if (deadBand) SetDeadBand(*deadBand);
    return ApplyState();
}

void TVelaSGroup::SetUpdateRate(DWORD requested) {
    DWORD rate = requested > FMINUPDATERATE ? requested : FMINUPDATERATE;
    if (rate >= 0x80000000u) rate = 0x7FFFFFFF;
    FRequestedUpdateRate = rate;
}

void TVelaSGroup::SetTimeBias(const LONG* bias) {
    FTimeBias = bias ? *bias : static_cast<LONG>(CurrentLocalBiasMinutes());
}

HRESULT TVelaSGroup::SetLocale(LCID locale) {
    if (locale != kLocaleSystemDefault && locale != kLocaleUserDefault) return E_INVALIDARG;
    FLCID = locale;
    return S_OK;
}

HRESULT TVelaSGroup::SetDeadBand(float deadBand) {
    if (deadBand < 0) {
        FPercentDeadband = 0;
        return E_INVALIDARG;
    }
    if (deadBand > 100) {
        FPercentDeadband = 100;
        return E_INVALIDARG;
    }
    FPercentDeadband = deadBand;
    return S_OK;
}

HRESULT TVelaSGroup::ApplyState() {
    if (!Alive()) return E_FAIL;
    HRESULT result = S_OK;
    if (FActive && !FDataAccess->Client()->Active()) result = FDataAccess->ConnectRemote();
    TVelaGroup& group = *FServerGroup;
    try {
        if (!group.IsActive()) AfterFirstOnDataChange = false;
        TVelaGroupStateRec state;
        group.GetState(state);
        state.IsActive = false;
        state.Name = WideToUtf8(FName);
        state.UpdateRate = static_cast<int32_t>(FRequestedUpdateRate);
        state.Waittime = FXMLWaitTime < 0 ? 10 * state.UpdateRate : FXMLWaitTime;
        state.Holdtime = FXMLHoldTime;
        state.TimeBias = FTimeBias;
        state.DeadBand = FPercentDeadband;
        state.LocaleId = static_cast<int32_t>(FLCID);
        group.SetState(state);
    } catch (...) {
        if (result == S_OK) result = E_FAIL;
    }
    if (FDataChangeThread) FDataChangeThread->SetUpdateRate(static_cast<int32_t>(FRequestedUpdateRate));
    if (FDataCallback) {
        try {
            group.SetIsActive(FActive != FALSE);
        } catch (...) {
            if (result == S_OK) result = E_FAIL;
        }
        if (FDataChangeThread) FDataChangeThread->SetActive(FActive != FALSE);
    }
    return result;
}

STDMETHODIMP TVelaSGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                   FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                   OPCHANDLE* phServerGroup) {
    if (pUpdateRate) *pUpdateRate = FRequestedUpdateRate;
    if (pActive) *pActive = FActive;
    if (ppName) {
        *ppName = TaskMemString(FName);
        if (!*ppName) return E_OUTOFMEMORY;
    }
    if (pTimeBias) *pTimeBias = FTimeBias;
    if (pPercentDeadband) *pPercentDeadband = FPercentDeadband;
    if (pLCID) *pLCID = FLCID;
    if (phClientGroup) *phClientGroup = FClientGroup;
    if (phServerGroup) *phServerGroup = serverHandle_;
    return S_OK;
}

STDMETHODIMP TVelaSGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                   LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                   OPCHANDLE* phClientGroup) {
    return ComCall([&]() -> HRESULT {
        if (!Alive()) return E_FAIL;
        bool unsupportedRate = false;
        if (pRequestedUpdateRate) SetUpdateRate(*pRequestedUpdateRate);
        if (pActive) FActive = *pActive ? TRUE : FALSE;
        if (pTimeBias) SetTimeBias(pTimeBias);
        if (pPercentDeadband) SetDeadBand(*pPercentDeadband);  // a clamped dead band is not reported
        if (pLCID) SetLocale(*pLCID);
        if (phClientGroup) FClientGroup = *phClientGroup;
        if (pRevisedUpdateRate) {
            *pRevisedUpdateRate = FRequestedUpdateRate;
            if (pRequestedUpdateRate && *pRequestedUpdateRate != FRequestedUpdateRate) unsupportedRate = true;
        }
        const HRESULT applied = ApplyState();
        return unsupportedRate ? kOpcSUnsupportedRate : applied;
    });
}

STDMETHODIMP TVelaSGroup::SetName(LPCWSTR szName) {
    return ComCall([&]() -> HRESULT {
        if (!Alive()) return E_FAIL;
        if (!szName || !*szName) return E_INVALIDARG;
        if (FDataAccess->Groups().FindGroupByName(szName)) return kOpcEDuplicateName;
        FName = szName;
        try {
            FServerGroup->SetName(WideToUtf8(FName));
        } catch (...) {
        }
        return S_OK;
    });
}

STDMETHODIMP TVelaSGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    if (!Alive()) return E_FAIL;
    if (riid != IID_IOPCGroupStateMgt && riid != IID_IUnknown) return E_NOINTERFACE;
    if (!szName || !*szName) return E_INVALIDARG;
    if (FDataAccess->Groups().FindGroupByName(szName)) return kOpcEDuplicateName;
    try {
        TVelaSGroup* clone = Create(*FDataAccess);
        // released again when the clone cannot be completed
        std::unique_ptr<IUnknown, void (*)(IUnknown*)> guard(static_cast<IOPCGroupStateMgt*>(clone),
                                                             [](IUnknown* group) { group->Release(); });
        clone->FName = szName;
        clone->FActive = FALSE;
        clone->FRequestedUpdateRate = FRequestedUpdateRate;
        clone->FClientGroup = FClientGroup;
        clone->FTimeBias = FTimeBias;
        clone->FPercentDeadband = FPercentDeadband;
        clone->FLCID = FLCID;
        clone->FPublicGroupFlag = FPublicGroupFlag;
        clone->CallBackEnabled = CallBackEnabled;
        clone->FServerGroup->SetName(WideToUtf8(clone->FName));
        TVelaItems& items = clone->FServerGroup->OPCItems();
        const UpdateScope batch(items);
        TVelaItemList added;
        for (const auto& source : FServerGroup->OPCItems()) {
            const SItem* entry = EntryOf(source.get());
            if (!entry) continue;
            TVelaItemPtr item = items.AddItem(source->FItemID, true);
            item->FIsActive = source->FIsActive;
            item->FEUType = source->FEUType;
            item->FEUInfo = source->FEUInfo;
            item->FCanonicalDatatype = source->FCanonicalDatatype;
            item->FTimeStamp = source->FTimeStamp;
            item->FRequesttype = source->FRequesttype;
            item->FRequestDatatype = source->FRequestDatatype;
            item->FAccessPath = source->FAccessPath;
            item->FAccessRights = source->FAccessRights;
            item->FQuality = source->FQuality;
            item->FLastError = source->FLastError;
            item->FData = source->FData;
            item->FWantValue = source->FWantValue;
            clone->AddHandle(item, entry->canonical, entry->rights);
            added.Add(item);
        }
        // the clone's items go to the remote server with their own remote handles
        try {
            if (!added.Empty()) items.OPCAddItems(added, true);
        } catch (...) {
        }
        FDataAccess->Groups().Add(clone);
        *ppUnk = static_cast<IOPCGroupStateMgt*>(clone);
        guard.release();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP TVelaSGroup::GetState(BOOL* pPublic) {
    if (!pPublic) return E_INVALIDARG;
    *pPublic = FPublicGroupFlag;
    return FDataAccess && FDataAccess->Groups().FindGroupByName(FName) ? S_OK : E_FAIL;
}

STDMETHODIMP TVelaSGroup::MoveToPublic() {
    if (!Alive()) return E_FAIL;
    if (!FDataAccess || !FDataAccess->Groups().FindGroupByName(FName)) return kOpcEInvalidHandle;
    FPublicGroupFlag = TRUE;
    return S_OK;
}

// --- items ---

SItem* TVelaSGroup::ItemOf(OPCHANDLE handle) {
    const auto it = items_.find(handle);
    return it == items_.end() ? nullptr : &it->second;
}

const SItem* TVelaSGroup::EntryOf(const TVelaItemData* item) const {
    const auto handle = handles_.find(item);
    if (handle == handles_.end()) return nullptr;
    const auto it = items_.find(handle->second);
    return it == items_.end() ? nullptr : &it->second;
}

OPCHANDLE TVelaSGroup::HandleOf(const TVelaItemData* item) const {
    const auto it = handles_.find(item);
    return it == handles_.end() ? 0 : it->second;
}

OPCHANDLE TVelaSGroup::AddHandle(const TVelaItemPtr& item, VARTYPE canonical, DWORD rights) {
    const OPCHANDLE handle = ++lastItemHandle_;
    items_[handle] = SItem{item, canonical, rights};
    handles_[item.get()] = handle;
    return handle;
}

void TVelaSGroup::DropHandle(OPCHANDLE handle) {
    const auto it = items_.find(handle);
    if (it == items_.end()) return;
    handles_.erase(it->second.item.get());
    items_.erase(it);
}

void TVelaSGroup::CheckDefinitions(DWORD count, const OPCITEMDEF* items, HRESULT* errors, bool raise) {
    TPropertyBrowser& browser = FDataAccess->PropertyBrowser();
    bool any = false;
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = S_OK;
        if (!items[i].szItemID || !*items[i].szItemID) errors[i] = kOpcEInvalidItemId;
        else if (!AcceptableRequestedType(items[i].vtRequestedDataType)) errors[i] = kOpcEBadType;
        else {
            browser.AddItem(WideToUtf8(items[i].szItemID));
            any = true;
        }
    }
    if (!any) return;
    browser.AddProperty(1);
    browser.AddProperty(5);
    browser.SetValues(true);
    browser.Execute(raise);
}

STDMETHODIMP TVelaSGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                   HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        if (!ppAddResults || !ppErrors) return E_INVALIDARG;
        *ppAddResults = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !pItemArray) return E_INVALIDARG;
        if (!Alive()) return E_FAIL;
        TaskMemArray<OPCITEMRESULT> results(dwCount);
        TaskMemArray<HRESULT> errors(dwCount);
        if (!results || !errors) return E_OUTOFMEMORY;
        try {
            CheckDefinitions(dwCount, pItemArray, errors.get(), false);
        } catch (...) {
        }
        TPropertyBrowser& browser = FDataAccess->PropertyBrowser();
        TVelaItems& items = FServerGroup->OPCItems();
        const UpdateScope batch(items);
        TVelaItemList added;
        try {
            for (DWORD i = 0; i < dwCount; ++i) {
                if (errors[i] != S_OK) continue;
                const OPCITEMDEF& definition = pItemArray[i];
                const std::string itemId = WideToUtf8(definition.szItemID);
                if (const int64_t failure = browser.ItemErrorID(itemId); failure != 0) {
                    errors[i] = static_cast<HRESULT>(failure);
                    continue;
                }
                const TVelaItemProperty* canonical = browser.GetProperty(itemId, 1);
                const TVelaItemProperty* rights = browser.GetProperty(itemId, 5);
                if (!canonical || !rights || canonical->FStatusCode != 0) {
                    errors[i] = kOpcEUnknownItemId;
                    continue;
                }
                TVelaItemPtr item = items.AddItem(itemId, true);
                item->FTag = static_cast<int32_t>(i);
                item->FIsActive = definition.bActive != FALSE;
                item->FLastError = 0;
                item->FData = reinterpret_cast<void*>(static_cast<uintptr_t>(definition.hClient));
                const auto canonicalType = static_cast<VARTYPE>(IntegerOf(canonical->FValue));
                const auto accessRights = static_cast<DWORD>(IntegerOf(rights->FValue));
                item->FAccessRights = static_cast<int32_t>(accessRights);
                item->FCanonicalDatatype = canonicalType;
                item->FAccessPath = definition.szAccessPath ? WideToUtf8(definition.szAccessPath) : std::string();
                const VARTYPE requested = definition.vtRequestedDataType;
                if (requested != VT_EMPTY && requested != canonicalType) {
                    item->FRequesttype = requested;
                    item->FRequestDatatype = requested;
                } else {
                    item->FRequesttype = 0;
                    item->FRequestDatatype = vtEMPTY;
                }
                const OPCHANDLE handle = AddHandle(item, canonicalType, accessRights);
                results[i].hServer = handle;
                results[i].vtCanonicalDataType = canonicalType;
                results[i].dwAccessRights = accessRights;
                results[i].dwBlobSize = 0;
                results[i].pBlob = nullptr;
                added.Add(item);
            }
            if (!added.Empty()) items.OPCAddItems(added, true);
        } catch (...) {
        }
        browser.Trim();
        *ppAddResults = results.release();
        return FinishPerItem(dwCount, errors, ppErrors);
    });
}

STDMETHODIMP TVelaSGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL, OPCITEMRESULT** ppValidationResults,
                                        HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        if (!ppValidationResults || !ppErrors) return E_INVALIDARG;
        *ppValidationResults = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !pItemArray) return E_INVALIDARG;
        if (!Alive()) return E_FAIL;
        TaskMemArray<OPCITEMRESULT> results(dwCount);
        TaskMemArray<HRESULT> errors(dwCount);
        if (!results || !errors) return E_OUTOFMEMORY;
        bool queried = true;
        try {
            CheckDefinitions(dwCount, pItemArray, errors.get(), true);
        } catch (...) {
            queried = false;  // the whole query failed: nothing could be validated
        }
        TPropertyBrowser& browser = FDataAccess->PropertyBrowser();
        for (DWORD i = 0; i < dwCount; ++i) {
            if (errors[i] == S_OK) {
                const std::string itemId = WideToUtf8(pItemArray[i].szItemID);
                const TVelaItemProperty* canonical = browser.GetProperty(itemId, 1);
                const TVelaItemProperty* rights = browser.GetProperty(itemId, 5);
                if (!queried) errors[i] = E_FAIL;
                else if (browser.ItemErrorID(itemId) != 0 || !canonical || !rights) errors[i] = kOpcEUnknownItemId;
                else {
                    results[i].vtCanonicalDataType = static_cast<VARTYPE>(IntegerOf(canonical->FValue));
                    results[i].dwAccessRights = static_cast<DWORD>(IntegerOf(rights->FValue));
                }
            }
        }
        browser.Trim();
        *ppValidationResults = results.release();
        return FinishPerItem(dwCount, errors, ppErrors);
    });
}

STDMETHODIMP TVelaSGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        std::unique_ptr<TaskMemArray<HRESULT>> errors;
        if (const HRESULT hr = StartPerItem(dwCount, phServer, true, ppErrors, errors); hr != S_OK) return hr;
        if (!Alive()) return E_FAIL;
        TVelaItems& items = FServerGroup->OPCItems();
        const UpdateScope batch(items);
        TVelaItemList onServer;
        std::vector<TVelaItemPtr> removed;
        for (DWORD i = 0; i < dwCount; ++i) {
            SItem* entry = ItemOf(phServer[i]);
            if (!entry) {
                (*errors)[i] = kOpcEInvalidHandle;
                continue;
            }
            const TVelaItemPtr kept = entry->item;
            kept->FTag = static_cast<int32_t>(i);
            kept->FLastError = 0;  // an earlier error must not fail the removal
            if (kept->FServerHandle != -1) onServer.Add(kept);
            removed.push_back(kept);
            DropHandle(phServer[i]);
        }
        try {
            if (!onServer.Empty()) items.OPCRemoveItems(onServer);
        } catch (...) {
        }
        // items never added remotely are freed too: nothing else refers to them
        for (const TVelaItemPtr& item : removed) {
            try {
                items.Remove(item.get());
            } catch (...) {
            }
        }
        return FinishPerItem(dwCount, *errors, ppErrors);
    });
}

STDMETHODIMP TVelaSGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        std::unique_ptr<TaskMemArray<HRESULT>> errors;
        if (const HRESULT hr = StartPerItem(dwCount, phServer, true, ppErrors, errors); hr != S_OK) return hr;
        if (!Alive()) return E_FAIL;
        TVelaItems& items = FServerGroup->OPCItems();
        const UpdateScope batch(items);
        TVelaItemList list;
        std::vector<std::pair<DWORD, TVelaItem*>> positions;
        std::unordered_set<const TVelaItem*> listed;
        for (DWORD i = 0; i < dwCount; ++i) {
            SItem* entry = ItemOf(phServer[i]);
            if (!entry) {
                (*errors)[i] = kOpcEInvalidHandle;
                continue;
            }
            TVelaItem& item = *entry->item;
            item.FIsActive = bActive != FALSE;
            item.FTag = static_cast<int32_t>(i);
            item.FLastError = 0;
            if (listed.insert(&item).second) list.Add(entry->item);  // a handle named twice goes once
            positions.emplace_back(i, &item);
        }
        try {
            if (!list.Empty()) items.OPCActiveItems(list, bActive != FALSE);
        } catch (...) {
        }
        bool refused = false;
        for (const auto& [position, item] : positions) {
            if (item->FLastError == 0) continue;
            (*errors)[position] = static_cast<HRESULT>(FDataAccess->Edge().Error(item->FLastError));
            if (item->FLastError != kToolkitWriteOnly && item->FLastError != kToolkitReadOnly) refused = true;
        }
        bool unknown = false;
        for (DWORD i = 0; i < dwCount; ++i) unknown = unknown || (*errors)[i] == kOpcEInvalidHandle;
        *ppErrors = errors->release();
        // read-only and write-only items are reported but do not fail the call
        return refused || unknown ? S_FALSE : S_OK;
    });
}

STDMETHODIMP TVelaSGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                           HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        std::unique_ptr<TaskMemArray<HRESULT>> errors;
        if (const HRESULT hr = StartPerItem(dwCount, phServer, phClient != nullptr, ppErrors, errors); hr != S_OK)
            return hr;
        if (!Alive()) return E_FAIL;
        for (DWORD i = 0; i < dwCount; ++i) {
            if (SItem* entry = ItemOf(phServer[i]))
                entry->item->FData = reinterpret_cast<void*>(static_cast<uintptr_t>(phClient[i]));
            else
                (*errors)[i] = kOpcEInvalidHandle;
        }
        return FinishPerItem(dwCount, *errors, ppErrors);
    });
}

STDMETHODIMP TVelaSGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                       HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        std::unique_ptr<TaskMemArray<HRESULT>> errors;
        if (const HRESULT hr = StartPerItem(dwCount, phServer, pRequestedDatatypes != nullptr, ppErrors, errors);
            hr != S_OK)
            return hr;
        if (!Alive()) return E_FAIL;
        for (DWORD i = 0; i < dwCount; ++i) {
            SItem* entry = ItemOf(phServer[i]);
            if (!AcceptableRequestedType(pRequestedDatatypes[i])) {
                (*errors)[i] = kOpcEBadType;
            } else if (!entry) {
                (*errors)[i] = kOpcEInvalidHandle;
            } else {
                // the canonical type asked for is no conversion
                const VARTYPE type = pRequestedDatatypes[i] == entry->canonical ? VARTYPE{VT_EMPTY} : pRequestedDatatypes[i];
                entry->item->FRequesttype = type;
                entry->item->FRequestDatatype = type;
            }
        }
        return FinishPerItem(dwCount, *errors, ppErrors);
    });
}

STDMETHODIMP TVelaSGroup::CreateEnumerator(REFIID, LPUNKNOWN* ppUnk) {
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    if (!Alive()) return E_FAIL;
    if (FServerGroup->OPCItems().Count() == 0) return S_FALSE;
    try {
        std::vector<TOPCItemAttributes> list;
        for (const auto& item : FServerGroup->OPCItems()) {
            const SItem* entry = EntryOf(item.get());
            if (item->FLastError != 0 || !entry) continue;
            TOPCItemAttributes attributes;
            attributes.szAccessPath = Utf8ToWide(item->FAccessPath);
            attributes.bActive = item->FIsActive ? TRUE : FALSE;
            attributes.hClient = static_cast<OPCHANDLE>(reinterpret_cast<uintptr_t>(item->FData));
            attributes.vtRequestedDataType =
                static_cast<VARTYPE>(item->FRequesttype != 0 ? item->FRequesttype : entry->canonical);
            attributes.hServer = HandleOf(item.get());
            attributes.szItemID = Utf8ToWide(item->FItemID);
            attributes.vtCanonicalDataType = entry->canonical;
            attributes.dwEUType = item->FEUType > 0 ? item->FEUType : 0;
            attributes.vEUInfo = item->FEUInfo;
            attributes.dwAccessRights = entry->rights;
            list.push_back(std::move(attributes));
        }
        *ppUnk = static_cast<IEnumOPCItemAttributes*>(new TOPCItemAttEnumerator(std::move(list)));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// --- connection points ---

STDMETHODIMP TVelaSGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TVelaSGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    if (riid != IID_IOPCDataCallback) {
        *ppCP = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *ppCP = &dataCallbackPoint_;
    dataCallbackPoint_.AddRef();
    return S_OK;
}

void TVelaSGroup::OnDataCallbackConnection(IUnknown* sink) {
    if (FDataCallback) {
        FDataCallback->Release();
        FDataCallback = nullptr;
    }
    if (sink) {
        InterlockedIncrement(&FClientCount);
        FClientIUnknown = sink;
        if (FAILED(sink->QueryInterface(IID_IOPCDataCallback, reinterpret_cast<void**>(&FDataCallback))))
            FDataCallback = nullptr;
        if (!FDataCallback || !Alive()) return;
        if (!FServerGroup->IsActive() && FActive) AfterFirstOnDataChange = false;
        try {
            FServerGroup->SetIsActive(FActive != FALSE);
        } catch (...) {
        }
        if (FDataChangeThread) FDataChangeThread->SetActive(FActive != FALSE);
        return;
    }
    if (FClientCount > 0) InterlockedDecrement(&FClientCount);
    FClientIUnknown = nullptr;
    if (destroying_ || !Alive()) return;
    try {
        FServerGroup->SetIsActive(false);
    } catch (...) {
    }
    if (FDataChangeThread) FDataChangeThread->SetActive(false);
}

}  // namespace vela::server
