#include "ua/transport/uaStackClient.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/ProxyTunnel.h"
#include "base/Text.h"
#include "ua/security/Hash.h"
#include "ua/security/Random.h"
#include "ua/uaStatusCodes.h"

namespace vela::ua {
namespace {

using namespace security;

constexpr int kReadStepMs = 100;  // the read thread looks at its stop flag this often
constexpr int kMinChunkTimeoutMs = 1000;
constexpr uint32_t kHandshakeMax = 8192;
constexpr uint32_t kLastBeforeWrap = 4294966271u;  // sequence numbers may wrap only past this
constexpr uint32_t kFirstAfterWrap = 1024;         // and start again below this

int MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

void PutU32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetU32(std::span<const uint8_t> b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

void PutBytes(std::vector<uint8_t>& b, std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        PutU32(b, 0xFFFFFFFF);
        return;
    }
    PutU32(b, static_cast<uint32_t>(bytes.size()));
    b.insert(b.end(), bytes.begin(), bytes.end());
}

int32_t SecurityModeValue(TuaSecureMode mode) {
    switch (mode) {
        case TuaSecureMode::uaSSign: return 2;
        case TuaSecureMode::uaSSignAndEncrypt: return 3;
        default: return 1;
    }
}

std::string StatusText(uint32_t status) { return Statuscodes::ToString(status); }

}  // namespace

uaMessageLimits NegotiateLimits(const uaMessageLimits& local, const uaMessageLimits& remote) {
    const auto pick = [](uint32_t mine, uint32_t theirs) { return theirs != 0 && theirs < mine ? theirs : mine; };
    uaMessageLimits r;
    r.fSendBufferSize = pick(local.fSendBufferSize, remote.fReceiveBufferSize);
    r.fReceiveBufferSize = pick(local.fReceiveBufferSize, remote.fSendBufferSize);
    r.fMaxMessageSize = pick(local.fMaxMessageSize, remote.fMaxMessageSize);
    r.fMaxChunkCount = pick(local.fMaxChunkCount, remote.fMaxChunkCount);
    return r;
}

uaEndpointAddress ParseEndpointUrl(const std::string& url) {
    static const std::string kScheme = "opc.tcp://";
    // a scheme is case-insensitive
    if (url.size() <= kScheme.size() || !EqualsNoCase(std::string_view(url).substr(0, kScheme.size()), kScheme))
        throw uaConnectionError("Not an opc.tcp endpoint URL: " + url);
    const auto refuse = [&url](const std::string& why) { throw uaConnectionError(url + ": " + why); };
    std::string rest = url.substr(kScheme.size());
    rest = rest.substr(0, rest.find('/'));
    uaEndpointAddress address;
    std::optional<std::string> port;
    if (rest.starts_with("[")) {  // an IPv6 address: [::1]:4840
        const size_t close = rest.find(']');
        if (close == std::string::npos) refuse("a bracketed host needs its ']'");
        address.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after[0] != ':') refuse("the host is followed by neither ':' nor '/'");
        if (!after.empty()) port = after.substr(1);
    } else {
        const size_t colon = rest.find(':');
        if (colon != std::string::npos && rest.find(':', colon + 1) != std::string::npos)
            refuse("an IPv6 address goes in brackets, e.g. opc.tcp://[::1]:4840");
        address.host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1);
    }
    if (address.host.empty()) refuse("no host in the URL");
    if (port) {
        // a port beyond 16 bits must not wrap onto another one
        if (port->empty()) refuse("no port after the ':'");
        if (!std::all_of(port->begin(), port->end(), [](char c) { return c >= '0' && c <= '9'; }))
            refuse("the port '" + *port + "' is not a number");
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
        if (ec != std::errc() || value < 1 || value > 65535) refuse("the port " + *port + " is out of range (1..65535)");
        address.port = static_cast<uint16_t>(value);
    }
    return address;
}

