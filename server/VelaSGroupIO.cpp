// The server group's reads, writes, asynchronous requests and data-change delivery.
#include <olectl.h>

#include <atomic>
#include <unordered_map>
#include <cstring>

#include "base/OleVariant.h"
#include "server/DAEdge.h"
#include "server/VelaDataAccess.h"
#include "server/VelaSGroup.h"

namespace vela::server {
namespace {

// Callback arrays: the values are cleared whatever happens.
struct CallbackArrays {
    explicit CallbackArrays(size_t count)
        : clientHandles(count, 0), values(count), qualities(count, 0), times(count, FILETIME{}), errors(count, S_OK) {
        for (VARIANT& value : values) VariantInit(&value);
    }
    ~CallbackArrays() {
        for (VARIANT& value : values) VariantClear(&value);
    }
    CallbackArrays(const CallbackArrays&) = delete;
    CallbackArrays& operator=(const CallbackArrays&) = delete;
    HRESULT MasterError() const {
        for (HRESULT error : errors)
            if (error != S_OK) return S_FALSE;
        return S_OK;
    }

    std::vector<OPCHANDLE> clientHandles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
};

// Keeps an object alive while it calls out: a client may release it from inside a callback.
class SelfRef {
public:
    explicit SelfRef(IUnknown* self) : self_(self) { self_->AddRef(); }
    ~SelfRef() { self_->Release(); }
    SelfRef(const SelfRef&) = delete;
    SelfRef& operator=(const SelfRef&) = delete;

private:
    IUnknown* self_;
};

// The client's callback, held for one call out: the client may unadvise from inside it.
class SinkRef {
public:
    explicit SinkRef(IOPCDataCallback* sink) : sink_(sink) {
        if (sink_) sink_->AddRef();
    }
    ~SinkRef() {
        if (sink_) sink_->Release();
    }
    SinkRef(const SinkRef&) = delete;
    SinkRef& operator=(const SinkRef&) = delete;
    IOPCDataCallback* operator->() const { return sink_; }
    explicit operator bool() const { return sink_ != nullptr; }

private:
    IOPCDataCallback* sink_;
};

OPCHANDLE ClientHandleOf(const TVelaItemData& item) {
    return static_cast<OPCHANDLE>(reinterpret_cast<uintptr_t>(item.FData));
}

}  // namespace

DWORD NextCancelID() {
    static std::atomic<DWORD> counter{1};
    DWORD current = counter.load();
    DWORD next;
    do {
        next = current == 0xFFFFFFFFu ? 2 : current + 1;
    } while (!counter.compare_exchange_weak(current, next));
    return next;
}

// --- mappings ---

HRESULT TVelaSGroup::ReadError(const SItem& entry) const {
    const int64_t lastError = entry.item->FLastError;
    if (lastError == 0) return S_OK;
    if (FDataAccess->Edge().IsUA()) return static_cast<HRESULT>(FDataAccess->Edge().Error(lastError));
    if (lastError == kToolkitWriteOnly) return kOpcEBadRights;
    HRESULT error = static_cast<HRESULT>(lastError);
    if (error == kOpcEBadType) error = kOpcERange;
    if (entry.canonical == VT_BSTR && error == kOpcERange) error = kOpcEBadType;
    return error;
}

HRESULT TVelaSGroup::WriteError(const SItem& entry) const {
    const TVelaItemData& item = *entry.item;
    if (item.FLastError == 0) return S_OK;
    if (FDataAccess->Edge().IsUA()) return static_cast<HRESULT>(FDataAccess->Edge().Error(item.FLastError));
    HRESULT error = static_cast<HRESULT>(item.FLastError);
    if (error == kOpcEBadType && item.FRequesttype != 0 && item.FRequesttype != entry.canonical) error = kOpcERange;
    if (static_cast<uint32_t>(item.FLastError) == 0xC0040409u) error = kOpcEBadRights;
    return error;
}

HRESULT TVelaSGroup::ItemState(const SItem& entry, HRESULT error, bool withValue, VARIANT& value, WORD& quality,
                               FILETIME& time) const {
    const TVelaItemData& item = *entry.item;
    const DAEdge& edge = FDataAccess->Edge();
    quality = edge.Quality(item);
    time = ToUtcFileTime(item.FTimeStamp);
    if (!withValue) return error;
    Variant converted;
    if (const HRESULT conversion = edge.ClientValue(item, converted); conversion != S_OK) {
        quality = 0;  // bad: the client gets no value of its type
        return error != S_OK ? error : conversion;
    }
    try {
        if (!converted.IsEmpty()) ToOleVariant(converted, &value);
    } catch (const std::exception&) {
        VariantInit(&value);
        quality = 0;
        return error != S_OK ? error : kOpcEBadType;
    }
    return error;
}

HRESULT TVelaSGroup::ClientWriteValue(const SItem& entry, const VARIANT& value, Variant& wanted) const {
    Variant given;
    try {
        given = FromOleVariant(value);
    } catch (const std::exception&) {
        return kOpcEBadType;
    }
    if (given.IsEmpty()) return kOpcEBadType;
    return FDataAccess->Edge().WriteValue(entry.canonical, given, wanted);
}

// --- IOPCSyncIO ---

STDMETHODIMP TVelaSGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                               OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        if (!ppItemValues || !ppErrors) return E_INVALIDARG;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
        if (dwCount == 0 || !phServer) return E_INVALIDARG;
        if (!Alive()) return E_FAIL;
        SelfRef keep(static_cast<IOPCSyncIO*>(this));
        TaskMemArray<OPCITEMSTATE> states(dwCount);
        TaskMemArray<HRESULT> errors(dwCount);
        if (!states || !errors) return E_OUTOFMEMORY;
        std::vector<SItem> entries(dwCount);
        TVelaItemList list;
        for (DWORD i = 0; i < dwCount; ++i) {
            VariantInit(&states[i].vDataValue);
            errors[i] = S_OK;
            SItem* entry = ItemOf(phServer[i]);
            if (!entry) {
                errors[i] = kOpcEInvalidHandle;
                continue;
            }
            entries[i] = *entry;
            entry->item->FTag = static_cast<int32_t>(i);
            entry->item->FLastError = 0;
            list.Add(entry->item);
        }
        try {
            if (!list.Empty()) FServerGroup->SyncRead(&list, false);
        } catch (...) {
        }
        bool anyError = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            if (entries[i].item) {
                const TVelaItemData& item = *entries[i].item;
                HRESULT error = ReadError(entries[i]);
                states[i].hClient = ClientHandleOf(item);
                error = ItemState(entries[i], error, error == S_OK, states[i].vDataValue, states[i].wQuality,
                                  states[i].ftTimeStamp);
                if (dwSource == OPC_DS_CACHE && (!FActive || !item.FIsActive)) states[i].wQuality = kQualityBadOutOfService;
                errors[i] = error;
            }
            anyError = anyError || errors[i] != S_OK;
        }
        *ppItemValues = states.release();
        *ppErrors = errors.release();
        return anyError ? S_FALSE : S_OK;
    });
}

