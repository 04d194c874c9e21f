#include "server/ConnectionPoint.h"

#include <olectl.h>

namespace vela::server {

SingleConnectionPoint::SingleConnectionPoint(IConnectionPointContainer* container, REFIID sinkInterface)
    : container_(container), sinkInterface_(sinkInterface) {}

SingleConnectionPoint::~SingleConnectionPoint() {
    if (sink_) sink_->Release();
}

void SingleConnectionPoint::Disconnect() {
    if (!sink_) return;
    IUnknown* sink = sink_;
    sink_ = nullptr;
    cookie_ = 0;
    if (onConnectionChange) onConnectionChange(nullptr);
    sink->Release();
}

STDMETHODIMP SingleConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SingleConnectionPoint::AddRef() { return container_->AddRef(); }
STDMETHODIMP_(ULONG) SingleConnectionPoint::Release() { return container_->Release(); }

STDMETHODIMP SingleConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = sinkInterface_;
    return S_OK;
}

STDMETHODIMP SingleConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP SingleConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    if (sink_) return CONNECT_E_ADVISELIMIT;
    IUnknown* typed = nullptr;
    if (FAILED(sink->QueryInterface(sinkInterface_, reinterpret_cast<void**>(&typed))) || !typed)
        return CONNECT_E_CANNOTCONNECT;
    sink_ = typed;
    cookie_ = nextCookie_++;
    *cookie = cookie_;
    if (onConnectionChange) onConnectionChange(sink_);
    return S_OK;
}

STDMETHODIMP SingleConnectionPoint::Unadvise(DWORD cookie) {
    if (!sink_ || cookie != cookie_) return CONNECT_E_NOCONNECTION;
    Disconnect();
    return S_OK;
}

STDMETHODIMP SingleConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

}  // namespace vela::server
