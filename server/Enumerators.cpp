#include "server/Enumerators.h"

#include <algorithm>
#include <cstring>

#include "base/OleVariant.h"

namespace vela::server {

namespace {

template <class Interface, class Object>
HRESULT QueryEnumerator(Object* self, REFIID riid, REFIID own, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == own) {
        *object = static_cast<Interface*>(self);
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

}  // namespace

// --- strings

STDMETHODIMP TOPCStringsEnumerator::QueryInterface(REFIID riid, void** object) {
    return QueryEnumerator<IEnumString>(this, riid, IID_IEnumString, object);
}

STDMETHODIMP TOPCStringsEnumerator::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!rgelt && celt > 0) return E_POINTER;
    ULONG fetched = 0;
    while (fetched < celt && nextIndex < list_.size()) {
        rgelt[fetched] = TaskMemString(list_[nextIndex]);
        if (!rgelt[fetched]) {
            for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(rgelt[i]);
            return E_OUTOFMEMORY;
        }
        ++fetched;
        ++nextIndex;
    }
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

STDMETHODIMP TOPCStringsEnumerator::Clone(IEnumString** ppenum) {
    if (!ppenum) return E_POINTER;
    try {
        *ppenum = new TOPCStringsEnumerator(list_);
        return S_OK;
    } catch (...) {
        *ppenum = nullptr;
        return E_UNEXPECTED;
    }
}

// --- unknowns

TS3UnknownEnumerator::TS3UnknownEnumerator(std::vector<IUnknown*> elements) : EnumeratorList({}) {
    AddAnotherList(elements);
}

TS3UnknownEnumerator::~TS3UnknownEnumerator() {
    for (IUnknown* element : list_) element->Release();
}

void TS3UnknownEnumerator::AddAnotherList(const std::vector<IUnknown*>& elements) {
    for (IUnknown* element : elements) {
        if (!element) continue;
        element->AddRef();
        list_.push_back(element);
    }
}

STDMETHODIMP TS3UnknownEnumerator::QueryInterface(REFIID riid, void** object) {
    return QueryEnumerator<IEnumUnknown>(this, riid, IID_IEnumUnknown, object);
}

STDMETHODIMP TS3UnknownEnumerator::Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!rgelt && celt > 0) return E_POINTER;
    ULONG fetched = 0;
    while (fetched < celt && nextIndex < list_.size()) {
        rgelt[fetched] = list_[nextIndex++];
        rgelt[fetched++]->AddRef();
    }
    if (pceltFetched) *pceltFetched = fetched;
    return fetched < celt ? S_FALSE : S_OK;
}

STDMETHODIMP TS3UnknownEnumerator::Clone(IEnumUnknown** ppenum) {
    if (!ppenum) return E_POINTER;
    try {
        *ppenum = new TS3UnknownEnumerator(list_);
        return S_OK;
    } catch (...) {
        *ppenum = nullptr;
        return E_UNEXPECTED;
    }
}

// --- item attributes

STDMETHODIMP TOPCItemAttEnumerator::QueryInterface(REFIID riid, void** object) {
    return QueryEnumerator<IEnumOPCItemAttributes>(this, riid, IID_IEnumOPCItemAttributes, object);
}

STDMETHODIMP TOPCItemAttEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!ppItemArray) return E_POINTER;
    *ppItemArray = nullptr;
    if (celt == 0) return kEnumValueOutOfRange;
    // as many as there are, not as many as asked for: a client's count is no allocation size
    const ULONG count = static_cast<ULONG>(std::min<size_t>(celt, Remaining()));
    const size_t allocated = count ? count : 1;
    auto* array = static_cast<OPCITEMATTRIBUTES*>(CoTaskMemAlloc(sizeof(OPCITEMATTRIBUTES) * allocated));
    if (!array) return E_OUTOFMEMORY;
    std::memset(array, 0, sizeof(OPCITEMATTRIBUTES) * allocated);
    for (ULONG i = 0; i < count; ++i) {
        const TOPCItemAttributes& source = list_[nextIndex + i];
        OPCITEMATTRIBUTES& entry = array[i];
        entry.szAccessPath = TaskMemString(source.szAccessPath);
        entry.szItemID = TaskMemString(source.szItemID);
        entry.bActive = source.bActive;
        entry.hClient = source.hClient;
        entry.hServer = source.hServer;
        entry.dwAccessRights = source.dwAccessRights;
        entry.dwBlobSize = 0;
        entry.pBlob = nullptr;
        entry.vtRequestedDataType = source.vtRequestedDataType;
        entry.vtCanonicalDataType = source.vtCanonicalDataType;
        entry.dwEUType = static_cast<OPCEUTYPE>(source.dwEUType);
        VariantInit(&entry.vEUInfo);
        try {
            if (!source.vEUInfo.IsEmpty() && !source.vEUInfo.IsNull()) ToOleVariant(source.vEUInfo, &entry.vEUInfo);
        } catch (const std::exception&) {
            VariantInit(&entry.vEUInfo);
        }
    }
    nextIndex += count;
    *ppItemArray = array;
    if (pceltFetched) *pceltFetched = count;
    return count == celt ? S_OK : kEnumValueOutOfRange;
}

STDMETHODIMP TOPCItemAttEnumerator::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
    if (!ppEnumItemAttributes) return E_POINTER;
    try {
        *ppEnumItemAttributes = new TOPCItemAttEnumerator(list_);
        return S_OK;
    } catch (...) {
        *ppEnumItemAttributes = nullptr;
        return E_UNEXPECTED;
    }
}

}  // namespace vela::server
