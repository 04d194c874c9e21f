// A classic DA client that proves the gateway as an out-of-process COM local server:
//   da_test_client.exe <opcda_ps.dll> <vela_gateway.exe>
// It registers the proxy/stub DLL and the server, creates the server by CLSID, calls the
// common and status methods through the proxies, checks that the server ends after the last
// release, then connects a shutdown sink, asks the running gateway to stop and receives the
// shutdown request. Prints each check and ends with "RESULT: PASSED" or "RESULT: FAILED".
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/SkeletonServer.h"
#include "opccomn.h"
#include "opcda.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "  ok  " : "  FAIL", what);
    std::fflush(stdout);
    if (!ok) ++failures;
}

void CheckHr(HRESULT hr, HRESULT expected, const char* what) {
    if (hr != expected) std::printf("        got 0x%08lx, expected 0x%08lx\n", static_cast<unsigned long>(hr),
                                    static_cast<unsigned long>(expected));
    Check(hr == expected, what);
}

std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {  // a Unix path of the build tree: Wine's Z: drive
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        path = L"Z:" + path;
    }
    return path;
}

DWORD FindProcess(const wchar_t* exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, exeName) == 0 && entry.th32ProcessID != GetCurrentProcessId())
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

// Pumps messages (incoming calls of an apartment-threaded client) until done() or the time is up.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

bool WaitForGatewayExit(DWORD timeoutMs) {
    return PumpUntil([] { return FindProcess(L"vela_gateway.exe") == 0; }, timeoutMs);
}

class ShutdownSink final : public IOPCShutdown {
public:
    std::wstring reason;
    int calls = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOPCShutdown) {
            *object = static_cast<IOPCShutdown*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP ShutdownRequest(LPCWSTR szReason) override {
        reason = szReason ? szReason : L"(null)";
        ++calls;
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

bool RegisterAll(const std::wstring& proxyDll, const std::wstring& gatewayExe) {
    HMODULE proxy = LoadLibraryW(proxyDll.c_str());
    if (!proxy) {
        std::printf("cannot load %ls (error %lu)\n", proxyDll.c_str(), GetLastError());
        return false;
    }
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(proxy, "DllRegisterServer")));
    const HRESULT hr = registerServer ? registerServer() : E_FAIL;
    CheckHr(hr, S_OK, "proxy/stub DLL registered");

    std::wstring commandLine = L"\"" + gatewayExe + L"\" /RegServer";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Check(exitCode == 0, "gateway registered with /RegServer");
    return SUCCEEDED(hr) && exitCode == 0;
}

