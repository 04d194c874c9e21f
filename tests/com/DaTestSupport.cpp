#include "tests/com/DaTestSupport.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace vela::e2e {
namespace {

std::atomic<int> failures{0};
std::atomic<const char*> area{"start"};

}  // namespace

void Section(const char* title) {
    std::printf("%s\n", title);
    std::fflush(stdout);
    SetArea(title);
}

bool Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "  ok  " : "  FAIL", what);
    std::fflush(stdout);
    if (!ok) ++failures;
    return ok;
}

bool CheckHr(HRESULT hr, HRESULT expected, const char* what) {
    if (hr != expected) Info("got %s, expected %s", HrText(hr).c_str(), HrText(expected).c_str());
    return Check(hr == expected, what);
}

void Info(const char* format, ...) {
    std::printf("        ");
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::printf("\n");
    std::fflush(stdout);
}

int Failures() { return failures; }
void SetArea(const char* name) { area = name; }
const char* CurrentArea() { return area; }

std::string VariantText(const VARIANT& value) {
    char head[32];
    std::snprintf(head, sizeof head, "vt=0x%x ", value.vt);
    if (value.vt & VT_ARRAY) {
        SAFEARRAY* array = value.parray;
        if (!array) return std::string(head) + "(no array)";
        LONG low = 0, high = -1;
        SafeArrayGetLBound(array, 1, &low);
        SafeArrayGetUBound(array, 1, &high);
        std::string text = std::string(head) + "{";
        for (LONG i = low; i <= high && i < low + 20; ++i) {
            VARIANT element;
            VariantInit(&element);
            const VARTYPE type = static_cast<VARTYPE>(value.vt & ~VT_ARRAY);
            if (type == VT_VARIANT) {
                SafeArrayGetElement(array, &i, &element);
            } else {
                element.vt = type;
                SafeArrayGetElement(array, &i, &element.lVal);  // the union's first byte
            }
            if (i > low) text += ", ";
            const std::string one = VariantText(element);
            text += one.substr(one.find(' ') + 1);
            VariantClear(&element);
        }
        return text + "}";
    }
    VARIANT asText;
    VariantInit(&asText);
    std::string text = head;
    if (value.vt == VT_EMPTY) return text + "(empty)";
    if (SUCCEEDED(VariantChangeTypeEx(&asText, const_cast<VARIANT*>(&value), 0x409, 0, VT_BSTR)) && asText.bstrVal)
        text += Narrow(asText.bstrVal);
    else
        text += "(no text)";
    VariantClear(&asText);
    return text;
}

ItemStates::~ItemStates() { Clear(); }

void ItemStates::Clear() {
    if (p_)
        for (DWORD i = 0; i < count_; ++i) VariantClear(&p_[i].vDataValue);
    CoTaskMemFree(std::exchange(p_, nullptr));
}

OPCITEMSTATE** ItemStates::put(DWORD count) {
    Clear();
    count_ = count;
    return &p_;
}

ItemResults::~ItemResults() { Clear(); }

void ItemResults::Clear() {
    if (p_)
        for (DWORD i = 0; i < count_; ++i) CoTaskMemFree(p_[i].pBlob);
    CoTaskMemFree(std::exchange(p_, nullptr));
}

OPCITEMRESULT** ItemResults::put(DWORD count) {
    Clear();
    count_ = count;
    return &p_;
}

void FreeAttributes(OPCITEMATTRIBUTES* attributes, ULONG count) {
    if (!attributes) return;
    for (ULONG i = 0; i < count; ++i) {
        CoTaskMemFree(attributes[i].szAccessPath);
        CoTaskMemFree(attributes[i].szItemID);
        CoTaskMemFree(attributes[i].pBlob);
        VariantClear(&attributes[i].vEUInfo);
    }
    CoTaskMemFree(attributes);
}

void FreeStatus(OPCSERVERSTATUS* status) {
    if (!status) return;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

std::vector<OPCITEMDEF> Definitions(const std::vector<ItemDef>& defs) {
    std::vector<OPCITEMDEF> definitions;
    for (const ItemDef& def : defs) {
        OPCITEMDEF definition{};
        definition.szAccessPath = const_cast<LPWSTR>(L"");
        definition.szItemID = const_cast<LPWSTR>(def.id.c_str());
        definition.bActive = def.active;
        definition.hClient = def.client;
        definition.vtRequestedDataType = def.requested;
        definitions.push_back(definition);
    }
    return definitions;
}

std::wstring Node(const wchar_t* demoPath) { return std::wstring(L"ns=1;s=") + demoPath; }

Group AddGroup(IOPCServer* server, const wchar_t* name, BOOL active, DWORD rate, OPCHANDLE clientHandle) {
    Group group;
    if (!server) return group;
    group.added = server->AddGroup(name, active, rate, clientHandle, nullptr, nullptr, 0x800, &group.server,
                                   &group.revisedRate, IID_IUnknown, group.unknown.put_unknown());
    if (group.unknown) {
        group.state = group.unknown.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt);
        group.items = group.unknown.As<IOPCItemMgt>(IID_IOPCItemMgt);
        group.sync = group.unknown.As<IOPCSyncIO>(IID_IOPCSyncIO);
        group.async = group.unknown.As<IOPCAsyncIO2>(IID_IOPCAsyncIO2);
    }
    return group;
}

HRESULT DropGroup(IOPCServer* server, Group& group) {
    group.ReleaseAll();
    if (!server || !group.server) return E_INVALIDARG;
    const HRESULT hr = server->RemoveGroup(group.server, FALSE);
    group.server = 0;
    return hr;
}

HRESULT AddItemsTo(Group& group, const std::vector<ItemDef>& defs, std::vector<OPCHANDLE>& handles,
                   std::vector<HRESULT>* errors, std::vector<VARTYPE>* canonical, std::vector<DWORD>* rights) {
    handles.assign(defs.size(), 0);
    if (errors) errors->assign(defs.size(), E_FAIL);
    if (canonical) canonical->assign(defs.size(), VT_EMPTY);
    if (rights) rights->assign(defs.size(), 0);
    if (!group.items || defs.empty()) return E_POINTER;
    std::vector<OPCITEMDEF> definitions = Definitions(defs);
    const DWORD count = static_cast<DWORD>(defs.size());
    ItemResults results;
    TaskMem<HRESULT> itemErrors;
    const HRESULT hr = group.items->AddItems(count, definitions.data(), results.put(count), itemErrors.put());
    if (results && itemErrors) {
        for (DWORD i = 0; i < count; ++i) {
            if (errors) (*errors)[i] = itemErrors[i];
            if (SUCCEEDED(itemErrors[i])) {
                handles[i] = results[i].hServer;
                if (canonical) (*canonical)[i] = results[i].vtCanonicalDataType;
                if (rights) (*rights)[i] = results[i].dwAccessRights;
            }
        }
    }
    return hr;
}

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG UtcNowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

double SecondsFromNow(const FILETIME& time) {
    const double difference = static_cast<double>(UtcNowTicks()) - static_cast<double>(Ticks(time));
    return std::fabs(difference) / 1e7;
}

}  // namespace vela::e2e
