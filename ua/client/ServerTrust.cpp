#include "ua/client/ServerTrust.h"

#include <algorithm>
#include <filesystem>

#include "ua/transport/uaRequestDispatch.h"
#include "ua/uaStatusCodes.h"

namespace vela::ua {
using namespace security;

namespace {

std::string Hex32(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string Describe(const TX509Certificate& certificate) {
    const std::string name = PrintableText(certificate.CommonName());
    return "The server certificate" + (name.empty() ? std::string() : " \"" + name + "\"") + " (thumbprint " +
           certificate.ThumbprintHEX() + ")";
}

[[noreturn]] void Refuse(const TCertificateVerdict& verdict, const std::string& advice) {
    std::string text = verdict.certificate.fRawData.empty() ? std::string("The server certificate")
                                                            : Describe(verdict.certificate);
    text += " " + verdict.reason + " (" + Hex32(verdict.status) + " " + Statuscodes::ToString(verdict.status) + ")";
    if (!advice.empty()) text += ". " + advice;
    throw uaConnectionException(text);
}

bool OnlyTrustIsMissing(uint32_t status) {
    return status == kBadCertificateUntrusted || status == kBadCertificateChainIncomplete;
}

}  // namespace

std::string UrlHost(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    const size_t end = std::min(url.find('/', start), url.size());
    std::string authority = url.substr(start, end - start);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        return authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

TCertificateVerdict CheckServerCertificate(const TServerTrustSettings& settings, const std::vector<uint8_t>& certificate,
                                           const TCertificateCheckContext& context,
                                           const std::function<void(const std::string&)>& log,
                                           TCertificateVerdict* seen) {
    const TCertificateStore store(settings.store);
    TCertificateVerdict verdict = ValidateCertificate(store, certificate, context);
    if (seen) *seen = verdict;
    if (verdict.Good() || !OnlyTrustIsMissing(verdict.status)) {
        if (!verdict.Good()) Refuse(verdict, "");
        return verdict;
    }
    if (store.IsEmpty()) Refuse(verdict, "No certificate store is configured to trust it in");
    const TX509Certificate& unknown = verdict.certificate;
    if (settings.mode == TServerTrust::TrustOnFirstUse) {
        // first use only: a server that comes with another certificate than the one trusted is
        // refused, and so is one that names no application or would trust others (a CA)
        const auto uriOf = [](const TX509Certificate& c) {
            try {
                return c.ApplicationUri();
            } catch (const Exception&) {
                return std::string();
            }
        };
        const auto trusted = store.Certificates(TStoreFolder::TrustedCerts);
        const std::string uri = uriOf(unknown);
        const bool known = std::any_of(trusted.begin(), trusted.end(),
                                       [&](const TX509Certificate& t) { return uriOf(t) == uri; });
        bool authority = true;
        try {
            authority = unknown.IsCA();
        } catch (const Exception&) {
        }
        if (!known && !uri.empty() && !authority) {
            TCertificateCheckContext probation = context;
            probation.alsoTrusted.push_back(unknown);
            TCertificateVerdict second = ValidateCertificate(store, certificate, probation);
            if (seen) *seen = second;
            if (!second.Good()) Refuse(second, "");
            const std::string path = store.Add(TStoreFolder::TrustedCerts, unknown);
            if (log) log(Describe(unknown) + " is trusted on first use: " + path);
            return second;
        }
    }
    const std::string path = store.Add(TStoreFolder::RejectedCerts, unknown);
    if (log) log(Describe(unknown) + " is rejected, subject " + PrintableText(NameText(unknown.fSubject)) + ": " + path);
    Refuse(verdict, "It was put in " + store.Folder(TStoreFolder::RejectedCerts) +
                        "; to trust it, move it to " + store.Folder(TStoreFolder::TrustedCerts));
}

}  // namespace vela::ua
