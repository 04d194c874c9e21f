// The proxy DLL's tables are declared for C only.
#define CINTERFACE
#include "app/ProxyRegistration.h"

#include <windows.h>
#include <objbase.h>
#include <rpcproxy.h>

#include <optional>

#include "base/Utf.h"

namespace vela::app {
namespace {

// The interfaces this registration wrote, kept on the factory's own class key.
constexpr wchar_t kOwnedValue[] = L"VelaRegisteredInterfaces";

using GetProxyDllInfoFn = void(STDAPICALLTYPE*)(const ProxyFileInfo***, const CLSID**);

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::optional<std::wstring> ReadText(const std::wstring& path, const wchar_t* name = nullptr) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, text.data(),
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

bool WriteValue(const std::wstring& path, const wchar_t* name, DWORD type, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const bool done = RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
                      ERROR_SUCCESS;
    RegCloseKey(key);
    return done;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    const auto strip = [](std::wstring path) {
        if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
        return path;
    };
    return CompareStringOrdinal(strip(a).c_str(), -1, strip(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

struct ProxyInterface {
    std::wstring iid;
    std::wstring name;
    unsigned long methods = 0;
};

struct ProxyDll {
    HMODULE module = nullptr;
    std::wstring factoryClsid;
    std::vector<ProxyInterface> interfaces;
    ~ProxyDll() {
        if (module) FreeLibrary(module);
    }
};

// What the DLL marshals, from its own tables.
bool Inspect(const std::wstring& dllPath, ProxyDll& dll, std::string& error) {
    dll.module = LoadLibraryW(dllPath.c_str());
    if (!dll.module) {
        error = "cannot load " + WideToUtf8(dllPath) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const auto info = reinterpret_cast<GetProxyDllInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(dll.module, "GetProxyDllInfo")));
    if (!info) {
        error = WideToUtf8(dllPath) + " is no proxy/stub DLL";
        return false;
    }
    const ProxyFileInfo** files = nullptr;
    const CLSID* clsid = nullptr;
    info(&files, &clsid);
    for (; files && *files; ++files)
        for (unsigned short i = 0; i < (*files)->TableSize; ++i) {
            const CInterfaceStubVtbl* stub = (*files)->pStubVtblList[i];
            ProxyInterface entry;
            entry.iid = GuidText(*stub->header.piid);
            entry.name = Utf8ToWide((*files)->pNamesArray[i]);
            entry.methods = stub->header.DispatchTableCount;
            dll.interfaces.push_back(std::move(entry));
        }
    if (dll.interfaces.empty()) {
        error = WideToUtf8(dllPath) + " marshals no interface";
        return false;
    }
    // without a class id of its own the DLL's factory goes by its first interface's id
    dll.factoryClsid = clsid ? GuidText(*clsid) : dll.interfaces.front().iid;
    return true;
}

}  // namespace

std::wstring GatewayProxyDllPath(const std::wstring& exePath) {
    return exePath.substr(0, exePath.find_last_of(L"\\/") + 1) + L"opcda_ps.dll";
}

ProxyRegistration RegisterProxyDll(const std::wstring& dllPath) {
    ProxyRegistration result;
    ProxyDll dll;
    if (!Inspect(dllPath, dll, result.error)) return result;
    const std::wstring factoryKey = L"CLSID\\" + dll.factoryClsid;
    // The factory's class id may be another DLL's (one built from the same definitions): then
    // that DLL serves every interface.
    if (const auto server = ReadText(factoryKey + L"\\InprocServer32"); server && !SameFile(*server, dllPath)) {
        for (const ProxyInterface& entry : dll.interfaces) result.kept.push_back(entry.name);
        result.done = true;
        return result;
    }
    bool all = WriteValue(factoryKey, nullptr, REG_SZ, L"PSFactoryBuffer") &&
               WriteValue(factoryKey + L"\\InprocServer32", nullptr, REG_SZ, dllPath) &&
               WriteValue(factoryKey + L"\\InprocServer32", L"ThreadingModel", REG_SZ, L"Both");
    std::wstring owned;  // REG_MULTI_SZ: the ids, each ended by a null
    for (const ProxyInterface& entry : dll.interfaces) {
        const std::wstring key = L"Interface\\" + entry.iid;
        const auto current = ReadText(key + L"\\ProxyStubClsid32");
        if (current && CompareStringOrdinal(current->c_str(), -1, dll.factoryClsid.c_str(), -1, TRUE) != CSTR_EQUAL) {
            result.kept.push_back(entry.name);
            continue;
        }
        all = WriteValue(key, nullptr, REG_SZ, entry.name) &&
              WriteValue(key + L"\\ProxyStubClsid32", nullptr, REG_SZ, dll.factoryClsid) &&
              WriteValue(key + L"\\NumMethods", nullptr, REG_SZ, std::to_wstring(entry.methods)) && all;
        result.registered.push_back(entry.name);
        owned += entry.iid;
        owned.push_back(L'\0');
    }
    all = WriteValue(factoryKey, kOwnedValue, REG_MULTI_SZ, owned) && all;
    result.done = all;
    if (!all) result.error = "not every registry entry of " + WideToUtf8(dllPath) + " could be written";
    return result;
}

ProxyRegistration UnregisterProxyDll(const std::wstring& dllPath) {
    ProxyRegistration result;
    ProxyDll dll;
    if (!Inspect(dllPath, dll, result.error)) return result;
    const std::wstring factoryKey = L"CLSID\\" + dll.factoryClsid;
    const auto server = ReadText(factoryKey + L"\\InprocServer32");
    if (!server || !SameFile(*server, dllPath)) {
        result.done = true;  // nothing of ours is there
        return result;
    }
    const std::wstring owned = ReadText(factoryKey, kOwnedValue).value_or(L"");
    for (const ProxyInterface& entry : dll.interfaces) {
        const std::wstring key = L"Interface\\" + entry.iid;
        const auto current = ReadText(key + L"\\ProxyStubClsid32");
        const bool ours = owned.find(entry.iid) != std::wstring::npos && current &&
                          CompareStringOrdinal(current->c_str(), -1, dll.factoryClsid.c_str(), -1, TRUE) == CSTR_EQUAL;
        if (!ours) {
            result.kept.push_back(entry.name);
            continue;
        }
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
        result.registered.push_back(entry.name);
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, factoryKey.c_str());
    result.done = true;
    return result;
}

}  // namespace vela::app
