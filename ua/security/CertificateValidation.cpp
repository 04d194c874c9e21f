#include "ua/security/CertificateValidation.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "base/Exception.h"
#include "base/Text.h"
#include "ua/security/CertificateBuilder.h"
#include "ua/security/X509Names.h"

namespace vela::ua::security {
namespace {

using namespace oid;
constexpr size_t kLongestPath = 8;


std::optional<THashAlgorithm> SignatureHash(const std::string& oid) {
    if (oid == kSha1WithRsa) return THashAlgorithm::SHA1;
    if (oid == kSha256WithRsa) return THashAlgorithm::SHA256;
    return std::nullopt;
}

bool SignedBy(const std::string& algorithm, std::span<const uint8_t> signedPart, std::span<const uint8_t> signature,
              const TX509Certificate& signer) {
    const auto hash = SignatureHash(algorithm);
    if (!hash || !RsaPublicKeyProblem(signer.fPublicKey, TRSAKeyBits{1024, 8192}).empty()) return false;
    return RsaVerify(signer.fPublicKey, TRSAPadding::rpPKCS, *hash, signedPart, signature);
}

bool SignedBy(const TX509Certificate& certificate, const TX509Certificate& signer) {
    return SignedBy(certificate.fSignatureAlgorithm, certificate.fTbsCertificate, certificate.fSignatureValue, signer);
}

bool UsesSha1(TuaSecurePolicy policy) {
    return policy == TuaSecurePolicy::uaSPBasic128Rsa15 || policy == TuaSecurePolicy::uaSPBasic256 ||
           policy == TuaSecurePolicy::uaSPNone || policy == TuaSecurePolicy::uaSPNULL;
}

// A leading "*." stands for exactly one label.
bool DnsNameMatches(const std::string& pattern, const std::string& host) {
    const std::string p = AsciiLower(pattern), h = AsciiLower(host);
    if (p == h) return true;
    if (p.size() < 3 || p.compare(0, 2, "*.") != 0) return false;
    const size_t dot = h.find('.');
    return dot != std::string::npos && dot > 0 && h.substr(dot) == p.substr(1);
}

bool NamesHost(const TX509Certificate& certificate, const std::string& host) {
    // an IP literal (an IPv6 zone id after "%" left out) is matched against the IP addresses
    if (const auto address = ParseIpAddress(std::string_view(host).substr(0, host.find('%')))) {
        const auto addresses = certificate.IpAddresses();
        return std::find(addresses.begin(), addresses.end(), *address) != addresses.end();
    }
    const auto names = certificate.DnsNames();
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) { return DnsNameMatches(name, host); });
}


// The extensions this check understands; a critical one it does not know refuses the certificate.
bool KnownExtension(const std::string& oid) {
    static const char* const kKnown[] = {kKeyUsage, kSubjectAltName, kBasicConstraints, kExtendedKeyUsage,
                                         kSubjectKeyIdentifier, kAuthorityKeyIdentifier, kCrlDistributionPoints,
                                         kCertificatePolicies, kAuthorityInfoAccess};
    return std::any_of(std::begin(kKnown), std::end(kKnown), [&](const char* known) { return oid == known; });
}

// The extended key usages, empty without the extension.
std::vector<std::string> ExtendedKeyUsages(const TX509Certificate& certificate) {
    std::vector<std::string> usages;
    if (const TExtension* e = certificate.Extension(kExtendedKeyUsage)) {
        DERReader r(e->fextnValue);
        DERReader list = r.Take(0x30);
        while (!list.AtEnd()) usages.push_back(list.ReadOID());
    }
    return usages;
}

// basicConstraints' pathLenConstraint, when given.
std::optional<uint64_t> PathLength(const TX509Certificate& certificate) {
    const TExtension* e = certificate.Extension(kBasicConstraints);
    if (!e) return std::nullopt;
    DERReader r(e->fextnValue);
    DERReader constraints = r.Take(0x30);
    if (constraints.isNext(0x01)) constraints.ReadValue(0x01);
    if (!constraints.isNext(0x02)) return std::nullopt;
    const Bytes value = constraints.ReadInteger();
    if (value.size() > 2) return UINT64_MAX;
    uint64_t length = 0;
    for (uint8_t b : value) length = length << 8 | b;
    return length;
}

class Validation {
public:
    Validation(const TCertificateStore& store, const TCertificateCheckContext& context)
        : store_(store), context_(context), now_(context.now ? context.now : NowUtc()) {}

