#pragma once
// The UA client component: one server URL, endpoint selection for the configured security,
// a secure channel, a session with the configured user identity, orderly disconnect, and the
// notice of a lost connection. Service calls go through the request dispatcher.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/FileData.h"
#include "ua/client/ServerTrust.h"
#include "ua/transport/uaRequestDispatch.h"
#include "ua/transport/uaStackClient.h"

namespace vela::ua {

enum class TuaSecurityUser { Anonymous, UserName, Certificate, IssuedToken, Kerberos };

struct TuaKeypair {
    std::string fPassword;
    std::vector<uint8_t> fPublicKey;   // DER certificate
    std::vector<uint8_t> fPrivateKey;  // PEM key
    bool IsEmpty() const { return fPublicKey.empty() || fPrivateKey.empty(); }
    void LoadPrivateKeyFromFile(const std::string& path) { fPrivateKey = ReadWholeFile(path); }
    void LoadPublicKeyFromFile(const std::string& path) { fPublicKey = ReadWholeFile(path); }
    // The key from the name with extension ".pem", the certificate from the name with ".der".
    void LoadCertificateFromFile(const std::string& name);
};

struct TuaUserLogin {
    TuaSecurityUser fLoginMode = TuaSecurityUser::Anonymous;
    // Certificate logins without key pair: fUsername names the certificate file, fDatafile the
    // key file, fPassword the key's password. Issued tokens: fDatafile names the token file and
    // fEncodetype is its encryption algorithm URI (empty: sent as it is).
    std::string fUsername, fPassword, fEncodetype, fDatafile;
    TuaKeypair fKeypair;  // the user's certificate and key for certificate logins
    void SetAnonymous() { fLoginMode = TuaSecurityUser::Anonymous; }
    void SetCertificate(std::string certificateFile, std::string privateKeyFile, std::string password) {
        fLoginMode = TuaSecurityUser::Certificate;
        fUsername = std::move(certificateFile);
        fDatafile = std::move(privateKeyFile);
        fPassword = std::move(password);
    }
    void SetIssuedToken(std::string tokenFile, std::string encodeType = {}) {
        fLoginMode = TuaSecurityUser::IssuedToken;
        fDatafile = std::move(tokenFile);
        fEncodetype = std::move(encodeType);
    }
    void SetCertificate(std::vector<uint8_t> certificate, std::vector<uint8_t> privateKey, std::string password) {
        fLoginMode = TuaSecurityUser::Certificate;
        fKeypair.fPublicKey = std::move(certificate);
        fKeypair.fPrivateKey = std::move(privateKey);
        fKeypair.fPassword = std::move(password);
    }
    void SetUser(std::string name, std::string password) {
        fLoginMode = TuaSecurityUser::UserName;
        fUsername = std::move(name);
        fPassword = std::move(password);
    }
};

class TVelaUAClient {
public:
    TVelaUAClient();
    ~TVelaUAClient();
    TVelaUAClient(const TVelaUAClient&) = delete;
    TVelaUAClient& operator=(const TVelaUAClient&) = delete;

    // --- configuration (set before connecting)
    std::string Url;
    bool SessionLess = false;
    security::TuaSecureMode SecurityMode = security::TuaSecureMode::uaSNone;
    security::TuaSecurePolicy SecurityPolicy = security::TuaSecurePolicy::uaSPNone;
    security::TuaSecurityLib SecurityLib = security::TuaSecurityLib::uaSNative;
    TuaKeypair SecurityKeypair;
    std::string ClientName = "Vela-Client 1.28";
    TuaUserLogin UserLogin;
    std::string Proxy;  // proxy URL for the TCP connection: "http://..." (CONNECT) or "socks4://..."
    int TimeoutConnect = 10000;
    uint32_t ChannelLifetime = 3600000;  // requested for each security token (ms)
    // A user password goes out only encrypted, to the server's certificate or inside an encrypted
    // channel; true lets it go in clear text where the server asks for that (logged as a warning).
    bool AllowClearTextPassword = false;
    // Which server certificates are trusted: checked before a secured channel opens and before a
    // user secret is encrypted for the server.
    TServerTrustSettings ServerTrust;
    static constexpr const char* Version = "1.28";

    std::function<void(const std::string& reason)> OnServerShutdown;
    std::function<void()> OnConnect, OnDisconnect;
    // Has the last word on the server's certificate where installed: ServerCertificateVerdict()
    // tells what the store's check found.
    std::function<bool(const std::vector<uint8_t>& serverCertificate)> OnTrustCertificate;
    // Supplies the client's private key (PEM) and certificate (DER); false leaves them to the
    // executable's resources "VelaPrivateKey" and "VelaPublicCertificate", else to SecurityKeypair.
    std::function<bool(std::vector<uint8_t>& privateKey, std::vector<uint8_t>& publicCertificate)> OnGetCertificate;
    // data: the request or response the entry is about, when there is one
    std::function<void(int severity, uint32_t type, const std::string& text, const TuaObj* data)> OnLog;
    // Each status poll; setting shutdown treats the server as gone.
    std::function<void(uint32_t statusCode, const uaServerStatusDataType* status, bool& shutdown)> OnServerStatusRead;

    // Interval of the server-status poll (ms); 0 polls not at all.
    void SetKeepAlive(int intervalMs);
    int KeepAlive() const { return fKeepAlive; }

