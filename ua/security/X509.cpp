#include "ua/security/X509.h"

#include "base/Exception.h"
#include "base/Variant.h"
#include "ua/security/X509Names.h"

namespace vela::ua::security {
namespace {

using namespace oid;

std::string AsText(std::span<const uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string HexOf(const Bytes& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

// RSAPublicKey; the raw INTEGER contents so that a sign bit can still be seen.
struct RawRsaKey {
    std::span<const uint8_t> modulus, exponent;
};

RawRsaKey ReadRsaPublicKey(std::span<const uint8_t> der) {
    DERReader r(der);
    DERReader k = r.Take(0x30);
    RawRsaKey key;
    key.modulus = k.ReadValue(0x02);
    key.exponent = k.ReadValue(0x02);
    if (!k.AtEnd() || !r.AtEnd()) k.Fail("data after the RSA key");
    return key;
}

Bytes Unsigned(std::span<const uint8_t> integer) {
    while (!integer.empty() && integer[0] == 0) integer = integer.subspan(1);
    return Bytes(integer.begin(), integer.end());
}

std::string KeyAlgorithmName(const std::string& oid) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"1.2.840.10045.2.1", "id-ecPublicKey"}, {"1.2.840.10040.4.1", "id-dsa"},
        {"1.2.840.10046.2.1", "dhpublicnumber"}, {"1.3.101.110", "id-X25519"},
        {"1.3.101.111", "id-X448"},             {"1.3.101.112", "id-Ed25519"},
        {"1.3.101.113", "id-Ed448"}};
    for (const auto& [known, name] : kNames)
        if (oid == known) return name;
    return oid.empty() ? "no algorithm" : oid;
}

TRSAPrivateKey ReadRsaPrivateKey(std::span<const uint8_t> der) {
    DERReader r(der);
    DERReader k = r.Take(0x30);
    k.ReadInteger();  // version
    if (k.isNext(0x30)) {  // PKCS #8 PrivateKeyInfo: algorithm, then the key as an octet string
        DERReader algorithm = k.Take(0x30);
        const std::string oid = algorithm.ReadOID();
        if (oid != kRsaEncryption) throw Exception("no RSA private key: " + oid);
        return ReadRsaPrivateKey(k.ReadValue(0x04));
    }
    TRSAPrivateKey key;
    key.fModulus = k.ReadInteger();
    key.fpublicExponent = k.ReadInteger();
    key.fPrivateExponent = k.ReadInteger();
    key.fPrime1 = k.ReadInteger();
    key.fPrime2 = k.ReadInteger();
    key.fExponent1 = k.ReadInteger();
    key.fExponent2 = k.ReadInteger();
    key.fCoefficient = k.ReadInteger();
    return key;
}

}  // namespace

std::vector<TRDN> ReadX509Name(DERReader& r) {
    std::vector<TRDN> name;
    DERReader in = r.Take(0x30);
    while (!in.AtEnd()) {
        DERReader set = in.Take(0x31);
        while (!set.AtEnd()) {
            DERReader pair = set.Take(0x30);
            TRDN rdn;
            rdn.fOid = pair.ReadOID();
            rdn.fValue = AsText(pair.ReadItem());
            name.push_back(std::move(rdn));
        }
    }
    return name;
}

TX509Certificate TX509Certificate::Load(std::span<const uint8_t> der) {
    TX509Certificate c;
    c.fRawData.assign(der.begin(), der.end());
    const auto thumb = HashOf(THashAlgorithm::SHA1, der);
    c.fThumbPrint = thumb;
    const TSignedEnvelope envelope = ReadSignedEnvelope(der);
    c.fTbsCertificate.assign(envelope.signedPart.begin(), envelope.signedPart.end());
    c.fSignatureValue.assign(envelope.signature.begin(), envelope.signature.end());
    DERReader tbs(envelope.content);
    if (tbs.isNext(0xA0)) {
        DERReader version = tbs.Take(0xA0);
        const Bytes v = version.ReadInteger();
        c.fVersion = v.empty() ? 0 : v.back();
    }
    c.fSerialNumber = tbs.ReadInteger();
    {
        DERReader algorithm = tbs.Take(0x30);
        c.fSignatureAlgorithm = algorithm.ReadOID();
    }
    c.fIssuer = ReadX509Name(tbs);
    {
        DERReader validity = tbs.Take(0x30);
        c.notBefore = validity.ReadTime();
        c.notAfter = validity.ReadTime();
    }
    c.fSubject = ReadX509Name(tbs);
    {
        DERReader spki = tbs.Take(0x30);
        DERReader algorithm = spki.Take(0x30);
        c.fPublicKeyAlgorithm = algorithm.ReadOID();
        const auto bits = spki.ReadValue(0x03);
        if (!bits.empty()) c.fPublicKeyData.assign(bits.begin() + 1, bits.end());
        // a key that does not parse stays empty here and is refused by CheckCertificateKey
        if (c.fPublicKeyAlgorithm == kRsaEncryption) {
            try {
                const RawRsaKey key = ReadRsaPublicKey(c.fPublicKeyData);
                c.fPublicKey.fModulus = Unsigned(key.modulus);
                c.fPublicKey.fpublicExponent = Unsigned(key.exponent);
            } catch (const Exception&) {
            }
        }
    }
    while (!tbs.AtEnd()) {
        DerHeader h;
        const auto content = tbs.ReadItem(&h);
        if (h.tag != 0xA3) continue;  // unique ids (1, 2) and unknown parts are skipped
        DERReader ext(content);
        DERReader list = ext.Take(0x30);
        while (!list.AtEnd()) {
            DERReader e = list.Take(0x30);
            TExtension extension;
            extension.fextnID = e.ReadOID();
            if (e.isNext(0x01)) {
                const auto critical = e.ReadValue(0x01);
                extension.fcritical = !critical.empty() && critical[0] != 0;
            }
            const auto value = e.ReadValue(0x04);
            extension.fextnValue.assign(value.begin(), value.end());
            c.fextensions.push_back(std::move(extension));
        }
    }
    if (envelope.algorithm != c.fSignatureAlgorithm) tbs.Fail("the signature algorithm differs from the signed one");
    return c;
}

