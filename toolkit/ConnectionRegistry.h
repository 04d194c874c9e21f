#pragma once
// The process-wide registry of protocol modules: one record of factory functions per
// connection type, chosen by the type a client derives from its server URL.
#include <functional>
#include <optional>
#include <string>

#include "toolkit/VelaInterfaces.h"

namespace vela {

struct TIFRegisterClass {
    tVelaConnectionType Connectiontype = coXML;
    std::function<VelaPtr<IVelaServerBrowser>()> IFCreateServerBrowser;
    std::function<VelaPtr<IVelaGroup>(IVelaConnection& connection)> IFCreateGroup;
    std::function<VelaPtr<IVelaBrowser>(IVelaDAConnection& connection)> IFCreateBrowser;
    // server name -> display caption and class-id text
    std::function<void(const std::string& serverName, std::string& caption, std::string& classId)> IFGetServerNames;
    std::function<VelaPtr<IVelaDAConnection>(TVelaComponent* owner, bool designMode)> IFCreateDAServer;
};

// False when a record for that type is registered already; the first one stays in force.
bool RegisterConnectionClass(TIFRegisterClass record);
// A miss gives nothing, or with raiseIfMissing EOPCException "Connection not registered ...".
std::optional<TIFRegisterClass> FindConnectionClass(tVelaConnectionType type, bool raiseIfMissing);
bool IsConnectionRegistered(tVelaConnectionType type);
// The type of the first record registered; raises when none is.
tVelaConnectionType DefaultConnectionType();
void ConnectionServerNames(tVelaConnectionType type, const std::string& serverName, std::string& caption,
                           std::string& classId);
VelaPtr<IVelaDAConnection> CreateDAConnection(TVelaComponent* owner, tVelaConnectionType type, bool designMode);
VelaPtr<IVelaGroup> CreateConnectionGroup(IVelaConnection& connection);
VelaPtr<IVelaBrowser> CreateConnectionBrowser(IVelaDAConnection& connection);
// Empties the registry, as at finalisation (tests use it to start from nothing).
void ClearConnectionRegistry();

// The connection type for a server name: coUA for "opc.tcp://", coXML for "http://" (looked
// for in the lower-cased name), else the current type.
tVelaConnectionType DetectConnectionType(const std::string& serverName, tVelaConnectionType current);
// "Protocol not supported (add ... in uses clause)" for an unregistered type; nothing else.
void CheckProtocolRegistered(tVelaConnectionType type);

}  // namespace vela
