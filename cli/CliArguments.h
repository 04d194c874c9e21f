#pragma once
// What a person typed on vela_cli's command line, checked before anything goes to a server.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Exception.h"

namespace vela::cli {

// A command line that cannot be run as typed; the message says what to change.
class UsageError : public Exception {
public:
    using Exception::Exception;
};

struct Arguments {
    std::string url, command;
    std::vector<std::string> operands;
    // each given option by its long name ("--rate"), its value already checked
    std::map<std::string, std::string> options;
    bool flat = false;
    bool help = false;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Option(const std::string& name) const {
        auto found = options.find(name);
        return found == options.end() ? std::string() : found->second;
    }
};

// The arguments after the program name. Raises UsageError for anything it cannot take: an
// unknown command or option, a value that is not of the option's form, a missing operand.
// --help (or -h) anywhere gives help set and nothing else checked.
Arguments ParseArguments(const std::vector<std::string>& arguments);

// The whole usage text, ending in a line break.
const char* UsageText();

// Strict number forms: decimal digits with an optional sign, nothing around them, no group
// separators. Raise UsageError naming the option.
int64_t WholeNumber(const std::string& option, const std::string& text, int64_t min, int64_t max);
double Seconds(const std::string& option, const std::string& text);

// The endpoint URL checked: opc.tcp://host[:port][/path] with a port of 1..65535.
void CheckEndpointUrl(const std::string& url);
// A proxy URL of a scheme the connection can use: http:// (CONNECT) or socks4://.
void CheckProxyUrl(const std::string& url);

// The lines of an item file: blank lines and lines starting with # left out, blanks around each
// line and a leading byte order mark dropped.
std::vector<std::string> ItemLines(const std::string& content);

}  // namespace vela::cli
