#include "server/VelaDataAccess.h"

#include <olectl.h>

#include <algorithm>
#include <cstring>

#include "base/Text.h"
#include "base/Utf.h"
#include "server/ComOPCObjFactory.h"
#include "server/Enumerators.h"
#include "server/ErrorText.h"
#include "server/VelaSGroup.h"
#include "toolkit/VelaMessages.h"
#include "ua/da/UADAMapping.h"

namespace vela::server {
namespace {

// The process-wide list of live server objects; every access is on the main thread, the lock
// only guards against a misbehaving caller.
std::mutex liveMutex;
std::vector<VelaDataAccess*>& LiveObjects() {
    static std::vector<VelaDataAccess*> objects;
    return objects;
}

int IntegerOr(const std::string& text, int fallback) {
    try {
        size_t used = 0;
        const std::string trimmed(TrimBlanks(text));
        const int value = std::stoi(trimmed, &used);
        return used == trimmed.size() ? value : fallback;
    } catch (const std::exception&) {
        return fallback;
    }
}

}  // namespace

DateTime ProcessStartTime() {
    static const DateTime start = NowLocal();
    return start;
}

// --- TVelaSGroups ---

int TVelaSGroups::Add(TVelaSGroup* group) {
    if (!group) return -1;
    groups_.push_back(group);
    HServerlist.push_back(group->ServerHandle());
    return static_cast<int>(groups_.size()) - 1;
}

bool TVelaSGroups::DeleteFromList(const TVelaSGroup* group) {
    for (auto it = groups_.rbegin(); it != groups_.rend(); ++it)
        if (*it == group) {
            groups_.erase(std::next(it).base());
            return true;
        }
    return false;
}

bool TVelaSGroups::RemoveHandle(OPCHANDLE handle) {
    for (auto it = HServerlist.rbegin(); it != HServerlist.rend(); ++it)
        if (*it == handle) {
            HServerlist.erase(std::next(it).base());
            return true;
        }
    return false;
}

bool TVelaSGroups::HasHandle(OPCHANDLE handle) const {
    return std::find(HServerlist.begin(), HServerlist.end(), handle) != HServerlist.end();
}

TVelaSGroup* TVelaSGroups::FindGroupByHandle(OPCHANDLE handle, int* index) const {
    for (size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i]->ServerHandle() == handle) {
            if (index) *index = static_cast<int>(i);
            return groups_[i];
        }
    if (index) *index = -1;
    return nullptr;
}

TVelaSGroup* TVelaSGroups::FindGroupByName(const std::wstring& name, int* index) const {
    for (size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i]->Name() == name) {
            if (index) *index = static_cast<int>(i);
            return groups_[i];
        }
    if (index) *index = -1;
    return nullptr;
}

// --- VelaDataAccess: life ---

VelaDataAccess* VelaDataAccess::Create(const TComOPCObjFactory& factory) { return new VelaDataAccess(factory); }

VelaDataAccess::VelaDataAccess(const TComOPCObjFactory& factory)
    : FStartTime(ProcessStartTime()), shutdownPoint_(this, IID_IOPCShutdown), mainThread_(factory.MainThread()), factory_(&factory) {
    const VirtualServerSettings& settings = factory.Settings();
    shutdownPoint_.onConnectionChange = [this](IUnknown* sink) { FClientIUnknown = sink; };
    FVelaXMLClient = std::make_unique<TVelaDAClient>(mainThread_);
    FVelaXMLClient->OnServerShutdown = [this](TVelaClient&, const std::string&) { OnClientServerShutDown(); };
    FVelaXMLClient->OnDisconnect = [](TVelaClient&) {};
    // A server that stops answering is lost as one that ends the connection.
    FVelaXMLClient->OnTimeout = [this](TVelaClient&) { OnClientServerShutDown(); };
    // Data comes back by itself once the remote server does.
    FVelaXMLClient->SetAutoReconnect(true);
    FVelaXMLClient->SetProtocol(coXML);
    FVelaXMLClient->SetServerName(settings.URL);
    // The names as they stand: the groups read the last three back.
    TStrings params = FVelaXMLClient->Params();
    SetOptionValue(params, "xml-proxy", settings.Proxy);
    SetOptionValue(params, "xml-user", settings.User);
    SetOptionValue(params, "xml-pass", settings.Pass);
    SetOptionValue(params, "xml-waittime", settings.XMLWaittime);
    SetOptionValue(params, "xml-holdtime", settings.XMLHoldtime);
    SetOptionValue(params, "min-updaterate", settings.MinUpdateRate);
    for (const std::string& option : settings.ConnectionOptions) {
        const size_t equals = option.find('=');
        if (equals != std::string::npos) SetOptionValue(params, option.substr(0, equals), option.substr(equals + 1));
    }
    FVelaXMLClient->SetParams(params);
    edge_.SetProtocol(FVelaXMLClient->Protocol());
    FMAXGroupCount = IntegerOr(settings.MaxGroupCount, 0);
    PB = std::make_unique<TPropertyBrowser>();
    PB->SetCache(true);
    PB->SetOPCServer(FVelaXMLClient.get());
    std::lock_guard lock(liveMutex);  // last: an object that failed to construct is never listed
    LiveObjects().push_back(this);
}

