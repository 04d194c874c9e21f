#include "app/CommandLine.h"

#include <cwctype>

namespace vela::app {
namespace {

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

}  // namespace

StartMode ParseStartMode(const std::vector<std::wstring>& arguments) {
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
    };
    for (const std::wstring& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) continue;
        const std::wstring name = Upper(argument.substr(1));
        for (const auto& known : kSwitches)
            if (name == known.name) return known.mode;
    }
    return StartMode::Interactive;
}

}  // namespace vela::app
