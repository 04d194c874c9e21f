#include "ua/security/ChunkSecurity.h"

#include <cstdio>
#include <cstring>

#include "ua/security/Hmac.h"
#include "ua/security/X509.h"

namespace vela::ua::security {
namespace {

uint32_t ReadU32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

// p padding bytes then the count: L + p + overhead + S is a multiple of P.
void AppendPadding(Bytes& chunk, size_t plainLength, size_t blockSize, size_t signatureSize, bool extra) {
    const size_t overhead = extra ? 2 : 1;
    const size_t p = (blockSize - (plainLength + overhead + signatureSize) % blockSize) % blockSize;
    chunk.insert(chunk.end(), p + 1, static_cast<uint8_t>(p & 0xFF));
    if (extra) chunk.push_back(static_cast<uint8_t>(p >> 8));
}

// The padding before the signature: checked without an early exit; the number of bytes to
// drop (padding and count) or nothing.
std::optional<size_t> CheckPadding(const Bytes& chunk, size_t plainStart, size_t signatureSize, bool extra) {
    const size_t end = chunk.size() - signatureSize;
    const size_t overhead = extra ? 2 : 1;
    if (end < plainStart + overhead) return std::nullopt;
    size_t p = chunk[end - overhead];
    if (extra) p |= static_cast<size_t>(chunk[end - 1]) << 8;
    if (p + overhead > end - plainStart) return std::nullopt;
    uint8_t diff = 0;
    for (size_t i = end - overhead - p; i < end - overhead; ++i) diff |= static_cast<uint8_t>(chunk[i] ^ (p & 0xFF));
    if (diff) return std::nullopt;
    return p + overhead;
}

std::string TokenDetail(uint32_t channelId, uint32_t tokenId, const uaChannelToken* current,
                        const uaChannelToken* previous) {
    char text[160];
    std::snprintf(text, sizeof text, "ChanneId=%u, TokenId=%u, CurrentTokenId=%u, PreviousTokenId=%u", channelId,
                  tokenId, current ? current->tokenId : 0u, previous ? previous->tokenId : 0u);
    return text;
}

}  // namespace

void SetMessageSize(Bytes& chunk, size_t size) {
    for (int i = 0; i < 4; ++i) chunk[4 + i] = static_cast<uint8_t>(size >> (8 * i));
}

// --- symmetric ---

void uaSymmetricDelegate::SetPolicy(TuaSecurePolicy policy, TuaSecureMode mode) {
    policy_ = policy;
    const bool secured = uaSecurityPolicies::HasSecurityPolicy(policy);
    signed_ = secured && (mode == TuaSecureMode::uaSSign || mode == TuaSecureMode::uaSSignAndEncrypt);
    encrypted_ = secured && mode == TuaSecureMode::uaSSignAndEncrypt;
}

void uaSymmetricDelegate::Reset() {
    {
        std::lock_guard lock(tokenLock_);
        current_.reset();
        previous_.reset();
    }
    std::scoped_lock keys(sendLock_, receiveLock_);
    sendKeys_.reset();
    receiveKeys_.reset();
}

void uaSymmetricDelegate::IssueToken(uint32_t channelId, uint32_t tokenId, DateTime createdAt, uint32_t lifetimeMs,
                                     std::span<const uint8_t> clientNonce, std::span<const uint8_t> serverNonce,
                                     bool asServer) {
    auto token = std::make_shared<uaChannelToken>();
    token->channelId = channelId;
    token->tokenId = tokenId;
    token->createdAt = createdAt;
    token->lifetime = lifetimeMs;
    if (uaSecurityPolicies::HasSecurityPolicy(policy_)) {
        const PolicyInfo& info = Policy(policy_);
        const size_t sign = info.signingKeySize, enc = info.encryptionKeySize, iv = info.blockSize;
        const auto derive = [&](std::span<const uint8_t> secret, std::span<const uint8_t> seed) {
            const Bytes stream = PSHA_impl(info.symmetricHash, {}, secret, seed, 0, sign + enc + iv);
            uaSymmetricAlgorithm keys;
            keys.fSigningKey.assign(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(sign));
            keys.fEncryptingKey.assign(stream.begin() + static_cast<std::ptrdiff_t>(sign),
                                       stream.begin() + static_cast<std::ptrdiff_t>(sign + enc));
            keys.fInitializationVector.assign(stream.begin() + static_cast<std::ptrdiff_t>(sign + enc), stream.end());
            return keys;
        };
        const uaSymmetricAlgorithm clientKeys = derive(serverNonce, clientNonce);
        const uaSymmetricAlgorithm serverKeys = derive(clientNonce, serverNonce);
        token->fLocal = asServer ? serverKeys : clientKeys;
        token->fRemote = asServer ? clientKeys : serverKeys;
    }
    std::lock_guard lock(tokenLock_);
    previous_ = std::move(current_);
    current_ = std::move(token);
}

std::shared_ptr<const uaChannelToken> uaSymmetricDelegate::CurrentToken() const {
    std::lock_guard lock(tokenLock_);
    return current_;
}

std::shared_ptr<const uaChannelToken> uaSymmetricDelegate::PreviousToken() const {
    std::lock_guard lock(tokenLock_);
    return previous_;
}

size_t uaSymmetricDelegate::MaxBodySize(size_t sendBufferSize) const {
    // Encryption starts at the sequence header, so the cipher text is the whole blocks that fit
    // behind the 16 clear bytes; the body is what is left of them after sequence header,
    // signature and the padding count.
    constexpr long kClear = 16;  // message header 8, channel id 4, token id 4
    const long buffer = static_cast<long>(sendBufferSize);
    long m = buffer - kClear - 8 - static_cast<long>(SignatureSize());
    if (encrypted_) m = (buffer - kClear) / 16 * 16 - 8 - static_cast<long>(SignatureSize()) - 1;
    return m > 0 ? static_cast<size_t>(m) : 0;
}

void uaSymmetricDelegate::Protect(Bytes& chunk, size_t securityHeaderEnd) {
    if (chunk.size() < securityHeaderEnd || securityHeaderEnd < 16) throw uaChunkError("The chunk is too short");
    const std::shared_ptr<const uaChannelToken> token = CurrentToken();
    const uint32_t tokenId = token ? token->tokenId : 0;
    for (int i = 0; i < 4; ++i) chunk[securityHeaderEnd - 4 + i] = static_cast<uint8_t>(tokenId >> (8 * i));
    const size_t signature = SignatureSize();
    if (encrypted_) AppendPadding(chunk, chunk.size() - securityHeaderEnd, 16, signature, false);
    SetMessageSize(chunk, chunk.size() + signature);
    if (!signed_) return;
    if (!token) throw uaChunkError("No security token to protect the chunk with");
    const PolicyInfo& info = Policy(policy_);
    std::lock_guard lock(sendLock_);
    if (sendKeys_ != token) {
        backend_.Sym().InitSymmetricSign(info.symmetricHash, token->fLocal.fSigningKey);
        backend_.Sym().InitEncryptSymm(info.symmetricAlgorithm, token->fLocal.fEncryptingKey,
                                       token->fLocal.fInitializationVector);
        sendKeys_ = token;
    }
    const Bytes mac = backend_.Sym().SymmetricSign(chunk);
    chunk.insert(chunk.end(), mac.begin(), mac.end());
    if (encrypted_) {
        std::span<uint8_t> part(chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd);
        backend_.Sym().encryptSymm(part, part);
    }
}

std::span<uint8_t> uaSymmetricDelegate::Unprotect(Bytes& chunk, size_t securityHeaderEnd, DateTime nowUtc) {
    if (chunk.size() < securityHeaderEnd || securityHeaderEnd < 16) throw uaChunkError("The chunk is too short");
    const uint32_t channelId = ReadU32(chunk, 8);
    const uint32_t tokenId = ReadU32(chunk, securityHeaderEnd - 4);
    std::shared_ptr<const uaChannelToken> current, previous, token;
    {
        std::lock_guard lock(tokenLock_);
        current = current_;
        previous = previous_;
    }
    if (current && tokenId == current->tokenId) token = current;
    else if (previous && tokenId == previous->tokenId) token = previous;
    if (!token)
        throw uaChunkError("SecurityTokenId is not known. " + TokenDetail(channelId, tokenId, current.get(), previous.get()));
    if (nowUtc > token->createdAt + 1.25 * token->lifetime / 86'400'000.0)
        throw uaChunkError("SecurityToken has timeouted. " + TokenDetail(channelId, tokenId, current.get(), previous.get()));
    if (!uaSecurityPolicies::HasSecurityPolicy(policy_))
        return {chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd};
    const PolicyInfo& info = Policy(policy_);
    const size_t signature = SignatureSize();
    std::lock_guard lock(receiveLock_);
    if (receiveKeys_ != token) {
        backend_.Sym().InitSymmetricVerify(info.symmetricHash, token->fRemote.fSigningKey);
        backend_.Sym().InitDecryptSymm(info.symmetricAlgorithm, token->fRemote.fEncryptingKey,
                                       token->fRemote.fInitializationVector);
        receiveKeys_ = token;
    }
    if (encrypted_) {
        if ((chunk.size() - securityHeaderEnd) % 16 != 0) throw uaChunkError("The encrypted chunk is not whole blocks");
        std::span<uint8_t> part(chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd);
        backend_.Sym().DecryptSymm(part, part);
    }
    bool good = true;
    if (signed_) {
        if (chunk.size() < securityHeaderEnd + signature) throw uaChunkError("The chunk is too short");
        const std::span<const uint8_t> data(chunk.data(), chunk.size() - signature);
        const std::span<const uint8_t> mac(chunk.data() + chunk.size() - signature, signature);
        good = backend_.Sym().SymmetricVerify(data, mac);
    }
    size_t footer = signature;
    if (encrypted_) {
        const auto padding = CheckPadding(chunk, securityHeaderEnd, signature, false);
        good = good && padding.has_value();
        footer += padding.value_or(0);
    }
    // a bad signature and a bad padding end the same way
    if (!good) throw uaChunkError("Could not verify the padding in the message.");
    return {chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd - footer};
}

// --- asymmetric ---

void uaAsymmetricDelegate::SetPolicy(TuaSecurePolicy policy, std::span<const uint8_t> localCertificate,
                                     std::span<const uint8_t> remoteCertificate) {
    policy_ = policy;
    secured_ = uaSecurityPolicies::HasSecurityPolicy(policy);
    policyUri_ = uaSecurityPolicies::uaSecurityPolicyToString(policy);
    senderCertificate_.clear();
    receiverThumbprint_.clear();
    plainBlockSize_ = keySize_ = signatureSize_ = 0;
    extraPadding_ = false;
    if (!secured_) return;
    const PolicyInfo& info = Policy(policy);
    auto& asym = backend_.Asym();
    const size_t localSize = asym.RSASize(TCertificateUsage::cuUseLocalKey);
    const size_t remoteSize = asym.RSASize(TCertificateUsage::cuUseRemoteKey);
    if (isWrite_) {
        asym.initRSAEncrypt(TCertificateUsage::cuUseRemoteKey, info.cryptPadding, info.cryptHash);
        keySize_ = remoteSize;
        signatureSize_ = localSize;
    } else {
        asym.initRSADecrypt(TCertificateUsage::cuUseLocalKey, info.cryptPadding, info.cryptHash);
        keySize_ = localSize;
        signatureSize_ = remoteSize;
    }
    if (keySize_ == 0 || signatureSize_ == 0) throw uaChunkError("The channel has no RSA key to protect its messages with");
    plainBlockSize_ = RSABlockSize(keySize_, info.cryptPadding, info.cryptHash);
    if (plainBlockSize_ == 0 || plainBlockSize_ > keySize_) throw uaChunkError("The RSA key is too small for the security policy");
    extraPadding_ = keySize_ > 256;
    senderCertificate_.assign(localCertificate.begin(), localCertificate.end());
    receiverThumbprint_ = HashOf(THashAlgorithm::SHA1, remoteCertificate);
}

size_t uaAsymmetricDelegate::MaxBodySize(size_t sendBufferSize) const {
    const size_t overhead = extraPadding_ ? 2 : 1;
    const size_t header = HeaderSize();
    if (header + signatureSize_ + overhead + 8 >= sendBufferSize) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "AsymmetricSecurityHeader is %zu bytes which is too large for the send buffer size of %zu bytes.",
                      header, sendBufferSize);
        throw uaChunkError(text);
    }
    const long clear = 12 + static_cast<long>(header);  // message header, channel id, security header
    long m = static_cast<long>(sendBufferSize) - clear - 8;
    if (secured_) {
        const long blocks = (static_cast<long>(sendBufferSize) - clear) / static_cast<long>(keySize_);
        m = blocks * static_cast<long>(plainBlockSize_) - 8 - static_cast<long>(signatureSize_) - static_cast<long>(overhead);
    }
    return m > 0 ? static_cast<size_t>(m) : 0;
}

