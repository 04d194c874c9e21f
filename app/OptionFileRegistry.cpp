#include "app/OptionFileRegistry.h"

#include <comcat.h>
#include <objbase.h>

#include "app/UserMessages.h"
#include "base/Text.h"
#include "base/Utf.h"

namespace vela::app {

const GUID CATID_OPCDAServer20 = {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

namespace {

constexpr size_t kMaxOptionFileBytes = 16u << 20;

bool SetDefaultValue(const std::wstring& path, const std::wstring* value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool done = true;
    if (value)
        done = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                              static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return done;
}

std::optional<std::wstring> DefaultValue(const std::wstring& path) {
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(text);
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

bool DeleteTree(const std::wstring& path) { return RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str()) == ERROR_SUCCESS; }

struct Names {
    CLSID clsid{};
    std::wstring clsidText, caption, name;
};

// The entry's registry names, or nothing when it must not be registered.
std::optional<Names> NamesOf(const OptionServer& server) {
    Names names;
    names.caption = Utf8ToWide(std::string(TrimBlanks(server.caption)));
    names.name = Utf8ToWide(std::string(TrimBlanks(server.name)));
    const std::string clsid(TrimBlanks(server.clsid));
    if (names.caption.empty() || !IsValidProgId(WideToUtf8(names.name)) || !IsRegistryGuid(clsid)) return std::nullopt;
    names.clsidText = Utf8ToWide(clsid);
    if (FAILED(CLSIDFromString(names.clsidText.c_str(), &names.clsid))) return std::nullopt;
    return names;
}

// The file name of a LocalServer32 command ("\"C:\\x\\gw.exe\" -Embedding" gives "gw.exe").
std::wstring CommandFileName(std::wstring command) {
    if (!command.empty() && command.front() == L'"') {
        const size_t close = command.find(L'"', 1);
        command = command.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else if (const size_t exe = command.find(L".exe"); exe != std::wstring::npos) {
        command = command.substr(0, exe + 4);
    }
    return command.substr(command.find_last_of(L"\\/") + 1);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Why the class key is another program's, or empty: an in-process component, or a local server
// that is not an executable of this name (a gateway moved to another folder stays ours).
std::wstring ForeignClass(const std::wstring& clsidText, const std::wstring& exePath) {
    const std::wstring key = L"CLSID\\" + clsidText;
    if (KeyExists(key + L"\\InprocServer32")) return L"the class id " + clsidText + L" is an in-process component's";
    const std::optional<std::wstring> server = DefaultValue(key + L"\\LocalServer32");
    if (server && !SameText(CommandFileName(*server), CommandFileName(exePath)))
        return L"the class id " + clsidText + L" is registered for " + *server;
    return {};
}

class CategoryManager {
public:
    CategoryManager() {
        CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                         reinterpret_cast<void**>(&manager_));
    }
    ~CategoryManager() {
        if (manager_) manager_->Release();
    }
    CategoryManager(const CategoryManager&) = delete;
    CategoryManager& operator=(const CategoryManager&) = delete;
    ICatRegister* operator->() const { return manager_; }
    explicit operator bool() const { return manager_ != nullptr; }

private:
    ICatRegister* manager_ = nullptr;
};

std::optional<OptionFile> ReadListed(const std::wstring& optionFile, bool reportMissing) {
    std::optional<std::string> bytes;
    try {
        bytes = ReadOptionFileBytes(optionFile);
        if (!bytes) {
            if (reportMissing) ShowMessage(L"Error: Option file: " + optionFile + L" not found");
            return std::nullopt;
        }
        return ParseOptionFile(*bytes, OptionReader::StartUp);
    } catch (const OptionFileError& e) {
        ShowMessage(L"Error: Option file: " + optionFile + L": " + Utf8ToWide(e.what()));
        return std::nullopt;
    }
}

}  // namespace

std::string RegistrationConflict(const OptionServer& server, const std::wstring& exePath) {
    const std::optional<Names> names = NamesOf(server);
    if (!names) return {};
    const std::optional<std::wstring> owner = DefaultValue(names->name + L"\\Clsid");
    if (owner && !SameText(*owner, names->clsidText))
        return "the ProgID " + WideToUtf8(names->name) + " is registered for another class, " + WideToUtf8(*owner);
    // "CLSID", "Interface", ".txt": keys of the registry's own that are no ProgID
    if (!owner && KeyExists(names->name)) return "the name " + WideToUtf8(names->name) + " is a registry key of another kind";
    return WideToUtf8(ForeignClass(names->clsidText, exePath));
}

bool RegisterOPCServer(const OptionServer& server, const std::wstring& exePath) {
    const std::optional<Names> names = NamesOf(server);
    if (!names || !RegistrationConflict(server, exePath).empty()) return false;
    const std::wstring clsidKey = L"CLSID\\" + names->clsidText;
    // quoted: a path with blanks must not be taken for a shorter program's
    const std::wstring command = L"\"" + exePath + L"\"";
    int failures = 0;
    failures += !SetDefaultValue(names->name, &names->caption);
    failures += !SetDefaultValue(names->name + L"\\Clsid", &names->clsidText);
    failures += !SetDefaultValue(names->name + L"\\OPC", nullptr);
    failures += !SetDefaultValue(clsidKey, &names->caption);
    failures += !SetDefaultValue(clsidKey + L"\\ProgID", &names->name);
    failures += !SetDefaultValue(clsidKey + L"\\LocalServer32", &command);
    failures += !SetDefaultValue(clsidKey + L"\\AppID", &names->clsidText);
    failures += !SetDefaultValue(L"AppID\\" + names->clsidText, &names->caption);
    CategoryManager categories;
    if (!categories) return false;
    // The category is every OPC server's: it is described once, not by each server's caption.
    if (!KeyExists(L"Component Categories\\" + GuidText(CATID_OPCDAServer20))) {
        CATEGORYINFO info{};
        info.catid = CATID_OPCDAServer20;
        info.lcid = GetUserDefaultLCID();
        lstrcpynW(info.szDescription, L"OPC Data Access Servers Version 2.0", 128);
        failures += FAILED(categories->RegisterCategories(1, &info));
    }
    CATID implemented = CATID_OPCDAServer20;
    failures += FAILED(categories->RegisterClassImplCategories(names->clsid, 1, &implemented));
    return failures == 0;
}

bool UnregisterOPCServer(const OptionServer& server) {
    const std::optional<Names> names = NamesOf(server);
    if (!names) return false;
    // Keys of a class that another program registered since are that program's.
    if (!ForeignClass(names->clsidText, ExecutablePath()).empty()) return false;
    if (CategoryManager categories; categories) {
        CATID implemented = CATID_OPCDAServer20;
        categories->UnRegisterClassImplCategories(names->clsid, 1, &implemented);
    }
    const std::wstring clsidKey = L"CLSID\\" + names->clsidText;
    bool all = true;
    for (const std::wstring& key : {L"AppID\\" + names->clsidText, clsidKey + L"\\LocalServer32", clsidKey + L"\\ProgID",
                                    clsidKey + L"\\AppID", clsidKey})
        all = DeleteTree(key) && all;
    // Only a ProgID that names this class is this class's: anything else is another program's.
    const std::optional<std::wstring> owner = DefaultValue(names->name + L"\\Clsid");
    if (!owner || !SameText(*owner, names->clsidText)) return false;
    for (const std::wstring& key : {names->name + L"\\OPC", names->name + L"\\Clsid", names->name})
        all = DeleteTree(key) && all;
    return all;
}

bool RegisterOptionFileServers(const std::wstring& optionFile, const std::wstring& exePath) {
    const std::optional<OptionFile> file = ReadListed(optionFile, true);
    if (!file) return false;
    int failures = 0;
    for (const OptionServer& server : file->servers) {
        if (RegisterOPCServer(server, exePath)) continue;
        ++failures;
        if (const std::string conflict = RegistrationConflict(server, exePath); !conflict.empty())
            ShowMessage(Utf8ToWide(server.name + ": " + conflict));
    }
    if (failures > 0) ShowMessage(L"Error: not possible to register all server");
    return failures == 0;
}

void UnregisterOptionFileServers(const std::wstring& optionFile) {
    if (const std::optional<OptionFile> file = ReadListed(optionFile, false))
        for (const OptionServer& server : file->servers) UnregisterOPCServer(server);
}

std::wstring ExecutablePath() {
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

std::optional<std::string> ReadOptionFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
        throw OptionFileError("cannot open " + WideToUtf8(path) + " (error " + std::to_string(error) + ")");
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    if (size.QuadPart > static_cast<LONGLONG>(kMaxOptionFileBytes)) {
        CloseHandle(file);
        throw OptionFileError(WideToUtf8(path) + " is larger than " + std::to_string(kMaxOptionFileBytes >> 20) + " MiB");
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    const bool ok = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes.size()) throw OptionFileError("cannot read " + WideToUtf8(path));
    return bytes;
}

void WriteOptionFileBytes(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw OptionFileError("cannot write " + WideToUtf8(temporary) + " (error " + std::to_string(GetLastError()) + ")");
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        throw OptionFileError("cannot write " + WideToUtf8(path) + " (error " + std::to_string(error) + ")");
    }
}

}  // namespace vela::app