    TCertificateVerdict Run(std::span<const uint8_t> bytes) {
        std::vector<TX509Certificate> sent;
        try {
            sent = LoadCertificateChain(bytes);
        } catch (const Exception& e) {
            return Refuse(kBadCertificateInvalid, std::string("does not parse (") + e.what() + ")");
        }
        verdict_.certificate = sent.front();
        trusted_ = store_.Certificates(TStoreFolder::TrustedCerts);
        trusted_.insert(trusted_.end(), context_.alsoTrusted.begin(), context_.alsoTrusted.end());
        candidates_ = trusted_;
        for (auto& issuer : store_.Certificates(TStoreFolder::IssuerCerts)) candidates_.push_back(std::move(issuer));
        for (size_t i = 1; i < sent.size(); ++i) candidates_.push_back(sent[i]);

        try {
            Checks();
        } catch (const Exception& e) {  // an extension that does not parse
            Refuse(kBadCertificateInvalid, std::string("does not parse (") + e.what() + ")");
        }
        return verdict_;
    }

private:
    void Checks() {
        if (!BuildPath() || !CheckPolicy() || !CheckTrust() || !CheckValidity()) return;
        if (!context_.hostName.empty() && !NamesHost(Leaf(), context_.hostName)) {
            Refuse(kBadCertificateHostNameInvalid, "does not name the host " + PrintableText(context_.hostName));
            return;
        }
        if (!context_.applicationUri.empty() && Leaf().ApplicationUri() != context_.applicationUri) {
            Refuse(kBadCertificateUriInvalid, "names the application \"" + PrintableText(Leaf().ApplicationUri()) +
                                                  "\", the server says it is \"" +
                                                  PrintableText(context_.applicationUri) + "\"");
            return;
        }
        if (CheckUsage()) CheckRevocation();
    }


    const TX509Certificate& Leaf() const { return path_.front(); }

    TCertificateVerdict Refuse(uint32_t status, const std::string& reason) {
        if (verdict_.Good()) {
            verdict_.status = status;
            verdict_.reason = reason;
        }
        return verdict_;
    }

    bool IsTrusted(const TX509Certificate& certificate) const {
        return std::any_of(trusted_.begin(), trusted_.end(),
                           [&](const TX509Certificate& t) { return t.fRawData == certificate.fRawData; });
    }

    // From the peer's certificate up to a self-signed one, each link's signature checked. A
    // certificate trusted itself needs no issuers, but a known issuer is still followed.
    bool BuildPath() {
        path_ = {verdict_.certificate};
        while (true) {
            const TX509Certificate& current = path_.back();
            if (current.isSelfIssued()) {
                if (!SignedBy(current, current)) {
                    Refuse(kBadCertificateInvalid, SignatureHash(current.fSignatureAlgorithm)
                                                       ? "carries a signature that does not verify"
                                                       : "is signed with an algorithm not supported (" +
                                                             PrintableText(current.fSignatureAlgorithm) + ")");
                    return false;
                }
                return true;
            }
            const TX509Certificate* issuer = nullptr;
            bool named = false;
            for (const TX509Certificate& candidate : candidates_) {
                if (!SameName(candidate.fSubject, current.fIssuer)) continue;
                named = true;
                if (SignedBy(current, candidate)) {
                    issuer = &candidate;
                    break;
                }
            }
            if (!issuer) {
                if (path_.size() == 1 && IsTrusted(current) && !named) return true;
                if (named) {
                    Refuse(kBadCertificateInvalid, path_.size() == 1 ? "carries a signature that does not verify"
                                                                      : "has an issuer whose signature does not verify");
                } else {
                    Refuse(kBadCertificateChainIncomplete,
                           "was issued by " + PrintableText(NameText(current.fIssuer)) + ", which is not in the store");
                }
                return false;
            }
            if (path_.size() == kLongestPath) {
                Refuse(kBadCertificateChainIncomplete, "has a chain of more than 8 certificates");
                return false;
            }
            path_.push_back(*issuer);
        }
    }

    bool CheckPolicy() {
        const TX509Certificate& leaf = Leaf();
        try {
            CheckCertificateKey("server", leaf.CommonName(), leaf.fPublicKeyAlgorithm, leaf.fPublicKeyData,
                                RsaKeyBits(context_.policy));
        } catch (const uaCertificateKeyError& e) {
            const std::string text = e.what();
            const size_t has = text.find(" has ");
            Refuse(kBadCertificatePolicyCheckFailed, has == std::string::npos ? text : text.substr(has + 1) +
                                                                                     " for the policy " +
                                                                                     PolicyName(context_.policy));
            return false;
        }
        if (!UsesSha1(context_.policy))
            for (const TX509Certificate& link : path_)
                // a trusted root's signature on itself proves nothing, whatever its hash
                if (link.fSignatureAlgorithm == kSha1WithRsa &&
                    !(&link != &path_.front() && link.isSelfIssued() && IsTrusted(link))) {
                    Refuse(kBadCertificatePolicyCheckFailed,
                           std::string(&link == &path_.front() ? "is" : "has an issuer") +
                               " signed with SHA-1, which the policy " + PolicyName(context_.policy) + " does not allow");
                    return false;
                }
        return true;
    }

    bool CheckTrust() {
        if (std::any_of(path_.begin(), path_.end(), [&](const TX509Certificate& c) { return IsTrusted(c); }))
            return true;
        Refuse(kBadCertificateUntrusted, "is not trusted");
        return false;
    }