void TVelaSGroup::WriteItems(const std::vector<const SItem*>& entries, const std::vector<Variant>& values,
                             std::vector<HRESULT>& results) {
    struct Saved {
        int32_t requested;
        int64_t lastError;
    };
    std::unordered_map<TVelaItem*, Saved> saved;
    TVelaItemList list;
    for (size_t k = 0; k < entries.size(); ++k) {
        if (!entries[k]) continue;
        TVelaItem& item = *entries[k]->item;
        if (saved.emplace(&item, Saved{item.FRequesttype, item.FLastError}).second) {
            list.Add(entries[k]->item);
            item.FRequesttype = 0;  // the toolkit writes in the canonical form
            item.FLastError = 0;
        }
        item.FWantValue = values[k];  // an item named twice is written once, with its last value
    }
    try {
        if (!list.Empty()) FServerGroup->SyncWrite(&list);
    } catch (...) {
    }
    for (auto& [item, before] : saved) item->FRequesttype = before.requested;
    for (size_t k = 0; k < entries.size(); ++k)
        if (entries[k]) results[k] = WriteError(*entries[k]);
    // a refused write answers this call only: the item stays readable, refreshed and listed
    for (auto& [item, before] : saved) item->FLastError = before.lastError;
}

STDMETHODIMP TVelaSGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        if (!ppErrors) return E_INVALIDARG;
        *ppErrors = nullptr;
        if (dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
        if (!Alive()) return E_FAIL;
        SelfRef keep(static_cast<IOPCSyncIO*>(this));
        TaskMemArray<HRESULT> errors(dwCount);
        if (!errors) return E_OUTOFMEMORY;
        std::vector<const SItem*> entries(dwCount, nullptr);
        std::vector<Variant> values(dwCount);
        std::vector<HRESULT> results(dwCount, S_OK);
        for (DWORD i = 0; i < dwCount; ++i) {
            const SItem* entry = ItemOf(phServer[i]);
            if (!entry) results[i] = kOpcEInvalidHandle;
            else if ((results[i] = ClientWriteValue(*entry, pItemValues[i], values[i])) == S_OK) entries[i] = entry;
        }
        WriteItems(entries, values, results);
        bool anyError = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = results[i];
            anyError = anyError || results[i] != S_OK;
            if (results[i] != S_OK || !entries[i]) continue;
            TVelaItem& item = *entries[i]->item;
            // the value is there already: the write must not come back as a data change
            if (item.FValue == values[i] && item.FChangeCount > 0) --item.FChangeCount;
        }
        *ppErrors = errors.release();
        return anyError ? S_FALSE : S_OK;
    });
}

