#include "ua/security/OwnCertificate.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "base/Exception.h"
#include "ua/security/CertificateBuilder.h"
#include "ua/security/KeyGeneration.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vela::ua::security {
namespace fs = std::filesystem;
namespace {

constexpr double kYears = 365.25;

std::string FileStem(const std::string& name) {
    std::string stem;
    for (char c : name)
        stem += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
    return stem.empty() ? std::string("application") : stem;
}

Bytes ReadIfThere(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The key is written owner-only from its first byte: no moment when others could read it.
void WriteKey(const fs::path& path, const std::string& pem) {
#ifdef _WIN32
    // A protected DACL: the owner, SYSTEM and the administrators only, nothing inherited from a
    // folder such as Program Files, where every user may read.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)(A;;FA;;;SY)(A;;FA;;;BA)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        throw Exception("Cannot write file: " + Utf8FromPath(path));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) throw Exception("Cannot write file: " + Utf8FromPath(path));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, pem.data(), static_cast<DWORD>(pem.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != pem.size()) throw Exception("Cannot write file: " + Utf8FromPath(path));
#else
    std::error_code ignored;
    fs::remove(path, ignored);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0600);
    if (fd < 0) throw Exception("Cannot write file: " + Utf8FromPath(path));
    size_t written = 0;
    while (written < pem.size()) {
        const ssize_t n = ::write(fd, pem.data() + written, pem.size() - written);
        if (n <= 0) {
            ::close(fd);
            throw Exception("Cannot write file: " + Utf8FromPath(path));
        }
        written += static_cast<size_t>(n);
    }
    ::close(fd);
#endif
}

void WriteCertificate(const fs::path& path, const Bytes& der) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
    if (!out.flush()) throw Exception("Cannot write file: " + Utf8FromPath(path));
}

bool StillServes(const Bytes& der, const Bytes& pem, const TOwnCertificateRequest& request) {
    if (der.empty() || pem.empty()) return false;
    try {
        const TX509Certificate certificate = TX509Certificate::Load(der);
        const TRSAPrivateKey key = LoadPrivateKey(pem);
        return certificate.fPublicKey.fModulus == key.fModulus &&
               certificate.fPublicKey.fpublicExponent == key.fpublicExponent &&
               certificate.ApplicationUri() == request.applicationUri && certificate.notAfter - 1 > NowUtc();
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace

TOwnCertificate LoadOrCreateOwnCertificate(const TCertificateStore& store, const TOwnCertificateRequest& request) {
    store.Create();
    const std::string stem = FileStem(request.applicationName);
    TOwnCertificate own;
    const fs::path certificatePath = PathFromUtf8(store.Folder(TStoreFolder::OwnCerts)) / (stem + ".der");
    const fs::path keyPath = PathFromUtf8(store.Folder(TStoreFolder::OwnPrivate)) / (stem + ".pem");
    own.certificatePath = Utf8FromPath(certificatePath);
    own.keyPath = Utf8FromPath(keyPath);
    own.certificate = ReadIfThere(certificatePath);
    own.privateKey = ReadIfThere(keyPath);
    if (StillServes(own.certificate, own.privateKey, request)) return own;

    // what was there is kept aside, not lost: it may be a pair someone put there by hand
    for (const fs::path& old : {certificatePath, keyPath}) {
        std::error_code ignored;
        if (fs::exists(old, ignored)) fs::rename(old, fs::path(old) += ".old", ignored);
    }
    const TRSAPrivateKey key = GenerateRsaKey(2048);
    TCertificateRequest wanted;
    wanted.commonName = request.applicationName;
    wanted.applicationUri = request.applicationUri;
    if (!request.hostName.empty()) wanted.dnsNames.push_back(request.hostName);
    if (request.hostName != "localhost") wanted.dnsNames.push_back("localhost");
    wanted.ipAddresses.push_back("127.0.0.1");
    wanted.notBefore = NowUtc() - 1;  // a peer whose clock runs a little behind still takes it
    wanted.notAfter = NowUtc() + 10 * kYears;
    own.certificate = CreateSelfSignedCertificate(key, wanted);
    const std::string pem = PrivateKeyToPem(key);
    own.privateKey.assign(pem.begin(), pem.end());
    WriteKey(keyPath, pem);
    WriteCertificate(certificatePath, own.certificate);
    own.made = true;
    return own;
}

}  // namespace vela::ua::security
