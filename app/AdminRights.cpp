#include "app/AdminRights.h"

#include <shellapi.h>

#include "app/OptionFileRegistry.h"
#include "app/UserMessages.h"

namespace vela::app {

bool HasAdminRights() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 0, KEY_WRITE,
                      &key) != ERROR_SUCCESS)
        return false;
    static constexpr wchar_t kProbe[] = L"harrow";
    const bool written = RegSetValueExW(key, L"harrow2008", 0, REG_SZ, reinterpret_cast<const BYTE*>(kProbe),
                                        sizeof(kProbe)) == ERROR_SUCCESS;
    if (written) RegDeleteValueW(key, L"harrow2008");
    RegCloseKey(key);
    return written;
}

int RestartAsAdmin(HWND parent, const std::wstring& parameters) {
    const std::wstring exe = ExecutablePath();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = parent ? parent : MainWindow();
    info.lpVerb = L"runas";
    info.lpFile = exe.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return 1;
    const DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) return 2;
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    ShowError(text ? text : L"error " + std::to_wstring(error), L"Start program", info.hwnd);
    if (text) LocalFree(text);
    return 3;
}

int EnsureAdminRights(HWND parent, const std::wstring& message, const std::wstring& caption) {
    if (HasAdminRights()) return 1;
    const std::wstring text = (message.empty() ? L"You will need administrator rights to call this function!" : message) +
                              L"\n\rDo you want to restart the program with administrator rights?";
    if (AskYesNo(text, caption.empty() ? kApplicationTitle : caption, MB_ICONQUESTION, parent) != IDYES) return 2;
    const int restarted = RestartAsAdmin(parent);
    if (restarted != 1) return restarted;
    TerminateApplication();
    return 8;
}

}  // namespace vela::app