uaStackClient::uaStackClient(TuaSecurityLib library)
    : security_(CreateSecurityBackend(library)),
      symmetric_(*security_),
      asymWriter_(*security_, true),
      asymReader_(*security_, false) {}

uaStackClient::~uaStackClient() { Disconnect(); }

uint32_t uaStackClient::NextRequestId() { return ++requestId_; }

void uaStackClient::Connect(const std::string& url, const std::string& proxy, int timeoutMs,
                            const uaMessageLimits& localLimits) {
    Disconnect();
    url_ = url;
    const uaEndpointAddress address = ParseEndpointUrl(url);
    socket_ = ConnectVia(ParseProxy(proxy), address.host, address.port, timeoutMs);
    faulted_ = false;
    {
        std::lock_guard lock(waitLock_);
        faultText_.clear();
        responses_.clear();
    }
    stop_ = false;
    sequenceNumber_ = 0;
    channelId_ = 0;
    collected_.clear();
    collectedChunks_ = 0;
    lastSequence_.reset();
    symmetric_.Reset();
    chunkTimeoutMs_ = std::max(timeoutMs, kMinChunkTimeoutMs);
    local_ = localLimits;
    const uaMessageLimits& local = local_;
    std::vector<uint8_t> hello = {'H', 'E', 'L', 'F', 0, 0, 0, 0};
    PutU32(hello, 0);
    PutU32(hello, local.fReceiveBufferSize);
    PutU32(hello, local.fSendBufferSize);
    PutU32(hello, local.fMaxMessageSize);
    PutU32(hello, local.fMaxChunkCount);
    PutBytes(hello, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(url.data()), url.size()));
    SetMessageSize(hello, hello.size());
    socket_.SendAll(hello);
    // the whole answer within the time, however slowly it trickles in
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::vector<uint8_t> header(8), body;
    try {
        socket_.ReceiveExact(header, MsLeft(deadline));
        const uint32_t size = GetU32(header, 4);
        if (size < 8 || size > kHandshakeMax) {
            socket_.Close();
            throw uaConnectionError("The server's answer to Hello has a size of " + std::to_string(size));
        }
        body.resize(size - 8);
        socket_.ReceiveExact(body, MsLeft(deadline));
    } catch (const uaConnectionError&) {
        throw;
    } catch (const Exception& e) {
        socket_.Close();
        throw uaConnectionError(std::string("No Acknowledge from the server: ") + e.what());
    }
    if (std::memcmp(header.data(), "ERRF", 4) == 0 && body.size() >= 8) {
        const uint32_t status = GetU32(body, 0);
        const uint32_t length = GetU32(body, 4);
        const std::string reason = length <= body.size() - 8 ? std::string(body.begin() + 8, body.begin() + 8 + length) : "";
        socket_.Close();
        throw uaConnectionError("The server refused the connection: " + StatusText(status) + " " + reason);
    }
    if (std::memcmp(header.data(), "ACKF", 4) != 0 || body.size() < 20) {
        socket_.Close();
        throw uaConnectionError("The server did not answer Hello with Acknowledge");
    }
    uaMessageLimits remote;
    remote.fReceiveBufferSize = GetU32(body, 4);
    remote.fSendBufferSize = GetU32(body, 8);
    remote.fMaxMessageSize = GetU32(body, 12);
    remote.fMaxChunkCount = GetU32(body, 16);
    limits_ = NegotiateLimits(local, remote);
    reader_ = std::thread([this] { ReadLoop(); });
}

void uaStackClient::Disconnect() {
    stop_ = true;
    // a reader waiting for a trickling peer wakes at once
    socket_.Shutdown();
    if (reader_.joinable()) {
        if (reader_.get_id() != std::this_thread::get_id()) reader_.join();
        else reader_.detach();
    }
    socket_.Close();
    {
        // calls still waiting end now rather than at their time-outs
        std::lock_guard lock(waitLock_);
        if (!faulted_) faultText_ = "The connection was closed";
        faulted_ = true;
    }
    arrived_.notify_all();
}

