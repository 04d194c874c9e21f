#include "ua/security/CertificateStore.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "base/Exception.h"
#include "base/Text.h"

namespace vela::ua::security {
namespace fs = std::filesystem;
namespace {

// Stores hold a few dozen files; these bounds only keep a stray folder from costing much.
constexpr uintmax_t kLargestFile = 1 << 20;
constexpr size_t kMostFiles = 4096;

// The files of a folder with one of the extensions, in name order.
std::vector<fs::path> FilesOf(const fs::path& folder, std::initializer_list<const char*> extensions) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (files.size() == kMostFiles * 4) break;  // a folder full of strangers: the first by name are taken
        std::error_code ignored;
        if (!it->is_regular_file(ignored) || it->file_size(ignored) > kLargestFile) continue;
        const std::string extension = AsciiLower(Utf8FromPath(it->path().extension()));
        if (std::any_of(extensions.begin(), extensions.end(), [&](const char* e) { return extension == e; }))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    if (files.size() > kMostFiles) files.resize(kMostFiles);
    return files;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// DER as it is, or the first PEM block.
Bytes DerOf(const Bytes& data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    return text.find("-----BEGIN") != std::string_view::npos ? LoadPEM(data) : data;
}

void WriteFileReplacing(const fs::path& path, const Bytes& data) {
    fs::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!out.flush()) throw Exception("Cannot write file: " + Utf8FromPath(temporary));
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        throw Exception("Cannot write file: " + Utf8FromPath(path));
    }
}

}  // namespace

fs::path PathFromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string Utf8FromPath(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string StoreFileName(const TX509Certificate& certificate) {
    std::string name;
    for (char c : certificate.CommonName()) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '-' || c == '_' || c == '.';
        if (name.size() < 64) name += plain ? c : '_';
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.empty()) name = "certificate";
    return name + " [" + certificate.ThumbprintHEX() + "].der";
}

TCertificateStore::TCertificateStore(const std::string& root) : root_(root) {}

fs::path TCertificateStore::Path(TStoreFolder folder) const {
    const fs::path root = PathFromUtf8(root_);
    switch (folder) {
        case TStoreFolder::OwnCerts: return root / "own" / "certs";
        case TStoreFolder::OwnPrivate: return root / "own" / "private";
        case TStoreFolder::TrustedCerts: return root / "trusted" / "certs";
        case TStoreFolder::TrustedCrls: return root / "trusted" / "crl";
        case TStoreFolder::IssuerCerts: return root / "issuers" / "certs";
        case TStoreFolder::IssuerCrls: return root / "issuers" / "crl";
        case TStoreFolder::RejectedCerts: return root / "rejected" / "certs";
    }
    return root;
}

std::string TCertificateStore::Folder(TStoreFolder folder) const { return Utf8FromPath(Path(folder)); }

void TCertificateStore::Create() const {
    if (IsEmpty()) throw Exception("no certificate store is configured");
    for (auto folder : {TStoreFolder::OwnCerts, TStoreFolder::OwnPrivate, TStoreFolder::TrustedCerts,
                        TStoreFolder::TrustedCrls, TStoreFolder::IssuerCerts, TStoreFolder::IssuerCrls,
                        TStoreFolder::RejectedCerts}) {
        std::error_code error;
        fs::create_directories(Path(folder), error);
        if (error) throw Exception("Cannot create the folder " + Folder(folder) + ": " + error.message());
    }
    std::error_code ignored;  // the key folder is the owner's alone where the file system says so
    fs::permissions(Path(TStoreFolder::OwnPrivate), fs::perms::owner_all, fs::perm_options::replace, ignored);
}

std::vector<TX509Certificate> TCertificateStore::Certificates(TStoreFolder folder) const {
    std::vector<TX509Certificate> certificates;
    if (IsEmpty()) return certificates;
    for (const fs::path& file : FilesOf(Path(folder), {".der", ".cer", ".crt", ".pem"})) {
        try {
            certificates.push_back(TX509Certificate::Load(DerOf(ReadFile(file))));
        } catch (const Exception&) {
        }
    }
    return certificates;
}

std::vector<Bytes> TCertificateStore::RevocationLists(TStoreFolder folder) const {
    std::vector<Bytes> lists;
    if (IsEmpty()) return lists;
    for (const fs::path& file : FilesOf(Path(folder), {".crl", ".der", ".pem"})) {
        try {
            lists.push_back(DerOf(ReadFile(file)));
        } catch (const Exception&) {
        }
    }
    return lists;
}

bool TCertificateStore::Contains(TStoreFolder folder, const TX509Certificate& certificate) const {
    for (const TX509Certificate& stored : Certificates(folder))
        if (stored.fRawData == certificate.fRawData) return true;
    return false;
}

std::string TCertificateStore::Add(TStoreFolder folder, const TX509Certificate& certificate) const {
    Create();
    if (folder == TStoreFolder::RejectedCerts) {
        // servers that change their certificate on every connect must not fill the disk: the
        // oldest refusals go first
        constexpr size_t kMostRejected = 100;
        std::vector<std::pair<fs::file_time_type, fs::path>> kept;
        std::error_code error;
        for (fs::directory_iterator it(Path(folder), error), end; !error && it != end; it.increment(error)) {
            std::error_code ignored;
            kept.emplace_back(it->last_write_time(ignored), it->path());
        }
        std::sort(kept.begin(), kept.end());
        for (size_t i = 0; i + kMostRejected <= kept.size(); ++i) {
            std::error_code ignored;
            fs::remove(kept[i].second, ignored);
        }
    }
    const fs::path path = Path(folder) / PathFromUtf8(StoreFileName(certificate));
    WriteFileReplacing(path, certificate.fRawData);
    return Utf8FromPath(path);
}

bool TCertificateStore::TrustRejected(const std::string& thumbprint) const {
    std::string wanted;
    for (char c : thumbprint)
        if (std::isxdigit(static_cast<unsigned char>(c))) wanted += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (wanted.empty()) return false;
    for (const fs::path& file : FilesOf(Path(TStoreFolder::RejectedCerts), {".der", ".cer", ".crt", ".pem"})) {
        try {
            const TX509Certificate certificate = TX509Certificate::Load(DerOf(ReadFile(file)));
            if (certificate.ThumbprintHEX() != wanted) continue;
            Add(TStoreFolder::TrustedCerts, certificate);
            std::error_code ignored;
            fs::remove(file, ignored);
            return true;
        } catch (const Exception&) {
        }
    }
    return false;
}

}  // namespace vela::ua::security
