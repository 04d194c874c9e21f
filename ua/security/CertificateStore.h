#pragma once
// A certificate store on disk, in the folder layout UA applications share: own/ (this
// application's certificate and, under own/private, its key), trusted/ and issuers/ (each with
// certs/ and crl/), rejected/certs. Certificates are DER files (PEM is read too).
#include <filesystem>
#include <string>
#include <vector>

#include "ua/security/X509.h"

namespace vela::ua::security {

enum class TStoreFolder { OwnCerts, OwnPrivate, TrustedCerts, TrustedCrls, IssuerCerts, IssuerCrls, RejectedCerts };

class TCertificateStore {
public:
    TCertificateStore() = default;
    // root is UTF-8; nothing is created until needed.
    explicit TCertificateStore(const std::string& root);
    bool IsEmpty() const { return root_.empty(); }
    const std::string& Root() const { return root_; }
    std::string Folder(TStoreFolder folder) const;  // UTF-8

    // Every folder of the layout, made where missing (raises with the path on failure).
    void Create() const;
    // The certificates of a folder; unreadable files are passed over.
    std::vector<TX509Certificate> Certificates(TStoreFolder folder) const;
    // The revocation lists of a folder, as their DER bytes.
    std::vector<Bytes> RevocationLists(TStoreFolder folder) const;
    bool Contains(TStoreFolder folder, const TX509Certificate& certificate) const;
    // Writes a certificate as "<common name> [<thumbprint>].der"; its path (UTF-8).
    std::string Add(TStoreFolder folder, const TX509Certificate& certificate) const;
    // Moves a rejected certificate (by its thumbprint, hex in any case) to trusted/certs; false
    // when rejected/certs holds none with that thumbprint.
    bool TrustRejected(const std::string& thumbprint) const;

private:
    std::filesystem::path Path(TStoreFolder folder) const;
    std::string root_;
};

// The file name a store gives a certificate.
std::string StoreFileName(const TX509Certificate& certificate);
// UTF-8 text <-> file system path on every platform.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace vela::ua::security
