#pragma once
// A connection point that accepts one sink of one interface; it lives inside its container
// and shares the container's reference count.
#include <windows.h>
#include <ocidl.h>

#include <functional>

namespace vela::server {

class SingleConnectionPoint final : public IConnectionPoint {
public:
    SingleConnectionPoint(IConnectionPointContainer* container, REFIID sinkInterface);
    ~SingleConnectionPoint();
    SingleConnectionPoint(const SingleConnectionPoint&) = delete;
    SingleConnectionPoint& operator=(const SingleConnectionPoint&) = delete;

    // Called with the sink (already queried for the sink interface) on Advise, nullptr on Unadvise.
    std::function<void(IUnknown* sink)> onConnectionChange;

    IUnknown* Sink() const { return sink_; }  // not AddRef'ed
    REFIID SinkInterface() const { return sinkInterface_; }
    void Disconnect();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    IConnectionPointContainer* container_;
    IID sinkInterface_;
    IUnknown* sink_ = nullptr;
    DWORD cookie_ = 0;
    DWORD nextCookie_ = 1;
};

}  // namespace vela::server
