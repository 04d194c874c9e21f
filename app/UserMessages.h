#pragma once
// What the gateway tells its user: message boxes on a desktop, or lines on the standard error
// stream when nobody can answer a box (the environment variable VELA_GATEWAY_MESSAGES=stderr, set
// by scripts and tests that run the gateway unattended; questions then take their default).
#include <windows.h>

#include <string>

namespace vela::app {

inline constexpr wchar_t kApplicationTitle[] = L"Vela Ostra";

bool MessagesToStderr();
// From now on every message goes to the standard error stream (the administration switches).
void SendMessagesToStderr();

// An information box titled with the application title.
void ShowMessage(const std::wstring& text, HWND owner = nullptr);
// A box with the error icon.
void ShowError(const std::wstring& text, const std::wstring& caption, HWND owner = nullptr);
// A Yes/No question; IDYES or IDNO. Unattended it answers `unattended` and says so.
int AskYesNo(const std::wstring& text, const std::wstring& caption, UINT iconAndDefault, HWND owner = nullptr,
             int unattended = IDNO);

// The main window, once there is one: the owner of boxes without one, and the window told to
// end the program.
void SetMainWindow(HWND window);
HWND MainWindow();
// Ends the program without the question about connected clients: the main thread's message
// loop ends (a modal loop passes the request on), and the main window goes after it. Call on
// the main thread.
void TerminateApplication();

}  // namespace vela::app
