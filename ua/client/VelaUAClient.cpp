#include "ua/client/VelaUAClient.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "base/FileData.h"
#include "base/ProxyTunnel.h"
#include "base/Text.h"
#include "ua/client/IdentityFiles.h"
#include "base/Socket.h"
#include "ua/security/OwnCertificate.h"
#include "ua/security/Random.h"
#include "ua/security/Rsa.h"
#include "ua/security/X509.h"
#include "ua/uaStatusCodes.h"
#include "ua/uaStructureBase.h"

namespace vela::ua {

using namespace security;

namespace {

const char* ModeName(int mode) {
    switch (mode) {
        case 1: return "None";
        case 2: return "Sign";
        case 3: return "SignAndEncrypt";
        default: return "Invalid";
    }
}

int ModeValue(TuaSecureMode mode) {
    switch (mode) {
        case TuaSecureMode::uaSNone: return 1;
        case TuaSecureMode::uaSSign: return 2;
        case TuaSecureMode::uaSSignAndEncrypt: return 3;
        default: return 0;
    }
}

struct UrlParts {
    std::string scheme, authority, rest;  // "opc.tcp", "host:port", "/path…"
};

UrlParts SplitUrl(const std::string& url) {
    UrlParts parts;
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        parts.rest = url;
        return parts;
    }
    parts.scheme = url.substr(0, schemeEnd);
    const size_t hostStart = schemeEnd + 3;
    const size_t pathStart = url.find('/', hostStart);
    parts.authority = url.substr(hostStart, pathStart == std::string::npos ? std::string::npos : pathStart - hostStart);
    parts.rest = pathStart == std::string::npos ? "" : url.substr(pathStart);
    return parts;
}

std::string ComparableUrl(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return AsciiLower(url);
}

// The policy URI after the common prefix of the published policies, or the whole URI.
std::string ShortPolicy(const std::string& uri) {
    static const std::string prefix = "http://opcfoundation.org/UA/SecurityPolicy#";
    return uri.starts_with(prefix) ? uri.substr(prefix.size()) : uri;
}

std::string TokenTypeName(int32_t type) {
    switch (type) {
        case 0: return "Anonymous";
        case 1: return "UserName";
        case 2: return "Certificate";
        case 3: return "IssuedToken";
        default: return "NONE " + std::to_string(type);
    }
}

uaExtensionObject Wrap(std::shared_ptr<TuaObj> object) {
    uaExtensionObject result;
    result.fEncoding = uaExtensionObject::eo_EncodeableObject;
    result.fObject = std::move(object);
    return result;
}

}  // namespace

void TuaKeypair::LoadCertificateFromFile(const std::string& name) {
    fPrivateKey = ReadWholeFile(std::filesystem::path(name).replace_extension(".pem").string());
    fPublicKey = ReadWholeFile(std::filesystem::path(name).replace_extension(".der").string());
}

TVelaUAClient::TVelaUAClient()
    : requests_([this](uint32_t id, const TuaObj& request) {
          std::lock_guard lock(tcpLock_);
          if (!fTcp) throw uaConnectionException("not connected");
          fTcp->SendRequest(id, request);
      }) {
    requests_.OnLog = [this](int severity, uint32_t type, const TuaObj* data, const std::string& text) {
        Log(severity, type, text, data);
    };
}

TVelaUAClient::~TVelaUAClient() {
    std::thread loss;
    {
        std::lock_guard life(lifeLock_);
        phase_ = Phase::Destroying;
        destroying_ = true;
        loss = std::move(lossThread_);
    }
    if (loss.joinable()) loss.join();
    OnDisconnect = nullptr;
    try {
        Disconnect(true, true);
    } catch (...) {
    }
}

void TVelaUAClient::Log(int severity, uint32_t type, const std::string& text, const TuaObj* data) const {
    if (OnLog && !destroying_) OnLog(severity, type, text, data);
}

void TVelaUAClient::SetActive(bool active) {
    if (active == Active()) return;
    if (active) Connect();
    else Disconnect(true, false);
}

uint32_t TVelaUAClient::NextSessionNumber() {
    if (fUniqueId2 > 0x7FFFFFFDu) fUniqueId2 = 0;
    return ++fUniqueId2;
}

