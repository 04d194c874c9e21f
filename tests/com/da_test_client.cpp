// A classic DA client that lives one plant client's whole life against the gateway, out of
// process under Wine, with a node-opcua server as the remote UA server:
//   da_test_client.exe <opcda_ps.dll> <vela_gateway.exe>
// The environment names the remote server (VELA_UA_URL, shown only) and the file whose creation
// makes the test script kill it (VELA_E2E_KILL_FILE, a Unix path). Prints each check and ends with
// "RESULT: PASSED" or "RESULT: FAILED".
//   da_test_client.exe /second-client   is the second client of the two-clients check.
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/com/CallbackSinks.h"
#include "tests/com/DaChecks.h"
#include "tests/com/DaTestSupport.h"

using namespace vela::e2e;

namespace {

// Far below ctest's limit, so that a hanging call still ends with a result line.
constexpr DWORD kWholeRunMs = 225000;

DWORD WINAPI Watchdog(void*) {
    Sleep(kWholeRunMs);
    std::printf("  FAIL the run did not end within %lu s (in \"%s\")\nRESULT: FAILED (time-out)\n",
                kWholeRunMs / 1000, CurrentArea());
    std::fflush(stdout);
    ExitProcess(3);
}

bool WaitForGatewayExit(DWORD timeoutMs) {
    return PumpUntil([] { return FindProcess(L"vela_gateway.exe") == 0; }, timeoutMs);
}

bool RegisterAll(const std::wstring& proxyDll, const std::wstring& gatewayExe) {
    const vela::da_client::ProxyStubRegistration proxy = vela::da_client::RegisterProxyStub(proxyDll);
    if (!proxy.loaded) {
        std::printf("cannot load %s (error %lu)\n", Narrow(proxyDll).c_str(), proxy.loadError);
        return false;
    }
    CheckHr(proxy.hr, S_OK, "proxy/stub DLL registered");
    DWORD exitCode = STILL_ACTIVE;
    vela::da_client::RegisterGateway(gatewayExe, exitCode);
    Check(exitCode == 0, "gateway registered with /RegServer");
    return SUCCEEDED(proxy.hr) && exitCode == 0;
}

ComPtr<IOPCServer> CreateGateway(const char* what) {
    ComPtr<IOPCServer> server;
    CheckHr(vela::da_client::CreateServerByProgId(vela::da_client::kTestServerProgId, IID_IOPCServer, server.put_void()),
            S_OK, what);
    return server;
}

// The gateway tells its connected client when it is asked to stop, and ends once let go.
void CheckShutdownNotice(const std::wstring& gatewayExe) {
    ComPtr<IOPCServer> server = CreateGateway("CoCreateInstance of the gateway by CLSID");
    if (!server) return;
    Check(FindProcess(L"vela_gateway.exe") != 0, "the server runs in a process of its own");
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    server->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (container) container->FindConnectionPoint(IID_IOPCShutdown, point.put());
    Check(static_cast<bool>(point), "the shutdown connection point is found");
    auto* sink = new ShutdownSink();
    ComPtr<IUnknown> sinkRef(static_cast<IOPCShutdown*>(sink));
    DWORD cookie = 0, secondCookie = 0;
    if (point) {
        CheckHr(point->Advise(sinkRef.get(), &cookie), S_OK, "Advise of a shutdown sink");
        CheckHr(point->Advise(sinkRef.get(), &secondCookie), CONNECT_E_ADVISELIMIT, "a second sink is refused");
    }
    PROCESS_INFORMATION stop{};
    const bool stopStarted = StartProcess(gatewayExe, L"/stop", stop);
    Check(stopStarted, "the stop request is sent");
    Check(PumpUntil([&] { return sink->calls > 0; }, 20000), "ShutdownRequest arrives");
    Check(sink->calls == 1 && sink->reason == L"Terminated by Server.", "once, with the reason text");
    if (point && cookie) point->Unadvise(cookie);
    point.Reset();
    container.Reset();
    server.Reset();
    Check(WaitForGatewayExit(20000), "the server ends once its client let go");
    if (stopStarted) {
        DWORD exitCode = STILL_ACTIVE;
        FinishProcess(stop, 20000, exitCode);
        Check(exitCode == 0, "the stop request saw the gateway end");
    }
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::wstring SelfPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wstring(argv[1]) == L"/second-client") return RunSecondClient();
    if (argc < 3) {
        std::printf("usage: da_test_client <opcda_ps.dll> <vela_gateway.exe>\n");
        return 2;
    }
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    const std::wstring proxyDll = WindowsPath(argv[1]);
    const std::wstring gatewayExe = WindowsPath(argv[2]);
    const std::wstring url = Environment(L"VELA_UA_URL");
    const std::wstring killFile = WindowsPath(Environment(L"VELA_E2E_KILL_FILE"));
    const std::wstring restartFile = WindowsPath(Environment(L"VELA_E2E_RESTART_FILE"));
    std::printf("Remote server: %s\n", url.empty() ? "(VELA_UA_URL not set)" : Narrow(url.c_str()).c_str());
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    Section("Registration");
    if (RegisterAll(proxyDll, gatewayExe)) {
        Section("Shutdown notice");
        CheckShutdownNotice(gatewayExe);

        Section("A client's life: creation");
        ComPtr<IOPCServer> server = CreateGateway("CoCreateInstance with the remote server up");
        if (server) {
            Check(FindProcess(L"vela_gateway.exe") != 0, "the server runs in a process of its own");
            Section("Common interface");
            CheckCommon(server.get());
            Section("Status");
            CheckStatus(server.get(), 0);
            Section("Groups");
            CheckGroups(server.get());
            Section("Items");
            CheckItems(server.get());
            Section("Synchronous I/O");
            CheckSyncIo(server.get());
            Section("Asynchronous I/O");
            CheckAsyncIo(server.get());
            Section("Data changes");
            CheckDataChanges(server.get());
            Section("Browsing");
            CheckBrowse(server.get());
            Section("Item properties");
            CheckProperties(server.get());
            Section("A hostile client");
            CheckHostileClient(server.get());
            Section("Two clients at once");
            CheckTwoClients(server.get(), SelfPath());
            Section("Remote server lost and back");
            CheckRemoteLost(server.get(), killFile, restartFile);
            Section("End");
            server.Reset();
            Check(WaitForGatewayExit(20000), "the server ends after the last release");
        }
    }
    CoUninitialize();
    const int failures = Failures();
    std::printf(failures == 0 ? "RESULT: PASSED\n" : "RESULT: FAILED (%d checks)\n", failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