VelaDataAccess::~VelaDataAccess() {
    {
        std::lock_guard lock(liveMutex);
        auto& objects = LiveObjects();
        objects.erase(std::remove(objects.begin(), objects.end(), this), objects.end());
    }
    // A client that still holds groups keeps their COM shells; their toolkit parts go now,
    // with the toolkit client.
    for (TVelaSGroups* list : {&FOPCGroups, &FOPCRemovedGroups}) {
        const std::vector<TVelaSGroup*> groups = list->Groups();
        for (auto it = groups.rbegin(); it != groups.rend(); ++it) (*it)->Detach();
    }
    shutdownPoint_.Disconnect();
    PB.reset();
    try {
        FVelaXMLClient.reset();
    } catch (...) {
    }
}

// The handle stays: a client that released the group and then removes it gets S_OK.
void VelaDataAccess::GroupDestroyed(TVelaSGroup* group) {
    FOPCGroups.DeleteFromList(group);
    FOPCRemovedGroups.DeleteFromList(group);
}

HRESULT VelaDataAccess::ConnectRemote() {
    if (FVelaXMLClient->Active()) return S_OK;
    // While the client reconnects by itself nobody waits here for a server that is away.
    if (FVelaXMLClient->ConnectionState().Kind == TVelaClient::TConnectionState::csReconnecting) return E_NOINTERFACE;
    try {
        FVelaXMLClient->SetClientName(kGatewayClientName);
        FVelaXMLClient->SetActive(true);
        edge_.SetProtocol(FVelaXMLClient->Protocol());
        factory_->NoteConnectResult({});
        return S_OK;
    } catch (const std::exception& e) {
        factory_->NoteConnectResult(e.what());
        return E_NOINTERFACE;
    } catch (...) {
        return E_NOINTERFACE;
    }
}

bool VelaDataAccess::ShutDown() {
    IUnknown* connected = FClientIUnknown;
    if (!connected) return false;
    connected->AddRef();  // the client may unadvise while we call it
    IOPCShutdown* sink = nullptr;
    const bool found =
        SUCCEEDED(connected->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(&sink))) && sink;
    if (found) {
        sink->ShutdownRequest(kShutdownReason);
        sink->Release();
    }
    connected->Release();
    return found;
}

namespace {

// Every live object with a reference of its own: clients may release any of them while one
// of them calls out.
std::vector<VelaDataAccess*> HoldLiveObjects() {
    std::lock_guard lock(liveMutex);
    std::vector<VelaDataAccess*> objects = LiveObjects();
    for (VelaDataAccess* object : objects) object->AddRef();
    return objects;
}

}  // namespace

int VelaDataAccess::ShutDownAll() {
    int told = 0;
    const std::vector<VelaDataAccess*> objects = HoldLiveObjects();
    for (VelaDataAccess* object : objects) told += object->ShutDown() ? 1 : 0;
    for (VelaDataAccess* object : objects) object->Release();
    return told;
}

void VelaDataAccess::DisconnectAll() {
    const std::vector<VelaDataAccess*> objects = HoldLiveObjects();
    for (VelaDataAccess* object : objects) {
        for (TVelaSGroups* list : {&object->FOPCGroups, &object->FOPCRemovedGroups})
            for (TVelaSGroup* group : std::vector<TVelaSGroup*>(list->Groups()))
                CoDisconnectObject(static_cast<IOPCGroupStateMgt*>(group), 0);
        CoDisconnectObject(static_cast<IOPCServer*>(object), 0);
    }
    for (VelaDataAccess* object : objects) object->Release();
}

