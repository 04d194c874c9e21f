#pragma once
// Where the client's certificate and private key come from, and the files of user identities.
#include <functional>
#include <optional>
#include <string>

#include "ua/security/Hash.h"

namespace vela::ua::security {

// A certificate and private key kept as the raw file contents.
struct TuaKeypair {
    std::string fPassword;
    Bytes fPublicKey;   // the certificate
    Bytes fPrivateKey;  // the private key
    bool IsEmpty() const { return fPublicKey.empty() || fPrivateKey.empty(); }
    // The key from the base name with the extension ".pem", the certificate with ".der".
    void LoadCertificateFromFile(const std::string& baseName);
    void LoadPrivateKeyFromFile(const std::string& path);
    void LoadPublicKeyFromFile(const std::string& path);
};

enum class TuaSecurityUser { Anonymous, UserName, Certificate, IssuedToken, Kerberos };

struct TuaUserLogin {
    TuaSecurityUser fLoginMode = TuaSecurityUser::Anonymous;
    std::string fUsername, fPassword, fEncodetype, fDatafile;
    TuaKeypair fKeypair;
};

// A file read whole; raises "Could not read the file: <path>".
Bytes ReadWholeFile(const std::string& path);
// "RES:\name" names a raw-data resource of the executable ("Resource file not found: " and the
// reference when there is none); anything else is a file path.
Bytes LoadIdentityFile(const std::string& reference);
// A raw-data resource of the executable, or nothing (always nothing outside Windows).
std::optional<Bytes> ExecutableResource(const std::string& name);

struct ClientKeyMaterial {
    Bytes privateKey;
    Bytes certificate;
};

// The client's key and certificate: from the handler when it supplies both, else from the
// resources "VelaPrivateKey" and "VelaPublicCertificate" when both exist, else from the key
// pair; raises "OPC UA security: public or private key not defined" when none has them.
ClientKeyMaterial FindClientKeyMaterial(const std::function<std::optional<ClientKeyMaterial>()>& handler,
                                        const TuaKeypair& keypair);

}  // namespace vela::ua::security
