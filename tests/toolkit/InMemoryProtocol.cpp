#include "InMemoryProtocol.h"

#include "toolkit/OPCResultTexts.h"
#include "toolkit/VelaExceptions.h"

namespace vela::testdouble {
namespace {

std::string Join(const TVelaItemList& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ",") + item->FItemID;
    return text;
}

class InMemoryGroup final : public TVelaIntfComponent, public IVelaGroup {
public:
    explicit InMemoryGroup(TVelaComponent* owner) : TVelaIntfComponent(owner) {}
    int32_t QueryInterface(const VelaGuid& iid, void** object) override {
        if (iid == IID_IVelaGroup || iid == IID_IVelaUnknown) {
            *object = static_cast<IVelaGroup*>(this);
            AddRef();
            return 0;
        }
        *object = nullptr;
        return static_cast<int32_t>(0x80004002);
    }
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }

    void RemoveGroup(bool serverShutdown, int32_t& serverHandle) override {
        if (serverHandle != -1 && !serverShutdown) Server().Log("RemoveGroup " + name_);
        else Server().Log("RemoveGroup " + name_ + " (nothing sent)");
        serverHandle = -1;
    }
    void SetName(const std::string& name) override {
        Server().Log("SetName " + name);
        name_ = name;
    }
    void GetState(TVelaGroupStateRec& state) override {
        state.ServerHandle = handle_;
        state.UpdateRate = rate_;
    }
    void SetState(int32_t& updateRate, bool active, int32_t, float deadBand, int32_t, int32_t, int32_t,
                  int32_t) override {
        Server().Log("SetState rate=" + std::to_string(updateRate) + " active=" + std::to_string(active) +
                     " deadband=" + std::to_string(static_cast<int>(deadBand)));
        if (active && Server().failSetStateWhenActivating) throw EOPCException("server refused activation");
        if (Server().revisedUpdateRate) updateRate = Server().revisedUpdateRate;
        rate_ = updateRate;
    }
    bool SyncWrite(TVelaItemList& items) override { return Write("SyncWrite", items); }
    bool AsyncWrite(TVelaItemList& items) override { return Write("AsyncWrite", items); }
    bool AsyncRead(TVelaItemList& items) override {
        Server().Log("AsyncRead " + Join(items));
        return true;
    }
    bool SyncRead(TVelaItemList& items, bool fromCache) override {
        Server().Log(std::string("SyncRead ") + (fromCache ? "cache " : "device ") + Join(items));
        for (const auto& item : items) {
            auto it = Server().values.find(item->FItemID);
            item->FValue = it != Server().values.end() ? it->second : Variant();
            item->FQuality = 0xC0;
            item->FLastError = 0;
        }
        return true;
    }
    bool GetEUInfos(TVelaItemList& items) override {
        Server().Log("GetEUInfos " + Join(items));
        for (const auto& item : items) {
            item->FEUType = 1;
            item->FEUInfo = Variant::FromElements(vtR8, {Variant(0.0), Variant(100.0)});
        }
        return true;
    }
    void CancelLastAsyncCall() override { Server().Log("CancelLastAsyncCall"); }
    void Refresh(int32_t maxAge) override { Server().Log("Refresh " + std::to_string(maxAge)); }
    bool AddItems(TVelaItemList& items, bool add) override {
        Server().Log(std::string(add ? "AddItems " : "ValidateItems ") + Join(items));
        bool ok = true;
        for (const auto& item : items) {
            if (Server().unknownItems.count(item->FItemID)) {
                item->FLastError = kUnknownItemError;
                ok = false;
                continue;
            }
            item->FLastError = 0;
            item->FCanonicalDatatype = vtR8;
            item->FAccessRights = 3;
            if (add) item->FServerHandle = Server().nextHandle++;
        }
        return ok;
    }
    bool RemoveItems(bool serverShutdown, TVelaItemList& items) override {
        Server().Log(std::string("RemoveItems ") + (serverShutdown ? "(nothing sent) " : "") + Join(items));
        for (const auto& item : items) item->FServerHandle = -1;
        return true;
    }
    bool SetActiveState(TVelaItemList& items, bool active) override {
        Server().Log("SetActiveState " + std::to_string(active) + " " + Join(items));
        return true;
    }
    bool SetDatatypes(TVelaItemList& items) override {
        Server().Log("SetDatatypes " + Join(items));
        return true;
    }
    TVelaIntfComponent* GetObject() override { return this; }
    void AddGroup(int32_t& serverHandle, const std::string& name, int32_t clientHandle, bool active, float, int32_t,
                  int32_t, int32_t& updateRate, bool, int32_t, int32_t) override {
        Server().Log("AddGroup " + name + " client=" + std::to_string(clientHandle) + " active=" +
                     std::to_string(active));
        name_ = name;
        handle_ = serverHandle = Server().nextHandle++;
        if (Server().revisedUpdateRate) updateRate = Server().revisedUpdateRate;
        rate_ = updateRate;
    }

private:
    bool Write(const char* what, TVelaItemList& items) {
        std::string line = std::string(what);
        bool ok = true;
        for (const auto& item : items) {
            line += " " + item->FItemID + "=" + item->FWantValue.ToString() + " q=" + std::to_string(item->FWantQuality);
            if (Server().unknownItems.count(item->FItemID)) {
                item->FLastError = kUnknownItemError;
                ok = false;
            } else {
                item->FLastError = 0;
                Server().values[item->FItemID] = item->FWantValue;
            }
        }
        Server().Log(line);
        return ok;
    }

