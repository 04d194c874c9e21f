#include "app/VirtualServers.h"

#include <objbase.h>

#include <map>

#include "app/OptionFileRegistry.h"
#include "base/Text.h"
#include "base/Utf.h"
#include "server/ComOPCObjFactory.h"
#include "server/VelaDataAccess.h"

namespace vela::app {

VirtualServers::~VirtualServers() {
    RevokeClassObjects();
    for (Entry& entry : entries_) entry.factory->Release();
}

void VirtualServers::Create(const OptionFile& file, MainThreadDispatcher* mainThread) {
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < file.servers.size(); ++i) {
        const OptionServer& entry = file.servers[i];
        const std::string where = "server " + std::to_string(i + 1) + " (" + entry.caption + ")";
        const std::string clsidText(TrimBlanks(entry.clsid));
        server::VirtualServerSettings settings;
        if (!IsRegistryGuid(clsidText) || FAILED(CLSIDFromString(Utf8ToWide(clsidText).c_str(), &settings.ClassId)))
            throw OptionFileError(where + ": class id '" + entry.clsid + "' is no GUID");
        // two class objects for one class id: only one could ever be reached
        if (const auto [at, fresh] = seen.emplace(AsciiLower(clsidText), i + 1); !fresh)
            throw OptionFileError(where + ": class id " + clsidText + " is also that of server " +
                                  std::to_string(at->second));
        if (const std::string error = UASettingsError(entry); !error.empty()) throw OptionFileError(where + ": " + error);
        settings.ProgId = Utf8ToWide(std::string(TrimBlanks(entry.name)));
        settings.Caption = Utf8ToWide(std::string(TrimBlanks(entry.caption)));
        settings.URL = entry.url;
        settings.Proxy = entry.proxy;
        settings.User = entry.user;
        settings.Pass = entry.pass;
        settings.XMLWaittime = entry.waittime;
        settings.XMLHoldtime = entry.holdtime;
        settings.MinUpdateRate = entry.minupdaterate;
        settings.MaxGroupCount = entry.maxgroupcount;
        settings.ConnectionOptions = entry.UAConnectionOptions();
        if (TrimBlanks(entry.pkifolder).empty())
            settings.ConnectionOptions.push_back("ua-pki=" + CertificateStorePath(WideToUtf8(ExecutablePath())));
        entries_.push_back({new server::TComOPCObjFactory(std::move(settings), mainThread), 0});
    }
}

HRESULT VirtualServers::RegisterClassObjects() {
    HRESULT first = S_OK;
    for (Entry& entry : entries_) {
        if (entry.cookie) continue;
        const HRESULT hr = CoRegisterClassObject(entry.factory->Settings().ClassId, entry.factory, CLSCTX_LOCAL_SERVER,
                                                 REGCLS_MULTIPLEUSE, &entry.cookie);
        if (FAILED(hr)) {
            entry.cookie = 0;
            if (SUCCEEDED(first)) first = hr;
        }
    }
    return first;
}

void VirtualServers::RevokeClassObjects() {
    for (Entry& entry : entries_) {
        if (entry.cookie) CoRevokeClassObject(entry.cookie);
        entry.cookie = 0;
    }
}

size_t VirtualServers::Count() const { return entries_.size(); }

std::vector<VirtualServerView> VirtualServers::Views() const {
    std::vector<VirtualServerView> views;
    for (const Entry& entry : entries_) {
        const server::VelaDataAccess::Activity activity = server::VelaDataAccess::ActivityOf(entry.factory);
        VirtualServerView view;
        view.caption = entry.factory->Settings().Caption;
        view.progId = entry.factory->Settings().ProgId;
        view.clients = activity.clients;
        view.connected = activity.connected;
        view.reconnecting = activity.reconnecting;
        view.lastError = activity.reconnecting > 0 ? activity.lastError : entry.factory->LastConnectError();
        views.push_back(std::move(view));
    }
    return views;
}

}  // namespace vela::app