    // true runs the connect sequence, false the orderly disconnect; the current value does nothing
    void SetActive(bool active);
    bool Active() const { return requests_.Active(); }
    uaRequestDispatcher& Requests() { return requests_; }
    const uaEndpointDescription& Endpoint() const { return fEndpoint; }
    const std::string& SessionName() const { return sessionName_; }
    const std::string& UserTokenPolicyUri() const { return fSecurityPolicyUri; }
    uint32_t Renewals() const { return renewals_; }
    const security::TCertificateVerdict& ServerCertificateVerdict() const { return verdict_; }

    // --- general services
    std::vector<std::string> GetNamespaceArray();
    // Node ids of the methods of an object.
    std::vector<std::string> MethodsGet(const std::string& objectId);
    // The object a method belongs to, or empty when that is not one node.
    std::string MethodGetParent(const std::string& methodId);
    // Calls a method; objectId "nil" means none. Raises for a bad result.
    std::vector<uaVariant> MethodCall(const std::string& objectId, const std::string& methodId,
                                      const std::vector<uaVariant>& inputs);
    // The node id of a text, or the parse error with its status code.
    static uaNodeId ParseNodeId(const std::string& text);

    // The server's status: the value's status code; 0x80090000 when disconnecting or unanswered,
    // 0x80340000 without a result.
    uint32_t ReadServerStatus(uaServerStatusDataType& status, int timeoutMs = 0);
    int GetNamespaceIndex(const std::string& uri);
    // All attributes of a node in the structure of its node class. Raises "node not found",
    // "node has no class attribute" or "node class attribute is bad".
    std::shared_ptr<uaNode> ReadNode(const uaNodeId& nodeId);
    std::vector<uaDataValue> ReadNodeAttributes(const std::vector<uaNodeId>& nodes, const std::vector<uint32_t>& attributes,
                                                int32_t timestampsToReturn = 0);
    std::vector<uaStatusCode> WriteNodeAttributes(const std::vector<uaNodeId>& nodes,
                                                  const std::vector<uint32_t>& attributes,
                                                  const std::vector<uaDataValue>& values);

private:
    void Connect();
    void Disconnect(bool closeSession, bool closeChannel);
    void ConnectTransport(const std::string& url);
    void OpenChannel(bool secure);
    bool SelectEndpoint();
    void LoadClientCertificate();
    // Judges the endpoint's certificate once per connect where check is set (the event handler,
    // where installed, has the last word); false when the handler says no, raises on a refusal.
    bool TrustServerCertificate(bool check, security::TuaSecurePolicy policy);
    void VerifyServerSignature(const uaCreateSessionRequest& request);
    void CreateSessionStep();
    void ActivateSessionStep();
    uaExtensionObject CreateUserIdentityToken();
    // Signs the server certificate and nonce under the policy, with the given key or the channel's.
    uaSignatureData SessionSign(const std::string& policyUri, const std::vector<uint8_t>* privateKey,
                                const std::string& password);
    std::pair<std::vector<uint8_t>, std::string> EncryptUserPassword(const std::string& password,
                                                                     const uaUserTokenPolicy& policy);
    void HandleConnectionLost(const std::string& text);
    void StartRenewTimer(bool secure);
    void StopRenewTimer();
    void RenewLoop(bool secure, uint32_t interval);
    void StartStatusTimer();
    void StopStatusTimer();
    void StatusLoop(int interval);
    uint32_t NextSessionNumber();
    void Log(int severity, uint32_t type, const std::string& text, const TuaObj* data = nullptr) const;

    std::unique_ptr<uaStackClient> fTcp;
    std::mutex tcpLock_;
    uaRequestDispatcher requests_;
    uaEndpointDescription fEndpoint{};
    bool haveEndpoint_ = false;
    TuaKeypair clientKeys_;  // the application instance key and certificate in use
    security::TCertificateVerdict verdict_;
    bool certificateJudged_ = false;
    std::vector<uint8_t> judgedCertificate_;
    std::string fSecurityPolicyUri;
    std::string userTokenPolicyUri_;  // the chosen token policy's own URI
    std::unique_ptr<uaCreateSessionResponse> fSessionResponse;
    bool channelOpen_ = false;
    uint32_t fUniqueId2 = 0;
    std::string sessionName_;
    // the renew timer: renews the token at three quarters of the granted lifetime
    std::thread renewThread_;
    Event renewWake_{true, false};
    std::atomic<bool> renewStop_{false};
    std::atomic<uint32_t> renewals_{0};
    int fKeepAlive = 0;
    std::thread statusThread_;
    Event statusWake_{true, false};
    std::atomic<bool> statusStop_{false};
    // Where the client stands, changed only under lifeLock_. A lost connection is torn down by the
    // loss thread only while the client is open: connecting and destroying clean up themselves.
    enum class Phase { Idle, Connecting, Open, Destroying };
    std::mutex lifeLock_;
    Phase phase_ = Phase::Idle;
    std::string lostReason_;
    std::thread lossThread_;  // the orderly disconnect after a loss runs off the read thread
    std::atomic<bool> destroying_{false};
    // one disconnect at a time; a handler it calls may ask again on the same thread
    std::recursive_mutex disconnectLock_;
};

}  // namespace vela::ua
