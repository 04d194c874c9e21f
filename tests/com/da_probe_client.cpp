// A DA client that creates each virtual server named on its command line by ProgID, as a plant's
// client would, reads its status and one value, and lets it go: one line per server.
//   da_probe_client PROGID[=ITEM] ...   (ITEM: an item id to read)
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "opcda.h"
#include "tests/support/DaClientSupport.h"

using namespace vela::da_client;

namespace {

// The item's value as text through a private group, or the failure.
std::string ReadOne(IOPCServer* server, const std::wstring& item) {
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    HRESULT hr = server->AddGroup(L"probe", TRUE, 1000, 1, nullptr, nullptr, 0, &groupHandle, &revised,
                                  IID_IOPCItemMgt, items.put_unknown());
    if (FAILED(hr)) return "AddGroup " + HrText(hr);
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(item.c_str());
    definition.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    hr = items->AddItems(1, &definition, &results, &errors);
    std::string text;
    if (FAILED(hr) || FAILED(errors[0])) {
        text = "AddItems " + HrText(SUCCEEDED(hr) ? errors[0] : hr);
    } else {
        ComPtr<IOPCSyncIO> sync = items.As<IOPCSyncIO>(IID_IOPCSyncIO);
        OPCITEMSTATE* states = nullptr;
        HRESULT* readErrors = nullptr;
        OPCHANDLE handle = results[0].hServer;
        hr = sync ? sync->Read(OPC_DS_DEVICE, 1, &handle, &states, &readErrors) : E_NOINTERFACE;
        if (SUCCEEDED(hr)) {
            VARIANT shown;
            VariantInit(&shown);
            text = SUCCEEDED(VariantChangeType(&shown, &states[0].vDataValue, 0, VT_BSTR)) ? Narrow(shown.bstrVal)
                                                                                             : "(no text)";
            char quality[32];
            std::snprintf(quality, sizeof(quality), " quality 0x%02X", states[0].wQuality);
            text += quality;
            VariantClear(&shown);
            VariantClear(&states[0].vDataValue);
            CoTaskMemFree(states);
            CoTaskMemFree(readErrors);
        } else {
            text = "Read " + HrText(hr);
        }
    }
    if (results) CoTaskMemFree(results);
    if (errors) CoTaskMemFree(errors);
    items.Reset();
    server->RemoveGroup(groupHandle, FALSE);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::printf("usage: da_probe_client PROGID[=ITEM] ...\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        const size_t equals = argument.find(L'=');
        const std::wstring progId = argument.substr(0, equals);
        const std::wstring item = equals == std::wstring::npos ? L"" : argument.substr(equals + 1);
        ComPtr<IOPCServer> server;
        const HRESULT hr = CreateServerByProgId(progId.c_str(), IID_IOPCServer, server.put_void());
        if (FAILED(hr) || !server) {
            std::printf("PROBE %s: %s\n", Narrow(progId).c_str(), HrText(hr).c_str());
            ++failures;
            continue;
        }
        OPCSERVERSTATUS* status = nullptr;
        const HRESULT statusHr = server->GetStatus(&status);
        std::string line = "PROBE " + Narrow(progId) + ": created";
        if (SUCCEEDED(statusHr) && status) {
            line += ", state " + std::to_string(status->dwServerState) + ", vendor " + Narrow(status->szVendorInfo);
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        } else {
            line += ", GetStatus " + HrText(statusHr);
            ++failures;
        }
        if (!item.empty()) line += ", " + Narrow(item) + " = " + ReadOne(server.get(), item);
        std::printf("%s\n", line.c_str());
    }
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
