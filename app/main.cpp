// The gateway executable: a COM local server for every virtual server of its option file, on the
// main thread's message loop, with its main window in the notification area.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/AdminSwitches.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/OptionFileRegistry.h"
#include "app/OptionFileStartup.h"
#include "app/ProxyRegistration.h"
#include "app/UserMessages.h"
#include "app/VirtualServers.h"
#include "base/Utf.h"
#include "base/Win32MainThread.h"
#include "server/VelaDataAccess.h"
#include "ua/da/UADAConnection.h"

namespace vela::app {
namespace {

constexpr DWORD kStopWaitMs = 15000;

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
    LocalFree(argv);
    return arguments;
}

int StopRunningGateway() {
    HWND window = FindWindowW(TVelaOstraForm::ClassName(), nullptr);
    if (!window) {
        std::fprintf(stderr, "No running gateway found.\n");
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageW(window, TVelaOstraForm::StopMessage(), 0, 0);
    DWORD wait = WAIT_OBJECT_0;
    if (process) {
        wait = WaitForSingleObject(process, kStopWaitMs);
        CloseHandle(process);
    }
    std::printf(wait == WAIT_OBJECT_0 ? "Gateway stopped.\n" : "Gateway did not stop in time.\n");
    return wait == WAIT_OBJECT_0 ? 0 : 2;
}

bool Registers(StartMode mode) {
    return mode == StartMode::RegServer || mode == StartMode::RegServerPerUser || mode == StartMode::UnregServer ||
           mode == StartMode::UnregServerPerUser;
}

// The proxy/stub DLL beside the executable, where there is one.
bool UpdateProxyRegistration(bool add, const std::wstring& exePath) {
    const std::wstring dll = GatewayProxyDllPath(exePath);
    if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    const ProxyRegistration result = add ? RegisterProxyDll(dll) : UnregisterProxyDll(dll);
    if (!result.done) std::fprintf(stderr, "%s\n", result.error.c_str());
    if (add && !result.kept.empty())
        std::fprintf(stderr, "%zu OPC interfaces stay with the proxy DLL registered for them before.\n",
                     result.kept.size());
    return result.done;
}

// Registration always goes to HKEY_CLASSES_ROOT: the per-user switches do the same.
int UpdateRegistry(StartMode mode, const std::wstring& exePath) {
    SendMessagesToStderr();
    const bool add = mode == StartMode::RegServer || mode == StartMode::RegServerPerUser;
    const std::wstring optionFile = Utf8ToWide(OptionFilePath(WideToUtf8(exePath)));
    UnregisterOptionFileServers(optionFile);
    const bool proxy = UpdateProxyRegistration(add, exePath);
    if (!add) return proxy ? 0 : 1;
    return RegisterOptionFileServers(optionFile, exePath) && proxy ? 0 : 1;
}

int Serve(StartMode mode, const std::wstring& exePath, const StartupOptionFile& startup) {
    server::ProcessStartTime();  // taken now, once
    Win32MainThread mainThread;
    ua::RegisterUAConnection();
    int rc = 0;
    {
        VirtualServers servers;
        if (startup.file) servers.Create(*startup.file, &mainThread);
        MainWindowOptions options;
        options.optionFile = Utf8ToWide(OptionFilePath(WideToUtf8(exePath)));
        options.startedByCom = mode == StartMode::ByCom;
        TVelaOstraForm form(servers, options);
        if (!form.Create()) throw std::runtime_error("the main window cannot be created (error " +
                                                     std::to_string(GetLastError()) + ")");
        if (const HRESULT hr = servers.RegisterClassObjects(); FAILED(hr)) {
            char text[96];
            std::snprintf(text, sizeof(text), "a virtual server's class object cannot be registered (0x%08lx)",
                          static_cast<unsigned long>(hr));
            throw std::runtime_error(text);
        }
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        servers.RevokeClassObjects();
        // Clients that did not let go lose their objects now, while the main thread still
        // serves the objects' threads.
        server::VelaDataAccess::DisconnectAll();
        mainThread.RunPending();
    }
    mainThread.Close();
    return rc;
}

int Run(StartMode mode) {
    try {
        const std::wstring exePath = ExecutablePath();
        // Registering does what it is asked on the file as it is: a pending file waits for a start.
        if (Registers(mode)) return UpdateRegistry(mode, exePath);
        const StartupOptionFile startup = LoadOptionFile(exePath);
        if (startup.endProcess) return 0;
        return Serve(mode, exePath, startup);
    } catch (const std::exception& e) {
        ShowError(L"Can not start program\r\n" + Utf8ToWide(e.what()), L"Application error");
        return 1;
    }
}

}  // namespace
}  // namespace vela::app

namespace {

// A windows program started from a console has no standard streams of its own: the switches'
// output goes to the console it was started from, when there is one. Streams that were handed
// over (pipes, files, a terminal under Wine) stay as they are.
void UseParentConsole() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::FILE* ignored = nullptr;
    freopen_s(&ignored, "CONOUT$", "w", stdout);
    freopen_s(&ignored, "CONOUT$", "w", stderr);
}

}  // namespace

int main() {
    using namespace vela::app;
    UseParentConsole();
    const StartCommand command = ParseCommandLine(Arguments());
    SetConsoleOutputCP(CP_UTF8);
    if (!command.unknown.empty() || command.mode == StartMode::Help) {
        std::string text;
        for (const std::wstring& unknown : command.unknown)
            text += "Unknown switch \"" + vela::WideToUtf8(unknown) + "\".\n";
        text += vela::WideToUtf8(SwitchesHelp());
        std::fputs(text.c_str(), command.unknown.empty() ? stdout : stderr);
        return command.unknown.empty() ? 0 : 2;
    }
    const StartMode mode = command.mode;
    if (mode == StartMode::Stop) return StopRunningGateway();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = 0;
    switch (mode) {
        case StartMode::ListServers:
        case StartMode::AddServer:
        case StartMode::ChangeServer:
        case StartMode::RemoveServer:
        case StartMode::ListCertificates:
        case StartMode::TrustCertificate:
            rc = RunAdminSwitch(mode, command.operands);
            break;
        default:
            rc = Run(mode);
            break;
    }
    CoUninitialize();
    return rc;
}
