#include "base/FileData.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/Exception.h"
#include "base/Utf.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vela {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
#ifdef _WIN32
    std::ifstream in(Utf8ToWide(path).c_str(), std::ios::binary);
#else
    std::ifstream in(path, std::ios::binary);
#endif
    if (!in) throw Exception("Cannot read file: " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) {
    std::error_code error;
    const std::u8string text(reinterpret_cast<const char8_t*>(path.data()), path.size());
    return !path.empty() && std::filesystem::exists(std::filesystem::path(text), error);
}

std::optional<std::vector<uint8_t>> FindRawResource(const std::string& name) {
#ifdef _WIN32
    const std::wstring wide = Utf8ToWide(name);
    HRSRC found = FindResourceW(nullptr, wide.c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return std::nullopt;
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(nullptr, found));
#else
    (void)name;
    return std::nullopt;
#endif
}

}  // namespace vela
