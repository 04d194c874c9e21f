#pragma once
// The COM object a DA client gets when it creates a virtual server. This is its first form: the
// common interface, the status with the fallback record, the shutdown connection point and the
// process-wide list of live objects; groups, browsing and the remote connection come later.
#include <windows.h>
#include <ocidl.h>

#include <mutex>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "opccomn.h"
#include "opcda.h"
#include "server/ComHosting.h"
#include "server/ConnectionPoint.h"

namespace vela::server {

inline constexpr wchar_t kShutdownReason[] = L"Terminated by Server.";
inline constexpr wchar_t kFallbackVendorInfo[] = L"Vela Plover (can't connect to XML Server)";
inline constexpr LCID kLocaleSystemDefault = 0x800;
inline constexpr LCID kLocaleUserDefault = 0x400;

// The process start time, local; taken on the first call, which start-up makes.
DateTime ProcessStartTime();

class VelaDataAccess final : public ComObjectBase,
                             public IOPCServer,
                             public IOPCCommon,
                             public IConnectionPointContainer,
                             public IPersistFile {
public:
    // Creates an object with one reference.
    static VelaDataAccess* Create();

    // Sends "Terminated by Server." to the connected shutdown sink; true when sent.
    bool ShutDown();
    // ShutDown on every live object; returns how many were told.
    static int ShutDownAll();
    static size_t LiveCount();

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
    VelaDataAccess();
    ~VelaDataAccess() override;

    LCID FlocalID = kLocaleSystemDefault;
    std::wstring FClientName;
    DateTime FStartTime;
    DateTime FLastDataUpdateToClient = 0;
    IUnknown* FClientIUnknown = nullptr;  // the shutdown sink while connected, held by the point
    SingleConnectionPoint shutdownPoint_;
    int FMAXGroupCount = 0;
};

}  // namespace vela::server