void TVelaUAClient::ConnectTransport(const std::string& url) {
    auto tcp = std::make_unique<uaStackClient>(SecurityLib);
    tcp->onMessage = [this](uint32_t id, std::vector<uint8_t> body) { requests_.HandleReceivedMessage(id, body); };
    tcp->onErrorMessage = [this](uint32_t code, const std::string& reason) { requests_.HandleErrorMessage(0, code, reason); };
    tcp->onCriticalError = [this](const std::string& text) { HandleConnectionLost(text); };
    if (!clientKeys_.IsEmpty() && ModeValue(SecurityMode) > 1)
        tcp->Security().Asym().LoadPrivateKey(clientKeys_.fPrivateKey, clientKeys_.fPassword);
    try {
        tcp->Connect(url, Proxy, TimeoutConnect);
    } catch (const uaConnectionError& e) {
        throw uaConnectionException(std::string("UA Error: Timeout no acknowledge from server: ") + url + " (" + e.what() + ")");
    }
    std::lock_guard lock(tcpLock_);
    fTcp = std::move(tcp);
}

void TVelaUAClient::OpenChannel(bool secure) {
    uaStackClient* tcp = fTcp.get();
    Log(1, 8, "OpenSecureChannel");
    try {
        if (secure)
            tcp->OpenSecureChannel(SecurityPolicy, SecurityMode, clientKeys_.fPublicKey, fEndpoint.fServerCertificate,
                                   ChannelLifetime, requests_.fTimeout);
        else
            tcp->OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, ChannelLifetime,
                                   requests_.fTimeout);
    } catch (const uaConnectionError& e) {
        throw uaConnectionException(e.what());
    }
    channelOpen_ = true;
    Log(1, 11, "OpenSecureChannel");
}

void TVelaUAClient::Connect() {
    {
        std::thread finished;
        {
            std::lock_guard life(lifeLock_);
            if (phase_ == Phase::Destroying) return;
            finished = std::move(lossThread_);
        }
        if (finished.joinable()) finished.join();
    }
    StopRenewTimer();
    StopStatusTimer();
    if (Url.find("opc.tcp") == std::string::npos) throw uaConnectionException("wrong endpoint URL for OPC UA server");
    try {
        fSecurityPolicyUri.clear();
        certificateJudged_ = false;
        verdict_ = {};
        verdict_.status = kBadCertificateUntrusted;
        verdict_.reason = "was not checked";
        requests_.SetServerShutdown(false);
        if (Active()) throw uaConnectionException("TCP Error (UA): already connected");
        if (ModeValue(SecurityMode) > 1) LoadClientCertificate();
        {
            std::lock_guard life(lifeLock_);
            phase_ = Phase::Connecting;
            lostReason_.clear();
        }
        Log(1, 6, "connecting URL=" + Url + " Proxy=" + MaskedProxyUrl(Proxy) + " TimeOut=" + std::to_string(TimeoutConnect));
        ConnectTransport(Url);
        Log(1, 9, "connected to UA URL=" + Url);
        OpenChannel(false);
        if (!SessionLess) {
            if (SelectEndpoint()) {
                Disconnect(false, true);
                requests_.SetServerShutdown(false);
                if (!TrustServerCertificate(ModeValue(SecurityMode) > 1, SecurityPolicy)) {
                    Disconnect(true, channelOpen_);
                    return;
                }
                ConnectTransport(fEndpoint.fEndpointUrl);
                OpenChannel(true);
                StartRenewTimer(true);
                StartStatusTimer();
                SelectEndpoint();
                // the secured channel's endpoint must offer the certificate judged before
                if (certificateJudged_ && fEndpoint.fServerCertificate != judgedCertificate_)
                    throw uaConnectionException("UA Error: the server's certificate on its secured endpoint is not "
                                                "the one it offered before");
            }
            CreateSessionStep();
            ActivateSessionStep();
            if (!renewThread_.joinable()) StartRenewTimer(false);
            if (!statusThread_.joinable()) StartStatusTimer();
        }
        std::string lost;
        {
            // a loss while connecting left the clean-up to us
            std::lock_guard life(lifeLock_);
            if (requests_.ServerShutdown()) {
                lost = lostReason_.empty() ? std::string("the connection was lost") : lostReason_;
            } else {
                phase_ = Phase::Open;
                requests_.SetActive(true);
            }
        }
        if (!lost.empty()) throw uaConnectionException("UA Error: connection lost while connecting: " + lost);
    } catch (...) {
        if (!Active()) Disconnect(true, channelOpen_);
        {
            std::lock_guard life(lifeLock_);
            if (phase_ == Phase::Connecting) phase_ = Phase::Idle;
        }
        throw;
    }
    if (OnConnect) OnConnect();
}