void CheckCommonAndStatus(IOPCServer* server) {
    IOPCCommon* common = nullptr;
    CheckHr(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK, "IOPCCommon is served");
    if (!common) return;
    LCID locale = 0;
    common->GetLocaleID(&locale);
    Check(locale == 0x800, "locale is 0x800 at creation");
    CheckHr(common->SetLocaleID(0x409), E_INVALIDARG, "SetLocaleID(0x409) is refused");
    common->GetLocaleID(&locale);
    Check(locale == 0x800, "the refused locale leaves 0x800");
    CheckHr(common->SetLocaleID(0x400), S_OK, "SetLocaleID(0x400) is taken");
    common->GetLocaleID(&locale);
    Check(locale == 0x400, "GetLocaleID gives 0x400 after it");
    DWORD count = 0;
    LCID* locales = nullptr;
    CheckHr(common->QueryAvailableLocaleIDs(&count, &locales), S_OK, "QueryAvailableLocaleIDs");
    Check(count == 2 && locales && locales[0] == 0x800 && locales[1] == 0x400, "the locales are 0x800 and 0x400");
    CoTaskMemFree(locales);
    CheckHr(common->SetClientName(L"da_test_client"), S_OK, "SetClientName");

    LPWSTR text = nullptr;
    CheckHr(common->GetErrorString(static_cast<HRESULT>(0xC004000C), &text), S_OK, "GetErrorString");
    Check(text && std::wcscmp(text, L"Duplicate name not allowed.") == 0, "an OPC code's text crosses the proxy");
    CoTaskMemFree(text);
    text = nullptr;
    server->GetErrorString(E_INVALIDARG, 0x409, &text);
    const size_t length = text ? std::wcslen(text) : 0;
    Check(length > 0 && text[length - 1] != L'.', "a system code's text has no final period");
    if (text) std::printf("        0x80070057: \"%ls\"\n", text);
    CoTaskMemFree(text);
    common->Release();

    OPCSERVERSTATUS* status = nullptr;
    CheckHr(server->GetStatus(&status), S_OK, "GetStatus");
    if (status) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const auto ticks = [](const FILETIME& ft) { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
        const ULONGLONG skew = ticks(now) > ticks(status->ftCurrentTime) ? ticks(now) - ticks(status->ftCurrentTime)
                                                                         : ticks(status->ftCurrentTime) - ticks(now);
        Check(status->dwServerState == OPC_STATUS_FAILED, "without a remote server the state is failed");
        Check(status->szVendorInfo && std::wcscmp(status->szVendorInfo, L"Vela Plover (can't connect to XML Server)") == 0,
              "the fallback vendor text");
        Check(status->dwGroupCount == 0, "no groups");
        Check(skew < 60ULL * 10000000ULL, "the current time is UTC now");
        Check(ticks(status->ftStartTime) <= ticks(status->ftCurrentTime), "the start time lies before it");
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
}

bool StartStopRequest(const std::wstring& gatewayExe, PROCESS_INFORMATION& process) {
    std::wstring commandLine = L"\"" + gatewayExe + L"\" /stop";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: da_test_client <opcda_ps.dll> <vela_gateway.exe>\n");
        return 2;
    }
    const std::wstring proxyDll = WindowsPath(argv[1]);
    const std::wstring gatewayExe = WindowsPath(argv[2]);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    std::printf("Registration\n");
    if (RegisterAll(proxyDll, gatewayExe)) {
        std::printf("First client: calls through the proxies\n");
        IOPCServer* server = nullptr;
        const HRESULT created = CoCreateInstance(vela::app::kSkeletonClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                                 reinterpret_cast<void**>(&server));
        CheckHr(created, S_OK, "CoCreateInstance of the gateway by CLSID");
        if (server) {
            Check(FindProcess(L"vela_gateway.exe") != 0, "the server runs in a process of its own");
            CheckCommonAndStatus(server);
            server->Release();
            Check(WaitForGatewayExit(20000), "the server ends after the last release");
        }

        std::printf("Second client: shutdown notice\n");
        server = nullptr;
        CheckHr(CoCreateInstance(vela::app::kSkeletonClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                 reinterpret_cast<void**>(&server)),
                S_OK, "CoCreateInstance again starts the server again");
        if (server) {
            IConnectionPointContainer* container = nullptr;
            IConnectionPoint* point = nullptr;
            server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
            if (container) container->FindConnectionPoint(IID_IOPCShutdown, &point);
            Check(point != nullptr, "the shutdown connection point is found");
            auto* sink = new ShutdownSink();
            DWORD cookie = 0, secondCookie = 0;
            if (point) {
                CheckHr(point->Advise(sink, &cookie), S_OK, "Advise of a shutdown sink");
                CheckHr(point->Advise(sink, &secondCookie), CONNECT_E_ADVISELIMIT, "a second sink is refused");
            }
            PROCESS_INFORMATION stop{};
            const bool stopStarted = StartStopRequest(gatewayExe, stop);
            Check(stopStarted, "the stop request is sent");
            Check(PumpUntil([&] { return sink->calls > 0; }, 20000), "ShutdownRequest arrives");
            Check(sink->calls == 1 && sink->reason == L"Terminated by Server.", "once, with the reason text");
            if (point && cookie) point->Unadvise(cookie);
            if (point) point->Release();
            if (container) container->Release();
            server->Release();
            sink->Release();
            Check(WaitForGatewayExit(20000), "the server ends once its client let go");
            if (stopStarted) {
                WaitForSingleObject(stop.hProcess, 20000);
                DWORD exitCode = 1;
                GetExitCodeProcess(stop.hProcess, &exitCode);
                Check(exitCode == 0, "the stop request saw the gateway end");
                CloseHandle(stop.hThread);
                CloseHandle(stop.hProcess);
            }
        }
    } else {
        ++failures;
    }
    CoUninitialize();
    std::printf(failures == 0 ? "RESULT: PASSED\n" : "RESULT: FAILED (%d checks)\n", failures);
    return failures == 0 ? 0 : 1;
}