    bool CheckValidity() {
        for (const TX509Certificate& link : path_) {
            if (now_ >= link.notBefore && now_ <= link.notAfter) continue;
            const bool leaf = &link == &path_.front();
            const std::string when = now_ < link.notBefore ? "not yet valid" : "expired";
            Refuse(leaf ? kBadCertificateTimeInvalid : kBadCertificateIssuerTimeInvalid,
                   leaf ? "is " + when : "has an issuer that is " + when);
            return false;
        }
        return true;
    }

    bool CheckUsage() {
        const auto usage = Leaf().KeyUsage();
        if (usage && (*usage & (kDigitalSignature | kKeyEncipherment)) != (kDigitalSignature | kKeyEncipherment)) {
            Refuse(kBadCertificateUseNotAllowed, "does not allow its key for signatures and key encipherment");
            return false;
        }
        const auto extended = ExtendedKeyUsages(Leaf());
        if (!extended.empty() && std::find(extended.begin(), extended.end(), kServerAuth) == extended.end()) {
            Refuse(kBadCertificateUseNotAllowed, "is not meant for a server (no serverAuth in its extended key usage)");
            return false;
        }
        for (size_t i = 0; i < path_.size(); ++i)
            for (const TExtension& e : path_[i].fextensions)
                if (e.fcritical && !KnownExtension(e.fextnID)) {
                    Refuse(i == 0 ? kBadCertificateUseNotAllowed : kBadCertificateIssuerUseNotAllowed,
                           std::string(i == 0 ? "has" : "has an issuer with") + " a critical extension not understood (" +
                               PrintableText(e.fextnID) + ")");
                    return false;
                }
        for (size_t i = 1; i < path_.size(); ++i) {
            const auto issuerUsage = path_[i].KeyUsage();
            if (!path_[i].IsCA() || (issuerUsage && !(*issuerUsage & kKeyCertSign))) {
                Refuse(kBadCertificateIssuerUseNotAllowed, "has an issuer that is no certificate authority");
                return false;
            }
            // the CAs between this one and the server's certificate
            const auto limit = PathLength(path_[i]);
            if (limit && i - 1 > *limit) {
                Refuse(kBadCertificateIssuerUseNotAllowed, "has an issuer whose path length limit is exceeded");
                return false;
            }
        }
        return true;
    }

    void CheckRevocation() {
        std::vector<Bytes> lists = store_.RevocationLists(TStoreFolder::TrustedCrls);
        for (auto& list : store_.RevocationLists(TStoreFolder::IssuerCrls)) lists.push_back(std::move(list));
        for (size_t i = 0; i + 1 < path_.size(); ++i) {
            const TX509Certificate& issuer = path_[i + 1];
            for (const Bytes& list : lists) {
                TRevocation said = TRevocation::NotListed;
                try {
                    said = RevocationOf(list, issuer, path_[i].fSerialNumber, now_);
                } catch (const Exception&) {
                    continue;  // another issuer's list, or a broken one
                }
                if (said == TRevocation::Listed) {
                    Refuse(i == 0 ? kBadCertificateRevoked : kBadCertificateIssuerRevoked,
                           i == 0 ? "is revoked by its issuer" : "has an issuer that is revoked");
                    return;
                }
                // a CA that keeps a list must keep it current: an old one may miss a revocation
                if (said == TRevocation::Outdated) {
                    Refuse(i == 0 ? kBadCertificateRevocationUnknown : kBadCertificateIssuerRevocationUnknown,
                           std::string(i == 0 ? "has" : "has an issuer with") +
                               " a revocation list past its next update: put a current one in the store");
                    return;
                }
            }
        }
    }

    const TCertificateStore& store_;
    const TCertificateCheckContext& context_;
    const DateTime now_;
    TCertificateVerdict verdict_;
    std::vector<TX509Certificate> trusted_, candidates_, path_;
};

}  // namespace

TRevocation RevocationOf(std::span<const uint8_t> crl, const TX509Certificate& issuer, const Bytes& serialNumber,
                         DateTime now) {
    const TSignedEnvelope envelope = ReadSignedEnvelope(crl);
    DERReader tbs(envelope.content);
    if (tbs.isNext(0x02)) tbs.ReadInteger();  // version
    tbs.Skip();                               // signature algorithm
    if (!SameName(ReadX509Name(tbs), issuer.fSubject)) tbs.Fail("a list of another issuer");
    if (!SignedBy(envelope.algorithm, envelope.signedPart, envelope.signature, issuer))
        tbs.Fail("the list's signature does not verify");
    tbs.ReadTime();  // thisUpdate
    bool outdated = false;
    if (tbs.isNext(0x17) || tbs.isNext(0x18)) outdated = tbs.ReadTime() < now;
    if (tbs.isNext(0x30)) {
        DERReader revoked = tbs.Take(0x30);
        while (!revoked.AtEnd()) {
            DERReader entry = revoked.Take(0x30);
            if (entry.ReadInteger() == serialNumber) return TRevocation::Listed;
        }
    }
    return outdated ? TRevocation::Outdated : TRevocation::NotListed;
}

TCertificateVerdict ValidateCertificate(const TCertificateStore& store, std::span<const uint8_t> chain,
                                        const TCertificateCheckContext& context) {
    return Validation(store, context).Run(chain);
}

}  // namespace vela::ua::security
