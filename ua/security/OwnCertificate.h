#pragma once
// The application's own certificate in its store's own/ folder: made on first use (RSA 2048,
// self-signed, SHA-256) and made again when the one there no longer serves.
#include <string>

#include "ua/security/CertificateStore.h"

namespace vela::ua::security {

struct TOwnCertificate {
    Bytes certificate;       // DER
    Bytes privateKey;        // PEM
    std::string certificatePath, keyPath;  // UTF-8
    bool made = false;       // true when this call made it
};

struct TOwnCertificateRequest {
    std::string applicationName;  // the subject's common name, and the files' name
    std::string applicationUri;
    std::string hostName;         // in the subject alternative name, with "localhost"
};

// own/certs/<name>.der and own/private/<name>.pem; a new pair when either is missing, does not
// load, does not belong to the other, names another application URI or is within a day of its
// end. The key file is readable by its owner only where the file system has such permissions.
TOwnCertificate LoadOrCreateOwnCertificate(const TCertificateStore& store, const TOwnCertificateRequest& request);

}  // namespace vela::ua::security