    std::string name_;
    int32_t handle_ = -1;
    int32_t rate_ = 0;
};

// A fixed address space: Plant/{Temp, Level, Line/{Speed}}.
class InMemoryBrowser final : public TVelaIntfComponent, public IVelaBrowser {
public:
    explicit InMemoryBrowser(TVelaComponent* owner) : TVelaIntfComponent(owner) {}
    int32_t QueryInterface(const VelaGuid& iid, void** object) override {
        if (iid == IID_IVelaBrowser || iid == IID_IVelaUnknown) {
            *object = static_cast<IVelaBrowser*>(this);
            AddRef();
            return 0;
        }
        *object = nullptr;
        return static_cast<int32_t>(0x80004002);
    }
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }

    int32_t GetOrganization() override { return 1; }
    bool MoveDown(const TVelaBrowseItem& folder) override { return Moveto(folder); }
    bool Moveto(const TVelaBrowseItem& folder) override {
        Server().Log("Moveto " + folder.GetItemId());
        if (!Children().count(folder.GetItemId())) return false;
        position_.SetItemName(folder.GetItemId());
        position_.FNodeId = folder.GetItemId();
        return true;
    }
    bool MovetoRoot() override {
        Server().Log("MovetoRoot");
        position_ = TVelaBrowseItem();
        return true;
    }
    bool Moveup() override {
        const std::string id = position_.FNodeId;
        const size_t slash = id.rfind('/');
        TVelaBrowseItem up;
        up.SetItemName(slash == std::string::npos ? "" : id.substr(0, slash));
        position_ = up;
        return true;
    }
    TVelaBrowseItem* GetCurrentPosition() override { return &position_; }
    std::string GetCurrentPath(const std::string& delimiter) override {
        std::string path = position_.FNodeId;
        for (size_t p = path.find('/'); p != std::string::npos; p = path.find('/', p + delimiter.size()))
            path.replace(p, 1, delimiter);
        return path;
    }
    void SetFilter(int32_t browseType, VelaAcesstype, int32_t, const std::string& filter) override {
        type_ = browseType;
        Server().Log("SetFilter " + std::to_string(browseType) + " " + filter);
    }
    void Browse(bool) override {
        if (!list_) return;
        list_->Clear();
        for (const std::string& child : Children()[position_.FNodeId]) {
            const bool folder = Children().count(child) > 0;
            if ((folder && type_ == 2) || (!folder && type_ == 1)) continue;
            TVelaBrowseItem& entry = list_->Add();
            entry.SetItemName(child);
            entry.FName = child.substr(child.rfind('/') + 1);
            entry.FIsItem = !folder;
            entry.FIsFolder = folder;
            entry.FHasChilds = folder;
            entry.FKind = folder ? 0 : 2;
        }
    }
    void SetBrowseList(TVelaBrowseItems* list) override { list_ = list; }

private:
    static std::map<std::string, std::vector<std::string>>& Children() {
        static std::map<std::string, std::vector<std::string>> tree = {
            {"", {"Plant"}},
            {"Plant", {"Plant/Temp", "Plant/Level", "Plant/Line"}},
            {"Plant/Line", {"Plant/Line/Speed"}},
        };
        return tree;
    }

    TVelaBrowseItem position_;
    TVelaBrowseItems* list_ = nullptr;
    int32_t type_ = 3;
};

