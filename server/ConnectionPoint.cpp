#include "server/ConnectionPoint.h"

#include <olectl.h>

namespace vela::server {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID sinkInterface,
                                             size_t maxSinks)
    : container_(container), sinkInterface_(sinkInterface), maxSinks_(maxSinks) {}

ConnectionPoint::~ConnectionPoint() {
    for (auto& [cookie, sink] : sinks_) sink->Release();
}

void ConnectionPoint::Disconnect() {
    if (sinks_.empty()) return;
    std::vector<std::pair<DWORD, IUnknown*>> sinks;
    sinks.swap(sinks_);
    if (onConnectionChange) onConnectionChange(nullptr);
    for (auto& [cookie, sink] : sinks) sink->Release();
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ConnectionPoint::AddRef() { return container_->AddRef(); }
STDMETHODIMP_(ULONG) ConnectionPoint::Release() { return container_->Release(); }

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = sinkInterface_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    if (sinks_.size() >= maxSinks_) return CONNECT_E_ADVISELIMIT;
    IUnknown* typed = nullptr;
    if (FAILED(sink->QueryInterface(sinkInterface_, reinterpret_cast<void**>(&typed))) || !typed)
        return CONNECT_E_CANNOTCONNECT;
    const DWORD given = nextCookie_++;
    sinks_.emplace_back(given, typed);
    *cookie = given;
    if (onConnectionChange) onConnectionChange(typed);
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first != cookie) continue;
        IUnknown* sink = it->second;
        sinks_.erase(it);
        // the owner's view: any disconnect clears its sink
        if (onConnectionChange) onConnectionChange(nullptr);
        sink->Release();
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

}  // namespace vela::server
