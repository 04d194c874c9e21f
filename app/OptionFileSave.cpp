#include "app/OptionFileSave.h"

#include <cwctype>
#include <functional>

#include "app/OptionFileRegistry.h"
#include "base/Utf.h"

namespace vela::app {

OptionFileLock::OptionFileLock(const std::wstring& optionFile) {
    std::wstring lower = optionFile;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    // named after the file: one gateway installation does not wait for another
    const std::wstring name = L"Local\\VelaOptionFile-" + std::to_wstring(std::hash<std::wstring>{}(lower));
    mutex_ = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex_) return;
    const DWORD wait = WaitForSingleObject(mutex_, 30000);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

OptionFileLock::~OptionFileLock() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
}

std::string SaveOptionFile(const std::wstring& optionFile, const OptionFile& original,
                           const std::vector<OptionServer>& servers, int32_t httpTimeoutMs,
                           const std::wstring& exePath) {
    if (const std::string problem = ValidateServers(servers); !problem.empty()) return problem;
    for (size_t i = 0; i < servers.size(); ++i)
        if (const std::string conflict = RegistrationConflict(servers[i], exePath); !conflict.empty())
            return "Input error item " + std::to_string(i + 1) + ", server caption: " + servers[i].caption + "\r\n" +
                   conflict;
    std::string text;
    try {
        text = FormatOptionFile(servers, httpTimeoutMs, &original);
    } catch (const OptionFileError& e) {
        return e.what();
    }
    // the entries as registered now are those of the file as it is on disk
    const bool existed = GetFileAttributesW(optionFile.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (existed) UnregisterOptionFileServers(optionFile);
    try {
        WriteOptionFileBytes(optionFile, text);
    } catch (const OptionFileError& e) {
        if (existed) RegisterOptionFileServers(optionFile, exePath);  // the old list stays served
        return e.what();
    }
    if (!servers.empty() && !RegisterOptionFileServers(optionFile, exePath))
        return "The option file " + WideToUtf8(optionFile) + " was written, but not every server could be registered.";
    return {};
}

}  // namespace vela::app