void uaAsymmetricDelegate::Protect(Bytes& chunk, size_t securityHeaderEnd) {
    if (!secured_) {
        SetMessageSize(chunk, chunk.size());
        return;
    }
    const PolicyInfo& info = Policy(policy_);
    AppendPadding(chunk, chunk.size() - securityHeaderEnd, plainBlockSize_, signatureSize_, extraPadding_);
    const size_t plainTotal = chunk.size() - securityHeaderEnd + signatureSize_;
    SetMessageSize(chunk, securityHeaderEnd + plainTotal / plainBlockSize_ * keySize_);
    const Bytes signature = backend_.Asym().Sign_Rsa(info.signPadding, info.signHash, chunk);
    if (signature.size() != signatureSize_) throw uaChunkError("Native Security Error: sign error");
    chunk.insert(chunk.end(), signature.begin(), signature.end());
    const Bytes cipher = backend_.Asym().EncryptRsa(
        std::span<const uint8_t>(chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd), plainBlockSize_,
        keySize_);
    chunk.resize(securityHeaderEnd);
    chunk.insert(chunk.end(), cipher.begin(), cipher.end());
}

std::span<uint8_t> uaAsymmetricDelegate::Unprotect(Bytes& chunk, size_t securityHeaderEnd) {
    if (chunk.size() < securityHeaderEnd) throw uaChunkError("The chunk is too short");
    if (!secured_) return {chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd};
    const PolicyInfo& info = Policy(policy_);
    if ((chunk.size() - securityHeaderEnd) % keySize_ != 0) throw uaChunkError("The encrypted chunk is not whole blocks");
    Bytes plain;
    try {
        plain = backend_.Asym().DecryptRsa(
            std::span<const uint8_t>(chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd),
            plainBlockSize_, keySize_);
    } catch (const Exception&) {
        throw uaChunkError("Could not verify the padding in the message.");
    }
    chunk.resize(securityHeaderEnd);
    chunk.insert(chunk.end(), plain.begin(), plain.end());
    if (chunk.size() < securityHeaderEnd + signatureSize_) throw uaChunkError("The chunk is too short");
    const std::span<const uint8_t> data(chunk.data(), chunk.size() - signatureSize_);
    const std::span<const uint8_t> signature(chunk.data() + chunk.size() - signatureSize_, signatureSize_);
    const bool verified = backend_.Asym().Verify_Rsa(info.signPadding, info.signHash, data, signature);
    const auto padding = CheckPadding(chunk, securityHeaderEnd, signatureSize_, extraPadding_);
    if (!verified || !padding) throw uaChunkError("Could not verify the padding in the message.");
    return {chunk.data() + securityHeaderEnd, chunk.size() - securityHeaderEnd - signatureSize_ - *padding};
}

}  // namespace vela::ua::security
