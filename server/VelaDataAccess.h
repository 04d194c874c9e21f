#pragma once
// The COM object a DA client gets when it creates a virtual server: one per client connection,
// with its own toolkit client to the remote server, its groups, browsing and item properties.
#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "opccomn.h"
#include "opcda.h"
#include "server/ComHosting.h"
#include "server/ConnectionPoint.h"
#include "server/DAEdge.h"
#include "server/PropertyBrowser.h"
#include "toolkit/VelaBrowseRecords.h"
#include "toolkit/VelaDAClient.h"

namespace vela::server {

class TComOPCObjFactory;
class TVelaSGroup;

inline constexpr wchar_t kShutdownReason[] = L"Terminated by Server.";
inline constexpr wchar_t kFallbackVendorInfo[] = L"Vela Plover (can't connect to XML Server)";
inline constexpr char kGatewayClientName[] = "Vela Ostra v1.0";
inline constexpr LCID kLocaleSystemDefault = 0x800;
inline constexpr LCID kLocaleUserDefault = 0x400;

// The process start time, local; taken on the first call, which start-up makes.
DateTime ProcessStartTime();

// The groups of one server object and the server handles handed out for them. Holds no COM
// references: a group leaves the lists when it is destroyed.
class TVelaSGroups {
public:
    int Add(TVelaSGroup* group);  // the index, or -1 for no group
    bool DeleteFromList(const TVelaSGroup* group);
    bool RemoveHandle(OPCHANDLE handle);
    TVelaSGroup* FindGroupByHandle(OPCHANDLE handle, int* index = nullptr) const;
    TVelaSGroup* FindGroupByName(const std::wstring& name, int* index = nullptr) const;
    bool HasHandle(OPCHANDLE handle) const;
    size_t Count() const { return groups_.size(); }
    TVelaSGroup* operator[](size_t index) const { return groups_.at(index); }
    const std::vector<TVelaSGroup*>& Groups() const { return groups_; }

private:
    std::vector<TVelaSGroup*> groups_;
    std::vector<OPCHANDLE> HServerlist;
};

class VelaDataAccess final : public ComObjectBase,
                             public IOPCServer,
                             public IOPCCommon,
                             public IOPCServerPublicGroups,
                             public IOPCBrowseServerAddressSpace,
                             public IOPCItemProperties,
                             public IConnectionPointContainer,
                             public IPersistFile {
public:
    // Creates an object with one reference, not yet connected.
    static VelaDataAccess* Create(const TComOPCObjFactory& factory);

    // Sends "Terminated by Server." to the connected shutdown sink; true when sent.
    bool ShutDown();
    // ShutDown on every live object; returns how many were told.
    static int ShutDownAll();
    // Cuts every client off every live object and group (the process is ending): the objects
    // the clients still hold go now, while the main thread can still serve them.
    static void DisconnectAll();
    static size_t LiveCount();
    // The live objects a factory created, and how many of them are connected to the remote
    // server.
    struct Activity {
        size_t clients = 0;
        size_t connected = 0;
        size_t reconnecting = 0;
        std::string lastError;  // the latest one a reconnecting client gave
    };
    static Activity ActivityOf(const TComOPCObjFactory* factory);

    // Connects the toolkit client when it is not active: S_OK, or E_NOINTERFACE.
    HRESULT ConnectRemote();
    TVelaDAClient* Client() const { return FVelaXMLClient.get(); }
    const DAEdge& Edge() const { return edge_; }
    TPropertyBrowser& PropertyBrowser() { return *PB; }
    TVelaSGroups& Groups() { return FOPCGroups; }
    TVelaSGroups& RemovedGroups() { return FOPCRemovedGroups; }
    MainThreadDispatcher* MainThread() const { return mainThread_; }
    void NoteDataUpdateToClient() { FLastDataUpdateToClient = NowLocal(); }
    OPCHANDLE NextGroupHandle() { return ++lastGroupHandle_; }
    // The names of private (0), public (1) or all (2) groups, in list order.
    std::vector<std::wstring> GroupNames(int scope) const;
    size_t GroupCount(bool publicFlag) const;
    // A group is destroyed: it leaves both lists.
    void GroupDestroyed(TVelaSGroup* group);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                          LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                          DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    STDMETHODIMP GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    STDMETHODIMP RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID dwLcid) override;
    STDMETHODIMP GetLocaleID(LCID* pdwLcid) override;
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    STDMETHODIMP GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    STDMETHODIMP SetClientName(LPCWSTR szName) override;

    // IOPCServerPublicGroups
    STDMETHODIMP GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override;

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                  VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) override;
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    STDMETHODIMP BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
    STDMETHODIMP GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                   HRESULT** ppErrors) override;
    STDMETHODIMP LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                               HRESULT** ppErrors) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IPersist, IPersistFile: nothing to persist
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPCOLESTR pszFileName, DWORD dwMode) override;
    STDMETHODIMP Save(LPCOLESTR pszFileName, BOOL fRemember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR pszFileName) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName) override;

private:
    VelaDataAccess(const TComOPCObjFactory& factory);
    ~VelaDataAccess() override;

    void OnClientServerShutDown();
    std::wstring MakeGroupName() const;
    HRESULT GroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN* ppUnk);
    // The element of the current listing (or of the last one) with this name or item id.
    const TVelaBrowseItem* FindBrowseElement(const std::string& name);
    // Adds the item and the property ids to the property browser and queries; the item's
    // failure code, or S_OK.
    HRESULT QueryProperties(const std::string& itemId, const std::vector<int32_t>& ids);

    TVelaBrowseItems BrowseItems;
    TVelaSGroups FOPCGroups;
    TVelaSGroups FOPCRemovedGroups;
    LCID FlocalID = kLocaleSystemDefault;
    std::wstring FClientName;
    DateTime FStartTime;
    DateTime FLastDataUpdateToClient = 0;
    IUnknown* FClientIUnknown = nullptr;  // the shutdown sink while connected, held by the point
    std::unique_ptr<TVelaDAClient> FVelaXMLClient;
    ConnectionPoint shutdownPoint_;
    int FMAXGroupCount = 0;
    std::unique_ptr<TPropertyBrowser> PB;
    MainThreadDispatcher* mainThread_;
    const TComOPCObjFactory* factory_;
    DAEdge edge_;
    OPCHANDLE lastGroupHandle_ = 0;
};

}  // namespace vela::server