// --- IOPCAsyncIO2 ---

HRESULT TVelaSGroup::Queue(std::unique_ptr<sOPCAsyncIO2> request, DWORD* cancelId) {
    if (request->OPCMode != omTimerRefresh) request->pdwCancelID = NextCancelID();
    if (cancelId) *cancelId = request->pdwCancelID;
    {
        std::lock_guard lock(FLock);
        AsyncIOList.push_back(std::move(request));
    }
    if (FDataChangeThread) {
        if (!FDataChangeThread->Active()) FDataChangeThread->SetActive(true);
        FDataChangeThread->Signal();
    }
    return S_OK;
}

bool TVelaSGroup::QueueEmpty() {
    std::lock_guard lock(FLock);
    return AsyncIOList.empty();
}

STDMETHODIMP TVelaSGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                               HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        if (!ppErrors || !pdwCancelID) return E_INVALIDARG;
        *ppErrors = nullptr;
        *pdwCancelID = 0;
        if (!FDataCallback) return CONNECT_E_NOCONNECTION;
        if (dwCount == 0 || !phServer) return E_INVALIDARG;
        if (!Alive()) return E_FAIL;
        TaskMemArray<HRESULT> errors(dwCount);
        if (!errors) return E_OUTOFMEMORY;
        auto request = std::make_unique<sOPCAsyncIO2>();
        request->OPCMode = omRead;
        request->dwTransactionID = dwTransactionID;
        request->DataSource = OPC_DS_DEVICE;
        bool anyError = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = ItemOf(phServer[i]) ? S_OK : kOpcEInvalidHandle;
            if (errors[i] == S_OK) request->FHServers.push_back(phServer[i]);
            else anyError = true;
        }
        if (!request->FHServers.empty()) Queue(std::move(request), pdwCancelID);
        *ppErrors = errors.release();
        return anyError ? S_FALSE : S_OK;
    });
}

STDMETHODIMP TVelaSGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                                DWORD* pdwCancelID, HRESULT** ppErrors) {
    return ComCall([&]() -> HRESULT {
        if (!ppErrors || !pdwCancelID) return E_INVALIDARG;
        *ppErrors = nullptr;
        *pdwCancelID = 0;
        if (!FDataCallback) return CONNECT_E_NOCONNECTION;
        if (dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
        if (!Alive()) return E_FAIL;
        TaskMemArray<HRESULT> errors(dwCount);
        if (!errors) return E_OUTOFMEMORY;
        auto request = std::make_unique<sOPCAsyncIO2>();
        request->OPCMode = omWrite;
        request->dwTransactionID = dwTransactionID;
        bool anyError = false;
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = S_OK;
            SItem* entry = ItemOf(phServer[i]);
            if (!entry) {
                errors[i] = kOpcEInvalidHandle;
            } else {
                // kept with the request: a later write of the same item must not change this one
                Variant value;
                try {
                    value = FromOleVariant(pItemValues[i]);
                } catch (const std::exception&) {
                }
                Variant wanted;
                errors[i] = value.IsEmpty() ? kOpcEBadType : FDataAccess->Edge().WriteValue(entry->canonical, value, wanted);
                if (errors[i] == S_OK) {
                    request->FHServers.push_back(phServer[i]);
                    request->values.push_back(std::move(wanted));
                }
            }
            anyError = anyError || errors[i] != S_OK;
        }
        if (!request->FHServers.empty()) Queue(std::move(request), pdwCancelID);
        *ppErrors = errors.release();
        return anyError ? S_FALSE : S_OK;
    });
}

