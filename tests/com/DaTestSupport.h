#pragma once
// What every check of the DA test client shares: printing checks, owning COM pointers and task
// memory, pumping the apartment while waiting (with the benchmark client), values and times.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "opccomn.h"
#include "opcda.h"
#include "tests/support/DaClientSupport.h"

namespace vela::e2e {

using vela::da_client::ComPtr;
using vela::da_client::FindProcess;
using vela::da_client::FinishProcess;
using vela::da_client::HrText;
using vela::da_client::Narrow;
using vela::da_client::PumpFor;
using vela::da_client::PumpUntil;
using vela::da_client::StartProcess;
using vela::da_client::WindowsPath;

// Result codes and qualities of the published OPC DA 2.0 interfaces.
inline constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0xC0040001);
inline constexpr HRESULT kBadType = static_cast<HRESULT>(0xC0040004);
inline constexpr HRESULT kBadRights = static_cast<HRESULT>(0xC0040006);
inline constexpr HRESULT kUnknownItemId = static_cast<HRESULT>(0xC0040007);
inline constexpr HRESULT kInvalidItemId = static_cast<HRESULT>(0xC0040008);
inline constexpr HRESULT kRange = static_cast<HRESULT>(0xC004000B);
inline constexpr HRESULT kDuplicateName = static_cast<HRESULT>(0xC004000C);
inline constexpr HRESULT kUnsupportedRate = static_cast<HRESULT>(0x0004000D);
inline constexpr HRESULT kInUse = static_cast<HRESULT>(0x0004000F);
inline constexpr HRESULT kInvalidPid = static_cast<HRESULT>(0xC0040203);
inline constexpr HRESULT kNoConnection = static_cast<HRESULT>(0x80040200);
// The gateway's item-attributes enumerator answers a short Next with this code, not S_FALSE.
inline constexpr HRESULT kEnumShort = 1781;

inline constexpr WORD kQualityGood = 0xC0;
inline constexpr WORD kQualityNotConnected = 0x08;
inline constexpr WORD kQualitySensorFailure = 0x10;
inline constexpr WORD kQualityOutOfService = 0x1C;
inline constexpr WORD kQualityLastUsable = 0x44;

inline constexpr OPCHANDLE kBogusHandle = 0xDEADBEEF;

// ---- checks ----
void Section(const char* title);
bool Check(bool ok, const char* what);
bool CheckHr(HRESULT hr, HRESULT expected, const char* what);
void Info(const char* format, ...);
int Failures();
// The area running now, shown when the whole run takes too long.
void SetArea(const char* area);
const char* CurrentArea();

std::string VariantText(const VARIANT& value);

// ---- ownership ----
// Task memory handed out by the server: freed with the task allocator.
template <typename T>
class TaskMem {
public:
    TaskMem() = default;
    TaskMem(const TaskMem&) = delete;
    TaskMem& operator=(const TaskMem&) = delete;
    ~TaskMem() { CoTaskMemFree(p_); }
    T** put() { CoTaskMemFree(p_); p_ = nullptr; return &p_; }
    T* get() const { return p_; }
    T& operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// The platform's copy takes a non-const source.
inline HRESULT CopyVariant(VARIANT* to, const VARIANT* from) { return VariantCopy(to, const_cast<VARIANT*>(from)); }

class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant& other) { VariantInit(&v_); CopyVariant(&v_, &other.v_); }
    Variant& operator=(const Variant& other) {
        if (this != &other) { VariantClear(&v_); CopyVariant(&v_, &other.v_); }
        return *this;
    }
    explicit Variant(const VARIANT& copyOf) { VariantInit(&v_); CopyVariant(&v_, &copyOf); }
    ~Variant() { VariantClear(&v_); }
    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }
    const VARIANT* operator->() const { return &v_; }

private:
    VARIANT v_;
};

// Frees what the server allocated inside returned arrays, then the arrays.
class ItemStates {
public:
    ItemStates() = default;
    ItemStates(const ItemStates&) = delete;
    ItemStates& operator=(const ItemStates&) = delete;
    ~ItemStates();
    OPCITEMSTATE** put(DWORD count);
    OPCITEMSTATE* get() const { return p_; }
    const OPCITEMSTATE& operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    void Clear();
    OPCITEMSTATE* p_ = nullptr;
    DWORD count_ = 0;
};

class ItemResults {
public:
    ItemResults() = default;
    ItemResults(const ItemResults&) = delete;
    ItemResults& operator=(const ItemResults&) = delete;
    ~ItemResults();
    OPCITEMRESULT** put(DWORD count);
    const OPCITEMRESULT& operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    void Clear();
    OPCITEMRESULT* p_ = nullptr;
    DWORD count_ = 0;
};

void FreeAttributes(OPCITEMATTRIBUTES* attributes, ULONG count);
void FreeStatus(OPCSERVERSTATUS* status);

// ---- item definitions ----
struct ItemDef {
    std::wstring id;
    OPCHANDLE client = 0;
    VARTYPE requested = VT_EMPTY;
    BOOL active = TRUE;
};
// The definitions point into the defs: keep the defs alive while the definitions are used.
std::vector<OPCITEMDEF> Definitions(const std::vector<ItemDef>& defs);
std::wstring Node(const wchar_t* demoPath);  // "ns=1;s=" + path

// ---- a group as the client holds it ----
struct Group {
    HRESULT added = E_FAIL;
    OPCHANDLE server = 0;
    DWORD revisedRate = 0;
    ComPtr<IUnknown> unknown;
    ComPtr<IOPCGroupStateMgt> state;
    ComPtr<IOPCItemMgt> items;
    ComPtr<IOPCSyncIO> sync;
    ComPtr<IOPCAsyncIO2> async;
    void ReleaseAll() {
        async.Reset();
        sync.Reset();
        items.Reset();
        state.Reset();
        unknown.Reset();
    }
};
Group AddGroup(IOPCServer* server, const wchar_t* name, BOOL active, DWORD rate, OPCHANDLE clientHandle);
// Releases the client's pointers, then removes the group; returns RemoveGroup's result.
HRESULT DropGroup(IOPCServer* server, Group& group);

// Adds the items; the server handles go to handles (0 for failed items). Returns AddItems' result.
HRESULT AddItemsTo(Group& group, const std::vector<ItemDef>& defs, std::vector<OPCHANDLE>& handles,
                   std::vector<HRESULT>* errors = nullptr, std::vector<VARTYPE>* canonical = nullptr,
                   std::vector<DWORD>* rights = nullptr);

// ---- time ----
ULONGLONG Ticks(const FILETIME& time);
ULONGLONG UtcNowTicks();
// Distance between a time stamp and now, in seconds.
double SecondsFromNow(const FILETIME& time);

}  // namespace vela::e2e
