#pragma once
// X.509 certificates (DER) and RSA private keys (PEM or DER; PKCS #1 or PKCS #8) as the
// built-in back-end reads them.
#include <optional>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Exception.h"
#include "ua/security/Der.h"
#include "ua/security/Rsa.h"

namespace vela::ua::security {

struct TRDN {
    std::string fOid;
    std::string fValue;
    bool operator==(const TRDN&) const = default;
};

struct TExtension {
    std::string fextnID;
    bool fcritical = false;
    Bytes fextnValue;
};

class TX509Certificate {
public:
    Bytes fRawData;
    Bytes fThumbPrint;  // SHA-1 of the DER bytes
    int64_t fVersion = 0;
    Bytes fSerialNumber;
    std::string fSignatureAlgorithm;
    std::vector<TRDN> fIssuer, fSubject;
    DateTime notBefore = 0, notAfter = 0;
    std::string fPublicKeyAlgorithm;
    Bytes fPublicKeyData;      // the subject public key bit string's content after the unused-bits count
    TRSAPublicKey fPublicKey;  // empty unless an rsaEncryption key that parses
    std::vector<TExtension> fextensions;
    Bytes fTbsCertificate;  // the signed part, as received
    Bytes fSignatureValue;  // the signature bit string's content after the unused-bits count

    // Raises "Certificate Error: ..." for data that is not a certificate. The key is not judged
    // here: see CheckCertificateKey.
    static TX509Certificate Load(std::span<const uint8_t> der);
    std::string CommonName() const;  // the subject's first CN, empty without one
    std::string ThumbprintHEX() const;
    bool isSelfIssued() const;
    // The uniform-resource-identifier entry of the subject alternative name; empty without one.
    std::string ApplicationUri() const;
    std::vector<std::string> DnsNames() const;  // the subject alternative name's DNS names
    std::vector<Bytes> IpAddresses() const;     // ... and its IP addresses (4 or 16 bytes each)
    // KeyUsage bits by their number (digitalSignature 0 ... decipherOnly 8); nothing without the
    // extension, which leaves the key's use unrestricted.
    std::optional<uint16_t> KeyUsage() const;
    bool IsCA() const;  // basicConstraints with cA set
    const TExtension* Extension(const std::string& oid) const;
    std::string ToString() const;
};

// Names from a peer go into messages and logs: printable ASCII only, at most 64 characters
// and "..." for the rest.
std::string PrintableText(const std::string& text);

// The envelope certificates and revocation lists share: SEQUENCE { signed part, algorithm,
// signature BIT STRING }. Spans into the given bytes; raises for anything else.
struct TSignedEnvelope {
    std::span<const uint8_t> signedPart;  // the signed SEQUENCE, header included
    std::span<const uint8_t> content;     // ... and its content alone
    std::string algorithm;
    std::span<const uint8_t> signature;   // after the unused-bits count
};
TSignedEnvelope ReadSignedEnvelope(std::span<const uint8_t> der);

// A Name (a sequence of relative distinguished names) from the reader.
std::vector<TRDN> ReadX509Name(DERReader& r);
bool SameName(const std::vector<TRDN>& a, const std::vector<TRDN>& b);

// Servers send a certificate followed by its issuers' as one byte string. Raises for bytes that
// are not whole certificates; at most 16 of them.
std::vector<TX509Certificate> LoadCertificateChain(std::span<const uint8_t> der);

// "CN=...", "O=..." and dotted OIDs for attributes without a name.
std::string NameText(const std::vector<TRDN>& name);

// A certificate whose key UA security cannot use.
class uaCertificateKeyError : public Exception {
public:
    using Exception::Exception;
};

// Both back-ends hold a peer's certificate to these rules, in these words: raises
// uaCertificateKeyError "The <role> certificate (CN=<commonName>) has ..." unless the key is an
// rsaEncryption key that RsaPublicKeyProblem finds fit. subjectPublicKey is the bit string's
// content after its unused-bits count.
void CheckCertificateKey(const std::string& role, const std::string& commonName, const std::string& algorithmOid,
                         std::span<const uint8_t> subjectPublicKey, const TRSAKeyBits& allowed);

// The built-in back-end's rules: PEM or DER, PKCS #1 or PKCS #8 rsaEncryption, no password.
TRSAPrivateKey LoadPrivateKey(std::span<const uint8_t> data, const std::string& password = {});

}  // namespace vela::ua::security
