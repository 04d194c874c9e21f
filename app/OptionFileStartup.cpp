#include "app/OptionFileStartup.h"

#include <windows.h>

#include "app/AdminRights.h"
#include "app/OptionFileRegistry.h"
#include "app/UserMessages.h"
#include "base/Utf.h"
#include "xml/HttpProcessState.h"

namespace vela::app {

bool ApplyPendingOptionFile(const std::wstring& optionFile, const std::wstring& pendingFile,
                            const std::wstring& exePath) {
    if (GetFileAttributesW(pendingFile.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    // What replaces a working file must be one.
    try {
        const std::optional<std::string> bytes = ReadOptionFileBytes(pendingFile);
        if (!bytes) return false;
        // every check the start with it would make
        const OptionFile pending = ParseOptionFile(*bytes, OptionReader::StartUp);
        if (pending.timeout) OptionNumber(*pending.timeout);
        if (const std::string error = ValidateServers(pending.servers); !error.empty()) throw OptionFileError(error);
    } catch (const OptionFileError& e) {
        ShowError(L"The new option file " + pendingFile + L" is not applied:\r\n" + Utf8ToWide(e.what()),
                  L"Option file");
        return false;
    }
    const int rights = EnsureAdminRights(nullptr,
                                         L"New option file created. You will need administrator rights to call this "
                                         L"function.");
    if (rights == 8) return true;
    if (rights != 1) return false;
    UnregisterOptionFileServers(optionFile);
    if (!MoveFileExW(pendingFile.c_str(), optionFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ShowError(L"The new option file " + pendingFile + L" could not replace " + optionFile + L" (error " +
                      std::to_wstring(GetLastError()) + L").",
                  L"Option file");
        RegisterOptionFileServers(optionFile, exePath);  // the old list stays served
        return true;
    }
    RegisterOptionFileServers(optionFile, exePath);
    return true;
}

StartupOptionFile LoadOptionFile(const std::wstring& exePath) {
    StartupOptionFile result;
    const std::wstring optionFile = Utf8ToWide(OptionFilePath(WideToUtf8(exePath)));
    const std::wstring pendingFile = Utf8ToWide(PendingOptionFilePath(WideToUtf8(exePath)));
    if (ApplyPendingOptionFile(optionFile, pendingFile, exePath)) {
        result.endProcess = true;
        return result;
    }
    const std::optional<std::string> bytes = ReadOptionFileBytes(optionFile);
    if (!bytes) return result;
    OptionFile file;
    try {
        file = ParseOptionFile(*bytes, OptionReader::StartUp);
        if (file.timeout) xml::SetHttpTimeoutSetting(OptionNumber(*file.timeout));
    } catch (const OptionFileError& e) {
        throw OptionFileError(WideToUtf8(optionFile) + ": " + e.what());
    }
    result.file = std::move(file);
    return result;
}

}  // namespace vela::app
