#pragma once
// The enumerators the server hands out: group names (IEnumString), groups (IEnumUnknown) and
// item attributes (IEnumOPCItemAttributes). Each holds its own copy of the list it was made from.
#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "base/Variant.h"
#include "opcda.h"
#include "server/ComHosting.h"

namespace vela::server {

// What IEnumOPCItemAttributes::Next answers with fewer entries left than asked for.
inline constexpr HRESULT kEnumValueOutOfRange = 1781;

// Position, Skip, Reset and the list; Next and Clone are the interface's own.
template <class Element>
class EnumeratorList {
public:
    explicit EnumeratorList(std::vector<Element> list) : list_(std::move(list)) {}
    size_t Remaining() const { return list_.size() - nextIndex; }
    HRESULT SkipBy(ULONG count) {
        if (count > Remaining()) {
            nextIndex = list_.size();
            return S_FALSE;
        }
        nextIndex += count;
        return S_OK;
    }
    const std::vector<Element>& List() const { return list_; }

protected:
    std::vector<Element> list_;
    size_t nextIndex = 0;
};

class TOPCStringsEnumerator final : public ComObjectBase, public IEnumString, public EnumeratorList<std::wstring> {
public:
    explicit TOPCStringsEnumerator(std::vector<std::wstring> strings) : EnumeratorList(std::move(strings)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override { return SkipBy(celt); }
    STDMETHODIMP Reset() override {
        nextIndex = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumString** ppenum) override;
};

// Holds one reference to each element for its whole life.
class TS3UnknownEnumerator final : public ComObjectBase, public IEnumUnknown, public EnumeratorList<IUnknown*> {
public:
    explicit TS3UnknownEnumerator(std::vector<IUnknown*> elements);  // takes its own references
    ~TS3UnknownEnumerator() override;
    void AddAnotherList(const std::vector<IUnknown*>& elements);
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override { return SkipBy(celt); }
    STDMETHODIMP Reset() override {
        nextIndex = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumUnknown** ppenum) override;
};

struct TOPCItemAttributes {
    BOOL bActive = FALSE;
    LONG dwEUType = 0;
    Variant vEUInfo;
    std::wstring szAccessPath;
    std::wstring szItemID;
    VARTYPE vtRequestedDataType = 0;
    VARTYPE vtCanonicalDataType = 0;
    OPCHANDLE hClient = 0;
    OPCHANDLE hServer = 0;
    DWORD dwAccessRights = 0;
};

class TOPCItemAttEnumerator final : public ComObjectBase,
                                    public IEnumOPCItemAttributes,
                                    public EnumeratorList<TOPCItemAttributes> {
public:
    explicit TOPCItemAttEnumerator(std::vector<TOPCItemAttributes> list) : EnumeratorList(std::move(list)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override { return SkipBy(celt); }
    STDMETHODIMP Reset() override {
        nextIndex = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;
};

}  // namespace vela::server