std::string uaStackClient::FaultText() {
    std::lock_guard lock(waitLock_);
    return faultText_;
}

void uaStackClient::Fault(const std::string& text) {
    {
        std::lock_guard lock(waitLock_);
        if (faulted_) return;
        faulted_ = true;
        faultText_ = text;
    }
    arrived_.notify_all();
    if (onCriticalError) onCriticalError(text);
}

void uaStackClient::ReadLoop() {
    try {
        while (!stop_) {
            if (!socket_.WaitReadable(kReadStepMs) || stop_) continue;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(chunkTimeoutMs_);
            std::vector<uint8_t> chunk(8);
            socket_.ReceiveExact(chunk, chunkTimeoutMs_, &stop_);
            const uint32_t size = GetU32(chunk, 4);
            if (size < 12 || size > limits_.fReceiveBufferSize)
                throw uaConnectionError("A chunk of " + std::to_string(size) + " bytes does not fit the negotiated receive buffer of " +
                                        std::to_string(limits_.fReceiveBufferSize) + " bytes");
            chunk.resize(size);
            try {
                socket_.ReceiveExact(std::span<uint8_t>(chunk.data() + 8, size - 8), MsLeft(deadline), &stop_);
            } catch (const Exception& e) {
                if (stop_) throw;
                throw uaConnectionError("A chunk of " + std::to_string(size) + " bytes did not arrive whole within " +
                                        std::to_string(chunkTimeoutMs_) + " ms (" + e.what() + ")");
            }
            ReadChunk(chunk);
        }
    } catch (const std::exception& e) {
        if (!stop_) Fault(e.what());
    }
}

std::span<uint8_t> uaStackClient::ReadOpenChunk(std::vector<uint8_t>& chunk) {
    // the asymmetric security header: policy URI, sender certificate, receiver thumbprint
    size_t at = 12;
    std::span<const uint8_t> sender, thumbprint;
    for (int field = 0; field < 3; ++field) {
        if (at + 4 > chunk.size()) throw uaConnectionError("A truncated OpenSecureChannel header");
        const uint32_t length = GetU32(chunk, at);
        at += 4;
        if (length == 0xFFFFFFFF) continue;
        if (length > chunk.size() - at) throw uaConnectionError("A truncated OpenSecureChannel header");
        if (field == 1) sender = std::span<const uint8_t>(chunk.data() + at, length);
        if (field == 2) thumbprint = std::span<const uint8_t>(chunk.data() + at, length);
        at += length;
    }
    std::vector<uint8_t> expectedSender, expectedThumbprint;
    {
        std::lock_guard lock(openLock_);
        expectedSender = expectedServerCertificate_;
        expectedThumbprint = expectedThumbprint_;
    }
    const auto same = [](std::span<const uint8_t> a, const std::vector<uint8_t>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    };
    if (asymReader_.Secured() && !same(sender, expectedSender))
        throw uaConnectionError("The server signed the channel with another certificate than its endpoint's");
    if (asymReader_.Secured() && !same(thumbprint, expectedThumbprint))
        throw uaConnectionError("The server's OpenSecureChannel response is meant for another certificate than ours");
    const uint32_t channelId = GetU32(chunk, 8);
    const std::span<uint8_t> plain = asymReader_.Unprotect(chunk, at);
    // only a verified response names the channel, and a renewal keeps it
    const uint32_t known = channelId_;
    if (known != 0 && channelId != known)
        throw uaConnectionError("The server moved the secure channel from id " + std::to_string(known) + " to " +
                                std::to_string(channelId));
    if (channelId == 0) throw uaConnectionError("The server opened a secure channel with id 0");
    channelId_ = channelId;
    return plain;
}

