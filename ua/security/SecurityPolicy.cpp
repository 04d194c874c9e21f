#include "ua/security/SecurityPolicy.h"

#include <iterator>

#include "base/Text.h"

namespace vela::ua::security {
namespace {

constexpr char kRsa15[] = "http://www.w3.org/2001/04/xmlenc#rsa-1_5";
constexpr char kRsaOaep[] = "http://www.w3.org/2001/04/xmlenc#rsa-oaep";
constexpr char kRsaOaepSha256[] = "http://opcfoundation.org/UA/security/rsa-oaep-sha2-256";
constexpr char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr char kRsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr char kRsaPssSha256[] = "http://opcfoundation.org/UA/security/rsa-pss-sha2-256";

using H = THashAlgorithm;
using P = TRSAPadding;
using S = TSymmAlgorithm;

const PolicyInfo kPolicies[] = {
    {"", P::rpPKCS, H::SHA1, P::rpPKCS, H::SHA1, H::SHA1, 0, 0, 0, S::saAES128, 1, 0, "", ""},
    {"http://opcfoundation.org/UA/SecurityPolicy#None", P::rpPKCS, H::SHA1, P::rpPKCS, H::SHA1, H::SHA1, 0, 0, 0,
     S::saAES128, 1, 0, "", ""},
    {"http://opcfoundation.org/UA/SecurityPolicy#Basic128Rsa15", P::rpPKCS, H::SHA1, P::rpPKCS, H::SHA1, H::SHA1, 20,
     16, 16, S::saAES128, 16, 16, kRsa15, kRsaSha1},
    {"http://opcfoundation.org/UA/SecurityPolicy#Basic256", P::rpOAEP, H::SHA1, P::rpPKCS, H::SHA1, H::SHA1, 20, 24, 32,
     S::saAES256, 16, 32, kRsaOaep, kRsaSha1},
    {"http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256", P::rpOAEP, H::SHA1, P::rpPKCS, H::SHA256, H::SHA256,
     32, 32, 32, S::saAES256, 16, 32, kRsaOaep, kRsaSha256},
    {"http://opcfoundation.org/UA/SecurityPolicy#Aes128_Sha256_RsaOaep", P::rpOAEP, H::SHA1, P::rpPKCS, H::SHA256,
     H::SHA256, 32, 32, 16, S::saAES128, 16, 32, kRsaOaep, kRsaSha256},
    {"http://opcfoundation.org/UA/SecurityPolicy#Aes256_Sha256_RsaPss", P::rpOAEP, H::SHA256, P::rpPSS, H::SHA256,
     H::SHA256, 32, 32, 32, S::saAES256, 16, 32, kRsaOaepSha256, kRsaPssSha256},
};

}  // namespace

const PolicyInfo& Policy(TuaSecurePolicy policy) { return kPolicies[static_cast<int>(policy)]; }

TRSAKeyBits RsaKeyBits(TuaSecurePolicy policy) {
    switch (policy) {
        case TuaSecurePolicy::uaSPBasic128Rsa15:
        case TuaSecurePolicy::uaSPBasic256: return {1024, 2048};
        case TuaSecurePolicy::uaSPBasic256Sha256:
        case TuaSecurePolicy::uaSPAes128_Sha256_RsaOaep:
        case TuaSecurePolicy::uaSPAes256_Sha256_RsaPss: return {2048, 4096};
        default: return {};
    }
}

std::string uaSecurityPolicies::uaSecurityPolicyToString(TuaSecurePolicy policy) { return Policy(policy).uri; }

TuaSecurePolicy uaSecurityPolicies::StringToUaSecurityPolicy(const std::string& uri) {
    for (int p = static_cast<int>(TuaSecurePolicy::uaSPBasic128Rsa15);
         p <= static_cast<int>(TuaSecurePolicy::uaSPAes256_Sha256_RsaPss); ++p)
        if (uri == kPolicies[p].uri) return static_cast<TuaSecurePolicy>(p);
    return TuaSecurePolicy::uaSPNone;
}

bool uaSecurityPolicies::HasNoSecurity(const std::string& uri) {
    return uri.empty() || uri == Policy(TuaSecurePolicy::uaSPNone).uri;
}

bool uaSecurityPolicies::HasSecurityPolicy(TuaSecurePolicy policy) {
    return static_cast<int>(policy) > static_cast<int>(TuaSecurePolicy::uaSPNone);
}

std::string uaSecurityPolicies::SelectPolicy(const std::string& first, const std::string& second) {
    return first.empty() ? second : first;
}

namespace {
constexpr const char* kPolicyNames[] = {"",         "None",     "Basic128Rsa15", "Basic256", "Basic256Sha256",
                                        "Aes128_Sha256_RsaOaep", "Aes256_Sha256_RsaPss"};
constexpr const char* kModeNames[] = {"", "None", "Sign", "SignAndEncrypt"};
}  // namespace

std::optional<TuaSecurePolicy> PolicyFromName(std::string_view name) {
    for (size_t i = 1; i < std::size(kPolicyNames); ++i)
        if (EqualsNoCase(name, kPolicyNames[i])) return static_cast<TuaSecurePolicy>(i);
    return std::nullopt;
}

std::optional<TuaSecureMode> ModeFromName(std::string_view name) {
    for (size_t i = 1; i < std::size(kModeNames); ++i)
        if (EqualsNoCase(name, kModeNames[i])) return static_cast<TuaSecureMode>(i);
    return std::nullopt;
}

const char* PolicyName(TuaSecurePolicy policy) {
    const auto i = static_cast<size_t>(policy);
    return i < std::size(kPolicyNames) ? kPolicyNames[i] : "";
}

const char* ModeName(TuaSecureMode mode) {
    const auto i = static_cast<size_t>(mode);
    return i < std::size(kModeNames) ? kModeNames[i] : "";
}

}  // namespace vela::ua::security
