// A classic DA client as a plant's HMI would be, for the demonstration: it creates the gateway's
// virtual server out of process and shows the remote UA server's data through it.
//   da_demo_client.exe <opcda_ps.dll> <vela_gateway.exe> [seconds of data changes]
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <cstdio>
#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "opccomn.h"
#include "opcda.h"
#include "tests/support/DaClientSupport.h"

using namespace vela::da_client;

namespace {

struct DemoItem {
    const wchar_t* id;
    VARTYPE requested;
};
const DemoItem kItems[] = {{L"ns=1;s=Demo.Dynamic.Fast", VT_EMPTY},
                           {L"ns=1;s=Demo.Dynamic.Slow", VT_EMPTY},
                           {L"ns=1;s=Demo.Analog.Level", VT_EMPTY},
                           {L"ns=1;s=Demo.Static.Scalars.Int32", VT_BSTR},
                           {L"ns=1;s=Demo.Static.Bad.Uncertain", VT_EMPTY}};

std::string ValueText(const VARIANT& value) {
    VARIANT text;
    VariantInit(&text);
    std::string shown;
    if (value.vt & VT_ARRAY) shown = "(array)";
    else if (SUCCEEDED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), 0x409, VARIANT_ALPHABOOL, VT_BSTR)))
        shown = Narrow(text.bstrVal);
    else shown = "(vt " + std::to_string(value.vt) + ")";
    VariantClear(&text);
    return shown;
}

std::string QualityText(WORD quality) {
    char text[48];
    const char* main = (quality & 0xC0) == 0xC0 ? "good" : (quality & 0xC0) == 0x40 ? "uncertain" : "bad";
    std::snprintf(text, sizeof text, "0x%02X %s", quality, main);
    return text;
}

std::string TimeText(const FILETIME& time) {
    SYSTEMTIME utc{};
    FileTimeToSystemTime(&time, &utc);
    char text[40];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u UTC", utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return text;
}

class PrintingSink final : public DataCallbackBase {
public:
    std::vector<std::wstring> names;
    int changes = 0;

    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* clients, VARIANT* values,
                              WORD* qualities, FILETIME* times, HRESULT* errors) override {
        for (DWORD i = 0; i < count; ++i) {
            const std::wstring& name = clients[i] < names.size() ? names[clients[i]] : std::wstring(L"?");
            std::printf("  %-36s = %-12s quality %s  %s%s\n", Narrow(name).c_str(), ValueText(values[i]).c_str(),
                        QualityText(qualities[i]).c_str(), TimeText(times[i]).c_str(),
                        errors[i] == S_OK ? "" : ("  " + HrText(errors[i])).c_str());
            ++changes;
        }
        std::fflush(stdout);
        return S_OK;
    }
};