void uaStackClient::CheckSequence(uint32_t sequenceNumber) {
    if (lastSequence_) {
        const uint32_t last = *lastSequence_;
        const bool next = sequenceNumber == last + 1;  // unsigned: 0xFFFFFFFF + 1 is 0, a valid wrap
        const bool wrapped = last > kLastBeforeWrap && sequenceNumber < kFirstAfterWrap;
        if (!next && !wrapped)
            throw uaConnectionError("A chunk arrived out of sequence: number " + std::to_string(sequenceNumber) + " after " +
                                    std::to_string(last) + " (replayed, lost or reordered)");
    }
    lastSequence_ = sequenceNumber;
}

void uaStackClient::ReadChunk(std::vector<uint8_t>& chunk) {
    const std::string type(chunk.begin(), chunk.begin() + 3);
    const char chunkType = static_cast<char>(chunk[3]);
    if (type == "ERR") {
        if (chunk.size() < 16) throw uaConnectionError("A truncated error message from the server");
        const uint32_t status = GetU32(chunk, 8);
        const uint32_t length = GetU32(chunk, 12);
        const std::string reason =
            length != 0xFFFFFFFF && length <= chunk.size() - 16 && length <= 4096 ? std::string(chunk.begin() + 16, chunk.begin() + 16 + length) : "";
        if (onErrorMessage) onErrorMessage(status, reason);
        throw uaConnectionError("ERR from the server: " + StatusText(status) + " " + reason);
    }
    std::span<uint8_t> plain;
    if (type == "OPN") {
        plain = ReadOpenChunk(chunk);
    } else if (type == "MSG" || type == "CLO") {
        const uint32_t channelId = GetU32(chunk, 8);
        if (channelId != channelId_)
            throw uaConnectionError("A chunk for secure channel " + std::to_string(channelId) + " arrived on channel " +
                                    std::to_string(channelId_.load()));
        plain = symmetric_.Unprotect(chunk, 16);
    } else {
        return;  // other kinds are ignored
    }
    if (chunkType != 'F' && chunkType != 'C' && chunkType != 'A')
        throw uaConnectionError(std::string("A chunk of unknown kind '") + chunkType + "'");
    if (plain.size() < 8) throw uaConnectionError("A chunk without sequence header");
    CheckSequence(GetU32(plain, 0));
    const uint32_t requestId = GetU32(plain, 4);
    if (collectedChunks_ > 0 && (requestId != collectedRequestId_ || type[0] != collectedType_))
        throw uaConnectionError("A chunk of request " + std::to_string(requestId) + " (" + type +
                                ") arrived inside the message of request " + std::to_string(collectedRequestId_));
    const std::span<const uint8_t> piece(plain.data() + 8, plain.size() - 8);
    if (chunkType == 'A') {
        collected_.clear();
        collectedChunks_ = 0;
        if (onErrorMessage && piece.size() >= 4) onErrorMessage(GetU32(piece, 0), "aborted");
        Deliver(requestId, {});
        return;
    }
    collected_.insert(collected_.end(), piece.begin(), piece.end());
    ++collectedChunks_;
    collectedRequestId_ = requestId;
    collectedType_ = type[0];
    if (collected_.size() > local_.fMaxMessageSize || (local_.fMaxChunkCount && collectedChunks_ > local_.fMaxChunkCount))
        throw uaConnectionError("The message exceeds the negotiated maximum size");
    if (chunkType == 'C') return;
    std::vector<uint8_t> body = std::move(collected_);
    collected_.clear();
    collectedChunks_ = 0;
    if (type == "MSG" && onMessage) onMessage(requestId, std::move(body));
    else Deliver(requestId, std::move(body));
}

void uaStackClient::Deliver(uint32_t requestId, std::vector<uint8_t> body) {
    {
        std::lock_guard lock(waitLock_);
        responses_[requestId] = std::move(body);
    }
    arrived_.notify_all();
}

std::vector<uint8_t> uaStackClient::WaitFor(uint32_t requestId, int timeoutMs) {
    std::unique_lock lock(waitLock_);
    const bool done = arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [&] { return responses_.count(requestId) || faulted_; });
    if (auto it = responses_.find(requestId); it != responses_.end()) {
        std::vector<uint8_t> body = std::move(it->second);
        responses_.erase(it);
        if (body.empty()) throw uaConnectionError("The server aborted the response");
        return body;
    }
    if (faulted_) throw uaConnectionError(faultText_);
    (void)done;  // (waitLock_ is held here)
    throw uaConnectionError(Statuscodes::ToString(0x800A0000));  // BadTimeout
}