bool TVelaUAClient::SelectEndpoint() {
    haveEndpoint_ = false;
    uaGetEndpoints call(&requests_);
    call.Request->fEndpointUrl = Url;
    call.CallSync();
    if (!call.Response) throw uaConnectionException("UA Error GetEndpoints: no response from " + Url);
    const std::string wantedPolicy = uaSecurityPolicies::uaSecurityPolicyToString(SecurityPolicy);
    const int wantedMode = ModeValue(SecurityMode);
    std::string offered;
    for (auto& endpoint : call.Response->fEndpoints) {
        const bool tcp = AsciiLower(SplitUrl(endpoint.fEndpointUrl).scheme) == "opc.tcp";
        if (tcp)
            offered += std::string("\n") + ModeName(endpoint.fSecurityMode.fValue) + " - " +
                       ShortPolicy(endpoint.fSecurityPolicyUri);
        if (haveEndpoint_ || !tcp || endpoint.fSecurityMode.fValue != wantedMode ||
            endpoint.fSecurityPolicyUri != wantedPolicy)
            continue;
        fEndpoint = std::move(endpoint);
        haveEndpoint_ = true;
    }
    if (!haveEndpoint_) {
        std::string text = std::string("Can't find right Security Mode: ") + ModeName(wantedMode) + " with Policy: " +
                           wantedPolicy + "\n\nPossible security modes for opc.tcp:// are:" + offered;
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        throw uaConnectionException(text);
    }
    // the configured host and port hold: servers often report names the client cannot resolve
    const UrlParts configured = SplitUrl(Url);
    UrlParts reported = SplitUrl(fEndpoint.fEndpointUrl);
    fEndpoint.fEndpointUrl = reported.scheme + "://" + configured.authority + reported.rest;
    if (!fEndpoint.fServer.fDiscoveryUrls.empty()) fEndpoint.fServer.fDiscoveryUrls = {Url};
    return wantedMode != 1 || ComparableUrl(fEndpoint.fEndpointUrl) != ComparableUrl(Url);
}

bool TVelaUAClient::TrustServerCertificate(bool check, TuaSecurePolicy policy) {
    if (certificateJudged_) return true;
    std::string refusal;
    if (check && ServerTrust.mode == TServerTrust::AcceptAny) {
        Log(3, 5, "Warning: the server's certificate is accepted unchecked");
    } else if (check) {
        TCertificateCheckContext context;
        context.policy = policy;
        context.applicationUri = fEndpoint.fServer.fApplicationUri;
        context.hostName = UrlHost(Url);
        try {
            CheckServerCertificate(ServerTrust, fEndpoint.fServerCertificate, context,
                                   [this](const std::string& line) { Log(3, 5, line); }, &verdict_);
        } catch (const uaConnectionException& e) {
            refusal = e.what();
            Log(4, 5, refusal);
        }
    }
    if (OnTrustCertificate) {
        if (!OnTrustCertificate(fEndpoint.fServerCertificate)) return false;
    } else if (!refusal.empty()) {
        throw uaConnectionException(refusal);
    }
    // unchecked, the certificate still waits for its check before a user secret goes to it
    if (check) {
        certificateJudged_ = true;
        judgedCertificate_ = fEndpoint.fServerCertificate;
    }
    return true;
}

void TVelaUAClient::VerifyServerSignature(const uaCreateSessionRequest& request) {
    const uaCreateSessionResponse& response = *fSessionResponse;
    const auto leaf = [](const Bytes& chain) {
        return LoadCertificateChain(chain).front().fRawData;
    };
    try {
        if (leaf(response.fServerCertificate) != leaf(fEndpoint.fServerCertificate))
            throw uaConnectionException("the certificate it answers with is not the one of its endpoint");
        const TuaSecurePolicy policy = uaSecurityPolicies::StringToUaSecurityPolicy(fEndpoint.fSecurityPolicyUri);
        const PolicyInfo& info = Policy(policy);
        const auto& signature = response.fServerSignature;
        if (signature.fAlgorithm != info.signatureAlgorithmUri)
            throw uaConnectionException("it signs with \"" + signature.fAlgorithm + "\" instead of " +
                                        info.signatureAlgorithmUri);
        Bytes data = request.fClientCertificate;
        data.insert(data.end(), request.fClientNonce.begin(), request.fClientNonce.end());
        const TX509Certificate server = TX509Certificate::Load(fEndpoint.fServerCertificate);
        if (!RsaPublicKeyProblem(server.fPublicKey, RsaKeyBits(policy)).empty() ||
            !RsaVerify(server.fPublicKey, info.signPadding, info.signHash, data, signature.fSignature))
            throw uaConnectionException("its signature over our certificate and nonce does not verify");
    } catch (const Exception& e) {
        throw uaConnectionException(std::string("UA Error CreateSession: the server did not prove its identity: ") +
                                    e.what());
    }
}

