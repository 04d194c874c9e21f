#include "app/TaskBarForm.h"

#include <shellapi.h>

#include "app/resource.h"

namespace vela::app {
namespace {

constexpr UINT kTrayIconId = 1;
constexpr UINT kTrayRetryMs = 1000;
constexpr int kTrayRetries = 30;

NOTIFYICONDATAW IconData(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

}  // namespace

AppIcon::AppIcon(int width, int height)
    : owned_(static_cast<HICON>(
          LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_GATEWAY), IMAGE_ICON, width, height, 0))) {
    if (!owned_) shared_ = LoadIconW(nullptr, IDI_APPLICATION);
}

TTaskBarForm::TTaskBarForm()
    : FIcon(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)),
      taskbarCreated_(RegisterWindowMessageW(L"TaskbarCreated")) {}

TTaskBarForm::~TTaskBarForm() {
    if (FHandle) {
        RemoveTrayIcon();
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
}

bool TTaskBarForm::CreateForm(const wchar_t* className, const wchar_t* caption, int clientWidth, int clientHeight) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    if (!GetClassInfoExW(instance, className, &windowClass)) {
        windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &TTaskBarForm::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = className;
        // the class keeps these for the process's life: shared copies, never destroyed
        windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_GATEWAY), IMAGE_ICON, 0, 0,
                                                          LR_DEFAULTSIZE | LR_SHARED));
        windowClass.hIconSm = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(IDI_GATEWAY), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                       GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (!RegisterClassExW(&windowClass)) return false;
    }
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const HWND window = CreateWindowExW(0, className, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                        instance, this);
    return window != nullptr;
}

bool TTaskBarForm::AddTrayIcon(const std::wstring& tip) {
    tip_ = tip;
    trayRetries_ = 0;
    if (ShowTrayIcon()) return true;
    SetTimer(FHandle, kTrayRetryTimer, kTrayRetryMs, nullptr);
    return false;
}

bool TTaskBarForm::ShowTrayIcon() {
    NOTIFYICONDATAW data = IconData(FHandle);
    data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = FIcon.get();
    lstrcpynW(data.szTip, tip_.c_str(), ARRAYSIZE(data.szTip));
    iconShown_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return iconShown_;
}

void TTaskBarForm::RemoveTrayIcon() {
    if (!iconShown_) return;
    NOTIFYICONDATAW data = IconData(FHandle);
    Shell_NotifyIconW(NIM_DELETE, &data);
    iconShown_ = false;
}

void TTaskBarForm::ShowForm() {
    if (FNeverShow || !FHandle) return;
    if (FFirstVisible) {
        FFirstVisible = false;
        RECT window{}, work{};
        GetWindowRect(FHandle, &window);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int width = window.right - window.left, height = window.bottom - window.top;
        SetWindowPos(FHandle, nullptr, work.left + (work.right - work.left - width) / 2,
                     work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    ShowWindow(FHandle, IsIconic(FHandle) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(FHandle);
}

void TTaskBarForm::HideForm() {
    if (FHandle) ShowWindow(FHandle, SW_HIDE);
}

HWND TTaskBarForm::OwnedPopup() const {
    struct Search {
        HWND owner;
        HWND found;
    } search{FHandle, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window)) s->found = window;
            return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.found) return nullptr;
    // a box the dialog opened belongs in front of the dialog
    const HWND last = GetLastActivePopup(search.found);
    return last && IsWindowVisible(last) ? last : search.found;
}

void TTaskBarForm::BringToFront() {
    if (const HWND popup = OwnedPopup()) SetForegroundWindow(popup);
    else if (IsWindowVisible(FHandle)) SetForegroundWindow(FHandle);
}

LRESULT TTaskBarForm::DefaultMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(FHandle, message, wParam, lParam);
}

LRESULT TTaskBarForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // a restarted shell has forgotten every icon
        iconShown_ = false;
        AddTrayIcon(tip_);
        return 0;
    }
    switch (message) {
        case WM_TIMER:
            if (wParam != kTrayRetryTimer) break;
            if (ShowTrayIcon() || ++trayRetries_ >= kTrayRetries) KillTimer(FHandle, kTrayRetryTimer);
            return 0;
        case kTrayMessage:
            switch (LOWORD(lParam)) {
                case WM_LBUTTONDBLCLK:
                    TrayDoubleClick();
                    break;
                case WM_RBUTTONUP:
                case WM_CONTEXTMENU:
                    TrayContextMenu();
                    break;
                default:
                    break;
            }
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MINIMIZE) {
                HideForm();
                return 0;
            }
            break;
        case WM_CLOSE:
            if (!ProgramExit) {
                HideForm();
                return 0;
            }
            FCanClose = CloseQuery();
            if (FCanClose) DestroyWindow(FHandle);
            else ProgramExit = false;
            return 0;
        case WM_DESTROY:
            KillTimer(FHandle, kTrayRetryTimer);
            RemoveTrayIcon();
            FormDestroyed();
            return 0;
        default:
            break;
    }
    return DefaultMessage(message, wParam, lParam);
}

LRESULT CALLBACK TTaskBarForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TTaskBarForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TTaskBarForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // nothing may unwind through the system's code
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace vela::app
