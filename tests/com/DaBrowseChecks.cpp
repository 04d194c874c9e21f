// Browsing the remote address space and the item properties of an analog item.
#include <cmath>
#include <cwchar>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "tests/com/DaChecks.h"
#include "tests/com/DaTestSupport.h"

namespace vela::e2e {
namespace {

using Names = std::set<std::wstring>;

HRESULT List(IOPCBrowseServerAddressSpace* browse, OPCBROWSETYPE type, const wchar_t* filter, Names& names,
             DWORD rights = 0) {
    names.clear();
    ComPtr<IEnumString> strings;
    const HRESULT hr = browse->BrowseOPCItemIDs(type, filter, VT_EMPTY, rights, strings.put());
    if (!strings) return hr;
    for (int guard = 0; guard < 20000; ++guard) {
        LPOLESTR batch[16] = {};
        ULONG fetched = 0;
        const HRESULT next = strings->Next(16, batch, &fetched);
        for (ULONG i = 0; i < fetched && i < 16; ++i) {
            if (batch[i]) names.insert(batch[i]);
            CoTaskMemFree(batch[i]);
        }
        if (next != S_OK || fetched == 0) break;
    }
    return hr;
}

std::string Joined(const Names& names) {
    std::string text;
    size_t shown = 0;
    for (const std::wstring& name : names) {
        if (++shown > 12) return text + " ...";
        text += (text.empty() ? "" : ", ") + Narrow(name.c_str());
    }
    return text.empty() ? "(none)" : text;
}

bool Has(const Names& names, const wchar_t* name) { return names.count(name) != 0; }

// As a client does: list the branches, then move into one of them.
HRESULT Down(IOPCBrowseServerAddressSpace* browse, const wchar_t* name) {
    Names branches;
    List(browse, OPC_BRANCH, L"", branches);
    return browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, name);
}

std::wstring ItemId(IOPCBrowseServerAddressSpace* browse, const wchar_t* name, HRESULT* result = nullptr) {
    TaskMem<wchar_t> id;
    const HRESULT hr = browse->GetItemID(const_cast<LPWSTR>(name), id.put());
    if (result) *result = hr;
    return id ? std::wstring(id.get()) : std::wstring(L"(none)");
}

double AsReal(const VARIANT& value, bool& ok) {
    VARIANT real;
    VariantInit(&real);
    ok = SUCCEEDED(VariantChangeType(&real, const_cast<VARIANT*>(&value), 0, VT_R8));
    return ok ? real.dblVal : 0.0;
}

}  // namespace