void TVelaUAClient::LoadClientCertificate() {
    TuaKeypair keys;
    if (OnGetCertificate && OnGetCertificate(keys.fPrivateKey, keys.fPublicKey)) {
    } else if (auto key = FindRawResource("VelaPrivateKey"), certificate = FindRawResource("VelaPublicCertificate");
               key && certificate) {
        keys.fPrivateKey = std::move(*key);
        keys.fPublicKey = std::move(*certificate);
    } else {
        keys = SecurityKeypair;
    }
    if (keys.IsEmpty() && !ServerTrust.store.empty()) {
        // no certificate given: the application's own from the store, made on first use
        TOwnCertificateRequest request;
        request.applicationName = ClientName;
        request.hostName = LocalHostName();
        request.applicationUri = "urn:" + request.hostName + ":VelaUA:" + ClientName;
        const TOwnCertificate own = LoadOrCreateOwnCertificate(TCertificateStore(ServerTrust.store), request);
        if (own.made) Log(3, 5, "A new application certificate was made: " + own.certificatePath);
        keys.fPublicKey = own.certificate;
        keys.fPrivateKey = own.privateKey;
    }
    if (keys.IsEmpty()) throw Exception("OPC UA security: public or private key not defined");
    clientKeys_ = std::move(keys);
}

void TVelaUAClient::CreateSessionStep() {
    if (requests_.ServerShutdown()) return;
    TuaServiceCall<uaCreateSessionRequest, uaCreateSessionResponse> call(&requests_);
    auto& request = *call.Request;
    const bool secured = ModeValue(SecurityMode) > 1;
    std::string applicationUri = "urn:localhost:VelaUA:" + ClientName;
    if (secured) {
        const std::string fromCertificate = TX509Certificate::Load(clientKeys_.fPublicKey).ApplicationUri();
        if (!fromCertificate.empty()) applicationUri = fromCertificate;
    }
    request.fClientDescription.fApplicationUri = applicationUri;
    request.fClientDescription.fProductUri = "urn:vela-gateway.example:VelaUA:" + ClientName;
    request.fClientDescription.fApplicationName.fText = ClientName;
    request.fClientDescription.fApplicationType.fValue = 1;
    request.fServerUri = fEndpoint.fServer.fApplicationUri;
    request.fEndpointUrl = Url;
    if (secured) {
        request.fClientCertificate = clientKeys_.fPublicKey;
        request.fClientNonce = RandomBytes(32);
    }
    request.fRequestedSessionTimeout = 3600000 * 1.2;
    sessionName_ = "Vela-Session " + std::to_string(NextSessionNumber());
    request.fSessionName = sessionName_;
    request.fMaxResponseMessageSize = 0xFFFF0;
    call.CallSync();
    if (!call.Response) throw uaConnectionException("UA Error CreateSession: no response");
    fSessionResponse = std::move(call.Response);
    if (secured) VerifyServerSignature(request);
    requests_.SetAuthenticationToken(fSessionResponse->fAuthenticationToken);
}

void TVelaUAClient::ActivateSessionStep() {
    if (requests_.ServerShutdown()) return;
    TuaServiceCall<uaActivateSessionRequest, uaActivateSessionResponse> call(&requests_);
    auto& request = *call.Request;
    request.fUserIdentityToken = CreateUserIdentityToken();
    const std::string& endpointPolicy = fEndpoint.fSecurityPolicyUri;
    if (!endpointPolicy.empty() && !uaSecurityPolicies::HasNoSecurity(endpointPolicy))
        request.fClientSignature = SessionSign(endpointPolicy, nullptr, "");
    if (UserLogin.fLoginMode == TuaSecurityUser::Certificate) {
        const std::string uri = !userTokenPolicyUri_.empty() ? userTokenPolicyUri_ : endpointPolicy;
        const Bytes userKey = UserLogin.fKeypair.IsEmpty() ? ReadIdentityFile(UserLogin.fDatafile)
                                                           : UserLogin.fKeypair.fPrivateKey;
        const std::string& keyPassword =
            UserLogin.fKeypair.IsEmpty() ? UserLogin.fPassword : UserLogin.fKeypair.fPassword;
        request.fUserTokenSignature = SessionSign(uri, &userKey, keyPassword);
    }
    call.CallSync();
    if (!call.Response) throw uaConnectionException("UA Error ActivateSession: no response");
    if (!call.Response->fResults.empty() && call.Response->fResults[0] != 0) {
        const uint32_t code = call.Response->fResults[0];
        char hex[16];
        std::snprintf(hex, sizeof hex, "$%08X", code);
        throw uaConnectionException(std::string("UA Error (") + hex + ") " + Statuscodes::ToString(code));
    }
}