VelaDataAccess::Activity VelaDataAccess::ActivityOf(const TComOPCObjFactory* factory) {
    Activity activity;
    std::lock_guard lock(liveMutex);
    for (const VelaDataAccess* object : LiveObjects()) {
        if (object->factory_ != factory) continue;
        ++activity.clients;
        activity.connected += object->FVelaXMLClient->Active() ? 1 : 0;
        const TVelaClient::TConnectionState state = object->FVelaXMLClient->ConnectionState();
        if (state.Kind == TVelaClient::TConnectionState::csReconnecting) {
            ++activity.reconnecting;
            activity.lastError = state.LastError;
        }
    }
    return activity;
}

size_t VelaDataAccess::LiveCount() {
    std::lock_guard lock(liveMutex);
    return LiveObjects().size();
}

// The remote server went away: every item goes bad, not connected, and the clients see it
// through their groups' data changes.
void VelaDataAccess::OnClientServerShutDown() {
    const uint32_t notConnected = edge_.NotConnectedQuality();
    for (const auto& group : FVelaXMLClient->OPCGroups()) {
        auto list = std::make_unique<TVelaItemList>();
        for (const auto& item : group->OPCItems()) {
            item->FQuality = notConnected;
            // counted as a change, so that the periodic data change carries it after the first
            item->IncrementChangeCount();
            list->Add(item);
        }
        FVelaXMLClient->PostMsg(kMsgDataChange, std::move(list), group->ClientHandle());
    }
}

std::vector<std::wstring> VelaDataAccess::GroupNames(int scope) const {
    std::vector<std::wstring> names;
    for (TVelaSGroup* group : FOPCGroups.Groups())
        if (scope == 2 || (scope == 1) == static_cast<bool>(group->IsPublic())) names.push_back(group->Name());
    return names;
}

size_t VelaDataAccess::GroupCount(bool publicFlag) const {
    return static_cast<size_t>(std::count_if(FOPCGroups.Groups().begin(), FOPCGroups.Groups().end(),
                                             [publicFlag](TVelaSGroup* g) { return g->IsPublic() == publicFlag; }));
}

STDMETHODIMP VelaDataAccess::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOPCServer) *object = static_cast<IOPCServer*>(this);
    else if (riid == IID_IOPCCommon) *object = static_cast<IOPCCommon*>(this);
    else if (riid == IID_IOPCServerPublicGroups) *object = static_cast<IOPCServerPublicGroups*>(this);
    else if (riid == IID_IOPCBrowseServerAddressSpace) *object = static_cast<IOPCBrowseServerAddressSpace*>(this);
    else if (riid == IID_IOPCItemProperties) *object = static_cast<IOPCItemProperties*>(this);
    else if (riid == IID_IConnectionPointContainer) *object = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IPersistFile) *object = static_cast<IPersistFile*>(this);
    else if (riid == IID_IPersist) *object = static_cast<IPersist*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    if (FVelaXMLClient->Active()) return S_OK;
    // Connecting on demand: an unreachable remote server fails the query.
    HRESULT hr;
    try {
        hr = ConnectRemote();
    } catch (...) {
        hr = kOpcENotFound;
    }
    if (FAILED(hr)) {
        *object = nullptr;
        Release();
    }
    return hr;
}

// --- IOPCServer ---

std::wstring VelaDataAccess::MakeGroupName() const {
    std::wstring name = L"G_0";
    for (int i = 1; FOPCGroups.FindGroupByName(name) && i <= 9999; ++i) name = L"G_" + std::to_wstring(i);
    return name;
}

STDMETHODIMP VelaDataAccess::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                      OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                                      OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID, LPUNKNOWN* ppUnk) {
    try {
        if (ppUnk) *ppUnk = nullptr;
        if (!FVelaXMLClient->Active()) return S_FALSE;
        if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) {
            if (phServerGroup) *phServerGroup = 0;
            return E_INVALIDARG;
        }
        if (FMAXGroupCount >= 1 && FOPCGroups.Count() >= static_cast<size_t>(FMAXGroupCount)) {
            if (phServerGroup) *phServerGroup = 0;
            return E_OUTOFMEMORY;
        }
        std::wstring name = szName ? szName : L"";
        if (name.empty()) name = MakeGroupName();
        if (FOPCGroups.FindGroupByName(name)) {
            if (phServerGroup) *phServerGroup = 0;
            return kOpcEDuplicateName;
        }
        TVelaSGroup* group = TVelaSGroup::Create(*this);
        group->Init(name, bActive != FALSE, dwLCID, pPercentDeadband, pTimeBias, hClientGroup, dwRequestedUpdateRate);
        if (phServerGroup) *phServerGroup = group->ServerHandle();
        if (pRevisedUpdateRate) *pRevisedUpdateRate = group->RevisedUpdateRate();
        FOPCGroups.Add(group);
        const HRESULT result = group->RevisedUpdateRate() != dwRequestedUpdateRate ? kOpcSUnsupportedRate : S_OK;
        if (ppUnk) *ppUnk = static_cast<IOPCGroupStateMgt*>(group);
        else group->Release();
        return result;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP VelaDataAccess::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) {
    return GetErrorString(dwError, ppString);
}

