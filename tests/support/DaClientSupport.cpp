#include "tests/support/DaClientSupport.h"

#include <tlhelp32.h>

#include <cstdio>

namespace vela::da_client {

void PumpFor(DWORD ms) { PumpUntil([] { return false; }, ms); }

std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {
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

bool StartProcess(const std::wstring& exe, const wchar_t* arguments, PROCESS_INFORMATION& process) {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    process = PROCESS_INFORMATION{};
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process);
}

bool FinishProcess(PROCESS_INFORMATION& process, DWORD timeoutMs, DWORD& exitCode) {
    PumpUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs);
    DWORD code = STILL_ACTIVE;
    if (!GetExitCodeProcess(process.hProcess, &code)) code = STILL_ACTIVE;
    exitCode = code;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    process = PROCESS_INFORMATION{};
    return code != STILL_ACTIVE;
}

bool RunAndWait(const std::wstring& exe, const wchar_t* arguments, DWORD timeoutMs, DWORD& exitCode) {
    exitCode = STILL_ACTIVE;
    PROCESS_INFORMATION process{};
    if (!StartProcess(exe, arguments, process)) return false;
    return FinishProcess(process, timeoutMs, exitCode);
}

ProxyStubRegistration RegisterProxyStub(const std::wstring& proxyDll) {
    ProxyStubRegistration result;
    HMODULE proxy = LoadLibraryW(proxyDll.c_str());
    if (!proxy) {
        result.loadError = GetLastError();
        return result;
    }
    result.loaded = true;
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    auto registerServer =
        reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(proxy, "DllRegisterServer")));
    result.hr = registerServer ? registerServer() : E_FAIL;
    return result;
}

bool RegisterGateway(const std::wstring& gatewayExe, DWORD& exitCode) {
    return RunAndWait(gatewayExe, L"/RegServer", 30000, exitCode);
}

std::string Narrow(const wchar_t* text) {
    if (!text) return "(null)";
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string narrow(static_cast<size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::string Narrow(const std::wstring& text) { return Narrow(text.c_str()); }

std::string HrText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

HRESULT CreateServerByProgId(const wchar_t* progId, REFIID riid, void** object) {
    CLSID clsid{};
    const HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, riid, object);
}

}  // namespace vela::da_client
