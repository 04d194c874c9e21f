#pragma once
// A connection point for one sink interface that accepts a limited number of sinks; it lives
// inside its container and shares the container's reference count.
#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <utility>
#include <vector>

namespace vela::server {

class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer* container, REFIID sinkInterface, size_t maxSinks = 1);
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    // Called with the sink (already queried for the sink interface) on Advise, nullptr on Unadvise.
    std::function<void(IUnknown* sink)> onConnectionChange;

    IUnknown* Sink() const { return sinks_.empty() ? nullptr : sinks_.back().second; }  // the latest; not AddRef'ed
    size_t SinkCount() const { return sinks_.size(); }
    REFIID SinkInterface() const { return sinkInterface_; }
    // Lets go of every sink.
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
    size_t maxSinks_;
    std::vector<std::pair<DWORD, IUnknown*>> sinks_;  // cookie, sink (AddRef'ed)
    DWORD nextCookie_ = 1;
};

}  // namespace vela::server
