#pragma once
// The UA security policies and what each one chooses.
#include <optional>
#include <string>
#include <string_view>

#include "ua/security/Aes.h"
#include "ua/security/Rsa.h"

namespace vela::ua::security {

enum class TuaSecurePolicy {
    uaSPNULL, uaSPNone, uaSPBasic128Rsa15, uaSPBasic256, uaSPBasic256Sha256, uaSPAes128_Sha256_RsaOaep,
    uaSPAes256_Sha256_RsaPss
};
enum class TuaSecureMode { uaSNULL, uaSNone, uaSSign, uaSSignAndEncrypt };

struct PolicyInfo {
    const char* uri;
    TRSAPadding cryptPadding;
    THashAlgorithm cryptHash;
    TRSAPadding signPadding;
    THashAlgorithm signHash;
    THashAlgorithm symmetricHash;  // HMAC and key derivation
    size_t symmetricSignatureSize;
    size_t signingKeySize;
    size_t encryptionKeySize;
    TSymmAlgorithm symmetricAlgorithm;
    size_t blockSize;
    size_t nonceSize;
    const char* encryptionAlgorithmUri;  // of an encrypted user secret
    const char* signatureAlgorithmUri;   // of a session signature
};

const PolicyInfo& Policy(TuaSecurePolicy policy);
// The RSA key lengths a policy admits: 1024 to 2048 bits for Basic128Rsa15 and Basic256, 2048 to
// 4096 for the SHA-256 ones; 1024 to 4096 for the rest.
TRSAKeyBits RsaKeyBits(TuaSecurePolicy policy);

// The short names people write ("Basic256Sha256"; modes "None", "Sign", "SignAndEncrypt"),
// matched without regard to case; nothing for an unknown name or the NULL values.
std::optional<TuaSecurePolicy> PolicyFromName(std::string_view name);
std::optional<TuaSecureMode> ModeFromName(std::string_view name);
const char* PolicyName(TuaSecurePolicy policy);
const char* ModeName(TuaSecureMode mode);

class uaSecurityPolicies {
public:
    static std::string uaSecurityPolicyToString(TuaSecurePolicy policy);  // empty for uaSPNULL
    // Exact comparison with the five secured policies' URIs; anything else gives uaSPNone.
    static TuaSecurePolicy StringToUaSecurityPolicy(const std::string& uri);
    static bool HasNoSecurity(const std::string& uri);
    static bool HasSecurityPolicy(TuaSecurePolicy policy);
    static std::string SelectPolicy(const std::string& first, const std::string& second);
};

}  // namespace vela::ua::security
