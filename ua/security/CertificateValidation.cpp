#include "ua/security/CertificateValidation.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "base/Exception.h"

namespace vela::ua::security {
namespace {

constexpr char kSha1WithRsa[] = "1.2.840.113549.1.1.5";
constexpr char kSha256WithRsa[] = "1.2.840.113549.1.1.11";
constexpr size_t kLongestPath = 8;

enum KeyUsageBit : uint16_t {
    kDigitalSignature = 1 << 0,
    kKeyEncipherment = 1 << 2,
    kKeyCertSign = 1 << 5,
    kCrlSign = 1 << 6,
};

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

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<Bytes> Ipv4(const std::string& text) {
    Bytes address;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part && (at >= text.size() || text[at++] != '.')) return std::nullopt;
        unsigned value = 0;
        const size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - start < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == start || value > 255) return std::nullopt;
        address.push_back(static_cast<uint8_t>(value));
    }
    if (at != text.size()) return std::nullopt;
    return address;
}

// A leading "*." stands for exactly one label.
bool DnsNameMatches(const std::string& pattern, const std::string& host) {
    const std::string p = Lower(pattern), h = Lower(host);
    if (p == h) return true;
    if (p.size() < 3 || p.compare(0, 2, "*.") != 0) return false;
    const size_t dot = h.find('.');
    return dot != std::string::npos && dot > 0 && h.substr(dot) == p.substr(1);
}

bool NamesHost(const TX509Certificate& certificate, const std::string& host) {
    if (const auto address = Ipv4(host)) {
        const auto addresses = certificate.IpAddresses();
        return std::find(addresses.begin(), addresses.end(), *address) != addresses.end();
    }
    const auto names = certificate.DnsNames();
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) { return DnsNameMatches(name, host); });
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
        candidates_ = trusted_;
        for (auto& issuer : store_.Certificates(TStoreFolder::IssuerCerts)) candidates_.push_back(std::move(issuer));
        for (size_t i = 1; i < sent.size(); ++i) candidates_.push_back(sent[i]);

        if (!BuildPath()) return verdict_;
        if (!CheckPolicy()) return verdict_;
        if (!CheckTrust()) return verdict_;
        if (!CheckValidity()) return verdict_;
        if (!context_.hostName.empty() && !NamesHost(Leaf(), context_.hostName))
            return Refuse(kBadCertificateHostNameInvalid, "does not name the host " + context_.hostName);
        if (!context_.applicationUri.empty() && Leaf().ApplicationUri() != context_.applicationUri)
            return Refuse(kBadCertificateUriInvalid, "names the application \"" + Leaf().ApplicationUri() +
                                                         "\", the server says it is \"" + context_.applicationUri + "\"");
        if (!CheckUsage()) return verdict_;
        CheckRevocation();
        return verdict_;
    }

private:
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
                                                             current.fSignatureAlgorithm + ")");
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
                           "was issued by " + NameText(current.fIssuer) + ", which is not in the store");
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
                if (link.fSignatureAlgorithm == kSha1WithRsa) {
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
        for (size_t i = 1; i < path_.size(); ++i) {
            const auto issuerUsage = path_[i].KeyUsage();
            if (!path_[i].IsCA() || (issuerUsage && !(*issuerUsage & kKeyCertSign))) {
                Refuse(kBadCertificateIssuerUseNotAllowed, "has an issuer that is no certificate authority");
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
                bool revoked = false;
                try {
                    revoked = RevocationListNames(list, issuer, path_[i].fSerialNumber);
                } catch (const Exception&) {
                    continue;  // another issuer's list, or a broken one
                }
                if (revoked) {
                    Refuse(i == 0 ? kBadCertificateRevoked : kBadCertificateIssuerRevoked,
                           i == 0 ? "is revoked by its issuer" : "has an issuer that is revoked");
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

bool RevocationListNames(std::span<const uint8_t> crl, const TX509Certificate& issuer, const Bytes& serialNumber) {
    DERReader outer(crl);
    DERReader list = outer.Take(0x30);
    DerHeader tbsHeader;
    const auto tbsContent = list.ReadItem(&tbsHeader);
    if (tbsHeader.tag != 0x30) list.Fail("Type Error: no tbsCertList");
    const size_t headerSize = tbsHeader.content - tbsHeader.start;
    const std::span<const uint8_t> signedPart(tbsContent.data() - headerSize, tbsContent.size() + headerSize);
    DERReader algorithm = list.Take(0x30);
    const std::string signatureAlgorithm = algorithm.ReadOID();
    const auto bits = list.ReadValue(0x03);
    if (bits.empty() || bits[0] != 0) list.Fail("the signature is no whole number of bytes");

    DERReader tbs(tbsContent);
    if (tbs.isNext(0x02)) tbs.ReadInteger();  // version
    tbs.Skip();                               // signature algorithm
    if (!SameName(ReadX509Name(tbs), issuer.fSubject)) tbs.Fail("a list of another issuer");
    if (!SignedBy(signatureAlgorithm, signedPart, bits.subspan(1), issuer)) tbs.Fail("the list's signature does not verify");
    tbs.ReadTime();  // thisUpdate
    if (tbs.isNext(0x17) || tbs.isNext(0x18)) tbs.ReadTime();
    if (!tbs.isNext(0x30)) return false;
    DERReader revoked = tbs.Take(0x30);
    while (!revoked.AtEnd()) {
        DERReader entry = revoked.Take(0x30);
        if (entry.ReadInteger() == serialNumber) return true;
    }
    return false;
}

TCertificateVerdict ValidateCertificate(const TCertificateStore& store, std::span<const uint8_t> chain,
                                        const TCertificateCheckContext& context) {
    return Validation(store, context).Run(chain);
}

}  // namespace vela::ua::security
