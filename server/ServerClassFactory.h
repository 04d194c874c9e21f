#pragma once
// The class object of a virtual server: it creates server objects for the COM runtime.
#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace vela::server {

class ServerClassFactory final : public IClassFactory {
public:
    ServerClassFactory() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~ServerClassFactory() = default;
    std::atomic<long> refs_{1};
};

}  // namespace vela::server
