#include "toolkit/ConnectionRegistry.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/Text.h"
#include "toolkit/VelaExceptions.h"

namespace vela {
namespace {

constexpr char kUsesHint[] = "add VelaXMLLink, VelaCOMLink or VelaUALink in uses clause";

struct Registry {
    std::mutex mutex;
    std::vector<TIFRegisterClass> records;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

bool RegisterConnectionClass(TIFRegisterClass record) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const auto& existing : r.records)
        if (existing.Connectiontype == record.Connectiontype) return false;
    r.records.push_back(std::move(record));
    return true;
}

std::optional<TIFRegisterClass> FindConnectionClass(tVelaConnectionType type, bool raiseIfMissing) {
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mutex);
        for (const auto& record : r.records)
            if (record.Connectiontype == type) return record;
    }
    if (raiseIfMissing) throw EOPCException(std::string("Connection not registered\r\n") + kUsesHint);
    return std::nullopt;
}

bool IsConnectionRegistered(tVelaConnectionType type) { return FindConnectionClass(type, false).has_value(); }

tVelaConnectionType DefaultConnectionType() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    if (r.records.empty()) throw EOPCException(std::string("No default connection registered ") + kUsesHint);
    return r.records.front().Connectiontype;
}

void ConnectionServerNames(tVelaConnectionType type, const std::string& serverName, std::string& caption,
                           std::string& classId) {
    const auto record = FindConnectionClass(type, true);
    caption.clear();
    classId.clear();
    if (record->IFGetServerNames) record->IFGetServerNames(serverName, caption, classId);
}

VelaPtr<IVelaDAConnection> CreateDAConnection(TVelaComponent* owner, tVelaConnectionType type, bool designMode) {
    const auto record = FindConnectionClass(type, true);
    if (!record->IFCreateDAServer) throw EOPCException("The protocol module cannot create connections");
    return record->IFCreateDAServer(owner, designMode);
}

VelaPtr<IVelaGroup> CreateConnectionGroup(IVelaConnection& connection) {
    const auto record = FindConnectionClass(connection.Connectiontype(), true);
    if (!record->IFCreateGroup) throw EOPCException("The protocol module cannot create groups");
    return record->IFCreateGroup(connection);
}

VelaPtr<IVelaBrowser> CreateConnectionBrowser(IVelaDAConnection& connection) {
    const auto record = FindConnectionClass(connection.Connectiontype(), true);
    if (!record->IFCreateBrowser) throw EOPCException("The protocol module cannot create browsers");
    return record->IFCreateBrowser(connection);
}

void ClearConnectionRegistry() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.records.clear();
}

tVelaConnectionType DetectConnectionType(const std::string& serverName, tVelaConnectionType current) {
    const std::string lower = AsciiLower(serverName);
    if (lower.find("opc.tcp://") != std::string::npos) return coUA;
    if (lower.find("http://") != std::string::npos) return coXML;
    return current;
}

void CheckProtocolRegistered(tVelaConnectionType type) {
    if (IsConnectionRegistered(type)) return;
    const char* hint = type == coXML   ? " (add VelaXMLLink in uses clause)"
                       : type == coCOM ? " (add VelaCOMLink in uses clause)"
                                       : " (add VelaUALink in uses clause)";
    throw EOPCException(std::string("Protocol not supported") + hint);
}

}  // namespace vela
