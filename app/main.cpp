// The gateway executable: a COM local server on the main thread's message loop.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Registration.h"
#include "app/SettingsFile.h"
#include "app/SkeletonServer.h"
#include "base/FileData.h"
#include "base/Utf.h"
#include "base/Win32MainThread.h"
#include "server/ComHosting.h"
#include "server/ComOPCObjFactory.h"
#include "server/VelaDataAccess.h"
#include "ua/da/UADAConnection.h"

namespace vela::app {
namespace {

constexpr UINT kIdleMessage = WM_APP + 1;
constexpr UINT_PTR kLingerTimer = 1;
constexpr UINT_PTR kWatchdogTimer = 2;
constexpr UINT_PTR kCloseGraceTimer = 3;
// Wine may still be activating a second client when the last object goes: stay a little.
constexpr UINT kLingerMs = 3000;
constexpr UINT kWatchdogMs = 60000;
constexpr UINT kCloseGraceMs = 5000;

struct GatewayState {
    StartMode mode = StartMode::Interactive;
    bool closing = false;
};

GatewayState* StateOf(HWND window) {
    return reinterpret_cast<GatewayState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool Idle() { return server::ComHosting::Instance().LiveObjects() == 0 && server::ComHosting::Instance().Locks() == 0; }

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    GatewayState* state = StateOf(window);
    switch (message) {
        case kIdleMessage:
            if (!state) return 0;
            if (state->closing) DestroyWindow(window);
            else if (state->mode == StartMode::ByCom) SetTimer(window, kLingerTimer, kLingerMs, nullptr);
            return 0;
        case WM_TIMER:
            KillTimer(window, wParam);
            if (wParam == kCloseGraceTimer || Idle()) DestroyWindow(window);
            return 0;
        case WM_CLOSE:
            // Tell every connected client, then end once they let go (or after a grace time).
            if (state && !state->closing) {
                state->closing = true;
                server::VelaDataAccess::ShutDownAll();
                if (Idle()) DestroyWindow(window);
                else SetTimer(window, kCloseGraceTimer, kCloseGraceMs, nullptr);
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

std::wstring ExePath() {
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

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
    LocalFree(argv);
    return arguments;
}

int StopRunningGateway() {
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, kMainWindowClass, nullptr);
    if (!window) {
        std::fprintf(stderr, "No running gateway found.\n");
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD wait = WAIT_OBJECT_0;
    if (process) {
        wait = WaitForSingleObject(process, kCloseGraceMs + 5000);
        CloseHandle(process);
    }
    std::printf(wait == WAIT_OBJECT_0 ? "Gateway stopped.\n" : "Gateway did not stop in time.\n");
    return wait == WAIT_OBJECT_0 ? 0 : 2;
}

// The virtual server's settings from the file beside the executable; without the file the
// server has no remote server and every client is refused.
server::VirtualServerSettings LoadSettings() {
    server::VirtualServerSettings settings;
    settings.ClassId = kSkeletonClsid;
    settings.ProgId = kSkeletonProgId;
    settings.Caption = kSkeletonCaption;
    settings.XMLWaittime = "5000";
    settings.XMLHoldtime = "0";
    settings.MinUpdateRate = "500";
    std::wstring path = ExePath();
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + Utf8ToWide(kSettingsFileName);
    const std::string file = WideToUtf8(path);
    if (!FileExists(file)) return settings;
    try {
        const std::vector<uint8_t> bytes = ReadWholeFile(file);
        for (const std::string& line : ApplySettingsText(std::string(bytes.begin(), bytes.end()), settings))
            std::fprintf(stderr, "%s: line not understood: %s\n", file.c_str(), line.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    return settings;
}

int Register(StartMode mode) {
    const ServerClassEntry entry{kSkeletonClsid, kSkeletonProgId, kSkeletonCaption};
    const bool perUser = mode == StartMode::RegServerPerUser || mode == StartMode::UnregServerPerUser;
    const bool add = mode == StartMode::RegServer || mode == StartMode::RegServerPerUser;
    const LONG rc = add ? RegisterLocalServer(entry, ExePath(), perUser) : UnregisterLocalServer(entry, perUser);
    if (rc != ERROR_SUCCESS) std::fprintf(stderr, "Registration failed with error %ld.\n", rc);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

int Serve(StartMode mode) {
    server::ProcessStartTime();  // taken now, once
    GatewayState state;
    state.mode = mode;

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, kMainWindowClass, kSkeletonCaption, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) {
        std::fprintf(stderr, "Cannot create the main window (error %lu).\n", GetLastError());
        return 1;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    server::ComHosting::Instance().SetOnIdle([window] { PostMessageW(window, kIdleMessage, 0, 0); });

    Win32MainThread mainThread;
    ua::RegisterUAConnection();
    auto* factory = new server::TComOPCObjFactory(LoadSettings(), &mainThread);
    DWORD cookie = 0;
    const HRESULT hr = CoRegisterClassObject(kSkeletonClsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->Release();
    if (FAILED(hr)) {
        std::fprintf(stderr, "Cannot register the class object (0x%08lx).\n", static_cast<unsigned long>(hr));
        DestroyWindow(window);
        return 1;
    }
    // Started by COM but nobody connects: do not stay forever.
    if (mode == StartMode::ByCom) SetTimer(window, kWatchdogTimer, kWatchdogMs, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    server::ComHosting::Instance().SetOnIdle(nullptr);
    CoRevokeClassObject(cookie);
    // Clients that did not let go lose their objects now, while the main thread still serves
    // the objects' threads.
    server::VelaDataAccess::DisconnectAll();
    mainThread.RunPending();
    mainThread.Close();
    return 0;
}

}  // namespace
}  // namespace vela::app

int main() {
    using namespace vela::app;
    const StartCommand command = ParseCommandLine(Arguments());
    if (!command.unknown.empty() || command.mode == StartMode::Help) {
        std::string text;
        for (const std::wstring& unknown : command.unknown)
            text += "Unknown switch \"" + vela::WideToUtf8(unknown) + "\".\n";
        text += vela::WideToUtf8(SwitchesHelp());
        SetConsoleOutputCP(CP_UTF8);
        std::fputs(text.c_str(), command.unknown.empty() ? stdout : stderr);
        return command.unknown.empty() ? 0 : 2;
    }
    const StartMode mode = command.mode;
    if (mode == StartMode::Stop) return StopRunningGateway();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = 0;
    switch (mode) {
        case StartMode::RegServer:
        case StartMode::RegServerPerUser:
        case StartMode::UnregServer:
        case StartMode::UnregServerPerUser:
            rc = Register(mode);
            break;
        default:
            rc = Serve(mode);
            break;
    }
    CoUninitialize();
    return rc;
}
