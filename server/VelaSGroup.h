#pragma once
// The COM object behind one OPC group of a client connection: a thin front over one toolkit
// group of the server object's toolkit client. Group state is kept here and pushed to the
// toolkit group; every OPC item is one toolkit item.
#include <windows.h>
#include <ocidl.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "opcda.h"
#include "server/AsyncRequest.h"
#include "server/ComHosting.h"
#include "server/ConnectionPoint.h"
#include "server/SUpdateThread.h"
#include "toolkit/VelaDAClient.h"

namespace vela::server {

class VelaDataAccess;

// A requested data type a group takes: up to VT_I8, and arrays of these.
bool AcceptableRequestedType(VARTYPE type);

// An item as its DA client knows it. The canonical type and access rights are the DA ones the
// item was added with; a connection may keep its own forms in the toolkit record.
struct SItem {
    TVelaItemPtr item;
    VARTYPE canonical = VT_EMPTY;
    DWORD rights = 0;
};

class TVelaSGroup final : public ComObjectBase,
                          public IOPCGroupStateMgt,
                          public IOPCPublicGroupStateMgt,
                          public IOPCItemMgt,
                          public IOPCSyncIO,
                          public IOPCAsyncIO2,
                          public IConnectionPointContainer {
public:
    // Creates a group of the server object with one reference, its toolkit group inactive.
    static TVelaSGroup* Create(VelaDataAccess& server);

    // Name, active flag, locale, dead band (nullptr: keep), time bias (nullptr: the machine's),
    // client handle and requested rate; then the state goes to the toolkit group.
    HRESULT Init(const std::wstring& name, bool active, LCID locale, const float* deadBand, const LONG* timeBias,
                 OPCHANDLE clientGroup, DWORD requestedRate);

    OPCHANDLE ServerHandle() const { return serverHandle_; }
    const std::wstring& Name() const { return FName; }
    bool IsPublic() const { return FPublicGroupFlag; }
    DWORD RevisedUpdateRate() const { return FRequestedUpdateRate; }
    TVelaGroup* ClientGroup() const { return FServerGroup; }
    // The server object lets go of its toolkit client: the group keeps only its COM shell.
    void Detach();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override;

    // IOPCGroupStateMgt
    STDMETHODIMP GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, FLOAT* pPercentDeadband,
                          DWORD* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
    STDMETHODIMP SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) override;
    STDMETHODIMP SetName(LPCWSTR szName) override;
    STDMETHODIMP CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCPublicGroupStateMgt
    STDMETHODIMP GetState(BOOL* pPublic) override;
    STDMETHODIMP MoveToPublic() override;

    // IOPCItemMgt
    STDMETHODIMP AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          HRESULT** ppErrors) override;
    STDMETHODIMP ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                               OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    STDMETHODIMP RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    STDMETHODIMP SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) override;
    STDMETHODIMP SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) override;
    STDMETHODIMP SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                              HRESULT** ppErrors) override;
    STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCSyncIO
    STDMETHODIMP Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                      HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) override;

    // IOPCAsyncIO2
    STDMETHODIMP Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                      HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) override;
    STDMETHODIMP Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
    STDMETHODIMP Cancel2(DWORD dwCancelID) override;
    STDMETHODIMP SetEnable(BOOL bEnable) override;
    STDMETHODIMP GetEnable(BOOL* pbEnable) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

private:
    explicit TVelaSGroup(VelaDataAccess& server);
    ~TVelaSGroup() override;

    // --- state
    void SetUpdateRate(DWORD requested);
    void SetTimeBias(const LONG* bias);
    HRESULT SetLocale(LCID locale);
    HRESULT SetDeadBand(float deadBand);
    HRESULT ApplyState();
    bool Alive() const { return FServerGroup != nullptr; }

    // --- items
    SItem* ItemOf(OPCHANDLE handle);
    const SItem* EntryOf(const TVelaItemData* item) const;
    OPCHANDLE HandleOf(const TVelaItemData* item) const;
    OPCHANDLE AddHandle(const TVelaItemPtr& item, VARTYPE canonical, DWORD rights);
    void DropHandle(OPCHANDLE handle);
    // Checks the definitions and queries properties 1 and 5 of the good ones.
    void CheckDefinitions(DWORD count, const OPCITEMDEF* items, HRESULT* errors, bool raise);

    // --- I/O
    void OnToolkitDataChange(TVelaItemList& items);
    void OnDataCallbackConnection(IUnknown* sink);
    HRESULT Queue(std::unique_ptr<sOPCAsyncIO2> request, DWORD* cancelId);
    void AsyncCall();
    void ProcessRequest(sOPCAsyncIO2& request);
    void AsyncRead(sOPCAsyncIO2& request);
    void AsyncWrite(sOPCAsyncIO2& request);
    void AsyncRefresh(sOPCAsyncIO2& request);
    void PeriodicDataChange();
    // Sends the items that still belong to the group to the client's OnDataChange.
    void SendDataChange(DWORD transactionId, const std::vector<TVelaItemDataPtr>& items);
    bool QueueEmpty();
    // The read's error of an item as the client gets it.
    HRESULT ReadError(const SItem& entry) const;
    // Fills one entry of a read or data change: the value in the requested type, quality, time.
    HRESULT ItemState(const SItem& entry, HRESULT error, bool withValue, VARIANT& value, WORD& quality,
                      FILETIME& time) const;
    // A client's value for an item as it is written, or the error.
    HRESULT ClientWriteValue(const SItem& entry, const VARIANT& value, Variant& wanted) const;
    // Writes through the toolkit, one result per position (null entries are skipped).
    void WriteItems(const std::vector<const SItem*>& entries, const std::vector<Variant>& values,
                    std::vector<HRESULT>& results);
    HRESULT WriteError(const SItem& entry) const;

    bool AfterFirstOnDataChange = false;
    DWORD FMINUPDATERATE = 500;
    LONG FXMLWaitTime = 5000;
    LONG FXMLHoldTime = 0;
    std::recursive_mutex FLock;
    std::wstring FName;
    BOOL FActive = FALSE;
    DWORD FRequestedUpdateRate = 0;
    OPCHANDLE FClientGroup = 0;
    LONG FTimeBias = 0;
    FLOAT FPercentDeadband = 0;
    LCID FLCID = 0;
    LONG FClientCount = 0;
    TVelaGroup* FServerGroup = nullptr;
    VelaDataAccess* FDataAccess;
    std::unique_ptr<TVelaSUpdateThread> FDataChangeThread;
    std::deque<std::unique_ptr<sOPCAsyncIO2>> AsyncIOList;
    BOOL FPublicGroupFlag = FALSE;
    IUnknown* FClientIUnknown = nullptr;    // held by the connection point
    IOPCDataCallback* FDataCallback = nullptr;  // AddRef'ed while connected
    ConnectionPoint dataCallbackPoint_;
    BOOL CallBackEnabled = TRUE;

    OPCHANDLE serverHandle_;
    OPCHANDLE lastItemHandle_ = 0;
    std::unordered_map<OPCHANDLE, SItem> items_;
    std::unordered_map<const TVelaItemData*, OPCHANDLE> handles_;
    bool destroying_ = false;
};

}  // namespace vela::server
