#pragma once
// Protection of UA secure-channel chunks: padding, signature and encryption on the way out,
// and decryption, verification and the padding check on the way in. The asymmetric delegate
// serves OpenSecureChannel chunks, the symmetric one all others.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "base/DateTime.h"
#include "base/Exception.h"
#include "ua/security/SecurityBackend.h"
#include "ua/security/SecurityPolicy.h"

namespace vela::ua::security {

// A chunk that cannot be read (bad padding, signature, token); the channel faults on it.
class uaChunkError : public Exception {
public:
    using Exception::Exception;
};

struct uaSymmetricAlgorithm {
    Bytes fSigningKey, fEncryptingKey, fInitializationVector;
};

struct uaChannelToken {
    uint32_t channelId = 0;
    uint32_t tokenId = 0;
    DateTime createdAt = 0;   // UTC
    uint32_t lifetime = 0;    // ms
    uaSymmetricAlgorithm fLocal, fRemote;
};

// Byte 4 of a chunk holds its message size.
void SetMessageSize(Bytes& chunk, size_t size);

// Tokens are immutable once issued; a renewal swaps them under a lock while other threads send
// and the read thread receives. The back-end's symmetric state is per direction: sending and
// receiving each install their token's keys under their own lock.
class uaSymmetricDelegate {
public:
    explicit uaSymmetricDelegate(uaMessageSecurityImpl& backend) : backend_(backend) {}

    // Set before the channel carries traffic (not while it does).
    void SetPolicy(TuaSecurePolicy policy, TuaSecureMode mode);
    // Forgets every token (a new connection).
    void Reset();
    // The token the server issued or renewed: it becomes current, keys derived from the nonces
    // (the client's local keys from P(server nonce, client nonce); asServer swaps the roles).
    void IssueToken(uint32_t channelId, uint32_t tokenId, DateTime createdAt, uint32_t lifetimeMs,
                    std::span<const uint8_t> clientNonce, std::span<const uint8_t> serverNonce, bool asServer = false);
    std::shared_ptr<const uaChannelToken> CurrentToken() const;
    std::shared_ptr<const uaChannelToken> PreviousToken() const;

    bool Signed() const { return signed_; }
    bool Encrypted() const { return encrypted_; }
    size_t SignatureSize() const { return signed_ ? Policy(policy_).symmetricSignatureSize : 0; }
    size_t MaxBodySize(size_t sendBufferSize) const;

    // chunk: message header, channel id and token id (securityHeaderEnd bytes), then sequence
    // header and body. Puts the current token's id into the header, pads, sets the final size,
    // signs and encrypts in place with that token's keys.
    void Protect(Bytes& chunk, size_t securityHeaderEnd);
    // The reverse; gives the sequence header and body. Raises uaChunkError.
    std::span<uint8_t> Unprotect(Bytes& chunk, size_t securityHeaderEnd, DateTime nowUtc = NowUtc());

private:
    uaMessageSecurityImpl& backend_;
    TuaSecurePolicy policy_ = TuaSecurePolicy::uaSPNULL;
    bool signed_ = false, encrypted_ = false;
    mutable std::mutex tokenLock_;
    std::shared_ptr<const uaChannelToken> current_, previous_;
    std::mutex sendLock_, receiveLock_;
    // the tokens whose keys the back-end holds for each direction
    std::shared_ptr<const uaChannelToken> sendKeys_, receiveKeys_;
};

class uaAsymmetricDelegate {
public:
    uaAsymmetricDelegate(uaMessageSecurityImpl& backend, bool isWrite) : backend_(backend), isWrite_(isWrite) {}

    // Needs the local key pair and the remote certificate in the back-end for secured policies.
    void SetPolicy(TuaSecurePolicy policy, std::span<const uint8_t> localCertificate,
                   std::span<const uint8_t> remoteCertificate);
    bool Secured() const { return secured_; }
    bool ExtraPadding() const { return extraPadding_; }
    size_t PlainBlockSize() const { return plainBlockSize_; }
    size_t KeySize() const { return keySize_; }
    size_t SignatureSize() const { return signatureSize_; }
    // The header fields: policy URI, sender certificate, receiver certificate thumbprint.
    const std::string& SecurityPolicyUri() const { return policyUri_; }
    const Bytes& SenderCertificate() const { return senderCertificate_; }
    const Bytes& ReceiverCertificateThumbprint() const { return receiverThumbprint_; }
    size_t HeaderSize() const { return policyUri_.size() + senderCertificate_.size() + receiverThumbprint_.size() + 12; }
    // Raises "AsymmetricSecurityHeader is %d bytes which is too large ..." when the header
    // leaves no room.
    size_t MaxBodySize(size_t sendBufferSize) const;

    void Protect(Bytes& chunk, size_t securityHeaderEnd);
    // Decrypts into chunk (which shrinks), verifies and gives the sequence header and body.
    std::span<uint8_t> Unprotect(Bytes& chunk, size_t securityHeaderEnd);

private:
    uaMessageSecurityImpl& backend_;
    bool isWrite_;
    TuaSecurePolicy policy_ = TuaSecurePolicy::uaSPNULL;
    bool secured_ = false, extraPadding_ = false;
    size_t plainBlockSize_ = 0, keySize_ = 0, signatureSize_ = 0;
    std::string policyUri_;
    Bytes senderCertificate_, receiverThumbprint_;
};

}  // namespace vela::ua::security
