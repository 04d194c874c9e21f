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
    };
    StartCommand command;
    bool decided = false;
    for (const std::wstring& argument : arguments) {
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
           L"  /?                                  show these switches\n"
           L"Without a switch the gateway runs until it is stopped.\n";
}

}  // namespace vela::app
