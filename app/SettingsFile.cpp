#include "app/SettingsFile.h"

#include <sstream>

#include "base/Text.h"

namespace vela::app {

std::vector<std::string> ApplySettingsText(const std::string& text, server::VirtualServerSettings& settings) {
    std::vector<std::string> refused;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed(TrimBlanks(line));
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const size_t equals = trimmed.find('=');
        if (equals == std::string::npos) {
            refused.push_back(trimmed);
            continue;
        }
        const std::string key = AsciiLower(TrimBlanks(trimmed.substr(0, equals)));
        const std::string value(TrimBlanks(trimmed.substr(equals + 1)));
        if (key == "url") settings.URL = value;
        else if (key == "proxy") settings.Proxy = value;
        else if (key == "user") settings.User = value;
        else if (key == "pass") settings.Pass = value;
        else if (key == "waittime") settings.XMLWaittime = value;
        else if (key == "holdtime") settings.XMLHoldtime = value;
        else if (key == "minupdaterate") settings.MinUpdateRate = value;
        else if (key == "maxgroupcount") settings.MaxGroupCount = value;
        else if (key.rfind("ua-", 0) == 0) settings.ConnectionOptions.push_back(key + "=" + value);
        else refused.push_back(trimmed);
    }
    return refused;
}

}  // namespace vela::app
