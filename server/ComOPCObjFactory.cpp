#include "server/ComOPCObjFactory.h"

#include "server/ComHosting.h"
#include "server/VelaDataAccess.h"

namespace vela::server {

TComOPCObjFactory::TComOPCObjFactory(VirtualServerSettings settings, MainThreadDispatcher* mainThread)
    : settings_(std::move(settings)), mainThread_(mainThread) {}

void TComOPCObjFactory::NoteConnectResult(const std::string& error) const {
    std::lock_guard lock(errorMutex_);
    lastConnectError_ = error;
}

std::string TComOPCObjFactory::LastConnectError() const {
    std::lock_guard lock(errorMutex_);
    return lastConnectError_;
}

STDMETHODIMP TComOPCObjFactory::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TComOPCObjFactory::Release() {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP TComOPCObjFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
        VelaDataAccess* server = VelaDataAccess::Create(*this);
        // the query connects to the remote server: an unreachable one fails the creation
        const HRESULT hr = server->QueryInterface(riid, object);
        server->Release();
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP TComOPCObjFactory::LockServer(BOOL lock) {
    if (lock) ComHosting::Instance().Lock();
    else ComHosting::Instance().Unlock();
    return S_OK;
}

}  // namespace vela::server