class InMemoryConnection final : public TVelaIntfComponent, public IVelaDAConnection {
public:
    InMemoryConnection(TVelaComponent* owner, tVelaConnectionType type) : TVelaIntfComponent(owner), type_(type) {}
    int32_t QueryInterface(const VelaGuid& iid, void** object) override {
        if (iid == IID_IVelaDAConnection || iid == IID_IVelaConnection || iid == IID_IVelaUnknown) {
            *object = static_cast<IVelaDAConnection*>(this);
            AddRef();
            return 0;
        }
        *object = nullptr;
        return static_cast<int32_t>(0x80004002);
    }
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }

    void Connect(const std::string& clientName, const std::string& server, int32_t, const TStrings& options,
                 const std::string&) override {
        Server().Log("Connect " + server + " as " + clientName + " user=" + OptionValue(options, "xml-user"));
        if (Server().failConnect) throw EOPCServerException("cannot reach " + server);
    }
    void Disconnect() override { Server().Log("Disconnect"); }
    int32_t GetLocaleId() override { return locale_; }
    bool SetOption(const std::string& name, const std::string& value) override {
        Server().Log("SetOption " + name + "=" + value);
        return false;
    }
    void SetLocaleId(int32_t localeId) override { locale_ = localeId; }
    int32_t ServerType() override { return Server().serverType; }
    TVelaIntfComponent* GetObject() override { return this; }
    tVelaConnectionType Connectiontype() override { return type_; }
    bool SetClientName(const std::string& name) override {
        Server().Log("SetClientName " + name);
        return true;
    }
    bool DoTimer() override {
        std::lock_guard lock(Server().mutex);
        ++Server().doTimerCalls;
        return Server().reachable;
    }
    std::string GetErrorString(int32_t code) override { return OPCResultTextOrUnknown(code); }
    std::string ErrorIDToString(int32_t code) override { return OPCResultTextOrUnknown(code); }
    bool QueryAvailableProperties(TVelaPropertyRequests& items, const TStrings& propertyIds, bool,
                                  bool withValues) override {
        Server().Log("QueryAvailableProperties " + std::to_string(items.size()) + (withValues ? " values" : ""));
        for (auto& request : items) {
            TVelaItemProperties& properties = *request.properties;
            properties.Clear();
            if (Server().unknownItems.count(request.itemId)) {
                TVelaItemProperty& failure = properties.Add();
                failure.FId = 0;
                failure.FStatusCode = kUnknownItemError;
                failure.FDescription = "The item is no longer available in the server address space.";
                continue;
            }
            const auto wanted = [&](int32_t id) {
                if (propertyIds.empty()) return true;
                for (const auto& p : propertyIds)
                    if (p == std::to_string(id)) return true;
                return false;
            };
            if (wanted(1)) {
                TVelaItemProperty& p = properties.Add();
                p.FId = 1, p.FDescription = "Item Canonical DataType", p.FDataType = vtI2;
                if (withValues) p.FValue = Variant(int16_t{vtR8});
            }
            if (wanted(2)) {
                TVelaItemProperty& p = properties.Add();
                p.FId = 2, p.FDescription = "Item Value", p.FDataType = vtR8;
                if (withValues) p.FValue = Variant(21.5);
            }
            if (!propertyIds.empty() && wanted(101)) {  // only when asked for
                TVelaItemProperty& p = properties.Add();
                p.FId = 101, p.FDescription = "Item Description", p.FDataType = vtBSTR;
                p.FStatusCode = static_cast<int32_t>(0xC0040203);
                p.FValue = Variant::Null();
            }
        }
        return true;
    }
    std::string LookupItemId(const std::string&, int32_t) override { return {}; }
    void GetServerInfo(TServerStateRecord& status, int32_t) override {
        status.ServerState = 1;
        status.BandWidth = 77;
        status.VendorInfo = "in-memory test server";
    }
    VelaPtr<IVelaBrowser> CreateBrowser() override { return VelaPtr<IVelaBrowser>(new InMemoryBrowser(Owner())); }

private:
    tVelaConnectionType type_;
    int32_t locale_ = 0;
};

}  // namespace

size_t InMemoryServer::Count(const std::string& prefix) {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const auto& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}

void InMemoryServer::Reset() {
    std::lock_guard lock(mutex);
    calls.clear();
    failConnect = false;
    reachable = true;
    failSetStateWhenActivating = false;
    revisedUpdateRate = 0;
    serverType = 2;
    unknownItems.clear();
    values.clear();
    nextHandle = 100;
    doTimerCalls = 0;
}

InMemoryServer& Server() {
    static InMemoryServer server;
    return server;
}

void RegisterInMemoryProtocol(tVelaConnectionType type) {
    TIFRegisterClass record;
    record.Connectiontype = type;
    record.IFCreateGroup = [](IVelaConnection& connection) {
        return VelaPtr<IVelaGroup>(new InMemoryGroup(connection.GetObject()->Owner()));
    };
    record.IFCreateBrowser = [](IVelaDAConnection& connection) { return connection.CreateBrowser(); };
    record.IFGetServerNames = [](const std::string& serverName, std::string& caption, std::string& classId) {
        caption = serverName;
        classId.clear();
    };
    record.IFCreateDAServer = [type](TVelaComponent* owner, bool) {
        return VelaPtr<IVelaDAConnection>(new InMemoryConnection(owner, type));
    };
    RegisterConnectionClass(std::move(record));
}

}  // namespace vela::testdouble
