// The server object's browsing of the remote address space and its item properties.
#include <cstring>

#include "base/OleVariant.h"
#include "base/Utf.h"
#include "server/Enumerators.h"
#include "server/VelaDataAccess.h"

namespace vela::server {

STDMETHODIMP VelaDataAccess::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    if (!pNameSpaceType) return E_INVALIDARG;
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
}

const TVelaBrowseItem* VelaDataAccess::FindBrowseElement(const std::string& name) {
    TVelaBrowser& browser = FVelaXMLClient->Browser();
    if (name.empty()) return browser.GetCurrentPosition();
    for (const auto& element : browser.Items())
        if (element->FName == name || element->GetItemId() == name) return element.get();
    for (const auto& element : BrowseItems)
        if (element->FName == name || element->GetItemId() == name) return element.get();
    return nullptr;
}

STDMETHODIMP VelaDataAccess::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
    if (!FVelaXMLClient->Active()) return S_FALSE;
    const std::string name = szString ? WideToUtf8(szString) : std::string();
    try {
        TVelaBrowser& browser = FVelaXMLClient->Browser();
        switch (dwBrowseDirection) {
            case OPC_BROWSE_UP:
                if (!browser.Moveup()) return E_FAIL;
                browser.Browse(false);
                return S_OK;
            case OPC_BROWSE_DOWN: {
                if (name.empty()) return E_INVALIDARG;
                const TVelaBrowseItem* found = FindBrowseElement(name);
                if (!found) return E_INVALIDARG;
                const TVelaBrowseItem element = *found;  // the listing changes under the move
                return browser.MoveDown(&element) ? S_OK : E_INVALIDARG;
            }
            case OPC_BROWSE_TO: {
                if (name.empty()) {
                    if (!browser.MovetoRoot()) return E_INVALIDARG;
                    browser.Browse(false);
                    return S_OK;
                }
                TVelaBrowseItem element;
                const size_t split = name.find("//");
                if (split == std::string::npos) {
                    element.SetItemName(name);
                } else {
                    element.FItemPath = name.substr(0, split);
                    element.SetItemName(name.substr(split + 2));
                }
                element.FName = element.ItemName();
                if (!browser.Moveto(&element)) return E_INVALIDARG;
                browser.Browse(false);
                return S_OK;
            }
            default:
                return S_OK;
        }
    } catch (...) {
        return E_INVALIDARG;
    }
}

STDMETHODIMP VelaDataAccess::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                              VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                              LPENUMSTRING* ppIEnumString) {
    if (!ppIEnumString) return E_INVALIDARG;
    *ppIEnumString = nullptr;
    if (!FVelaXMLClient->Active()) return S_FALSE;
    if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF && dwBrowseFilterType != OPC_FLAT)
        return E_FAIL;
    std::vector<std::wstring> texts;
    try {
        TVelaBrowser& browser = FVelaXMLClient->Browser();
        browser.SetFilter(szFilterCriteria ? WideToUtf8(szFilterCriteria) : std::string());
        browser.SetDatatype(vtDataTypeFilter);
        browser.SetAccessRights(dwAccessRightsFilter >= 1 && dwAccessRightsFilter <= 3 ? dwAccessRightsFilter : 0);
        BrowseItems.Clear();
        browser.Browse(dwBrowseFilterType == OPC_FLAT);
        for (const auto& element : browser.Items()) {
            BrowseItems.Add().Assign(*element);
            switch (dwBrowseFilterType) {
                case OPC_BRANCH:
                    if (element->FIsFolder) texts.push_back(Utf8ToWide(element->FName));
                    break;
                case OPC_LEAF:
                    if (element->FIsItem) texts.push_back(Utf8ToWide(element->FName));
                    break;
                default:
                    if (element->FIsItem) texts.push_back(Utf8ToWide(element->GetItemId()));
                    break;
            }
        }
    } catch (...) {
        return E_FAIL;
    }
    const bool none = texts.empty();
    try {
        *ppIEnumString = new TOPCStringsEnumerator(std::move(texts));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return none ? S_FALSE : S_OK;
}

STDMETHODIMP VelaDataAccess::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    if (!szItemID) return E_INVALIDARG;
    *szItemID = nullptr;
    if (!FVelaXMLClient->Active()) return S_FALSE;
    std::string itemId;
    try {
        const std::string name = szItemDataID ? WideToUtf8(szItemDataID) : std::string();
        const TVelaBrowseItem* element = FindBrowseElement(name);
        if (name.empty()) {  // the current position; the root has no item id
            *szItemID = TaskMemString(element ? Utf8ToWide(element->GetItemId()) : std::wstring());
            return *szItemID ? S_OK : E_OUTOFMEMORY;
        }
        if (!element) return kOpcEInvalidItemId;
        itemId = element->GetItemId();
    } catch (...) {
        return kOpcEInvalidItemId;
    }
    if (itemId.empty()) return kOpcEUnknownItemId;
    *szItemID = TaskMemString(Utf8ToWide(itemId));
    return *szItemID ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VelaDataAccess::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) {
    if (ppIEnumString) *ppIEnumString = nullptr;
    return E_NOTIMPL;
}

// --- IOPCItemProperties ---

