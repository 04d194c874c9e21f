#pragma once
// The five reference-counted interfaces through which the client model reaches a protocol
// module. Operations are declared in slot order; failures are raised as exceptions, and a
// Boolean result reports success. Text is UTF-8.
#include <atomic>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/VelaBrowseRecords.h"
#include "toolkit/VelaTypes.h"

// <windows.h> maps these names to their A/W functions; the toolkit's members keep them.
#ifdef GetObject
#undef GetObject
#endif
#ifdef SetComputerName
#undef SetComputerName
#endif

namespace vela {

class TVelaComponent;
class TVelaItemList;
class TVelaIntfComponent;

struct VelaGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
    bool operator==(const VelaGuid&) const = default;
};

inline constexpr VelaGuid IID_IVelaUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr VelaGuid IID_IVelaConnection = {0x2E0EDBB1, 0xC374, 0x4575, {0xB7, 0xAC, 0x0C, 0xCB, 0xAB, 0x09, 0x73, 0xB9}};
inline constexpr VelaGuid IID_IVelaDAConnection = {0xB64D9A7C, 0x1FA9, 0x4AC3, {0x90, 0x49, 0x3C, 0x36, 0x44, 0x85, 0x80, 0xDD}};
inline constexpr VelaGuid IID_IVelaGroup = {0x0B39CD52, 0x407F, 0x4983, {0xA1, 0xEF, 0x33, 0xE3, 0x6A, 0xCA, 0xA2, 0xC3}};
inline constexpr VelaGuid IID_IVelaBrowser = {0xB17D0EFD, 0xA7E8, 0x4DA3, {0xBC, 0x3B, 0xDE, 0x22, 0xAE, 0x3E, 0x73, 0xE9}};
inline constexpr VelaGuid IID_IVelaServerBrowser = {0xEE37583A, 0xB0C2, 0x41C2, {0xA2, 0x63, 0xCE, 0xAE, 0x06, 0x01, 0xCD, 0x55}};

