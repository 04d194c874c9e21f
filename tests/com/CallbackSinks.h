#pragma once
// The client's callback objects: the server's shutdown notice and a group's data callback, which
// records every call for the checks to look at.
#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "opccomn.h"
#include "opcda.h"
#include "tests/com/DaTestSupport.h"

namespace vela::e2e {

class SinkBase {
public:
    virtual ~SinkBase() = default;

protected:
    ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG ReleaseImpl() {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG refs_ = 1;
};

class ShutdownSink final : public IOPCShutdown, public SinkBase {
public:
    std::wstring reason;
    int calls = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP ShutdownRequest(LPCWSTR szReason) override;
};

enum class CallbackKind { DataChange, ReadComplete, WriteComplete, CancelComplete };

struct CallbackEntry {
    OPCHANDLE client = 0;
    Variant value;
    WORD quality = 0;
    FILETIME time{};
    HRESULT error = S_OK;
};

struct Callback {
    CallbackKind kind = CallbackKind::DataChange;
    DWORD transaction = 0;
    OPCHANDLE group = 0;
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    ULONGLONG arrived = 0;  // GetTickCount64
    std::vector<CallbackEntry> entries;
    const CallbackEntry* Find(OPCHANDLE client) const;
};

class DataSink final : public IOPCDataCallback, public SinkBase {
public:
    std::vector<Callback> calls;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                              DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                              FILETIME* pftTimeStamps, HRESULT* pErrors) override;
    STDMETHODIMP OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                                DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                FILETIME* pftTimeStamps, HRESULT* pErrors) override;
    STDMETHODIMP OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                 OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    STDMETHODIMP OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

    // Index of the first call of that kind and transaction from index `from` on, else -1.
    int FindCall(CallbackKind kind, DWORD transaction, size_t from = 0) const;
    // Waits (pumping) for such a call; its index, else -1.
    int WaitFor(CallbackKind kind, DWORD transaction, DWORD timeoutMs, size_t from = 0);
    size_t Count(CallbackKind kind, size_t from = 0) const;

private:
    void Record(CallbackKind kind, DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                const OPCHANDLE* clients, const VARIANT* values, const WORD* qualities, const FILETIME* times,
                const HRESULT* errors);
};

// A sink connected to a group's connection point; disconnects when it goes.
class Advised {
public:
    Advised() = default;
    Advised(const Advised&) = delete;
    Advised& operator=(const Advised&) = delete;
    ~Advised() { Unadvise(); }
    HRESULT Advise(IUnknown* group, IUnknown* sink, REFIID iid);
    HRESULT Unadvise();
    bool connected() const { return cookie_ != 0; }

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace vela::e2e
