#pragma once
// The class object of one virtual server: it holds the server's settings and creates a server
// object for every client that asks.
#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <mutex>
#include <string>

#include "base/MainThread.h"
#include "toolkit/ConnectionOptions.h"

namespace vela::server {

// What a virtual server is: its remote server and the limits it gives its clients. Numbers are
// kept as the text they were given in; the objects that use them read them.
struct VirtualServerSettings {
    CLSID ClassId{};
    std::wstring ProgId;
    std::wstring Caption;
    std::string URL;
    std::string Proxy;
    std::string User;
    std::string Pass;
    std::string XMLWaittime;
    std::string XMLHoldtime;
    std::string MinUpdateRate;
    std::string MaxGroupCount;
    TStrings ConnectionOptions;  // further name=value options of the connection ("ua-...")
};

class TComOPCObjFactory final : public IClassFactory {
public:
    TComOPCObjFactory(VirtualServerSettings settings, MainThreadDispatcher* mainThread);
    const VirtualServerSettings& Settings() const { return settings_; }
    // Why the last connection of one of its server objects to the remote server failed; empty
    // once one succeeds.
    void NoteConnectResult(const std::string& error) const;
    std::string LastConnectError() const;
    MainThreadDispatcher* MainThread() const { return mainThread_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~TComOPCObjFactory() = default;
    const VirtualServerSettings settings_;
    MainThreadDispatcher* mainThread_;
    std::atomic<long> refs_{1};
    mutable std::mutex errorMutex_;
    mutable std::string lastConnectError_;
};

}  // namespace vela::server