STDMETHODIMP TVelaSGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
    return ComCall([&]() -> HRESULT {
        if (!pdwCancelID) return E_INVALIDARG;
        *pdwCancelID = 0;
        if (!FDataCallback) return CONNECT_E_NOCONNECTION;
        if (!Alive() || !FActive) return E_FAIL;
        bool anyActive = false;
        for (const auto& item : FServerGroup->OPCItems()) anyActive = anyActive || item->FIsActive;
        if (!anyActive) return E_FAIL;
        auto request = std::make_unique<sOPCAsyncIO2>();
        request->OPCMode = omRefresh;
        request->dwTransactionID = dwTransactionID;
        request->DataSource = dwSource;
        return Queue(std::move(request), pdwCancelID);
    });
}

STDMETHODIMP TVelaSGroup::Cancel2(DWORD dwCancelID) {
    if (!Alive()) return E_FAIL;
    std::lock_guard lock(FLock);
    for (const auto& request : AsyncIOList) {
        if (request->OPCMode == omTimerRefresh || request->pdwCancelID != dwCancelID) continue;
        request->FCancelFlag = true;
        return request->fInProcess ? E_FAIL : S_OK;
    }
    return E_FAIL;
}

STDMETHODIMP TVelaSGroup::SetEnable(BOOL bEnable) {
    if (!Alive()) return E_FAIL;
    if (!FDataCallback) return CONNECT_E_NOCONNECTION;
    CallBackEnabled = bEnable ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP TVelaSGroup::GetEnable(BOOL* pbEnable) {
    if (!pbEnable) return E_INVALIDARG;
    if (!Alive()) return E_FAIL;
    if (!FDataCallback) return CONNECT_E_NOCONNECTION;
    *pbEnable = CallBackEnabled;
    return S_OK;
}

// --- processing on the main thread ---

void TVelaSGroup::AsyncCall() {
    SelfRef keep(static_cast<IOPCAsyncIO2*>(this));
    std::lock_guard lock(FLock);
    while (!AsyncIOList.empty() && Alive()) {
        sOPCAsyncIO2* request = AsyncIOList.front().get();
        try {
            ProcessRequest(*request);
        } catch (...) {
        }
        // a callback may have let the group go meanwhile
        if (!AsyncIOList.empty() && AsyncIOList.front().get() == request) AsyncIOList.pop_front();
    }
}

void TVelaSGroup::ProcessRequest(sOPCAsyncIO2& request) {
    if (request.FCancelFlag) return;
    request.fInProcess = true;
    switch (request.OPCMode) {
        case omRead: AsyncRead(request); break;
        case omWrite: AsyncWrite(request); break;
        case omRefresh: AsyncRefresh(request); break;
        case omTimerRefresh: SendDataChange(0, request.timerItems); break;
    }
}

void TVelaSGroup::AsyncRead(sOPCAsyncIO2& request) {
    if (!FDataCallback) return;
    const size_t count = request.FHServers.size();
    CallbackArrays arrays(count);
    std::vector<SItem> entries(count);
    TVelaItemList list;
    for (size_t i = 0; i < count; ++i) {
        SItem* entry = ItemOf(request.FHServers[i]);
        if (!entry) {
            arrays.errors[i] = kOpcEInvalidHandle;  // removed since the request
            continue;
        }
        entries[i] = *entry;
        entry->item->FLastError = 0;
        list.Add(entry->item);
    }
    try {
        if (!list.Empty()) FServerGroup->SyncRead(&list, false);
    } catch (...) {
    }
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].item) continue;
        arrays.clientHandles[i] = ClientHandleOf(*entries[i].item);
        arrays.errors[i] = ItemState(entries[i], ReadError(entries[i]), true, arrays.values[i], arrays.qualities[i],
                                     arrays.times[i]);
    }
    FDataAccess->NoteDataUpdateToClient();
    const SinkRef sink(FDataCallback);
    if (!sink) return;
    sink->OnReadComplete(request.dwTransactionID, FClientGroup, S_OK, arrays.MasterError(),
                                  static_cast<DWORD>(count), arrays.clientHandles.data(), arrays.values.data(),
                                  arrays.qualities.data(), arrays.times.data(), arrays.errors.data());
}

