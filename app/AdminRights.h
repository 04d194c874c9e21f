#pragma once
// Whether the process may change what all users share (the option file beside the executable,
// HKEY_CLASSES_ROOT), and the restart with raised rights when it may not.
#include <windows.h>

#include <string>

namespace vela::app {

// Probes by writing and deleting a value under HKLM\...\Winlogon.
bool HasAdminRights();
// Starts the executable again with the verb "runas": 1 started, 2 cancelled by the user, 3
// failed (the system's text is shown, titled "Start program").
int RestartAsAdmin(HWND parent, const std::wstring& parameters = {});
// 1 with the rights; else asks whether to restart with them: 2 "No", 8 restarted (this
// instance is told to end), or RestartAsAdmin's result.
int EnsureAdminRights(HWND parent, const std::wstring& message = {}, const std::wstring& caption = {});

}  // namespace vela::app