namespace {

// The checks GetItemProperties and LookupItemIDs share; S_OK to go on.
HRESULT CheckPropertyCall(bool active, LPCWSTR itemId, DWORD count, const DWORD* ids) {
    if (!active) return S_FALSE;
    if (!itemId) return kOpcEInvalidItemId;
    if (count == 0 || !ids) return E_INVALIDARG;
    if (!*itemId) return kOpcEInvalidItemId;
    return S_OK;
}

HRESULT AnyError(const HRESULT* errors, DWORD count) {
    for (DWORD i = 0; i < count; ++i)
        if (errors[i] != S_OK) return S_FALSE;
    return S_OK;
}

}  // namespace

HRESULT VelaDataAccess::QueryProperties(const std::string& itemId, const std::vector<int32_t>& ids) {
    PB->SetValues(true);
    PB->AddItem(itemId);
    for (int32_t id : ids) PB->AddProperty(id);
    PB->Execute(false);
    return static_cast<HRESULT>(PB->ItemErrorID(itemId));
}

STDMETHODIMP VelaDataAccess::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                      LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    if (!FVelaXMLClient->Active()) return S_FALSE;
    if (!szItemID || !*szItemID) return kOpcEInvalidItemId;
    try {
        const std::string itemId = WideToUtf8(szItemID);
        if (const HRESULT failure = QueryProperties(itemId, {}); failure != S_OK) return failure;
        const TVelaItemProperties* set = PB->ByName(itemId);
        const size_t count = set ? set->Count() : 0;
        TaskMemArray<DWORD> ids(count);
        TaskMemArray<LPWSTR> texts(count);
        TaskMemArray<VARTYPE> types(count);
        if (!ids || !texts || !types) return E_OUTOFMEMORY;
        for (size_t i = 0; i < count; ++i) {
            const TVelaItemProperty& property = (*set)[i];
            ids[i] = static_cast<DWORD>(property.FId);
            texts[i] = TaskMemString(Utf8ToWide(property.FDescription));
            types[i] = static_cast<VARTYPE>(property.FDataType);
        }
        *ppPropertyIDs = ids.release();
        *ppDescriptions = texts.release();
        *ppvtDataTypes = types.release();
        *pdwCount = static_cast<DWORD>(count);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP VelaDataAccess::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                               VARIANT** ppvData, HRESULT** ppErrors) {
    if (!ppvData || !ppErrors) return E_INVALIDARG;
    *ppvData = nullptr;
    *ppErrors = nullptr;
    if (const HRESULT hr = CheckPropertyCall(FVelaXMLClient->Active(), szItemID, dwCount, pdwPropertyIDs); hr != S_OK)
        return hr;
    try {
        const std::string itemId = WideToUtf8(szItemID);
        std::vector<int32_t> ids(pdwPropertyIDs, pdwPropertyIDs + dwCount);
        if (const HRESULT failure = QueryProperties(itemId, ids); failure != S_OK) return failure;
        TaskMemArray<VARIANT> values(dwCount);
        TaskMemArray<HRESULT> errors(dwCount);
        if (!values || !errors) return E_FAIL;
        for (DWORD i = 0; i < dwCount; ++i) {
            VariantInit(&values[i]);
            errors[i] = kOpcEInvalidPid;
            if (const TVelaItemProperty* property = PB->GetProperty(itemId, ids[i])) {
                errors[i] = static_cast<HRESULT>(static_cast<uint32_t>(property->FStatusCode));
                if (property->FStatusCode == 0) {
                    try {
                        ToOleVariant(property->FValue, &values[i]);
                    } catch (const std::exception&) {
                        VariantInit(&values[i]);
                        errors[i] = kOpcEBadType;
                    }
                }
            }
        }
        const HRESULT result = AnyError(errors.get(), dwCount);
        *ppvData = values.release();
        *ppErrors = errors.release();
        return result;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP VelaDataAccess::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                           LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
    if (!ppszNewItemIDs || !ppErrors) return E_INVALIDARG;
    *ppszNewItemIDs = nullptr;
    *ppErrors = nullptr;
    if (const HRESULT hr = CheckPropertyCall(FVelaXMLClient->Active(), szItemID, dwCount, pdwPropertyIDs); hr != S_OK)
        return hr;
    try {
        const std::string itemId = WideToUtf8(szItemID);
        if (const HRESULT failure = QueryProperties(itemId, {1}); failure != S_OK) return failure;
        std::vector<int32_t> ids(pdwPropertyIDs, pdwPropertyIDs + dwCount);
        if (const HRESULT failure = QueryProperties(itemId, ids); failure != S_OK) return failure;
        TaskMemArray<LPWSTR> texts(dwCount);
        TaskMemArray<HRESULT> errors(dwCount);
        if (!texts || !errors) return E_OUTOFMEMORY;
        for (DWORD i = 0; i < dwCount; ++i) {
            texts[i] = nullptr;
            errors[i] = kOpcEInvalidPid;
            const TVelaItemProperty* property = PB->GetProperty(itemId, ids[i]);
            if (property && (ids[i] < 1 || ids[i] > 6)) {
                errors[i] = static_cast<HRESULT>(static_cast<uint32_t>(property->FStatusCode));
                texts[i] = TaskMemString(szItemID);
            }
        }
        const HRESULT result = AnyError(errors.get(), dwCount);
        *ppszNewItemIDs = texts.release();
        *ppErrors = errors.release();
        return result;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace vela::server