void TVelaSGroup::AsyncWrite(sOPCAsyncIO2& request) {
    if (!FDataCallback) return;
    const size_t count = request.FHServers.size();
    CallbackArrays arrays(count);
    std::vector<const SItem*> entries(count, nullptr);
    for (size_t i = 0; i < count; ++i) {
        entries[i] = ItemOf(request.FHServers[i]);
        if (!entries[i]) arrays.errors[i] = kOpcEInvalidHandle;  // removed since the request
        else arrays.clientHandles[i] = ClientHandleOf(*entries[i]->item);
    }
    WriteItems(entries, request.values, arrays.errors);
    FDataAccess->NoteDataUpdateToClient();
    const SinkRef sink(FDataCallback);
    if (!sink) return;
    sink->OnWriteComplete(request.dwTransactionID, FClientGroup, arrays.MasterError(), static_cast<DWORD>(count),
                          arrays.clientHandles.data(), arrays.errors.data());
}

void TVelaSGroup::AsyncRefresh(sOPCAsyncIO2& request) {
    std::vector<TVelaItemDataPtr> items;
    for (const auto& item : FServerGroup->OPCItems()) {
        const SItem* entry = EntryOf(item.get());
        if (entry && item->FIsActive && item->FLastError == 0 && (entry->rights & OPC_READABLE)) items.push_back(item);
    }
    if (items.empty()) return;
    SendDataChange(request.dwTransactionID, items);
}

void TVelaSGroup::SendDataChange(DWORD transactionId, const std::vector<TVelaItemDataPtr>& items) {
    if (!FDataCallback) {
        MessageBeep(MB_OK);
        return;
    }
    std::vector<const SItem*> entries;
    entries.reserve(items.size());
    for (const auto& item : items)
        if (const SItem* entry = EntryOf(item.get())) entries.push_back(entry);
    if (entries.empty()) return;
    const size_t count = entries.size();
    CallbackArrays arrays(count);
    for (size_t i = 0; i < count; ++i) {
        arrays.clientHandles[i] = ClientHandleOf(*entries[i]->item);
        arrays.errors[i] = ItemState(*entries[i], S_OK, true, arrays.values[i], arrays.qualities[i], arrays.times[i]);
    }
    FDataAccess->NoteDataUpdateToClient();
    const SinkRef sink(FDataCallback);
    if (!sink) return;
    sink->OnDataChange(transactionId, FClientGroup, S_OK, arrays.MasterError(), static_cast<DWORD>(count),
                                arrays.clientHandles.data(), arrays.values.data(), arrays.qualities.data(),
                                arrays.times.data(), arrays.errors.data());
}

void TVelaSGroup::PeriodicDataChange() {
    if (!Alive() || !AfterFirstOnDataChange) return;
    SelfRef keep(static_cast<IOPCAsyncIO2*>(this));
    std::vector<TVelaItemDataPtr> changed;
    for (const auto& item : FServerGroup->OPCItems()) {
        if (item->FChangeCount < 1) continue;
        item->FChangeCount = 0;
        changed.push_back(item);
    }
    if (changed.empty() || !FActive || !CallBackEnabled) return;
    try {
        SendDataChange(0, changed);
    } catch (...) {
    }
}

void TVelaSGroup::OnToolkitDataChange(TVelaItemList& items) {
    if (!items.Empty() && AfterFirstOnDataChange) return;  // the periodic data change carries it
    AfterFirstOnDataChange = true;
    auto request = std::make_unique<sOPCAsyncIO2>();
    request->OPCMode = omTimerRefresh;
    for (const auto& item : items) {
        item->FChangeCount = 0;
        request->timerItems.push_back(item);
    }
    Queue(std::move(request), nullptr);
}

}  // namespace vela::server
