#pragma once
// Entries of a COM local-server class in the registry (HKCR, or the user's classes).
#include <windows.h>

#include <string>

namespace vela::app {

struct ServerClassEntry {
    CLSID clsid;
    std::wstring progId;
    std::wstring caption;
};

// Both return a Win32 error code (ERROR_SUCCESS when done).
LONG RegisterLocalServer(const ServerClassEntry& entry, const std::wstring& exePath, bool perUser);
LONG UnregisterLocalServer(const ServerClassEntry& entry, bool perUser);

std::wstring GuidText(REFGUID guid);

}  // namespace vela::app
