#include "ua/transport/uaStackClient.h"

#include <chrono>
#include <cstring>

#include "base/ProxyTunnel.h"
#include "ua/security/Random.h"
#include "ua/uaStatusCodes.h"

namespace vela::ua {
namespace {

using namespace security;

constexpr int kReadStepMs = 100;       // the read thread looks at its stop flag this often
constexpr int kMessageTimeoutMs = 30000;
constexpr uint32_t kHandshakeMax = 8192;

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
    if (url.size() <= kScheme.size() || url.compare(0, kScheme.size(), kScheme) != 0)
        throw uaConnectionError("Not an opc.tcp endpoint URL: " + url);
    std::string rest = url.substr(kScheme.size());
    rest = rest.substr(0, rest.find('/'));
    uaEndpointAddress address;
    const size_t colon = rest.rfind(':');
    if (colon != std::string::npos && rest.find(']') == std::string::npos) {
        address.host = rest.substr(0, colon);
        address.port = static_cast<uint16_t>(std::stoi(rest.substr(colon + 1)));
    } else {
        address.host = rest;
    }
    if (address.host.empty()) throw uaConnectionError("No host in the endpoint URL: " + url);
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
    faultText_.clear();
    stop_ = false;
    sequenceNumber_ = 0;
    channelId_ = 0;
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
    std::vector<uint8_t> header(8);
    try {
        socket_.ReceiveExact(header, timeoutMs);
    } catch (const Exception& e) {
        socket_.Close();
        throw uaConnectionError(std::string("No Acknowledge from the server: ") + e.what());
    }
    const uint32_t size = GetU32(header, 4);
    if (size < 8 || size > kHandshakeMax) {
        socket_.Close();
        throw uaConnectionError("The server's answer to Hello has a size of " + std::to_string(size));
    }
    std::vector<uint8_t> body(size - 8);
    socket_.ReceiveExact(body, timeoutMs);
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
    if (reader_.joinable()) reader_.join();
    socket_.Close();
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
            if (!socket_.WaitReadable(kReadStepMs)) continue;
            std::vector<uint8_t> chunk(8);
            socket_.ReceiveExact(chunk, kMessageTimeoutMs);
            const uint32_t size = GetU32(chunk, 4);
            if (size < 12 || size > limits_.fReceiveBufferSize)
                throw uaConnectionError("A chunk of " + std::to_string(size) + " bytes does not fit the negotiated receive buffer of " +
                                        std::to_string(limits_.fReceiveBufferSize) + " bytes");
            chunk.resize(size);
            socket_.ReceiveExact(std::span<uint8_t>(chunk.data() + 8, size - 8), kMessageTimeoutMs);
            ReadChunk(chunk);
        }
    } catch (const std::exception& e) {
        if (!stop_) Fault(e.what());
    }
}

void uaStackClient::ReadChunk(std::vector<uint8_t>& chunk) {
    const std::string type(chunk.begin(), chunk.begin() + 3);
    const char chunkType = static_cast<char>(chunk[3]);
    if (type == "ERR") {
        const uint32_t status = GetU32(chunk, 8);
        const uint32_t length = chunk.size() >= 16 ? GetU32(chunk, 12) : 0;
        const std::string reason =
            length != 0xFFFFFFFF && length <= chunk.size() - 16 && length <= 4096 ? std::string(chunk.begin() + 16, chunk.begin() + 16 + length) : "";
        if (onErrorMessage) onErrorMessage(status, reason);
        throw uaConnectionError("ERR from the server: " + StatusText(status) + " " + reason);
    }
    std::span<uint8_t> plain;
    if (type == "OPN") {
        // the asymmetric security header: policy URI, sender certificate, receiver thumbprint
        size_t at = 12;
        std::span<const uint8_t> sender;
        for (int field = 0; field < 3; ++field) {
            if (at + 4 > chunk.size()) throw uaConnectionError("A truncated OpenSecureChannel header");
            const uint32_t length = GetU32(chunk, at);
            at += 4;
            if (length == 0xFFFFFFFF) continue;
            if (length > chunk.size() - at) throw uaConnectionError("A truncated OpenSecureChannel header");
            if (field == 1) sender = std::span<const uint8_t>(chunk.data() + at, length);
            at += length;
        }
        if (asymReader_.Secured() && !std::equal(sender.begin(), sender.end(), expectedServerCertificate_.begin(),
                                                 expectedServerCertificate_.end()))
            throw uaConnectionError("The server signed the channel with another certificate than its endpoint's");
        channelId_ = GetU32(chunk, 8);
        plain = asymReader_.Unprotect(chunk, at);
    } else if (type == "MSG" || type == "CLO") {
        plain = symmetric_.Unprotect(chunk, 16);
    } else {
        return;  // other kinds are ignored
    }
    if (plain.size() < 8) throw uaConnectionError("A chunk without sequence header");
    const uint32_t requestId = GetU32(plain, 4);
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
    (void)done;
    throw uaConnectionError(Statuscodes::ToString(0x800A0000));  // BadTimeout
}

void uaStackClient::SendMessage(const char type[3], uint32_t requestId, const TuaObj& message) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(message);
    const std::vector<uint8_t>& body = encoder.Buffer();
    const bool asymmetric = std::memcmp(type, "OPN", 3) == 0;
    std::lock_guard lock(sendLock_);
    if (faulted_) throw uaConnectionError(faultText_);
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
            PutU32(chunk, symmetric_.CurrentToken() ? symmetric_.CurrentToken()->tokenId : 0);
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
    if (secured) {
        security_->Asym().LoadPublicCertificate(serverCertificate, TCertificateUsage::cuUseRemoteKey);
        security_->Asym().LoadPublicCertificate(clientCertificate, TCertificateUsage::cuUseLocalKey);
    }
    expectedServerCertificate_ = serverCertificate;
    asymWriter_.SetPolicy(policy, clientCertificate, serverCertificate);
    asymReader_.SetPolicy(policy, clientCertificate, serverCertificate);
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
    policy_ = policy;
    mode_ = mode;
    symmetric_.SetPolicy(policy, mode);
    tokenId_ = response.fSecurityToken.fTokenId;
    revisedLifetime_ = response.fSecurityToken.fRevisedLifetime;
    symmetric_.IssueToken(response.fSecurityToken.fChannelId, tokenId_, NowUtc(),  // our clock: servers may be skewed
                          response.fSecurityToken.fRevisedLifetime, clientNonce, response.fServerNonce);
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
