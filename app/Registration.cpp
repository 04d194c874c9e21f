#include "app/Registration.h"

#include <objbase.h>

namespace vela::app {
namespace {

LONG SetText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc;
}

void RootAndPrefix(bool perUser, HKEY& root, std::wstring& prefix) {
    root = perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
    prefix = perUser ? L"Software\\Classes\\" : L"";
}

}  // namespace

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

LONG RegisterLocalServer(const ServerClassEntry& entry, const std::wstring& exePath, bool perUser) {
    HKEY root;
    std::wstring prefix;
    RootAndPrefix(perUser, root, prefix);
    const std::wstring clsidKey = prefix + L"CLSID\\" + GuidText(entry.clsid);
    const std::wstring progIdKey = prefix + entry.progId;
    for (LONG rc : {SetText(root, clsidKey, nullptr, entry.caption),
                    SetText(root, clsidKey + L"\\LocalServer32", nullptr, L"\"" + exePath + L"\""),
                    SetText(root, clsidKey + L"\\ProgID", nullptr, entry.progId),
                    SetText(root, progIdKey, nullptr, entry.caption),
                    SetText(root, progIdKey + L"\\CLSID", nullptr, GuidText(entry.clsid))})
        if (rc != ERROR_SUCCESS) return rc;
    return ERROR_SUCCESS;
}

LONG UnregisterLocalServer(const ServerClassEntry& entry, bool perUser) {
    HKEY root;
    std::wstring prefix;
    RootAndPrefix(perUser, root, prefix);
    const LONG a = RegDeleteTreeW(root, (prefix + L"CLSID\\" + GuidText(entry.clsid)).c_str());
    const LONG b = RegDeleteTreeW(root, (prefix + entry.progId).c_str());
    if (a != ERROR_SUCCESS && a != ERROR_FILE_NOT_FOUND) return a;
    if (b != ERROR_SUCCESS && b != ERROR_FILE_NOT_FOUND) return b;
    return ERROR_SUCCESS;
}

}  // namespace vela::app