void uaStackClient::SendMessage(const char type[3], uint32_t requestId, const TuaObj& message) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(message);
    const std::vector<uint8_t>& body = encoder.Buffer();
    const bool asymmetric = std::memcmp(type, "OPN", 3) == 0;
    std::lock_guard lock(sendLock_);
    if (faulted_) throw uaConnectionError(FaultText());
    const size_t maxBody = asymmetric ? asymWriter_.MaxBodySize(limits_.fSendBufferSize)
                                      : symmetric_.MaxBodySize(limits_.fSendBufferSize);
    if (maxBody == 0) throw uaConnectionError("The send buffer leaves no room for a message body");
    size_t at = 0;
    do {
        const size_t piece = std::min(maxBody, body.size() - at);
        const bool last = at + piece == body.size();
        std::vector<uint8_t> chunk = {static_cast<uint8_t>(type[0]), static_cast<uint8_t>(type[1]),
                                      static_cast<uint8_t>(type[2]), static_cast<uint8_t>(last ? 'F' : 'C'), 0, 0, 0, 0};
        PutU32(chunk, channelId_);
        if (asymmetric) {
            const std::string& uri = asymWriter_.SecurityPolicyUri();
            PutBytes(chunk, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(uri.data()), uri.size()));
            PutBytes(chunk, asymWriter_.SenderCertificate());
            PutBytes(chunk, asymWriter_.ReceiverCertificateThumbprint());
        } else {
            PutU32(chunk, 0);  // the token id: the delegate puts in the one whose keys it uses
        }
        const size_t securityHeaderEnd = chunk.size();
        PutU32(chunk, ++sequenceNumber_);
        PutU32(chunk, requestId);
        chunk.insert(chunk.end(), body.begin() + static_cast<std::ptrdiff_t>(at),
                     body.begin() + static_cast<std::ptrdiff_t>(at + piece));
        if (asymmetric) asymWriter_.Protect(chunk, securityHeaderEnd);
        else symmetric_.Protect(chunk, securityHeaderEnd);
        socket_.SendAll(chunk);
        at += piece;
    } while (at < body.size());
}