uaSignatureData TVelaUAClient::SessionSign(const std::string& policyUri, const Bytes* privateKey,
                                           const std::string& password) {
    const TuaSecurePolicy policy = uaSecurityPolicies::StringToUaSecurityPolicy(policyUri);
    if (!uaSecurityPolicies::HasSecurityPolicy(policy)) throw uaConnectionException("Unsupported security policy: " + policyUri);
    const PolicyInfo& info = Policy(policy);
    Bytes data = fSessionResponse->fServerCertificate;
    data.insert(data.end(), fSessionResponse->fServerNonce.begin(), fSessionResponse->fServerNonce.end());
    auto& asym = fTcp->Security().Asym();
    uaSignatureData signature;
    signature.fSignature = privateKey ? asym.Sign_Rsa(info.signPadding, info.signHash, data, *privateKey, password)
                                      : asym.Sign_Rsa(info.signPadding, info.signHash, data);
    signature.fAlgorithm = info.signatureAlgorithmUri;
    return signature;
}

uaExtensionObject TVelaUAClient::CreateUserIdentityToken() {
    const int32_t wanted = static_cast<int32_t>(UserLogin.fLoginMode);
    const uaUserTokenPolicy* policy = nullptr;
    for (const auto& candidate : fEndpoint.fUserIdentityTokens)
        if (candidate.fTokenType.fValue == wanted) policy = &candidate;
    if (!policy)
        throw uaConnectionException("User Policy: \"" + TokenTypeName(wanted) + "\" not supported by the OPC Server");
    fSecurityPolicyUri = policy->fSecurityPolicyUri;
    userTokenPolicyUri_ = policy->fSecurityPolicyUri;
    try {
        switch (UserLogin.fLoginMode) {
            case TuaSecurityUser::Anonymous: {
                auto token = std::make_shared<uaAnonymousIdentityToken>();
                fSecurityPolicyUri = uaSecurityPolicies::uaSecurityPolicyToString(TuaSecurePolicy::uaSPNone);
                token->fPolicyId = policy->fPolicyId;
                return Wrap(token);
            }
            case TuaSecurityUser::UserName: {
                auto token = std::make_shared<uaUserNameIdentityToken>();
                token->fUserName = UserLogin.fUsername;
                auto [password, algorithm] = EncryptUserPassword(UserLogin.fPassword, *policy);
                token->fPassword = std::move(password);
                token->fEncryptionAlgorithm = std::move(algorithm);
                token->fPolicyId = policy->fPolicyId;
                return Wrap(token);
            }
            case TuaSecurityUser::Certificate: {
                auto token = std::make_shared<uaX509IdentityToken>();
                token->fCertificateData = UserLogin.fKeypair.IsEmpty() ? ReadIdentityFile(UserLogin.fUsername)
                                                                       : UserLogin.fKeypair.fPublicKey;
                token->fPolicyId = policy->fPolicyId;
                return Wrap(token);
            }
            case TuaSecurityUser::IssuedToken: {
                auto token = std::make_shared<uaIssuedIdentityToken>();
                token->fTokenData = ReadIdentityFile(UserLogin.fDatafile);
                token->fEncryptionAlgorithm = UserLogin.fEncodetype;
                token->fPolicyId = policy->fPolicyId;
                return Wrap(token);
            }
            default:
                throw Exception("User Policy: " + TokenTypeName(wanted) + " not supported by the OPC client");
        }
    } catch (const Exception& e) {
        throw uaConnectionException(e.what());
    }
}

std::pair<Bytes, std::string> TVelaUAClient::EncryptUserPassword(const std::string& password,
                                                                  const uaUserTokenPolicy& policy) {
    if (password.empty()) return {};
    Bytes secret(password.begin(), password.end());
    const std::string uri = !policy.fSecurityPolicyUri.empty() ? policy.fSecurityPolicyUri : fEndpoint.fSecurityPolicyUri;
    if (uri.empty() || uaSecurityPolicies::HasNoSecurity(uri)) {
        if (SecurityMode != TuaSecureMode::uaSSignAndEncrypt) {
            if (!AllowClearTextPassword)
                throw Exception("The server asks for the user's password in clear text on a channel that does not encrypt: "
                                "refused (use an encrypting endpoint, or allow clear-text passwords explicitly)");
            Log(3, 5, "Warning: the user's password goes to the server in clear text");
        }
        return {secret, ""};
    }
    const TuaSecurePolicy chosen = uaSecurityPolicies::StringToUaSecurityPolicy(uri);
    if (!uaSecurityPolicies::HasSecurityPolicy(chosen)) throw Exception("Unsupported security policy: " + uri);
    // the secret goes only to a server whose certificate is trusted
    if (!TrustServerCertificate(true, chosen)) throw Exception("The server's certificate is not trusted: the password is not sent");
    secret.insert(secret.end(), fSessionResponse->fServerNonce.begin(), fSessionResponse->fServerNonce.end());
    Bytes plain(4);
    const auto length = static_cast<uint32_t>(secret.size());
    for (int i = 0; i < 4; ++i) plain[i] = static_cast<uint8_t>(length >> (8 * i));
    plain.insert(plain.end(), secret.begin(), secret.end());
    const PolicyInfo& info = Policy(chosen);
    auto& asym = fTcp->Security().Asym();
    asym.LoadPublicCertificate(fEndpoint.fServerCertificate, TCertificateUsage::cuUseRemoteKey, RsaKeyBits(chosen));
    asym.initRSAEncrypt(TCertificateUsage::cuUseRemoteKey, info.cryptPadding, info.cryptHash);
    const size_t keySize = asym.RSASize(TCertificateUsage::cuUseRemoteKey);
    const size_t blockSize = RSABlockSize(keySize, info.cryptPadding, info.cryptHash);
    Bytes cipher;
    for (size_t at = 0; at < plain.size(); at += blockSize) {  // the last block may be shorter
        const size_t size = std::min(blockSize, plain.size() - at);
        const Bytes block = asym.EncryptRsa(std::span<const uint8_t>(plain).subspan(at, size), size, keySize);
        cipher.insert(cipher.end(), block.begin(), block.end());
    }
    return {cipher, info.encryptionAlgorithmUri};
}

