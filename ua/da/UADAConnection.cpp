#include "ua/da/UADAConnection.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "base/FileData.h"
#include "base/Text.h"
#include "toolkit/OPCResultTexts.h"
#include "toolkit/ConnectionOptions.h"
#include "toolkit/ConnectionRegistry.h"
#include "toolkit/VelaClient.h"
#include "toolkit/VelaExceptions.h"
#include "toolkit/VelaItemData.h"
#include "ua/client/uaAttributes.h"
#include "ua/da/UADABrowser.h"
#include "ua/da/UADAGroup.h"
#include "ua/uaStatusCodes.h"
#include "ua/uaStructureBase.h"
#include "ua/uaVariantConvert.h"

namespace vela::ua {
namespace {

std::string Trimmed(const std::string& text) { return std::string(TrimBlanks(text)); }

// The integer of an option text; a text that is not one raises the conversion error.
int32_t ToInteger(const std::string& text) {
    const std::string trimmed = Trimmed(text);
    size_t used = 0;
    int64_t value = 0;
    try {
        value = std::stoll(trimmed, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (trimmed.empty() || used != trimmed.size() || value < INT32_MIN || value > INT32_MAX)
        throw Exception("'" + text + "' is not a valid integer value");
    return static_cast<int32_t>(value);
}

std::string StatusText(uint32_t code) { return Statuscodes::ToString(code); }

bool IsGood(uint32_t code) { return (code & 0xC0000000u) == 0; }

}  // namespace

// ---------------------------------------------------------------- TVelaUAConnection

TVelaUAConnection::TVelaUAConnection(TVelaComponent* owner)
    : TVelaIntfComponent(owner), fuaClient(std::make_unique<TVelaUAClient>()) {
    fuaClient->OnServerShutdown = [this](const std::string& reason) { HandleServerShutdown(reason); };
    fuaClient->OnGetCertificate = [this](std::vector<uint8_t>& key, std::vector<uint8_t>& certificate) {
        return ProvideKeyFiles(key, certificate);
    };
}

TVelaUAConnection::~TVelaUAConnection() {
    fWantDisconnect = true;
    fuaClient.reset();  // disconnects; no handler runs after this
}

DateTime TVelaUAConnection::ItemTimeStamp(const uaDataValue& value) const {
    return fServerTimeStamp ? value.fServerTimestamp : value.fSourceTimestamp;
}

void TVelaUAConnection::ConnectBase(const std::string& clientName, const std::string& server, const TStrings& options) {
    const std::string url = Trimmed(server);
    if (url.empty()) throw Exception("first define endpoint URL\r\ne.g. opc.tcp://localhost:4711/UA/SampleServer");
    TVelaUAClient& client = *fuaClient;
    client.ClientName = clientName;
    client.Url = url;
    const auto integer = [&](const char* key, int32_t absent) {
        const std::string text = OptionValue(options, key);
        return text.empty() ? absent : ToInteger(text);
    };
    const int32_t mode = integer("ua-securitymode", 1);
    const int32_t policy = integer("ua-securitypolicy", 1);
    if (mode < 1 || mode > 3) throw Exception("ua-securitymode " + std::to_string(mode) + " is out of range (1..3)");
    if (policy < 1 || policy > 6) throw Exception("ua-securitypolicy " + std::to_string(policy) + " is out of range (1..6)");
    client.SecurityMode = static_cast<security::TuaSecureMode>(mode);
    client.SecurityPolicy = static_cast<security::TuaSecurePolicy>(policy);
    client.Proxy = OptionValue(options, "ua-proxy");
    client.AllowClearTextPassword = integer("ua-cleartextpassword", 0) != 0;
    if (!OptionValue(options, "ua-timeout").empty()) client.Requests().fTimeout = integer("ua-timeout", 10000);
    if (!OptionValue(options, "ua-timeoutconnect").empty()) client.TimeoutConnect = integer("ua-timeoutconnect", 10000);
    // the certificate store, and 0 (only what it trusts), 1 (trust on first use) or 2 (accept any)
    client.ServerTrust.store = OptionValue(options, "ua-pki");
    const int32_t trust = integer("ua-trust", 0);
    if (trust < 0 || trust > 2) throw Exception("ua-trust " + std::to_string(trust) + " is out of range (0..2)");
    client.ServerTrust.mode = static_cast<TServerTrust>(trust);
    fPrivateKeyFile = OptionValue(options, "ua-pkey-file");
    fPublicKeyFile = OptionValue(options, "ua-cert-file");
    const std::string user = OptionValue(options, "ua-user"), pass = OptionValue(options, "ua-pass");
    switch (integer("ua-usermode", 0)) {
        case 1: client.UserLogin.SetUser(user, pass); break;
        case 2: client.UserLogin.SetCertificate(user, OptionValue(options, "ua-data"), pass); break;
        case 3: client.UserLogin.SetIssuedToken(user); break;
        case 4:
            client.UserLogin.fLoginMode = TuaSecurityUser::Kerberos;
            client.UserLogin.fDatafile = user;
            break;
        default: client.UserLogin.SetAnonymous(); break;
    }
    fWantDisconnect = false;
    client.SetActive(true);
}

void TVelaUAConnection::DisconnectBase() {
    fWantDisconnect = true;
    fuaClient->SetActive(false);
}

bool TVelaUAConnection::SetOptionBase(const std::string& name, const std::string& rawValue) {
    const std::string option = AsciiLower(Trimmed(name));
    const std::string value = Trimmed(rawValue);
    const bool present = !value.empty();
    if (option == "timestamp") fServerTimeStamp = present ? ToInteger(value) > 0 : true;
    else if (option == "timeout") fuaClient->Requests().fTimeout = present ? ToInteger(value) : 10000;
    else if (option == "timeoutconnect") fuaClient->TimeoutConnect = present ? ToInteger(value) : 10000;
    else if (option == "loglevel") SetLogLevel(present ? ToInteger(value) : 0);
    else if (option == "deadband") UABindingSettings::deadbandType = present ? ToInteger(value) : 2;
    else if (option == "browseroot") fBrowseRoot = present ? value : UABindingSettings::browseRoot;
    else if (option == "usesync") fUseSync = present ? ToInteger(value) > 0 : true;
    else return false;
    return true;
}

void TVelaUAConnection::SetLogLevel(int32_t level) {
    fLogLevel = level;
    if (level != 0)
        fuaClient->OnLog = [this](int severity, uint32_t type, const std::string& text, const TuaObj* data) {
            HandleClientLog(severity, type, text, data);
        };
    else
        fuaClient->OnLog = nullptr;
}

void TVelaUAConnection::HandleClientLog(int severity, uint32_t type, const std::string& text, const TuaObj* data) {
    if (fLogLevel <= 0 || !Owner()) return;
    auto message = std::make_unique<TVelaLogMsg>();
    message->LogTime = NowLocal();
    message->LogSeverity = severity;
    message->LogType = type;
    message->Msg = text;
    if (fLogLevel > 1 && data) message->Detail = data->ToString();
    Owner()->PostMsg(kMsgLog, std::move(message), type);
}

void TVelaUAConnection::Log(int32_t severity, uint32_t type, const std::string& text) {
    if (fLogLevel > 0) HandleClientLog(severity, type, text);
}

bool TVelaUAConnection::ProvideKeyFiles(std::vector<uint8_t>& privateKey, std::vector<uint8_t>& certificate) const {
    if (!FileExists(fPrivateKeyFile) || !FileExists(fPublicKeyFile)) return false;
    privateKey = ReadWholeFile(fPrivateKeyFile);
    certificate = ReadWholeFile(fPublicKeyFile);
    return true;
}

void TVelaUAConnection::HandleServerShutdown(const std::string&) {
    fWantDisconnect = true;
    if (Owner()) Owner()->PostMsg(kMsgServerShutdown, nullptr, 0x80010000);
}

// ---------------------------------------------------------------- TVelaUADAConnection

TVelaUADAConnection::TVelaUADAConnection(TVelaComponent* owner, bool designMode) : TVelaUAConnection(owner) {
    FDisgnMode = designMode;
}

TVelaUADAConnection::~TVelaUADAConnection() {
    fWantDisconnect = true;
    fActiveGroups = 0;
    {
        std::lock_guard lock(subscriptionsLock_);
        fSubscriptions.clear();
    }
    fuaClient.reset();
}

int32_t TVelaUADAConnection::QueryInterface(const VelaGuid& iid, void** object) {
    return AnswerQuery(static_cast<IVelaDAConnection*>(this), iid == IID_IVelaDAConnection || iid == IID_IVelaConnection || iid == IID_IVelaUnknown, object);
}

void TVelaUADAConnection::Connect(const std::string& clientName, const std::string& server, int32_t,
                                  const TStrings& options, const std::string&) {
    connectionLostPosted_ = false;
    ConnectBase(clientName, server, options);
    DoConnect();
}

void TVelaUADAConnection::DoConnect() {
    if (fWantDisconnect) return;
    try {
        TServerStateRecord status;
        GetServerInfo(status, 0);
    } catch (const std::exception& e) {
        Disconnect();
        throw EOPCServerException(std::string(e.what()) + "\r\nUnable to connect to OPC server " + fuaClient->Url);
    }
    ReadOperationLimits();
}

void TVelaUADAConnection::ReadOperationLimits() {
    // Servers refuse calls with more operations than their limits (BadTooManyOperations): the
    // groups split large item lists by these. A server without them has none.
    limits_ = {};
    try {
        const std::vector<uaNodeId> nodes = {uaNodeId(11705u), uaNodeId(11707u), uaNodeId(11714u)};
        const auto values = fuaClient->ReadNodeAttributes(nodes, {13}, 3);
        const auto limit = [&](size_t index) -> uint32_t {
            if (index >= values.size() || !IsGood(values[index].fStatusCode) || !values[index].fValue) return 0;
            const auto* number = std::get_if<uint32_t>(&values[index].fValue->fScalar);
            return number ? *number : 0;
        };
        limits_.maxNodesPerRead = limit(0);
        limits_.maxNodesPerWrite = limit(1);
        limits_.maxMonitoredItemsPerCall = limit(2);
    } catch (const std::exception& e) {
        Log(3, 0, std::string("operation limits not read: ") + e.what());
    }
}

void TVelaUADAConnection::Disconnect() {
    DisconnectBase();
    {
        std::lock_guard lock(subscriptionsLock_);
        fSubscriptions.clear();
    }
    UpdateActiveGroups();
    std::lock_guard lock(ackLock_);
    fSubscriptionAcknowledgements.clear();
}

bool TVelaUADAConnection::SetClientName(const std::string& name) {
    FClientName = name;
    return true;
}

bool TVelaUADAConnection::DoTimer() {
    if (fWantDisconnect || FDisgnMode) return true;
    const auto start = std::chrono::steady_clock::now();
    try {
        uaRead read(&fuaClient->Requests());
        read.Request->fMaxAge = 0;
        read.Request->fTimestampsToReturn.fValue = 3;
        uaReadValueId state;
        state.fNodeId = uaNodeId(2259u);
        state.fAttributeId = 13;
        read.Request->fNodesToRead.push_back(state);
        read.RunSync(fLastTimeout);
        if (!read.Response) throw Exception("no answer to the keep-alive read");
    } catch (const std::exception&) {
        fLastTimeout = 0;
        return false;
    }
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    fLastTimeout = std::max(500, static_cast<int32_t>(std::lround(elapsed))) * 2;
    return true;
}

// The group gives items OPC results of its own (a value out of the node's range) besides the
// server's status codes.
std::string TVelaUADAConnection::GetErrorString(int32_t code) {
    if (auto text = OPCResultText(code); text && (static_cast<uint32_t>(code) & 0xFFFF0000u) == 0xC0040000u)
        return *text;
    return StatusText(static_cast<uint32_t>(code));
}

void TVelaUADAConnection::GetServerInfo(TServerStateRecord& status, int32_t) {
    status.Starttime = status.Currenttime = status.LastUpdateTime = 0;
    status.ServerState = 0;
    status.ProductName = "NO STATUS";
    status.VendorInfo = "STATUS = NIL";
    status.Version = "0";
    status.BuildNumber = "0.0";
    status.StatusInfo = "0";
    const auto values = fuaClient->ReadNodeAttributes({uaNodeId(2256u)}, {13}, 3);
    if (values.empty()) throw Exception("ERROR: can not read attributes");
    const uaDataValue& value = values[0];
    if (!IsGood(value.fStatusCode)) {
        status.StatusInfo = StatusText(value.fStatusCode);
    } else if (value.fValue) {
        uaServerStatusDataType server;
        TExtensionObjReader::ReadObject(*value.fValue, server);
        status.Starttime = server.fStartTime;
        status.Currenttime = server.fCurrentTime;
        status.LastUpdateTime = server.fBuildInfo.fBuildDate;
        status.ServerState = server.fState.fValue;
        status.ProductName = server.fBuildInfo.fProductName;
        status.VendorInfo = !server.fBuildInfo.fManufacturerName.empty() ? server.fBuildInfo.fManufacturerName
                                                                          : server.fBuildInfo.fProductUri;
        status.Version = server.fBuildInfo.fSoftwareVersion;
        status.BuildNumber = server.fBuildInfo.fBuildNumber;
        status.StatusInfo = server.fState.ToString();
    }
    status.GroupCount = status.MaxValues = 0;
    status.BandWidth = 0;
    status.MajorVersion = status.MinorVersion = 0;
    status._ClientHandle.clear();
}

bool TVelaUADAConnection::QueryAvailableProperties(TVelaPropertyRequests& items, const TStrings& propertyIds, bool,
                                                   bool) {
    if (items.empty()) return true;
    TStrings ids = propertyIds;
    const bool allAttributes = ids.empty();
    if (allAttributes)
        for (int id = 1; id <= 20; ++id) ids.push_back(std::to_string(id));
    std::vector<int32_t> numeric;
    for (const auto& text : ids) numeric.push_back(ToInteger(text));

    uaRead read(&fuaClient->Requests());
    read.Request->fMaxAge = 0;
    read.Request->fTimestampsToReturn.fValue = TimestampsToReturn();
    for (const auto& item : items)
        for (int32_t id : numeric) {
            uaReadValueId value;
            value.fNodeId = TVelaUAClient::ParseNodeId(item.itemId);
            value.fAttributeId = id == -303 || id == -304 ? 13u : id <= 0 ? 999999u : static_cast<uint32_t>(id);
            read.Request->fNodesToRead.push_back(std::move(value));
        }
    read.RunSync();
    const std::vector<uaDataValue> none;
    const auto& results = read.Response ? read.Response->fResults : none;

    bool allGood = true;
    size_t at = 0;
    for (auto& item : items) {
        TVelaItemProperties& list = *item.properties;
        list.Clear();
        bool anyGood = false;
        int64_t firstStatus = -1;
        for (int32_t id : numeric) {
            uaDataValue missing;
            missing.fStatusCode = 0x80350000;  // BadAttributeIdInvalid
            const uaDataValue& value = at < results.size() ? results[at] : missing;
            ++at;
            if (allAttributes && value.fStatusCode == 0x80350000) continue;
            auto property = std::make_shared<TVelaItemProperty>();
            property->FId = id;
            property->FStatusCode = value.fStatusCode;
            property->FValue = Variant();
            if (IsGood(value.fStatusCode)) {
                property->FDescription = TuaAttributes::ToString(static_cast<uint32_t>(id));
                if (value.fValue) {
                    if (id == 1) {
                        property->FValue = Variant(item.itemId);
                    } else {
                        try {
                            property->FValue = ToVariant(*value.fValue);
                        } catch (const std::exception&) {
                            property->FValue = Variant();
                            property->FStatusCode = 999999;
                            property->FDescription = StatusText(value.fStatusCode);
                        }
                    }
                }
                property->FDataType = property->FValue.Type();
                anyGood = true;
            } else {
                property->FDescription = StatusText(value.fStatusCode);
                allGood = false;
            }
            property->FTimeStamp = ItemTimeStamp(value);
            if (id == -303) {
                property->FDataType = 3;
                property->FValue = Variant(static_cast<int64_t>(value.fStatusCode));
                property->FDescription = "Quality";
            } else if (id == -304) {
                property->FDataType = vtDATE;
                property->FValue = Variant::FromDate(ItemTimeStamp(value));
                property->FDescription = "TimeStamp";
            }
            if (firstStatus < 0) firstStatus = value.fStatusCode;
            list.Add(std::move(property));
        }
        if (!anyGood && list.Count() > 0) {
            const int64_t code = list[0].FStatusCode;
            list.Clear();
            TVelaItemProperty& failure = list.Add();
            failure.FId = 0;
            failure.FStatusCode = code;
            failure.FDescription = StatusText(static_cast<uint32_t>(code));
        }
    }
    return allGood;
}

VelaPtr<IVelaBrowser> TVelaUADAConnection::CreateBrowser() {
    return VelaPtr<IVelaBrowser>(new TVelaUADABrowser(*this));
}

// ---------------------------------------------------------------- the Publish loop

void TVelaUADAConnection::RegisterSubscription(uint32_t subscriptionId, TVelaUADAGroup* group) {
    std::lock_guard lock(subscriptionsLock_);
    fSubscriptions[subscriptionId] = group;
}

void TVelaUADAConnection::UnregisterSubscription(uint32_t subscriptionId, const TVelaUADAGroup* group) {
    std::lock_guard lock(subscriptionsLock_);
    auto found = fSubscriptions.find(subscriptionId);
    if (found != fSubscriptions.end() && found->second == group) fSubscriptions.erase(found);
}

void TVelaUADAConnection::UpdateActiveGroups() {
    std::lock_guard lock(subscriptionsLock_);
    int64_t wait = 0;
    int32_t count = 0;
    for (const auto& [id, group] : fSubscriptions) {
        if (!group->SubscriptionActive()) continue;
        wait = std::max<int64_t>(wait, int64_t{group->UpdateRate()} * group->MaxKeepAliveCount() * 3);
        ++count;
    }
    fActiveGroups = count;
    fPublishResponseTimeout = count == 0 || wait == 0 ? UABindingSettings::publishTimeout
                                                      : static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX));
}

std::vector<TuaSubscriptionAcknowledge> TVelaUADAConnection::PendingAcknowledgements() {
    std::lock_guard lock(ackLock_);
    return fSubscriptionAcknowledgements;
}

void TVelaUADAConnection::DoPublish() {
    if (fWantDisconnect || fPublishInProcess.exchange(true)) return;
    try {
        uaPublish publish(&fuaClient->Requests());
        publish.Request->fRequestHeader.fTimeoutHint = static_cast<uint32_t>(UABindingSettings::publishTimeout);
        {
            std::lock_guard lock(ackLock_);
            for (const auto& ack : fSubscriptionAcknowledgements) {
                uaSubscriptionAcknowledgement item;
                item.fSubscriptionId = ack.fSubscriptionToAck;
                item.fSequenceNumber = ack.fSequenceToAck;
                publish.Request->fSubscriptionAcknowledgements.push_back(item);
            }
            fSubscriptionAcknowledgements.clear();
        }
        // No reference in the handler: the connection owns the client that keeps it, and a
        // reference there would keep both alive for as long as a Publish waits.
        publish.RunAsync({}, fPublishResponseTimeout,
                         [this](uint32_t, std::unique_ptr<TuaObj> response, const std::any&) {
                             UADoPublishResponse(std::move(response));
                         });
    } catch (...) {
        fPublishInProcess = false;
        throw;
    }
}

void TVelaUADAConnection::UADoPublishResponse(std::unique_ptr<TuaObj> response) {
    fPublishInProcess = false;
    bool noSubscriptions;
    {
        std::lock_guard lock(subscriptionsLock_);
        noSubscriptions = fSubscriptions.empty();
    }
    if ((fWantDisconnect || noSubscriptions) &&
        (!fuaClient || !fuaClient->Active() || fuaClient->Requests().Disconnecting()))
        return;
    auto* publish = dynamic_cast<uaPublishResponse*>(response.get());
    if (!publish || publish->fResponseHeader.fServiceResult != 0) {
        PublishFault(response.get());
        return;
    }
    {
        std::lock_guard lock(subscriptionsLock_);
        auto found = fSubscriptions.find(publish->fSubscriptionId);
        if (found != fSubscriptions.end()) {
            {
                std::lock_guard ackGuard(ackLock_);
                for (uint32_t n : publish->fAvailableSequenceNumbers)
                    fSubscriptionAcknowledgements.push_back({publish->fSubscriptionId, n});
            }
            TVelaUADAGroup& group = *found->second;
            const auto& message = publish->fNotificationMessage;
            if (!message.fNotificationData.empty() && group.SequenceNo() + 1 != message.fSequenceNumber)
                Log(3, 0x80880000, "The sequence number is not valid.");
            try {
                group.ProcessNotification(message);
            } catch (const std::exception& e) {
                Log(3, 0x80010000, e.what());
            }
        } else {
            Log(3, 0x80280000, "The subscription id is not valid.");
        }
    }
    for (uint32_t code : publish->fResults)
        if (code != 0) Log(3, code, std::to_string(static_cast<int32_t>(code)));
    if (fActiveGroups <= 0) return;
    auto* handler = dynamic_cast<TdHandleComponent*>(Owner());
    MainThreadDispatcher* mainThread = handler ? handler->MainThread() : nullptr;
    if (fUseSync && mainThread) {
        VelaPtr<IVelaDAConnection> self(this);
        mainThread->Post([self] {
            try {
                static_cast<TVelaUADAConnection*>(self.get())->DoPublish();
            } catch (const std::exception&) {
                // the connection is going; its loss is reported elsewhere
            }
        });
    } else {
        try {
            DoPublish();
        } catch (const std::exception&) {
        }
    }
}

void TVelaUADAConnection::PublishFault(const TuaObj* response) {
    if (fWantDisconnect) return;
    const uint32_t code = fuaClient->Requests().HandleServiceFault(response);
    if (code == 0x80790000) return;  // BadNoSubscription
    fWantDisconnect = true;
    PostConnectionLost(code);
}

void TVelaUADAConnection::HandleServerShutdown(const std::string&) {
    fWantDisconnect = true;
    PostConnectionLost(0x80010000);
}

void TVelaUADAConnection::PostConnectionLost(int64_t code) {
    if (connectionLostPosted_.exchange(true)) return;  // one notice per connection
    if (Owner()) Owner()->PostMsg(kMsgServerShutdown, nullptr, code);
}

// ---------------------------------------------------------------- server browser

int32_t tVelaUAServerBrowser::QueryInterface(const VelaGuid& iid, void** object) {
    return AnswerQuery(static_cast<IVelaServerBrowser*>(this), iid == IID_IVelaServerBrowser || iid == IID_IVelaUnknown, object);
}

void tVelaUAServerBrowser::execute(tVelaServerSet, const std::string& computer, const tVelaAddServerEvent& onAdd,
                                   int32_t, const std::string& proxy) {
    if (!onAdd) return;
    TVelaUAClient client;
    client.Url = computer;
    client.Proxy = proxy;
    client.SessionLess = true;
    client.SetActive(true);
    uaFindServers find(&client.Requests());
    find.Request->fEndpointUrl = computer;
    find.RunSync();
    if (find.Response)
        for (const auto& server : find.Response->fServers) {
            if (server.fApplicationType.fValue != 0 && server.fApplicationType.fValue != 2) continue;
            for (const auto& url : server.fDiscoveryUrls)
                if (AsciiLower(url).find("opc.tcp") != std::string::npos)
                    onAdd(server.fApplicationName.fText, server.fApplicationUri, url, ServerSetOf(svr_UA));
        }
    client.SetActive(false);
}

bool RegisterUAConnection() {
    TIFRegisterClass record;
    record.Connectiontype = coUA;
    record.IFCreateServerBrowser = [] { return VelaPtr<IVelaServerBrowser>(new tVelaUAServerBrowser()); };
    record.IFCreateGroup = [](IVelaConnection& connection) {
        auto* owner = dynamic_cast<TVelaUADAConnection*>(connection.GetObject());
        if (!owner) throw EOPCException("not a UA connection");
        return VelaPtr<IVelaGroup>(new TVelaUADAGroup(*owner));
    };
    record.IFCreateBrowser = [](IVelaDAConnection& connection) { return connection.CreateBrowser(); };
    record.IFGetServerNames = [](const std::string& serverName, std::string& caption, std::string& classId) {
        caption = serverName;
        classId.clear();
    };
    record.IFCreateDAServer = [](TVelaComponent* owner, bool designMode) {
        return VelaPtr<IVelaDAConnection>(new TVelaUADAConnection(owner, designMode));
    };
    return RegisterConnectionClass(std::move(record));
}

}  // namespace vela::ua