std::string TX509Certificate::CommonName() const {
    for (const TRDN& rdn : fSubject)
        if (rdn.fOid == kCommonName) return rdn.fValue;
    return {};
}

void CheckCertificateKey(const std::string& role, const std::string& commonName, const std::string& algorithmOid,
                         std::span<const uint8_t> subjectPublicKey, const TRSAKeyBits& allowed) {
    std::string owner = "The " + role + " certificate";
    if (!commonName.empty()) owner += " (CN=" + PrintableText(commonName) + ")";
    const auto refuse = [&](const std::string& reason) { throw uaCertificateKeyError(owner + " has " + reason); };
    if (algorithmOid == kRsaPss) refuse("an RSA key restricted to PSS signatures (id-RSASSA-PSS)");
    if (algorithmOid != kRsaEncryption) refuse("no RSA key (" + KeyAlgorithmName(algorithmOid) + ")");
    RawRsaKey raw;
    try {
        raw = ReadRsaPublicKey(subjectPublicKey);
    } catch (const Exception&) {
        refuse("a malformed RSA key");
    }
    if (!raw.modulus.empty() && (raw.modulus[0] & 0x80)) refuse("a negative RSA modulus");
    if (!raw.exponent.empty() && (raw.exponent[0] & 0x80)) refuse("a negative RSA public exponent");
    TRSAPublicKey key;
    key.fModulus = Unsigned(raw.modulus);
    key.fpublicExponent = Unsigned(raw.exponent);
    const std::string problem = RsaPublicKeyProblem(key, allowed);
    if (!problem.empty()) refuse(problem);
}

std::string TX509Certificate::ThumbprintHEX() const { return HexOf(fThumbPrint); }