void TVelaUAClient::HandleConnectionLost(const std::string& text) {
    std::lock_guard life(lifeLock_);
    if (requests_.Disconnecting()) {
        // a call of the disconnect itself (CloseSession) must not wait out its time-out
        requests_.NoteConnectionLost(text);
        return;
    }
    if (requests_.ServerShutdown()) return;
    requests_.SetServerShutdown(true);
    lostReason_ = requests_.NoteConnectionLost(text);
    if (phase_ != Phase::Open || lossThread_.joinable()) return;
    phase_ = Phase::Idle;
    const bool wasActive = Active();
    requests_.SetActive(false);
    lossThread_ = std::thread([this, reason = lostReason_, wasActive] {
        try {
            Disconnect(true, false);
        } catch (const std::exception& e) {
            Log(4, 5, e.what());
        } catch (...) {
        }
        try {
            if (wasActive && !destroying_ && OnServerShutdown) OnServerShutdown(reason);
        } catch (...) {
            // a handler's failure must not end the process
        }
    });
}

void TVelaUAClient::Disconnect(bool closeSession, bool closeChannel) {
    std::lock_guard serial(disconnectLock_);
    if (requests_.Disconnecting()) return;
    requests_.BeginDisconnect();
    const bool wasActive = Active();
    StopRenewTimer();
    StopStatusTimer();
    struct End {
        TVelaUAClient* self;
        ~End() {
            self->requests_.SetActive(false);
            self->requests_.EndDisconnect();
        }
    } end{this};
    if (closeSession && !SessionLess) {
        haveEndpoint_ = false;
        if (wasActive && fSessionResponse && !requests_.ServerShutdown()) {
            try {
                TuaServiceCall<uaCloseSessionRequest, uaCloseSessionResponse> close(&requests_);
                close.Request->fDeleteSubscriptions = false;
                close.CallSync();
            } catch (const std::exception& e) {
                Log(4, 5, e.what());
            }
        }
    }
    std::unique_ptr<uaStackClient> tcp;
    {
        std::lock_guard lock(tcpLock_);
        tcp = std::move(fTcp);
    }
    if (tcp) {
        if ((closeChannel || wasActive) && channelOpen_ && !requests_.ServerShutdown()) {
            try {
                tcp->CloseSecureChannel();
            } catch (const std::exception& e) {
                Log(4, 5, e.what());
            }
        }
        tcp->Disconnect();
    }
    channelOpen_ = false;
    fSessionResponse.reset();
    requests_.ClearAuthenticationToken();
    if (wasActive && OnDisconnect) OnDisconnect();
}

