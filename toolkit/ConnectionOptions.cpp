#include "toolkit/ConnectionOptions.h"

#include "base/Text.h"

namespace vela {
namespace {

// Index of the entry "name=..." or -1.
long Find(const TStrings& list, const std::string& name) {
    for (size_t i = 0; i < list.size(); ++i) {
        const size_t eq = list[i].find('=');
        if (eq != std::string::npos && EqualsNoCase(std::string_view(list[i]).substr(0, eq), name))
            return static_cast<long>(i);
    }
    return -1;
}

}  // namespace

TStrings DefaultConnectionOptions() {
    return {"xml-user=",     "xml-pass=",     "xml-proxy=",        "ua-usermode=",
            "ua-user=",      "ua-pass=",      "ua-data=",          "ua-proxy=",
            "ua-cert-file=", "ua-pkey-file=", "ua-securitymode=",  "ua-securitypolicy="};
}

std::string OptionValue(const TStrings& list, const std::string& name) {
    const long i = Find(list, name);
    if (i < 0) return {};
    return std::string(TrimBlanks(std::string_view(list[i]).substr(list[i].find('=') + 1)));
}

bool HasOption(const TStrings& list, const std::string& name) { return Find(list, name) >= 0; }

void SetOptionValue(TStrings& list, const std::string& name, const std::string& value) {
    const long i = Find(list, name);
    if (i < 0) list.push_back(name + "=" + value);
    else list[i] = list[i].substr(0, list[i].find('=')) + "=" + value;
}

std::string ProtocolOptionName(tVelaConnectionType type, const std::string& name) {
    const auto withPrefix = [&](const std::string& prefix) {
        return name.compare(0, prefix.size(), prefix) == 0 ? name : prefix + name;
    };
    switch (type) {
        case coUA: return withPrefix("ua-");
        case coXML: return withPrefix("xml-");
        default: return name;
    }
}

}  // namespace vela