HRESULT VelaDataAccess::GroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN* ppUnk) {
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    TVelaSGroup* group = FOPCGroups.FindGroupByName(name ? name : L"");
    if (!group) return E_INVALIDARG;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

STDMETHODIMP VelaDataAccess::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    return ComCall([&]() -> HRESULT {
        if (ppUnk) *ppUnk = nullptr;
        if (!szName || !*szName) return E_INVALIDARG;
        return GroupByName(szName, riid, ppUnk);
    });
}

STDMETHODIMP VelaDataAccess::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    return ComCall([&]() -> HRESULT {
        if (!ppServerStatus) return E_INVALIDARG;
        *ppServerStatus = nullptr;
        auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
        if (!status) return E_OUTOFMEMORY;
        std::memset(status, 0, sizeof *status);
        TServerStateRecord record;
        bool remote = false;
        try {
            ConnectRemote();
            FVelaXMLClient->GetState(record);
            remote = true;
        } catch (...) {
        }
        if (!remote) {
            const DateTime now = NowLocal();
            record = TServerStateRecord{};
            record.Starttime = FStartTime;
            record.Currenttime = now;
            record.LastUpdateTime = now;
            record.ServerState = OPC_STATUS_FAILED;  // build number 0: left empty
            record.VendorInfo = WideToUtf8(kFallbackVendorInfo);
        } else if (edge_.IsUA()) {
            record.ServerState = ua::DAServerStateOf(record.ServerState);
        }
        status->ftStartTime = ToUtcFileTime(record.Starttime);
        status->ftCurrentTime = ToUtcFileTime(record.Currenttime);
        status->ftLastUpdateTime = ToUtcFileTime(record.LastUpdateTime);
        status->dwServerState = static_cast<OPCSERVERSTATE>(record.ServerState);
        status->dwGroupCount = static_cast<DWORD>(FOPCGroups.Count());
        status->dwBandWidth = 0;
        status->wMajorVersion = static_cast<WORD>(record.MajorVersion);
        status->wMinorVersion = static_cast<WORD>(record.MinorVersion);
        status->wBuildNumber = static_cast<WORD>(IntegerOr(record.BuildNumber, 0));
        status->szVendorInfo = TaskMemString(Utf8ToWide(record.VendorInfo));
        if (!status->szVendorInfo) {
            CoTaskMemFree(status);
            return E_OUTOFMEMORY;
        }
        *ppServerStatus = status;
        return S_OK;
    });
}

STDMETHODIMP VelaDataAccess::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    return ComCall([&]() -> HRESULT {
        if (!FOPCGroups.RemoveHandle(hServerGroup)) return E_INVALIDARG;
        TVelaSGroup* group = FOPCGroups.FindGroupByHandle(hServerGroup);
        if (!group) return S_OK;
        // the client's own reference and the caller's proxy count as two
        if (group->RefCount() > 2 && !bForce) return kOpcSInUse;
        FOPCGroups.DeleteFromList(group);
        FOPCRemovedGroups.Add(group);
        return S_OK;
    });
}