namespace {

// The body of one of the client's own threads: nothing may escape it (that would end the process).
template <class F>
void Guarded(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// Ends a timer thread; one that stops itself (from its own callback) is let go instead of joined.
void StopTimerThread(std::thread& thread, std::atomic<bool>& stop, Event& wake) {
    if (!thread.joinable()) return;
    stop = true;
    wake.Set();
    if (thread.get_id() != std::this_thread::get_id()) thread.join();
    else thread.detach();
}

}  // namespace

void TVelaUAClient::StartRenewTimer(bool secure) {
    if (requests_.ServerShutdown()) return;
    if (renewThread_.joinable()) throw uaConnectionException("ERROR: renew timer already created");
    const uint32_t interval = fTcp ? fTcp->RevisedLifetime() : 0;
    if (interval == 0) return;
    renewStop_ = false;
    renewWake_.Reset();
    renewThread_ = std::thread([this, secure, interval] { Guarded([&] { RenewLoop(secure, interval); }); });
}


void TVelaUAClient::StopRenewTimer() { StopTimerThread(renewThread_, renewStop_, renewWake_); }

void TVelaUAClient::RenewLoop(bool secure, uint32_t interval) {
    // three quarters of the lifetime, rounded half to even
    const double quarterTimes3 = 0.75 * interval;
    auto wait = static_cast<int64_t>(std::nearbyint(quarterTimes3));
    while (!renewStop_) {
        if (renewWake_.WaitFor(std::chrono::milliseconds(wait))) {
            if (!renewStop_) renewWake_.Reset();
            continue;
        }
        if (renewStop_) break;
        uaStackClient* tcp = nullptr;
        {
            // the transport is replaced only after this timer has stopped
            std::lock_guard lock(tcpLock_);
            tcp = fTcp.get();
        }
        if (!tcp) break;
        try {
            if (secure)
                tcp->OpenSecureChannel(SecurityPolicy, SecurityMode, clientKeys_.fPublicKey, fEndpoint.fServerCertificate,
                                        ChannelLifetime, TimeoutConnect, true);
            else
                tcp->OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, ChannelLifetime,
                                       TimeoutConnect, true);
            ++renewals_;
        } catch (const uaConnectionError& e) {
            const std::string text = e.what();
            if (text == Statuscodes::ToString(0x800A0000)) Log(3, 9, "Renew timer: timeout no response from server");
            else Log(4, 0x80050000, "Renew Timer: " + text);
        } catch (const std::exception& e) {
            Log(4, 0x80050000, std::string("Renew Timer: ") + e.what());
        }
    }
}

void TVelaUAClient::SetKeepAlive(int intervalMs) {
    if (intervalMs == fKeepAlive) return;
    fKeepAlive = intervalMs;
    StopStatusTimer();
    if (intervalMs > 0 && !requests_.ServerShutdown() && !requests_.Disconnecting() && Active()) StartStatusTimer();
}

void TVelaUAClient::StartStatusTimer() {
    if (requests_.ServerShutdown() || fKeepAlive <= 0) return;
    StopStatusTimer();
    statusStop_ = false;
    statusWake_.Reset();
    statusThread_ = std::thread([this, interval = fKeepAlive] { Guarded([&] { StatusLoop(interval); }); });
}

void TVelaUAClient::StopStatusTimer() { StopTimerThread(statusThread_, statusStop_, statusWake_); }

