#include "server/VelaDataAccess.h"

#include <olectl.h>

#include <algorithm>
#include <cstring>

#include "server/ErrorText.h"

namespace vela::server {
namespace {

// The process-wide list of live server objects; every access is on the main thread, the lock
// only guards against a misbehaving caller.
std::mutex liveMutex;
std::vector<VelaDataAccess*>& LiveObjects() {
    static std::vector<VelaDataAccess*> objects;
    return objects;
}

FILETIME ToUtcFileTime(DateTime local) {
    const uint64_t ticks = DateTimeToFileTime(LocalToUtc(local));
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

}  // namespace

DateTime ProcessStartTime() {
    static const DateTime start = NowLocal();
    return start;
}

VelaDataAccess* VelaDataAccess::Create() { return new VelaDataAccess(); }

VelaDataAccess::VelaDataAccess()
    : FStartTime(ProcessStartTime()), shutdownPoint_(this, IID_IOPCShutdown) {
    shutdownPoint_.onConnectionChange = [this](IUnknown* sink) { FClientIUnknown = sink; };
    std::lock_guard lock(liveMutex);
    LiveObjects().push_back(this);
}

VelaDataAccess::~VelaDataAccess() {
    std::lock_guard lock(liveMutex);
    auto& objects = LiveObjects();
    objects.erase(std::remove(objects.begin(), objects.end(), this), objects.end());
}

bool VelaDataAccess::ShutDown() {
    if (!FClientIUnknown) return false;
    IOPCShutdown* sink = nullptr;
    if (FAILED(FClientIUnknown->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(&sink))) || !sink)
        return false;
    sink->ShutdownRequest(kShutdownReason);
    sink->Release();
    return true;
}

int VelaDataAccess::ShutDownAll() {
    std::vector<VelaDataAccess*> objects;
    {
        std::lock_guard lock(liveMutex);
        objects = LiveObjects();
    }
    int told = 0;
    for (VelaDataAccess* object : objects) {
        object->AddRef();  // a client may release the object from inside its shutdown handler
        told += object->ShutDown() ? 1 : 0;
        object->Release();
    }
    return told;
}

size_t VelaDataAccess::LiveCount() {
    std::lock_guard lock(liveMutex);
    return LiveObjects().size();
}

STDMETHODIMP VelaDataAccess::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOPCServer) *object = static_cast<IOPCServer*>(this);
    else if (riid == IID_IOPCCommon) *object = static_cast<IOPCCommon*>(this);
    else if (riid == IID_IConnectionPointContainer) *object = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IPersistFile) *object = static_cast<IPersistFile*>(this);
    else if (riid == IID_IPersist) *object = static_cast<IPersist*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// --- IOPCServer ---

STDMETHODIMP VelaDataAccess::AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE* phServerGroup,
                                      DWORD*, REFIID, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    if (phServerGroup) *phServerGroup = 0;
    return S_FALSE;  // no remote connection yet: nothing is created
}

STDMETHODIMP VelaDataAccess::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) {
    return GetErrorString(dwError, ppString);
}

STDMETHODIMP VelaDataAccess::GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    return E_INVALIDARG;  // no groups exist yet
}

STDMETHODIMP VelaDataAccess::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    if (!ppServerStatus) return E_INVALIDARG;
    *ppServerStatus = nullptr;
    auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
    if (!status) return E_OUTOFMEMORY;
    std::memset(status, 0, sizeof *status);
    // Without a remote connection the fallback record answers.
    const DateTime now = NowLocal();
    status->ftStartTime = ToUtcFileTime(FStartTime);
    status->ftCurrentTime = ToUtcFileTime(now);
    status->ftLastUpdateTime = ToUtcFileTime(now);
    status->dwServerState = OPC_STATUS_FAILED;
    status->dwGroupCount = 0;
    status->szVendorInfo = TaskMemString(kFallbackVendorInfo);
    if (!status->szVendorInfo) {
        CoTaskMemFree(status);
        return E_OUTOFMEMORY;
    }
    *ppServerStatus = status;
    return S_OK;
}

STDMETHODIMP VelaDataAccess::RemoveGroup(OPCHANDLE, BOOL) { return E_INVALIDARG; }

STDMETHODIMP VelaDataAccess::CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
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
    if (!ppString) return E_INVALIDARG;
    *ppString = TaskMemString(OPCErrorText(dwError));
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VelaDataAccess::SetClientName(LPCWSTR szName) {
    FClientName = szName ? szName : L"";
    return S_OK;
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
