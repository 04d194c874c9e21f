#include "tests/com/CallbackSinks.h"

namespace vela::e2e {

STDMETHODIMP ShutdownSink::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOPCShutdown) {
        *object = static_cast<IOPCShutdown*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ShutdownSink::ShutdownRequest(LPCWSTR szReason) {
    reason = szReason ? szReason : L"(null)";
    ++calls;
    return S_OK;
}

const CallbackEntry* Callback::Find(OPCHANDLE client) const {
    for (const CallbackEntry& entry : entries)
        if (entry.client == client) return &entry;
    return nullptr;
}

STDMETHODIMP DataSink::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOPCDataCallback) {
        *object = static_cast<IOPCDataCallback*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

void DataSink::Record(CallbackKind kind, DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error,
                      DWORD count, const OPCHANDLE* clients, const VARIANT* values, const WORD* qualities,
                      const FILETIME* times, const HRESULT* errors) {
    Callback call;
    call.kind = kind;
    call.transaction = transaction;
    call.group = group;
    call.masterQuality = quality;
    call.masterError = error;
    call.arrived = GetTickCount64();
    for (DWORD i = 0; i < count && i < 100000; ++i) {
        CallbackEntry entry;
        if (clients) entry.client = clients[i];
        if (values) CopyVariant(entry.value.get(), const_cast<VARIANT*>(&values[i]));
        if (qualities) entry.quality = qualities[i];
        if (times) entry.time = times[i];
        if (errors) entry.error = errors[i];
        call.entries.push_back(std::move(entry));
    }
    calls.push_back(std::move(call));
}

STDMETHODIMP DataSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                    HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                                    WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) {
    Record(CallbackKind::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
           pvValues, pwQualities, pftTimeStamps, pErrors);
    return S_OK;
}

STDMETHODIMP DataSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                      HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                      VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) {
    Record(CallbackKind::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
           pvValues, pwQualities, pftTimeStamps, pErrors);
    return S_OK;
}

STDMETHODIMP DataSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                       OPCHANDLE* pClienthandles, HRESULT* pErrors) {
    Record(CallbackKind::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount, pClienthandles, nullptr,
           nullptr, nullptr, pErrors);
    return S_OK;
}

STDMETHODIMP DataSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
    Record(CallbackKind::CancelComplete, dwTransid, hGroup, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr,
           nullptr);
    return S_OK;
}

int DataSink::FindCall(CallbackKind kind, DWORD transaction, size_t from) const {
    for (size_t i = from; i < calls.size(); ++i)
        if (calls[i].kind == kind && calls[i].transaction == transaction) return static_cast<int>(i);
    return -1;
}

int DataSink::WaitFor(CallbackKind kind, DWORD transaction, DWORD timeoutMs, size_t from) {
    PumpUntil([&] { return FindCall(kind, transaction, from) >= 0; }, timeoutMs);
    return FindCall(kind, transaction, from);
}

size_t DataSink::Count(CallbackKind kind, size_t from) const {
    size_t count = 0;
    for (size_t i = from; i < calls.size(); ++i)
        if (calls[i].kind == kind) ++count;
    return count;
}

HRESULT Advised::Advise(IUnknown* group, IUnknown* sink, REFIID iid) {
    Unadvise();
    if (!group || !sink) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = group->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr) || !container) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = container->FindConnectionPoint(iid, point_.put());
    if (FAILED(hr) || !point_) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = point_->Advise(sink, &cookie_);
    if (FAILED(hr)) cookie_ = 0;
    return hr;
}

HRESULT Advised::Unadvise() {
    HRESULT hr = S_FALSE;
    if (point_ && cookie_) hr = point_->Unadvise(cookie_);
    cookie_ = 0;
    point_.Reset();
    return hr;
}

}  // namespace vela::e2e