void uaStackClient::OpenSecureChannel(TuaSecurePolicy policy, TuaSecureMode mode, const std::vector<uint8_t>& clientCertificate,
                                      const std::vector<uint8_t>& serverCertificate, uint32_t requestedLifetimeMs,
                                      int timeoutMs, bool renew) {
    const bool secured = uaSecurityPolicies::HasSecurityPolicy(policy);
    if (renew && policy != policy_) throw uaConnectionError("A renewal cannot change the security policy");
    if (!renew) {
        // certificates and policy stay as they are for the channel's life: the read thread uses them
        if (secured) {
            security_->Asym().LoadPublicCertificate(serverCertificate, TCertificateUsage::cuUseRemoteKey, RsaKeyBits(policy));
            security_->Asym().LoadPublicCertificate(clientCertificate, TCertificateUsage::cuUseLocalKey, RsaKeyBits(policy));
        }
        {
            std::lock_guard lock(openLock_);
            expectedServerCertificate_ = serverCertificate;
            expectedThumbprint_ = secured ? HashOf(THashAlgorithm::SHA1, clientCertificate) : Bytes{};
        }
        asymWriter_.SetPolicy(policy, clientCertificate, serverCertificate);
        asymReader_.SetPolicy(policy, clientCertificate, serverCertificate);
    }
    const Bytes clientNonce = RandomBytes(Policy(policy).nonceSize);
    uaOpenSecureChannelRequest request;
    request.fRequestHeader.fTimestamp = NowUtc();
    request.fRequestHeader.fTimeoutHint = static_cast<uint32_t>(timeoutMs);
    request.fRequestType.fValue = renew ? 1 : 0;
    request.fSecurityMode.fValue = SecurityModeValue(mode);
    request.fClientNonce = clientNonce;
    request.fRequestedLifetime = requestedLifetimeMs;
    const uint32_t id = NextRequestId();
    request.fRequestHeader.fRequestHandle = id;
    SendMessage("OPN", id, request);
    const std::vector<uint8_t> body = WaitFor(id, timeoutMs);
    TuaBinaryDecoder decoder(body);
    const uint32_t type = decoder.ReadMessageId();
    if (type == static_cast<uint32_t>(uaServiceFault::kObjNo)) {
        uaServiceFault fault;
        decoder.Read(fault);
        throw uaConnectionError("OpenSecureChannel failed: " + StatusText(fault.fResponseHeader.fServiceResult));
    }
    if (type != static_cast<uint32_t>(uaOpenSecureChannelResponse::kObjNo))
        throw uaConnectionError("OpenSecureChannel answered with message " + std::to_string(type));
    uaOpenSecureChannelResponse response;
    decoder.Read(response);
    if (response.fResponseHeader.fServiceResult & 0x80000000u)
        throw uaConnectionError("OpenSecureChannel failed: " + StatusText(response.fResponseHeader.fServiceResult));
    const uaChannelSecurityToken& token = response.fSecurityToken;
    if (secured && response.fServerNonce.size() != Policy(policy).nonceSize)
        throw uaConnectionError("The server's nonce has " + std::to_string(response.fServerNonce.size()) + " bytes; " +
                                uaSecurityPolicies::uaSecurityPolicyToString(policy) + " needs " +
                                std::to_string(Policy(policy).nonceSize));
    if (token.fChannelId != channelId_)
        throw uaConnectionError("The server's token is for secure channel " + std::to_string(token.fChannelId) +
                                ", not for channel " + std::to_string(channelId_.load()));
    const uint32_t minimum = std::min(kMinTokenLifetimeMs, requestedLifetimeMs);
    if (token.fRevisedLifetime < minimum)
        throw uaConnectionError("The server granted the security token a lifetime of " +
                                std::to_string(token.fRevisedLifetime) + " ms; at least " + std::to_string(minimum) +
                                " ms are needed");
    if (!renew) {
        policy_ = policy;
        mode_ = mode;
        symmetric_.SetPolicy(policy, mode);
    }
    revisedLifetime_ = token.fRevisedLifetime;
    symmetric_.IssueToken(token.fChannelId, token.fTokenId, NowUtc(),  // our clock: servers may be skewed
                          token.fRevisedLifetime, clientNonce, response.fServerNonce);
}

void uaStackClient::CloseSecureChannel() {
    if (!socket_.IsOpen() || faulted_) return;
    try {
        uaCloseSecureChannelRequest request;
        request.fRequestHeader.fTimestamp = NowUtc();
        SendMessage("CLO", NextRequestId(), request);
    } catch (const Exception&) {
    }
    Disconnect();
}

std::unique_ptr<TuaObj> uaStackClient::Call(TuaRequestObj& request, int timeoutMs) {
    const uint32_t id = NextRequestId();
    uaRequestHeader& header = *request.GetRequestHeader();
    header.fTimestamp = NowUtc();
    header.fRequestHandle = id;
    header.fTimeoutHint = static_cast<uint32_t>(timeoutMs);
    SendMessage("MSG", id, request);
    const std::vector<uint8_t> body = WaitFor(id, timeoutMs);
    TuaBinaryDecoder decoder(body);
    const uint32_t type = decoder.ReadMessageId();
    std::unique_ptr<TuaObj> response = CreateStructure(static_cast<int32_t>(type));
    if (!response) throw uaConnectionError("An unknown response message " + std::to_string(type));
    decoder.Read(*response);
    return response;
}

}  // namespace vela::ua
