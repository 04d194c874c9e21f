#include "app/CommandLine.h"

#include <cwctype>

namespace vela::app {
namespace {

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

}  // namespace

StartCommand ParseCommandLine(const std::vector<std::wstring>& arguments) {
    static const struct {
        const wchar_t* name;
        StartMode mode;
    } kSwitches[] = {
        {L"REGSERVER", StartMode::RegServer},
        {L"REGSERVERPERUSER", StartMode::RegServerPerUser},
        {L"UNREGSERVER", StartMode::UnregServer},
        {L"UNREGSERVERPERUSER", StartMode::UnregServerPerUser},
        {L"EMBEDDING", StartMode::ByCom},
        {L"AUTOMATION", StartMode::ByCom},
        {L"STOP", StartMode::Stop},
        {L"?", StartMode::Help},
        {L"H", StartMode::Help},
        {L"HELP", StartMode::Help},
        {L"LISTSERVERS", StartMode::ListServers},
        {L"ADDSERVER", StartMode::AddServer},
        {L"CHANGESERVER", StartMode::ChangeServer},
        {L"REMOVESERVER", StartMode::RemoveServer},
        {L"LISTCERTIFICATES", StartMode::ListCertificates},
        {L"TRUSTCERTIFICATE", StartMode::TrustCertificate},
    };
    const auto administers = [](StartMode mode) {
        return mode == StartMode::ListServers || mode == StartMode::AddServer || mode == StartMode::ChangeServer ||
               mode == StartMode::RemoveServer || mode == StartMode::ListCertificates ||
               mode == StartMode::TrustCertificate;
    };
    StartCommand command;
    bool decided = false;
    for (const std::wstring& argument : arguments) {
        if (decided && administers(command.mode)) {
            command.operands.push_back(argument);
            continue;
        }
        bool known = false;
        if (argument.size() >= 2 && (argument[0] == L'/' || argument[0] == L'-')) {
            const std::wstring name = Upper(argument.substr(argument.size() > 2 && argument[1] == L'-' ? 2 : 1));
            for (const auto& candidate : kSwitches) {
                if (name != candidate.name) continue;
                known = true;
                if (!decided) command.mode = candidate.mode;
                decided = true;
            }
        }
        if (!known) command.unknown.push_back(argument);
    }
    return command;
}

std::wstring SwitchesHelp() {
    return L"Switches (with / or -, in any case):\n"
           L"  /RegServer, /RegServerPerUser       register the gateway's servers, then end\n"
           L"  /UnregServer, /UnregServerPerUser   remove them from the registry, then end\n"
           L"  /Embedding, /Automation             started by COM: ends after its last client\n"
           L"  /Stop                               tell a running gateway's clients and end it\n"
           L"  /ListServers                        list the virtual servers of the option file\n"
           L"  /AddServer name=VALUE ...           add a virtual server and register it\n"
           L"  /ChangeServer PROGID name=VALUE ... change one and register it again\n"
           L"  /RemoveServer PROGID                unregister one and remove it\n"
           L"  /ListCertificates                   list the server certificates refused and trusted\n"
           L"  /TrustCertificate THUMBPRINT        trust a refused server certificate\n"
           L"  /?                                  show these switches\n"
           L"Names of values: caption, name (the ProgID), clsid (made when left out), url, proxy,\n"
           L"user, pass, minupdaterate, waittime, holdtime, maxgroupcount, securitymode (None, Sign,\n"
           L"SignAndEncrypt), securitypolicy (Basic256Sha256, ...), certfile, keyfile, uauser,\n"
           L"uapass, usercertfile, userkeyfile, trustfirstuse (1: a server's certificate is trusted\n"
           L"the first time), pkifolder (the certificate store, default: pki beside the gateway).\n"
           L"Without a switch the gateway runs until it is stopped.\n";
}

}  // namespace vela::app
