#pragma once
// What the DA clients under Wine (the end-to-end test client, the gateway benchmark) share: COM
// pointers, waiting in the apartment, processes, registering the proxy/stub DLL and the gateway,
// text. Windows only. Prints nothing: each client reports in its own format.
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "opcda.h"

namespace vela::da_client {

// ---- ownership ----
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* attach) : p_(attach) {}
    ComPtr(const ComPtr& other) : p_(other.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept { std::swap(p_, other.p_); return *this; }
    ~ComPtr() { Reset(); }
    void Reset() { if (T* old = std::exchange(p_, nullptr)) old->Release(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() { Reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    IUnknown** put_unknown() { Reset(); return reinterpret_cast<IUnknown**>(&p_); }
    template <typename U>
    ComPtr<U> As(REFIID iid) const {
        ComPtr<U> other;
        if (p_) p_->QueryInterface(iid, other.put_void());
        return other;
    }

private:
    T* p_ = nullptr;
};

// ---- callbacks ----
// A group's data callback for clients that look at only some of its calls: reference counting,
// QueryInterface and handlers that accept and ignore, to override.
class DataCallbackBase : public IOPCDataCallback {
public:
    virtual ~DataCallbackBase() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOPCDataCallback) {
            *object = static_cast<IOPCDataCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                              HRESULT*) override {
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                HRESULT*) override {
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
    STDMETHODIMP OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

private:
    LONG refs_ = 1;
};

// ---- waiting ----
// Pumps the apartment, so that callbacks come in, until done() or the time is up.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)),
                                  QS_ALLINPUT);
    }
}
void PumpFor(DWORD ms);

// ---- processes ----
// Unix paths of the build tree live on Wine's Z: drive.
std::wstring WindowsPath(std::wstring path);
// Another process of that EXE name (0: none).
DWORD FindProcess(const wchar_t* exeName);

// Starts "exe" with the arguments; false when it could not be started.
bool StartProcess(const std::wstring& exe, const wchar_t* arguments, PROCESS_INFORMATION& process);
// Pumps until the started process ends or the time is up, then lets go of its handles. exitCode is
// STILL_ACTIVE (and the result false) while it still runs or when its code cannot be read.
bool FinishProcess(PROCESS_INFORMATION& process, DWORD timeoutMs, DWORD& exitCode);
// Both: false when it did not start or did not end in time.
bool RunAndWait(const std::wstring& exe, const wchar_t* arguments, DWORD timeoutMs, DWORD& exitCode);

// ---- registration ----
struct ProxyStubRegistration {
    bool loaded = false;
    DWORD loadError = 0;  // when not loaded
    HRESULT hr = E_FAIL;  // of DllRegisterServer; E_FAIL when the DLL has none
};
ProxyStubRegistration RegisterProxyStub(const std::wstring& proxyDll);
bool RegisterGateway(const std::wstring& gatewayExe, DWORD& exitCode);

// The virtual server the tests and the benchmark put into the gateway's option file
// (tests/com/gateway-env.sh) with this ProgID; its class id comes from the registry.
inline constexpr wchar_t kTestServerProgId[] = L"Vela.Test.Gateway.1";
// CoCreateInstance by ProgID, as a plant's DA client does.
HRESULT CreateServerByProgId(const wchar_t* progId, REFIID riid, void** object);

// ---- text ----
std::string Narrow(const wchar_t* text);  // UTF-8; "(null)" for none
std::string Narrow(const std::wstring& text);
std::string HrText(HRESULT hr);

}  // namespace vela::da_client