void CheckBrowse(IOPCServer* server) {
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    CheckHr(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.put_void()), S_OK,
            "IOPCBrowseServerAddressSpace is served");
    if (!browse) return;
    OPCNAMESPACETYPE organization = OPC_NS_FLAT;
    CheckHr(browse->QueryOrganization(&organization), S_OK, "QueryOrganization");
    Check(organization == OPC_NS_HIERARCHIAL, "the name space is hierarchical");

    Names names;
    CheckHr(List(browse.get(), OPC_BRANCH, L"", names), S_OK, "branches at the root");
    Info("%s", Joined(names).c_str());
    Check(Has(names, L"Demo"), "the root holds \"Demo\"");
    CheckHr(Down(browse.get(), L"Demo"), S_OK, "down into \"Demo\"");
    List(browse.get(), OPC_BRANCH, L"", names);
    Check(Has(names, L"Static") && Has(names, L"Analog") && Has(names, L"Dynamic") && Has(names, L"Deep") &&
              !Has(names, L"Level1"),
          "its branches are Static, Analog, Dynamic, Deep, ...");
    if (!Has(names, L"Deep")) Info("%s", Joined(names).c_str());
    CheckHr(Down(browse.get(), L"Deep"), S_OK, "down into \"Deep\"");
    CheckHr(List(browse.get(), OPC_BRANCH, L"Lev*", names), S_OK, "branches with the filter \"Lev*\"");
    Check(names == Names{L"Level1"}, "give \"Level1\"");
    if (names != Names{L"Level1"}) Info("%s", Joined(names).c_str());
    CheckHr(List(browse.get(), OPC_BRANCH, L"X*", names), S_FALSE, "a filter that matches nothing gives S_FALSE");
    Check(names.empty(), "and an empty enumerator");
    CheckHr(Down(browse.get(), L"Level1"), S_OK, "down into \"Level1\"");
    CheckHr(Down(browse.get(), L"Level2"), S_OK, "down into \"Level2\"");
    CheckHr(Down(browse.get(), L"Level3"), S_OK, "down into \"Level3\"");
    CheckHr(List(browse.get(), OPC_LEAF, L"", names), S_OK, "leaves of Level3");
    Check(names == Names{L"Value"}, "are \"Value\"");
    if (names != Names{L"Value"}) Info("%s", Joined(names).c_str());
    HRESULT hr = E_FAIL;
    const std::wstring id = ItemId(browse.get(), L"Value", &hr);
    CheckHr(hr, S_OK, "GetItemID(\"Value\")");
    Check(id == Node(L"Demo.Deep.Level1.Level2.Level3.Value"), "gives its node id");
    if (id != Node(L"Demo.Deep.Level1.Level2.Level3.Value")) Info("\"%s\"", Narrow(id.c_str()).c_str());
    ItemId(browse.get(), L"NoSuchElement", &hr);
    CheckHr(hr, kInvalidItemId, "GetItemID of an unknown element");
    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""), S_OK, "up");
    List(browse.get(), OPC_BRANCH, L"", names);
    if (!Check(names == Names{L"Level3"}, "back in Level2")) Info("%s", Joined(names).c_str());
    CheckHr(Down(browse.get(), Node(L"Demo.Deep.Level1.Level2.Level3").c_str()), S_OK,
            "down into an element given by its item id");
    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"NoSuchFolder"), E_INVALIDARG, "down into nothing");
    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L""), E_INVALIDARG, "down with an empty name");

    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_TO, Node(L"Demo.Analog").c_str()), S_OK,
            "to \"ns=1;s=Demo.Analog\"");
    CheckHr(List(browse.get(), OPC_LEAF, L"Lev*", names), S_OK, "leaves with \"Lev*\"");
    Check(names == Names{L"Level"}, "give \"Level\"");
    if (names != Names{L"Level"}) Info("%s", Joined(names).c_str());
    List(browse.get(), OPC_LEAF, L"", names);
    Check(Has(names, L"Level") && Has(names, L"Pressure"), "without a filter Level and Pressure");
    CheckHr(List(browse.get(), OPC_FLAT, L"", names), S_OK, "a flat list below Analog");
    Check(Has(names, Node(L"Demo.Analog.Level").c_str()) && Has(names, Node(L"Demo.Analog.Pressure").c_str()),
          "holds both item ids");
    Info("%zu ids: %s", names.size(), Joined(names).c_str());
    CheckHr(List(browse.get(), OPC_FLAT, L"*Level*", names), S_OK, "a flat list with \"*Level*\"");
    Check(Has(names, Node(L"Demo.Analog.Level").c_str()) && !Has(names, Node(L"Demo.Analog.Pressure").c_str()),
          "holds Level, not Pressure");
    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_TO, Node(L"Demo.Static.Access").c_str()), S_OK,
            "to Demo.Static.Access");
    List(browse.get(), OPC_LEAF, L"", names, OPC_WRITEABLE);
    Info("writable leaves: %s", Joined(names).c_str());
    List(browse.get(), OPC_LEAF, L"", names, OPC_READABLE);
    Info("readable leaves: %s", Joined(names).c_str());
    Check(Has(names, L"ReadOnly"), "the leaves hold ReadOnly");

    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_TO, L""), S_OK, "to the root");
    List(browse.get(), OPC_BRANCH, L"", names);
    Check(Has(names, L"Demo"), "the root again");
    CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_UP, L""), E_FAIL, "up from the root");
    ComPtr<IEnumString> none;
    volatile int four = 4;  // no such browse type
    CheckHr(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(four), L"", VT_EMPTY, 0, none.put()), E_FAIL,
            "browse type 4");
    CheckHr(browse->BrowseAccessPaths(Node(L"Demo.Analog.Level").c_str(), none.put()), E_NOTIMPL,
            "BrowseAccessPaths");
}

