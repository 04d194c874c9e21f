#include "app/UserMessages.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Utf.h"

namespace vela::app {
namespace {

std::atomic<HWND> mainWindow{nullptr};
std::atomic<bool> toStderr{false};

void ToStderr(const std::wstring& caption, const std::wstring& text) {
    std::string line = WideToUtf8(caption.empty() ? std::wstring(kApplicationTitle) : caption) + ": " + WideToUtf8(text);
    for (char& c : line)
        if (c == '\r') c = ' ';
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

HWND OwnerOr(HWND owner) { return owner ? owner : mainWindow.load(); }

}  // namespace

void SendMessagesToStderr() { toStderr.store(true); }

bool MessagesToStderr() {
    if (toStderr.load()) return true;
    const char* value = std::getenv("VELA_GATEWAY_MESSAGES");
    return value && std::strcmp(value, "stderr") == 0;
}

void ShowMessage(const std::wstring& text, HWND owner) {
    if (MessagesToStderr()) return ToStderr(kApplicationTitle, text);
    MessageBoxW(OwnerOr(owner), text.c_str(), kApplicationTitle, MB_OK | MB_ICONINFORMATION);
}

void ShowError(const std::wstring& text, const std::wstring& caption, HWND owner) {
    if (MessagesToStderr()) return ToStderr(caption, text);
    MessageBoxW(OwnerOr(owner), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

int AskYesNo(const std::wstring& text, const std::wstring& caption, UINT iconAndDefault, HWND owner, int unattended) {
    if (MessagesToStderr()) {
        ToStderr(caption, text + (unattended == IDYES ? L" (answered Yes)" : L" (answered No)"));
        return unattended;
    }
    return MessageBoxW(OwnerOr(owner), text.c_str(), caption.c_str(), MB_YESNO | iconAndDefault);
}

void SetMainWindow(HWND window) { mainWindow.store(window); }
HWND MainWindow() { return mainWindow.load(); }

void TerminateApplication() { PostQuitMessage(0); }

}  // namespace vela::app