void TVelaUAClient::StatusLoop(int interval) {
    while (!statusStop_) {
        if (statusWake_.WaitFor(std::chrono::milliseconds(interval))) {
            if (!statusStop_) statusWake_.Reset();
            continue;
        }
        if (statusStop_) break;
        std::string failure;
        try {
            bool shutdown = false;
            uaServerStatusDataType status;
            const uint32_t code = ReadServerStatus(status);
            if (requests_.Disconnecting()) continue;
            if (OnServerStatusRead) OnServerStatusRead(code, &status, shutdown);
            if (shutdown) failure = "The operation was cancelled because the application is shutting down.";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (failure.empty()) continue;
        interval = 100000;  // a failed poll is not repeated soon
        if (requests_.Disconnecting()) continue;
        bool shutdown = true;
        if (OnServerStatusRead) OnServerStatusRead(0x800E0000, nullptr, shutdown);
        if (shutdown) HandleConnectionLost(failure);
    }
}

uaNodeId TVelaUAClient::ParseNodeId(const std::string& text) {
    try {
        return uaNodeId::Parse(text);
    } catch (const std::exception& e) {
        throw Exception("$80330000 Cannot parse node id text (" + text + ") " + e.what());
    }
}

std::vector<std::string> TVelaUAClient::MethodsGet(const std::string& objectId) {
    uaBrowse call(&requests_);
    uaBrowseDescription description;
    description.fNodeId = ParseNodeId(objectId);
    description.fBrowseDirection.fValue = 0;  // forward
    description.fIncludeSubtypes = true;
    description.fNodeClassMask = 4;  // methods
    description.fResultMask = 16;    // node class
    call.Request->fNodesToBrowse.push_back(std::move(description));
    call.RunSync();
    std::vector<std::string> methods;
    if (!call.Response) return methods;
    for (const auto& result : call.Response->fResults) {
        uaBrowse::CheckStatusCode(result.fStatusCode);
        for (const auto& reference : result.fReferences) methods.push_back(reference.fNodeId.ToString());
    }
    return methods;
}

std::string TVelaUAClient::MethodGetParent(const std::string& methodId) {
    uaBrowse call(&requests_);
    uaBrowseDescription description;
    description.fNodeId = ParseNodeId(methodId);
    description.fBrowseDirection.fValue = 1;  // inverse
    description.fReferenceTypeId = uaNodeId(33u);  // hierarchical references
    description.fIncludeSubtypes = true;
    description.fNodeClassMask = 1;  // objects
    call.Request->fNodesToBrowse.push_back(std::move(description));
    call.RunSync();
    if (!call.Response || call.Response->fResults.size() != 1 || call.Response->fResults[0].fReferences.size() != 1)
        return "";
    return call.Response->fResults[0].fReferences[0].fNodeId.ToString();
}

std::vector<uaVariant> TVelaUAClient::MethodCall(const std::string& objectId, const std::string& methodId,
                                                 const std::vector<uaVariant>& inputs) {
    uaCall call(&requests_);
    uaCallMethodRequest method;
    if (AsciiLower(objectId) != "nil") method.fObjectId = ParseNodeId(objectId);
    method.fMethodId = ParseNodeId(methodId);
    method.fInputArguments = inputs;
    call.Request->fMethodsToCall.push_back(std::move(method));
    call.RunSync();
    if (!call.Response || call.Response->fResults.empty()) throw Exception("ERROR: no result of method " + methodId);
    uaCallMethodResult& result = call.Response->fResults[0];
    if (result.fStatusCode == 0x80AB0000 && !result.fInputArgumentResults.empty()) {
        for (uint32_t argument : result.fInputArgumentResults) uaCall::CheckStatusCode(argument);
        throw uaRequestDispatcher::CreateException(result.fStatusCode);
    }
    if (result.fStatusCode != 0 && (result.fStatusCode & 0xC0000000u) != 0)
        throw uaRequestDispatcher::CreateException(result.fStatusCode);
    return std::move(result.fOutputArguments);
}

uint32_t TVelaUAClient::ReadServerStatus(uaServerStatusDataType& status, int timeoutMs) {
    if (requests_.Disconnecting()) return 0x80090000;
    uaRead call(&requests_);
    call.Request->fMaxAge = 0;
    call.Request->fTimestampsToReturn.fValue = 3;  // neither
    uaReadValueId item;
    item.fNodeId = uaNodeId(2256u);  // Server_ServerStatus
    item.fAttributeId = 13;
    call.Request->fNodesToRead.push_back(std::move(item));
    call.RunSync(timeoutMs);
    if (!call.Response) return 0x80090000;
    if (call.Response->fResults.empty()) return 0x80340000;
    const uaDataValue& value = call.Response->fResults[0];
    if (value.fValue && value.fValue->IsExtensionObject()) TExtensionObjReader::ReadObject(*value.fValue, status);
    return value.fStatusCode;
}

std::vector<uaDataValue> TVelaUAClient::ReadNodeAttributes(const std::vector<uaNodeId>& nodes,
                                                           const std::vector<uint32_t>& attributes,
                                                           int32_t timestampsToReturn) {
    uaRead call(&requests_);
    call.Request->fMaxAge = 0;
    call.Request->fTimestampsToReturn.fValue = timestampsToReturn;
    for (const auto& node : nodes)
        for (uint32_t attribute : attributes) {
            uaReadValueId item;
            item.fNodeId = node;
            item.fAttributeId = attribute;
            call.Request->fNodesToRead.push_back(std::move(item));
        }
    call.RunSync();
    if (!call.Response) throw Exception("ERROR: can not read attributes");
    return std::move(call.Response->fResults);
}

std::vector<uaStatusCode> TVelaUAClient::WriteNodeAttributes(const std::vector<uaNodeId>& nodes,
                                                             const std::vector<uint32_t>& attributes,
                                                             const std::vector<uaDataValue>& values) {
    uaWrite call(&requests_);
    size_t index = 0;
    for (const auto& node : nodes)
        for (uint32_t attribute : attributes) {
            if (index >= values.size()) throw Exception("ERROR: can not write attributes");
            uaWriteValue item;
            item.fNodeId = node;
            item.fAttributeId = attribute;
            item.fValue = values[index++];
            call.Request->fNodesToWrite.push_back(std::move(item));
        }
    call.RunSync();
    if (!call.Response) throw Exception("ERROR: can not write attributes");
    return std::move(call.Response->fResults);
}

std::vector<std::string> TVelaUAClient::GetNamespaceArray() {
    const auto values = ReadNodeAttributes({uaNodeId(2255u)}, {13}, 3);
    std::vector<std::string> result;
    if (values.empty() || (values[0].fStatusCode & 0xC0000000u) != 0 || !values[0].fValue) return result;
    for (const uaScalar& item : values[0].fValue->fArray)
        if (const auto* text = std::get_if<std::string>(&item)) result.push_back(*text);
    return result;
}

int TVelaUAClient::GetNamespaceIndex(const std::string& uri) {
    const auto names = GetNamespaceArray();
    const auto found = std::find(names.begin(), names.end(), uri);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

}  // namespace vela::ua
