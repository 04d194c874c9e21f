#pragma once
// Whether the client trusts a server's certificate: judged against the client's certificate
// store; an unknown one is put in the store's rejected folder for the user to trust.
#include <functional>
#include <string>
#include <vector>

#include "ua/security/CertificateValidation.h"

namespace vela::ua {

enum class TServerTrust {
    Validate,         // only what the store trusts
    TrustOnFirstUse,  // an unknown server's certificate is trusted (stored) the first time
    AcceptAny,        // no check at all: for a quick test, never for a plant
};

struct TServerTrustSettings {
    std::string store;  // the certificate store's folder (UTF-8); empty: none, nothing is trusted
    TServerTrust mode = TServerTrust::Validate;
};

// The host of a URL ("opc.tcp://host:4840/path"), without brackets for an IPv6 address.
std::string UrlHost(const std::string& url);

// Judges the certificate; raises uaConnectionException with the reason, the thumbprint and what
// to do when it is refused. log gets a line for each certificate stored; seen, where given, the
// verdict whatever it is.
security::TCertificateVerdict CheckServerCertificate(const TServerTrustSettings& settings,
                                                     const std::vector<uint8_t>& certificate,
                                                     const security::TCertificateCheckContext& context,
                                                     const std::function<void(const std::string&)>& log,
                                                     security::TCertificateVerdict* seen = nullptr);

}  // namespace vela::ua
