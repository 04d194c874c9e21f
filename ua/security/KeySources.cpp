#include "ua/security/KeySources.h"

#include <fstream>
#include <iterator>

#include "base/Exception.h"

#ifdef _WIN32
#include <windows.h>

#include "base/Utf.h"
#endif

namespace vela::ua::security {
namespace {

std::string WithExtension(const std::string& path, const std::string& extension) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

}  // namespace

Bytes ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Exception("Could not read the file: " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void TuaKeypair::LoadCertificateFromFile(const std::string& baseName) {
    LoadPrivateKeyFromFile(WithExtension(baseName, ".pem"));
    LoadPublicKeyFromFile(WithExtension(baseName, ".der"));
}

void TuaKeypair::LoadPrivateKeyFromFile(const std::string& path) { fPrivateKey = ReadWholeFile(path); }
void TuaKeypair::LoadPublicKeyFromFile(const std::string& path) { fPublicKey = ReadWholeFile(path); }

std::optional<Bytes> ExecutableResource(const std::string& name) {
#ifdef _WIN32
    const std::wstring wide = Utf8ToWide(name);
    HRSRC resource = FindResourceW(nullptr, wide.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!resource) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const DWORD size = SizeofResource(nullptr, resource);
    const auto* data = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    if (!data) return std::nullopt;
    return Bytes(data, data + size);
#else
    (void)name;
    return std::nullopt;
#endif
}

Bytes LoadIdentityFile(const std::string& reference) {
    static const std::string kPrefix = "RES:\\";
    if (reference.rfind(kPrefix, 0) == 0) {
        if (auto data = ExecutableResource(reference.substr(kPrefix.size()))) return *data;
        throw Exception("Resource file not found: " + reference);
    }
    return ReadWholeFile(reference);
}

ClientKeyMaterial FindClientKeyMaterial(const std::function<std::optional<ClientKeyMaterial>()>& handler,
                                        const TuaKeypair& keypair) {
    if (handler) {
        if (auto supplied = handler(); supplied && !supplied->privateKey.empty() && !supplied->certificate.empty())
            return *supplied;
    }
    auto key = ExecutableResource("VelaPrivateKey");
    auto certificate = ExecutableResource("VelaPublicCertificate");
    if (key && certificate) return {std::move(*key), std::move(*certificate)};
    if (keypair.IsEmpty()) throw Exception("OPC UA security: public or private key not defined");
    return {keypair.fPrivateKey, keypair.fPublicKey};
}

}  // namespace vela::ua::security