void CheckProperties(IOPCServer* server) {
    ComPtr<IOPCItemProperties> properties;
    CheckHr(server->QueryInterface(IID_IOPCItemProperties, properties.put_void()), S_OK,
            "IOPCItemProperties is served");
    if (!properties) return;
    std::wstring level = Node(L"Demo.Analog.Level");
    DWORD count = 0;
    TaskMem<DWORD> ids;
    TaskMem<LPWSTR> descriptions;
    TaskMem<VARTYPE> types;
    CheckHr(properties->QueryAvailableProperties(level.data(), &count, ids.put(), descriptions.put(), types.put()),
            S_OK, "QueryAvailableProperties of Demo.Analog.Level");
    std::set<DWORD> available;
    for (DWORD i = 0; i < count && ids; ++i) {
        available.insert(ids[i]);
        Info("%lu \"%s\" vt 0x%x", static_cast<unsigned long>(ids[i]),
             descriptions ? Narrow(descriptions[i]).c_str() : "", types ? types[i] : 0);
        if (descriptions) CoTaskMemFree(descriptions[i]);
    }
    bool all = true;
    for (DWORD id : {1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105}) all = all && available.count(id);
    Check(all, "it lists 1-8 and 100-105");
    Check(!available.count(106) && !available.count(107), "but not the two-state labels 106, 107");

    DWORD wanted[] = {1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105};
    const DWORD n = sizeof wanted / sizeof wanted[0];
    VARIANT* values = nullptr;
    TaskMem<HRESULT> errors;
    CheckHr(properties->GetItemProperties(level.data(), n, wanted, &values, errors.put()), S_OK,
            "GetItemProperties 1-8, 100-105");
    std::map<DWORD, Variant> got;
    for (DWORD i = 0; i < n && values && errors; ++i) {
        if (errors[i] != S_OK)
            Info("property %lu: %s", static_cast<unsigned long>(wanted[i]), HrText(errors[i]).c_str());
        else
            Info("property %lu: %s", static_cast<unsigned long>(wanted[i]), VariantText(values[i]).c_str());
        got[wanted[i]] = Variant(values[i]);
        VariantClear(&values[i]);
    }
    CoTaskMemFree(values);
    auto real = [&](DWORD id, double expected) {
        bool ok = false;
        const double value = got.count(id) ? AsReal(*got[id], ok) : 0.0;
        return ok && std::fabs(value - expected) < 1e-9;
    };
    auto text = [&](DWORD id) { return got.count(id) && got[id]->vt == VT_BSTR ? std::wstring(got[id]->bstrVal ? got[id]->bstrVal : L"") : std::wstring(L"\x1"); };
    Check(real(1, VT_R8), "1 canonical type is VT_R8 (5)");
    Check(got.count(2) && got[2]->vt == VT_R8, "2 value is a VT_R8");
    Check(real(3, kQualityGood), "3 quality is 0xC0");
    Check(got.count(4) && got[4]->vt == VT_DATE, "4 time stamp is a date");
    Check(real(5, 3), "5 access rights 3");
    Check(real(6, 100), "6 scan rate 100 ms (the minimum sampling interval)");
    Check(real(7, OPC_ANALOG), "7 EU type analog (1)");
    bool range = false;
    if (got.count(8) && got[8]->vt == (VT_ARRAY | VT_R8) && got[8]->parray) {
        double* data = nullptr;
        LONG low = 0, high = -1;
        SafeArrayGetLBound(got[8]->parray, 1, &low);
        SafeArrayGetUBound(got[8]->parray, 1, &high);
        if (high - low == 1 && SUCCEEDED(SafeArrayAccessData(got[8]->parray, reinterpret_cast<void**>(&data)))) {
            range = data[0] == 0.0 && data[1] == 100.0;
            SafeArrayUnaccessData(got[8]->parray);
        }
    }
    Check(range, "8 EU info is {0, 100} as VT_ARRAY|VT_R8");
    Check(text(100) == L"%", "100 engineering units \"%\"");
    Check(got.count(101) && got[101]->vt == VT_BSTR, "101 description is a text");
    Check(real(102, 100.0), "102 high EU 100");
    Check(real(103, 0.0), "103 low EU 0");
    Check(real(104, 110.0), "104 high instrument range 110");
    Check(real(105, -10.0), "105 low instrument range -10");

    DWORD mixed[] = {1, 106, 5000};
    values = nullptr;
    CheckHr(properties->GetItemProperties(level.data(), 3, mixed, &values, errors.put()), S_FALSE,
            "GetItemProperties [1, 106, 5000]");
    Check(errors && errors[0] == S_OK && errors[1] == kInvalidPid && errors[2] == kInvalidPid,
          "the ids the item lacks are OPC_E_INVALID_PID");
    for (DWORD i = 0; i < 3 && values; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    values = nullptr;

    std::wstring unknown = Node(L"Demo.NoSuchNode");
    const HRESULT missing = properties->GetItemProperties(unknown.data(), 1, mixed, &values, errors.put());
    CheckHr(missing, kUnknownItemId, "GetItemProperties of an unknown node");
    if (values) {
        VariantClear(&values[0]);
        CoTaskMemFree(values);
        values = nullptr;
    }
    std::wstring empty;
    CheckHr(properties->QueryAvailableProperties(empty.data(), &count, ids.put(), descriptions.put(), types.put()),
            kInvalidItemId, "QueryAvailableProperties of an empty id");
    for (DWORD i = 0; i < count && descriptions; ++i) CoTaskMemFree(descriptions[i]);

    // Canonical type and access rights of two more items
    using Expected = std::tuple<const wchar_t*, int, int>;
    for (auto [path, type, rights] : {Expected{L"Demo.Static.Scalars.Double", VT_R8, 3},
                                      Expected{L"Demo.Static.Access.ReadOnly", VT_I4, 1},
                                      Expected{L"Demo.Static.Arrays.Int32Array", VT_ARRAY | VT_I4, 3}}) {
        std::wstring item = Node(path);
        DWORD two[] = {1, 5};
        values = nullptr;
        properties->GetItemProperties(item.data(), 2, two, &values, errors.put());
        bool ok1 = false, ok5 = false;
        const double vt = values ? AsReal(values[0], ok1) : 0;
        const double access = values ? AsReal(values[1], ok5) : 0;
        char what[120];
        std::snprintf(what, sizeof what, "%s: type 0x%x, rights %d", Narrow(path).c_str(), type, rights);
        Check(ok1 && ok5 && vt == type && access == rights, what);
        if (values) {
            if (!(ok1 && ok5 && vt == type && access == rights))
                Info("got %s, %s", VariantText(values[0]).c_str(), VariantText(values[1]).c_str());
            VariantClear(&values[0]);
            VariantClear(&values[1]);
            CoTaskMemFree(values);
        }
    }

    // Discrete items: close/open labels and enumerated EU info
    {
        std::wstring twoState = Node(L"Demo.Static.TwoState");
        DWORD labels[] = {1, 7, 106, 107};
        values = nullptr;
        const HRESULT hr = properties->GetItemProperties(twoState.data(), 4, labels, &values, errors.put());
        std::vector<Variant> got2;
        for (DWORD i = 0; i < 4 && values && errors; ++i) {
            Info("TwoState %lu: %s %s", static_cast<unsigned long>(labels[i]), HrText(errors[i]).c_str(),
                 VariantText(values[i]).c_str());
            got2.emplace_back(values[i]);
            VariantClear(&values[i]);
        }
        CoTaskMemFree(values);
        CheckHr(hr, S_OK, "GetItemProperties 1, 7, 106, 107 of Demo.Static.TwoState");
        bool ok = false;
        Check(got2.size() == 4 && AsReal(*got2[0], ok) == static_cast<double>(VT_BOOL) && ok, "its canonical type is VT_BOOL");
        Check(got2.size() == 4 && got2[2]->vt == VT_BSTR && got2[2]->bstrVal &&
                  std::wcscmp(got2[2]->bstrVal, L"Open") == 0,
              "106 close label is the TrueState \"Open\"");
        Check(got2.size() == 4 && got2[3]->vt == VT_BSTR && got2[3]->bstrVal &&
                  std::wcscmp(got2[3]->bstrVal, L"Closed") == 0,
              "107 open label is the FalseState \"Closed\"");

        std::wstring multiState = Node(L"Demo.Static.MultiState");
        DWORD enumerated[] = {7, 8};
        values = nullptr;
        properties->GetItemProperties(multiState.data(), 2, enumerated, &values, errors.put());
        bool euType = false, euInfo = false;
        if (values && errors) {
            Info("MultiState 7: %s %s; 8: %s %s", HrText(errors[0]).c_str(), VariantText(values[0]).c_str(),
                 HrText(errors[1]).c_str(), VariantText(values[1]).c_str());
            euType = AsReal(values[0], ok) == static_cast<double>(OPC_ENUMERATED) && ok;
            euInfo = values[1].vt == (VT_ARRAY | VT_BSTR) && VariantText(values[1]) == "vt=0x2008 {Low, Mid, High}";
            VariantClear(&values[0]);
            VariantClear(&values[1]);
        }
        CoTaskMemFree(values);
        Check(euType, "MultiState: 7 EU type enumerated (2)");
        Check(euInfo, "MultiState: 8 EU info is its EnumStrings {Low, Mid, High}");
    }

    DWORD lookup[] = {1, 100};
    LPWSTR* newIds = nullptr;
    const HRESULT looked = properties->LookupItemIDs(level.data(), 2, lookup, &newIds, errors.put());
    Info("LookupItemIDs [1, 100]: %s, %s / %s", HrText(looked).c_str(), errors ? HrText(errors[0]).c_str() : "-",
         errors ? HrText(errors[1]).c_str() : "-");
    Check(errors && errors[0] == kInvalidPid, "LookupItemIDs of property 1 is OPC_E_INVALID_PID");
    for (DWORD i = 0; i < 2 && newIds; ++i) CoTaskMemFree(newIds[i]);
    CoTaskMemFree(newIds);
}

}  // namespace vela::e2e