std::string PrintableText(const std::string& text) {
    constexpr size_t kLongest = 64;
    std::string out;
    for (size_t i = 0; i < text.size() && i < kLongest; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    if (text.size() > kLongest) out += "...";
    return out;
}

TSignedEnvelope ReadSignedEnvelope(std::span<const uint8_t> der) {
    DERReader outer(der);
    DERReader whole = outer.Take(0x30);
    DerHeader header;
    TSignedEnvelope envelope;
    envelope.content = whole.ReadItem(&header);
    if (header.tag != 0x30) whole.Fail("Type Error: no signed part");
    const size_t headerSize = header.content - header.start;
    envelope.signedPart = std::span<const uint8_t>(envelope.content.data() - headerSize, envelope.content.size() + headerSize);
    DERReader algorithm = whole.Take(0x30);
    envelope.algorithm = algorithm.ReadOID();
    const auto bits = whole.ReadValue(0x03);
    if (bits.empty() || bits[0] != 0) whole.Fail("the signature is no whole number of bytes");
    envelope.signature = bits.subspan(1);
    return envelope;
}

bool SameName(const std::vector<TRDN>& a, const std::vector<TRDN>& b) { return a == b; }

bool TX509Certificate::isSelfIssued() const { return SameName(fIssuer, fSubject); }

const TExtension* TX509Certificate::Extension(const std::string& oid) const {
    for (const TExtension& e : fextensions)
        if (e.fextnID == oid) return &e;
    return nullptr;
}

namespace {

// The subject alternative names of one [tag], in order.
std::vector<Bytes> AltNames(const TX509Certificate& c, uint8_t tag) {
    std::vector<Bytes> found;
    const TExtension* e = c.Extension(kSubjectAltName);
    if (!e) return found;
    DERReader r(e->fextnValue);
    DERReader names = r.Take(0x30);
    while (!names.AtEnd()) {
        DerHeader h;
        const auto value = names.ReadItem(&h);
        if (h.tag == tag) found.emplace_back(value.begin(), value.end());
    }
    return found;
}

}  // namespace

std::string TX509Certificate::ApplicationUri() const {
    const auto uris = AltNames(*this, 0x86);  // [6] uniformResourceIdentifier
    return uris.empty() ? std::string() : AsText(uris.front());
}

std::vector<std::string> TX509Certificate::DnsNames() const {
    std::vector<std::string> names;
    for (const Bytes& name : AltNames(*this, 0x82)) names.push_back(AsText(name));  // [2] dNSName
    return names;
}

std::vector<Bytes> TX509Certificate::IpAddresses() const { return AltNames(*this, 0x87); }  // [7] iPAddress

std::optional<uint16_t> TX509Certificate::KeyUsage() const {
    const TExtension* e = Extension(kKeyUsage);
    if (!e) return std::nullopt;
    DERReader r(e->fextnValue);
    const auto bits = r.ReadValue(0x03);
    uint16_t usage = 0;
    for (size_t i = 1; i < bits.size() && i <= 2; ++i)
        for (int bit = 0; bit < 8; ++bit)
            if (bits[i] & (0x80 >> bit)) usage |= static_cast<uint16_t>(1u << ((i - 1) * 8 + bit));
    return usage;
}

bool TX509Certificate::IsCA() const {
    const TExtension* e = Extension(kBasicConstraints);
    if (!e) return false;
    DERReader r(e->fextnValue);
    DERReader constraints = r.Take(0x30);
    if (!constraints.isNext(0x01)) return false;
    const auto ca = constraints.ReadValue(0x01);
    return !ca.empty() && ca[0] != 0;
}

std::vector<TX509Certificate> LoadCertificateChain(std::span<const uint8_t> der) {
    constexpr size_t kLongestChain = 16;
    std::vector<TX509Certificate> chain;
    DERReader r(der);
    while (!r.AtEnd()) {
        if (chain.size() == kLongestChain) r.Fail("more than 16 certificates in a chain");
        const size_t start = r.Position();
        r.Skip();
        chain.push_back(TX509Certificate::Load(der.subspan(start, r.Position() - start)));
    }
    if (chain.empty()) r.Fail("no certificate");
    return chain;
}

std::string NameText(const std::vector<TRDN>& name) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"2.5.4.3", "CN"}, {"2.5.4.6", "C"}, {"2.5.4.7", "L"}, {"2.5.4.8", "ST"}, {"2.5.4.9", "STREET"},
        {"2.5.4.10", "O"}, {"2.5.4.11", "OU"}, {"0.9.2342.19200300.100.1.25", "DC"},
        {"0.9.2342.19200300.100.1.1", "UID"}};
    std::string text;
    for (const TRDN& rdn : name) {
        std::string tag = rdn.fOid;
        for (const auto& [oid, short_] : kNames)
            if (rdn.fOid == oid) tag = short_;
        if (!text.empty()) text += ", ";
        text += tag + "=" + rdn.fValue;
    }
    return text;
}

std::string TX509Certificate::ToString() const {
    std::string text = "Version: " + std::to_string(fVersion) + "\r\nSerialNumber: " + HexOf(fSerialNumber) +
                       "\r\nSignature: " + fSignatureAlgorithm + "\r\nIssuer: " + NameText(fIssuer) +
                       "\r\nValidity: \r\n  notBefore: " + Variant::FromDate(notBefore).ToString() +
                       "\r\n  notAfter: " + Variant::FromDate(notAfter).ToString() + "\r\nSubject: " +
                       NameText(fSubject) + "\r\nSubjectPublicKeyInfo: " + fPublicKeyAlgorithm +
                       "\r\nModulus: " + HexOf(fPublicKey.fModulus) + "\r\nPublicExponent: " +
                       HexOf(fPublicKey.fpublicExponent) + "\r\nExtensions: ";
    for (const TExtension& e : fextensions)
        text += "\r\n  extnID: " + e.fextnID + "\r\n  critical: " + (e.fcritical ? "true" : "false") +
                "\r\n  extnValue: " + HexOf(e.fextnValue);
    return text + "\r\nThumbprint: " + ThumbprintHEX();
}

TRSAPrivateKey LoadPrivateKey(std::span<const uint8_t> data, const std::string& password) {
    const bool pem = std::string_view(reinterpret_cast<const char*>(data.data()), data.size()).find("-----BEGIN") !=
                     std::string_view::npos;
    if (!password.empty()) {
        std::string detail = " Could not load the Encrypted Private file";
        try {
            const Bytes der = pem ? LoadPEM(data) : Bytes(data.begin(), data.end());
            DERReader r(der);
            DERReader info = r.Take(0x30);
            DERReader algorithm = info.Take(0x30);
            detail = " EncryptionAlgorithm is: " + algorithm.ReadOID();
        } catch (const Exception&) {
        }
        throw Exception("Native Security Error: Encrypted Private key with password not supported use openssl" + detail);
    }
    try {
        const Bytes der = pem ? LoadPEM(data) : Bytes(data.begin(), data.end());
        return ReadRsaPrivateKey(der);
    } catch (const Exception& e) {
        const std::string what = e.what();
        if (what.rfind("no RSA private key: ", 0) == 0) throw;
        throw Exception("Native Security Error: Could not load Private key without password");
    }
}

}  // namespace vela::ua::security