STDMETHODIMP VelaDataAccess::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    if (riid != IID_IEnumString && riid != IID_IEnumUnknown) return E_NOINTERFACE;
    int scope;
    switch (dwScope) {
        case OPC_ENUM_PRIVATE_CONNECTIONS: case OPC_ENUM_PRIVATE: scope = 0; break;
        case OPC_ENUM_PUBLIC_CONNECTIONS: case OPC_ENUM_PUBLIC: scope = 1; break;
        case OPC_ENUM_ALL_CONNECTIONS: case OPC_ENUM_ALL: scope = 2; break;
        default: return E_INVALIDARG;
    }
    try {
        if (riid == IID_IEnumString) {
            std::vector<std::wstring> names = GroupNames(scope);
            const bool none = names.empty();
            *ppUnk = static_cast<IEnumString*>(new TOPCStringsEnumerator(std::move(names)));
            return none ? S_FALSE : S_OK;
        }
        std::vector<IUnknown*> groups;
        for (int pass = 0; pass < 2; ++pass) {  // private first, then public
            const bool wantPublic = pass == 1;
            if ((scope == 0 && wantPublic) || (scope == 1 && !wantPublic)) continue;
            for (TVelaSGroup* group : FOPCGroups.Groups())
                if (group->IsPublic() == wantPublic) groups.push_back(static_cast<IOPCGroupStateMgt*>(group));
        }
        if (groups.empty()) return S_FALSE;
        *ppUnk = static_cast<IEnumUnknown*>(new TS3UnknownEnumerator(groups));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// --- IOPCCommon ---

STDMETHODIMP VelaDataAccess::SetLocaleID(LCID dwLcid) {
    if (dwLcid != kLocaleSystemDefault && dwLcid != kLocaleUserDefault) return E_INVALIDARG;
    FlocalID = dwLcid;
    return S_OK;
}

STDMETHODIMP VelaDataAccess::GetLocaleID(LCID* pdwLcid) {
    if (!pdwLcid) return E_INVALIDARG;
    *pdwLcid = FlocalID;
    return S_OK;
}

STDMETHODIMP VelaDataAccess::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    if (!pdwCount || !pdwLcid) return E_INVALIDARG;
    *pdwCount = 0;
    *pdwLcid = static_cast<LCID*>(CoTaskMemAlloc(2 * sizeof(LCID)));
    if (!*pdwLcid) return E_OUTOFMEMORY;
    (*pdwLcid)[0] = kLocaleSystemDefault;
    (*pdwLcid)[1] = kLocaleUserDefault;
    *pdwCount = 2;
    return S_OK;
}

STDMETHODIMP VelaDataAccess::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    return ComCall([&]() -> HRESULT {
        if (!ppString) return E_INVALIDARG;
        std::wstring text = OPCErrorText(dwError);
        // a UA status code the system has no text for: the UA text
        if (text.empty() && edge_.IsUA()) {
            try {
                text = Utf8ToWide(FVelaXMLClient->OPCConnection() ? FVelaXMLClient->GetErrorString(dwError) : std::string());
            } catch (...) {
            }
        }
        *ppString = TaskMemString(text);
        return *ppString ? S_OK : E_OUTOFMEMORY;
    });
}

STDMETHODIMP VelaDataAccess::SetClientName(LPCWSTR szName) {
    FClientName = szName ? szName : L"";
    return S_OK;
}

// --- IOPCServerPublicGroups ---

STDMETHODIMP VelaDataAccess::GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    return ComCall([&]() -> HRESULT {
        return GroupByName(szName, riid, ppUnk);
    });
}

STDMETHODIMP VelaDataAccess::RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    return ComCall([&]() -> HRESULT {
        TVelaSGroup* group = FOPCGroups.FindGroupByHandle(hServerGroup);
        if (!group || !FOPCGroups.HasHandle(hServerGroup) || !group->IsPublic()) return E_INVALIDARG;
        FOPCGroups.RemoveHandle(hServerGroup);
        const bool inUse = group->RefCount() > 2 && !bForce;
        FOPCGroups.DeleteFromList(group);
        FOPCRemovedGroups.Add(group);
        return inUse ? kOpcSInUse : S_OK;
    });
}

// --- IConnectionPointContainer ---

STDMETHODIMP VelaDataAccess::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP VelaDataAccess::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    if (riid != IID_IOPCShutdown) {
        *ppCP = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *ppCP = &shutdownPoint_;
    shutdownPoint_.AddRef();
    return S_OK;
}

// --- IPersist, IPersistFile ---

STDMETHODIMP VelaDataAccess::GetClassID(CLSID*) { return S_FALSE; }
STDMETHODIMP VelaDataAccess::IsDirty() { return S_FALSE; }
STDMETHODIMP VelaDataAccess::Load(LPCOLESTR, DWORD) { return S_FALSE; }
STDMETHODIMP VelaDataAccess::Save(LPCOLESTR, BOOL) { return S_FALSE; }
STDMETHODIMP VelaDataAccess::SaveCompleted(LPCOLESTR) { return S_FALSE; }
STDMETHODIMP VelaDataAccess::GetCurFile(LPOLESTR* ppszFileName) {
    if (ppszFileName) *ppszFileName = nullptr;
    return S_FALSE;
}

}  // namespace vela::server