int Demo(IOPCServer* server, int seconds) {
    OPCSERVERSTATUS* status = nullptr;
    if (SUCCEEDED(server->GetStatus(&status)) && status) {
        std::printf("GetStatus: state %d (1 = running), vendor \"%s\", %lu group(s)\n",
                    static_cast<int>(status->dwServerState), Narrow(status->szVendorInfo).c_str(),
                    static_cast<unsigned long>(status->dwGroupCount));
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }

    ComPtr<IOPCBrowseServerAddressSpace> space;
    server->QueryInterface(IID_IOPCBrowseServerAddressSpace, space.put_void());
    if (space && SUCCEEDED(space->ChangeBrowsePosition(OPC_BROWSE_TO, L"ns=1;s=Demo.Analog"))) {
        ComPtr<IEnumString> leaves;
        space->BrowseOPCItemIDs(OPC_LEAF, L"", VT_EMPTY, 0, leaves.put());
        std::printf("Browse: the leaves of Demo/Analog:");
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        while (leaves && leaves->Next(1, &name, &fetched) == S_OK) {
            LPWSTR itemId = nullptr;
            space->GetItemID(name, &itemId);
            std::printf(" %s [%s]", Narrow(name).c_str(), Narrow(itemId).c_str());
            CoTaskMemFree(itemId);
            CoTaskMemFree(name);
        }
        std::printf("\n");
    }

    ComPtr<IOPCItemProperties> properties;
    server->QueryInterface(IID_IOPCItemProperties, properties.put_void());
    if (properties) {
        DWORD ids[] = {1, 100, 103, 102};
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        if (SUCCEEDED(properties->GetItemProperties(const_cast<LPWSTR>(L"ns=1;s=Demo.Analog.Level"), 4, ids, &values,
                                                    &errors))) {
            std::printf("Properties of Demo.Analog.Level: canonical type %s, units \"%s\", range %s .. %s\n",
                        ValueText(values[0]).c_str(), ValueText(values[1]).c_str(), ValueText(values[2]).c_str(),
                        ValueText(values[3]).c_str());
            for (int i = 0; i < 4; ++i) VariantClear(&values[i]);
            CoTaskMemFree(values);
            CoTaskMemFree(errors);
        }
    }

    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    HRESULT hr = server->AddGroup(L"Demo", TRUE, 500, 1, nullptr, nullptr, 0x800, &groupHandle, &revised,
                                  IID_IOPCItemMgt, group.put_unknown());
    if (FAILED(hr) || !group) {
        std::printf("AddGroup failed: %s\n", HrText(hr).c_str());
        return 1;
    }
    auto items = group.As<IOPCItemMgt>(IID_IOPCItemMgt);
    auto sync = group.As<IOPCSyncIO>(IID_IOPCSyncIO);
    std::vector<OPCITEMDEF> definitions;
    auto* sink = new PrintingSink();
    for (size_t i = 0; i < std::size(kItems); ++i) {
        OPCITEMDEF definition{};
        definition.szItemID = const_cast<LPWSTR>(kItems[i].id);
        definition.bActive = TRUE;
        definition.hClient = static_cast<OPCHANDLE>(i);
        definition.vtRequestedDataType = kItems[i].requested;
        definitions.push_back(definition);
        sink->names.push_back(kItems[i].id);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    hr = items ? items->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(), &results, &errors) : E_FAIL;
    std::vector<OPCHANDLE> handles;
    std::printf("AddItems: %s\n", HrText(hr).c_str());
    for (size_t i = 0; results && i < definitions.size(); ++i) {
        std::printf("  %-36s canonical type %u, access rights %lu, %s\n", Narrow(kItems[i].id).c_str(),
                    results[i].vtCanonicalDataType, static_cast<unsigned long>(results[i].dwAccessRights),
                    HrText(errors[i]).c_str());
        handles.push_back(results[i].hServer);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    if (sync && !handles.empty()) {
        OPCITEMSTATE* states = nullptr;
        HRESULT* readErrors = nullptr;
        if (SUCCEEDED(sync->Read(OPC_DS_DEVICE, static_cast<DWORD>(handles.size()), handles.data(), &states,
                                 &readErrors))) {
            std::printf("Read from the device:\n");
            for (size_t i = 0; i < handles.size(); ++i) {
                std::printf("  %-36s = %-12s quality %s  %s\n", Narrow(kItems[i].id).c_str(),
                            ValueText(states[i].vDataValue).c_str(), QualityText(states[i].wQuality).c_str(),
                            TimeText(states[i].ftTimeStamp).c_str());
                VariantClear(&states[i].vDataValue);
            }
            CoTaskMemFree(states);
            CoTaskMemFree(readErrors);
        }
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = 57.5;
        HRESULT* writeErrors = nullptr;
        OPCHANDLE level = handles[2];
        hr = sync->Write(1, &level, &value, &writeErrors);
        std::printf("Write Demo.Analog.Level = 57.5: %s\n", HrText(writeErrors ? writeErrors[0] : hr).c_str());
        CoTaskMemFree(writeErrors);
    }

    ComPtr<IConnectionPointContainer> container = group.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
    ComPtr<IConnectionPoint> point;
    if (container) container->FindConnectionPoint(IID_IOPCDataCallback, point.put());
    DWORD cookie = 0;
    if (point && SUCCEEDED(point->Advise(static_cast<IOPCDataCallback*>(sink), &cookie))) {
        std::printf("Data changes through IOPCDataCallback at 500 ms for %d s:\n", seconds);
        std::fflush(stdout);
        PumpFor(static_cast<DWORD>(seconds) * 1000);
        point->Unadvise(cookie);
    }
    const int changes = sink->changes;
    sink->Release();
    point.Reset();
    container.Reset();
    sync.Reset();
    items.Reset();
    group.Reset();
    server->RemoveGroup(groupHandle, FALSE);
    std::printf("%d item changes received.\n", changes);
    return changes > 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 3 || (argc > 1 && (std::wstring(argv[1]) == L"/?" || std::wstring(argv[1]) == L"--help"))) {
        std::printf("usage: da_demo_client [PROGID] [seconds]   (the gateway's virtual server, installed and\n"
                    "       registered beforehand; default Vela.Demo.UA.1 for 5 seconds)\n");
        return 2;
    }
    const std::wstring progId = argc > 1 ? argv[1] : L"Vela.Demo.UA.1";
    const int seconds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = 1;
    {
        ComPtr<IOPCServer> server;
        const HRESULT hr = CreateServerByProgId(progId.c_str(), IID_IOPCServer, server.put_void());
        std::printf("CoCreateInstance(%s): %s; the gateway runs as a process of its own\n", Narrow(progId).c_str(),
                    HrText(hr).c_str());
        if (server) rc = Demo(server.get(), seconds);
    }
    CoUninitialize();
    return rc;
}