class IVelaUnknown {
public:
    // 0 on success, else 0x80004002 (no such interface); *object gets an added reference.
    virtual int32_t QueryInterface(const VelaGuid& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IVelaUnknown() = default;
};

// Holds one reference to an interface.
template <typename T>
class VelaPtr {
public:
    VelaPtr() = default;
    VelaPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds.
    static VelaPtr Attach(T* p) {
        VelaPtr r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own.
    explicit VelaPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    VelaPtr(const VelaPtr& other) : VelaPtr(other.p_) {}
    VelaPtr(VelaPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <typename U>
        requires std::is_convertible_v<U*, T*>
    VelaPtr(const VelaPtr<U>& other) : VelaPtr(static_cast<T*>(other.get())) {}
    VelaPtr& operator=(VelaPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~VelaPtr() { reset(); }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// The answer of a QueryInterface: the interface with an added reference when it is one the
// object has, else 0x80004002 (no such interface).
template <typename Interface>
int32_t AnswerQuery(Interface* self, bool known, void** object) {
    if (!known) {
        *object = nullptr;
        return static_cast<int32_t>(0x80004002);
    }
    *object = self;
    self->AddRef();
    return 0;
}

// Queries an interface; an empty pointer when the object does not have it.
template <typename To, typename From>
VelaPtr<To> VelaQuery(const VelaPtr<From>& from, const VelaGuid& iid) {
    void* out = nullptr;
    if (!from || from->QueryInterface(iid, &out) != 0) return {};
    return VelaPtr<To>::Attach(static_cast<To*>(out));
}

using TStrings = std::vector<std::string>;

class IVelaBrowser;

class IVelaConnection : public IVelaUnknown {
public:
    virtual void Connect(const std::string& clientName, const std::string& server, int32_t connectDelay,
                         const TStrings& options, const std::string& computer) = 0;                // 1
    virtual void Disconnect() = 0;                                                                  // 2
    virtual int32_t GetLocaleId() = 0;                                                              // 3
    virtual bool SetOption(const std::string& name, const std::string& value) = 0;                  // 4
    virtual void SetLocaleId(int32_t localeId) = 0;                                                 // 5
    virtual int32_t ServerType() = 0;                                                               // 6
    virtual TVelaIntfComponent* GetObject() = 0;                                                    // 7
    virtual tVelaConnectionType Connectiontype() = 0;                                               // 8
    virtual bool SetClientName(const std::string& name) = 0;                                        // 9
    virtual bool DoTimer() = 0;                                                                     // 10

protected:
    ~IVelaConnection() = default;
};

class IVelaDAConnection : public IVelaConnection {
public:
    virtual std::string GetErrorString(int32_t code) = 0;                                           // 11
    virtual std::string ErrorIDToString(int32_t code) = 0;                                          // 12
    virtual bool QueryAvailableProperties(TVelaPropertyRequests& items, const TStrings& propertyIds,
                                          bool raiseErrors, bool withValues) = 0;                   // 13
    virtual std::string LookupItemId(const std::string& itemId, int32_t propertyId) = 0;            // 14
    virtual void GetServerInfo(TServerStateRecord& status, int32_t options) = 0;                    // 15
    virtual VelaPtr<IVelaBrowser> CreateBrowser() = 0;                                              // 16

protected:
    ~IVelaDAConnection() = default;
};

class IVelaGroup : public IVelaUnknown {
public:
    virtual void RemoveGroup(bool serverShutdown, int32_t& serverHandle) = 0;                      // 1
    virtual void SetName(const std::string& name) = 0;                                              // 2
    virtual void GetState(TVelaGroupStateRec& state) = 0;                                           // 3
    virtual void SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand, int32_t localeId,
                          int32_t clientHandle, int32_t holdTime, int32_t waitTime) = 0;            // 4
    virtual bool SyncWrite(TVelaItemList& items) = 0;                                               // 5
    virtual bool AsyncWrite(TVelaItemList& items) = 0;                                              // 6
    virtual bool AsyncRead(TVelaItemList& items) = 0;                                               // 7
    virtual bool SyncRead(TVelaItemList& items, bool fromCache) = 0;                                // 8
    virtual bool GetEUInfos(TVelaItemList& items) = 0;                                              // 9
    virtual void CancelLastAsyncCall() = 0;                                                         // 10
    virtual void Refresh(int32_t maxAge) = 0;                                                       // 11
    virtual bool AddItems(TVelaItemList& items, bool add) = 0;                                      // 12
    virtual bool RemoveItems(bool serverShutdown, TVelaItemList& items) = 0;                        // 13
    virtual bool SetActiveState(TVelaItemList& items, bool active) = 0;                             // 14
    virtual bool SetDatatypes(TVelaItemList& items) = 0;                                            // 15
    virtual TVelaIntfComponent* GetObject() = 0;                                                    // 16
    virtual void AddGroup(int32_t& serverHandle, const std::string& name, int32_t clientHandle, bool active,
                          float deadBand, int32_t timeBias, int32_t localeId, int32_t& updateRate,
                          bool createOnDatachange, int32_t holdTime, int32_t waitTime) = 0;         // 17

protected:
    ~IVelaGroup() = default;
};

inline constexpr int32_t kMaxAgeFromCache = 2147483647;
inline constexpr int32_t kMaxAgeFromDevice = 0;

class IVelaBrowser : public IVelaUnknown {
public:
    virtual int32_t GetOrganization() = 0;                                                          // 1
    virtual bool MoveDown(const TVelaBrowseItem& folder) = 0;                                       // 2
    virtual bool Moveto(const TVelaBrowseItem& folder) = 0;                                         // 3
    virtual bool MovetoRoot() = 0;                                                                  // 4
    virtual bool Moveup() = 0;                                                                      // 5
    virtual TVelaBrowseItem* GetCurrentPosition() = 0;                                              // 6
    virtual std::string GetCurrentPath(const std::string& delimiter) = 0;                           // 7
    virtual void SetFilter(int32_t browseType, VelaAcesstype accessRights, int32_t dataType,
                           const std::string& filter) = 0;                                          // 8
    virtual void Browse(bool flat) = 0;                                                             // 9
    virtual void SetBrowseList(TVelaBrowseItems* list) = 0;                                         // 10
    // Browse(true) without the list: each item goes to the visitor as soon as it is found.
    // False when the module has no such walk (the caller then browses into the list).
    virtual bool BrowseFlat(const TVelaBrowseVisitor&) { return false; }                            // 11

protected:
    ~IVelaBrowser() = default;
};

// caption, name, class id, server types
using tVelaAddServerEvent =
    std::function<void(const std::string&, const std::string&, const std::string&, tVelaServerSet)>;

class IVelaServerBrowser : public IVelaUnknown {
public:
    virtual void execute(tVelaServerSet serverTypes, const std::string& computer, const tVelaAddServerEvent& onAdd,
                         int32_t options, const std::string& proxy) = 0;                            // 1

protected:
    ~IVelaServerBrowser() = default;
};

// The base of every protocol object handed out through the interfaces: reference counted,
// holding the client component that created it (its handler for event messages).
class TVelaIntfComponent {
public:
    explicit TVelaIntfComponent(TVelaComponent* owner) : owner_(owner) {}
    virtual ~TVelaIntfComponent() = default;
    TVelaIntfComponent(const TVelaIntfComponent&) = delete;
    TVelaIntfComponent& operator=(const TVelaIntfComponent&) = delete;

    TVelaComponent* Owner() const { return owner_; }
    // The owner; raises EOPCException "Owner has nil value" when there is none.
    TVelaComponent& GetHandler() const;

protected:
    uint32_t AddRefImpl() { return ++refs_; }
    uint32_t ReleaseImpl() {
        const uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    TVelaComponent* owner_;
    std::atomic<uint32_t> refs_{0};
};

}  // namespace vela
