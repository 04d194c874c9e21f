#include "cli/CliArguments.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <cmath>
#include <cstdint>

#include "base/ProxyTunnel.h"
#include "base/Text.h"
#include "ua/transport/uaStackClient.h"

namespace vela::cli {
namespace {

enum class Applies { All, Browse, Subscribe, ReadAndSubscribe, Trust, Connecting };

struct OptionRule {
    const char* name;
    bool valued;
    Applies applies;
};

constexpr OptionRule kOptions[] = {
    {"--mode", true, Applies::All},          {"--policy", true, Applies::All},
    {"--cert", true, Applies::All},          {"--key", true, Applies::All},
    {"--user", true, Applies::All},          {"--password", true, Applies::All},
    {"--user-cert", true, Applies::All},     {"--user-key", true, Applies::All},
    {"--allow-cleartext-password", false, Applies::All},
    {"--proxy", true, Applies::All},         {"--timeout", true, Applies::All},
    {"--items", true, Applies::ReadAndSubscribe},
    {"--rate", true, Applies::Subscribe},    {"--seconds", true, Applies::Subscribe},
    {"--depth", true, Applies::Browse},      {"--flat", false, Applies::Browse},
    {"--filter", true, Applies::Browse},
    {"--pki", true, Applies::All},           {"--accept-any-certificate", false, Applies::Connecting},
    {"--yes", false, Applies::Trust},
};

constexpr const char* kCommands[] = {"status", "browse", "read", "write", "subscribe", "trust"};

constexpr const char* kModes[] = {"none", "sign", "encrypt"};
constexpr const char* kPolicies[] = {"None", "Basic128Rsa15", "Basic256", "Basic256Sha256", "Aes128_Sha256_RsaOaep",
                                     "Aes256_Sha256_RsaPss"};

const OptionRule* FindOption(const std::string& name) {
    for (const OptionRule& rule : kOptions)
        if (name == rule.name) return &rule;
    return nullptr;
}

bool AppliesTo(Applies applies, const std::string& command) {
    switch (applies) {
        case Applies::All: return true;
        case Applies::Browse: return command == "browse";
        case Applies::Subscribe: return command == "subscribe";
        case Applies::ReadAndSubscribe: return command == "read" || command == "subscribe";
        case Applies::Trust: return command == "trust";
        case Applies::Connecting: return command != "trust";
    }
    return false;
}

const char* AppliesText(Applies applies) {
    switch (applies) {
        case Applies::Browse: return "browse";
        case Applies::Subscribe: return "subscribe";
        case Applies::ReadAndSubscribe: return "read and subscribe";
        case Applies::Trust: return "trust";
        case Applies::Connecting: return "every command but trust";
        default: return "every command";
    }
}

// A name of the list without regard to case, in the list's spelling.
template <size_t N>
std::optional<std::string> OneOf(const char* const (&names)[N], const std::string& text) {
    for (const char* name : names)
        if (EqualsNoCase(name, text)) return std::string(name);
    return std::nullopt;
}

template <size_t N>
std::string Listed(const char* const (&names)[N], const char* separator) {
    std::string text;
    for (const char* name : names) text += (text.empty() ? "" : separator) + std::string(name);
    return text;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool HasGroupSeparator(const std::string& text) {
    return text.find_first_of(",'_ ") != std::string::npos;
}

void CheckOptionValue(const std::string& name, std::string& value) {
    if (name == "--mode") {
        if (EqualsNoCase(value, "signandencrypt")) value = "encrypt";
        auto mode = OneOf(kModes, value);
        if (!mode) throw UsageError("--mode: " + Quoted(value) + " is no security mode; use " + Listed(kModes, ", "));
        value = *mode;
    } else if (name == "--policy") {
        auto policy = OneOf(kPolicies, value);
        if (!policy)
            throw UsageError("--policy: " + Quoted(value) + " is no security policy; use " + Listed(kPolicies, ", "));
        value = *policy;
    } else if (name == "--timeout") {
        WholeNumber(name, value, 1, INT32_MAX);
    } else if (name == "--rate") {
        WholeNumber(name, value, 0, INT32_MAX);
    } else if (name == "--depth") {
        WholeNumber(name, value, 1, 1000);
    } else if (name == "--seconds") {
        Seconds(name, value);
    } else if (name == "--proxy") {
        CheckProxyUrl(value);
    } else if (value.empty() && name != "--password") {
        throw UsageError(name + " needs a value that is not empty");
    }
}

void CheckCombinations(const Arguments& args) {
    const std::string& command = args.command;
    for (const auto& [name, value] : args.options) {
        const OptionRule& rule = *FindOption(name);
        if (!AppliesTo(rule.applies, command))
            throw UsageError(name + " applies to " + AppliesText(rule.applies) + ", not to " + command);
    }
    if (args.Has("--depth") && args.flat)
        throw UsageError("--depth does not go with --flat, which lists every level below the node");
    if (args.Has("--cert") != args.Has("--key"))
        throw UsageError("--cert and --key go together: the client's application certificate and its private key");
    if (args.Has("--user-cert") != args.Has("--user-key"))
        throw UsageError("--user-cert and --user-key go together: the user's certificate and its private key");
    if (args.Has("--user") && args.Has("--user-cert"))
        throw UsageError("choose one login: --user NAME or --user-cert FILE --user-key FILE");
    if (args.Has("--password") && !args.Has("--user") && !args.Has("--user-cert"))
        throw UsageError("--password needs --user NAME (or --user-cert FILE, whose key it unlocks)");
    if (args.Has("--allow-cleartext-password") && !args.Has("--user"))
        throw UsageError("--allow-cleartext-password needs --user NAME");
    const std::string mode = args.Has("--mode") ? args.Option("--mode") : "none";
    const std::string policy = args.Option("--policy");
    if (mode == "none" && !policy.empty() && policy != "None")
        throw UsageError("--policy " + policy + " needs --mode sign or --mode encrypt");
    if (mode != "none" && policy == "None")
        throw UsageError("--mode " + mode + " needs a --policy other than None");

    const size_t operands = args.operands.size();
    if ((command == "status" || command == "trust") && operands > 0)
        throw UsageError(command + " takes no operands, not " + Quoted(args.operands[0]));
    if (command == "browse" && operands > 1) throw UsageError("browse takes at most one node, not " + Quoted(args.operands[1]));
    if ((command == "read" || command == "subscribe") && operands == 0 && !args.Has("--items"))
        throw UsageError(command + " needs at least one item id (or --items FILE)");
    if (command == "write" && operands != 2)
        throw UsageError("write needs an item id and a value: write ITEM VALUE" +
                         std::string(operands > 2 ? " (quote a value that holds blanks)" : ""));
}

}  // namespace

int64_t WholeNumber(const std::string& option, const std::string& text, int64_t min, int64_t max) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    const bool digitsOnly = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-');
    if (!digitsOnly || stop != end || error == std::errc::invalid_argument) {
        if (HasGroupSeparator(text))
            throw UsageError(option + ": " + Quoted(text) + " is not a whole number (write it without group separators)");
        throw UsageError(option + ": " + Quoted(text) + " is not a whole number");
    }
    if (error == std::errc::result_out_of_range || value < min || value > max)
        throw UsageError(option + ": " + text + " is out of range (" + std::to_string(min) + ".." + std::to_string(max) + ")");
    return value;
}

double Seconds(const std::string& option, const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    const bool numberStart =
        !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.' || text[0] == '-');
    if (!numberStart || stop != end || error != std::errc()) {
        if (text.find(',') != std::string::npos)
            throw UsageError(option + ": " + Quoted(text) + " is not a number of seconds (use '.' as the decimal point)");
        throw UsageError(option + ": " + Quoted(text) + " is not a number of seconds");
    }
    if (!std::isfinite(value) || value <= 0 || value > 1e9)
        throw UsageError(option + ": " + text + " is out of range (more than 0, at most 1e9 seconds)");
    return value;
}

void CheckEndpointUrl(const std::string& url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos)
        throw UsageError(Quoted(url) + " is not a server URL: the command line starts with the server's endpoint URL, "
                         "e.g. opc.tcp://host:4840");
    const std::string scheme = AsciiLower(url.substr(0, schemeEnd));
    if (scheme == "http" || scheme == "https")
        throw UsageError(url + ": XML-DA (http:// and https:// URLs) is not available in this build of vela_cli; "
                         "give the server's opc.tcp:// endpoint URL");
    if (scheme != "opc.tcp")
        throw UsageError(url + ": " + scheme + ":// is not supported; vela_cli speaks opc.tcp:// only");
    try {
        ua::ParseEndpointUrl(url);  // the transport's own rules: host, brackets, port 1..65535
    } catch (const Exception& e) {
        throw UsageError(e.what());
    }
}

void CheckProxyUrl(const std::string& url) {
    const size_t schemeEnd = url.find("://");
    const std::string scheme = schemeEnd == std::string::npos ? std::string() : AsciiLower(url.substr(0, schemeEnd));
    if (scheme != "http" && scheme != "urn" && scheme != "socks4")
        throw UsageError("--proxy: " + Quoted(MaskedProxyUrl(url)) +
                         " is not a proxy URL of a supported kind; use http://[user:password@]host[:port] (HTTP "
                         "CONNECT) or socks4://host[:port]");
    try {
        ParseProxy(url);
    } catch (const Exception& e) {
        throw UsageError(std::string("--proxy: ") + e.what());
    }
}

std::vector<std::string> ItemLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (start <= content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        const std::string_view line = TrimBlanks(std::string_view(content).substr(start, end - start));
        if (!line.empty() && line[0] != '#') lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

Arguments ParseArguments(const std::vector<std::string>& arguments) {
    Arguments args;
    for (const std::string& argument : arguments) {
        if (argument == "--") break;
        if (argument == "--help" || argument == "-h") {
            args.help = true;
            return args;
        }
    }
    if (arguments.empty()) throw UsageError("no server URL given");
    args.url = arguments[0];
    CheckEndpointUrl(args.url);
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.starts_with("--")) {
            const size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            const OptionRule* rule = FindOption(name);
            if (!rule) throw UsageError("unknown option " + name + " (vela_cli --help lists them)");
            if (args.Has(name)) throw UsageError(name + " is given twice");
            std::string value = "1";
            if (rule->valued) {
                if (equals != std::string::npos) value = argument.substr(equals + 1);
                else if (i + 1 < arguments.size()) value = arguments[++i];
                else throw UsageError(name + " needs a value");
                CheckOptionValue(name, value);
            } else if (equals != std::string::npos) {
                throw UsageError(name + " takes no value");
            }
            if (name == "--flat") args.flat = true;
            args.options[name] = value;
        } else if (args.command.empty()) {
            if (std::find(std::begin(kCommands), std::end(kCommands), argument) == std::end(kCommands))
                throw UsageError("unknown command " + Quoted(argument) + "; use " + Listed(kCommands, ", "));
            args.command = argument;
        } else {
            args.operands.push_back(argument);
        }
    }
    if (args.command.empty()) throw UsageError("no command given; use " + Listed(kCommands, ", "));
    CheckCombinations(args);
    return args;
}

const char* UsageText() {
    return "usage: vela_cli URL [options] COMMAND [operands]\n"
           "       vela_cli --help\n"
           "\n"
           "URL: the server's endpoint, opc.tcp://host[:port][/path] (port 1..65535, default 4840)\n"
           "\n"
           "commands:\n"
           "  status                      the server's state, product and time\n"
           "  browse [NODE]               the nodes below NODE (default: the server's browse root)\n"
           "      [--depth N] [--flat] [--filter MASK]\n"
           "  read ITEM... [--items FILE] each item's value, quality and time, one line each\n"
           "  write ITEM VALUE            writes the value, then reads the item back\n"
           "  subscribe ITEM... [--items FILE] [--rate MS] [--seconds S]\n"
           "                              each change until Ctrl-C, or for S seconds\n"
           "  trust [--yes]               shows the server's certificate and how the store judges it;\n"
           "                              stores it as trusted when you say so (--yes: unasked)\n"
           "\n"
           "options (anywhere after the URL; --name=value works too; -- ends them):\n"
           "  --mode none|sign|encrypt    message security (default none)\n"
           "  --policy NAME               None, Basic128Rsa15, Basic256, Basic256Sha256 (default with\n"
           "                              sign and encrypt), Aes128_Sha256_RsaOaep, Aes256_Sha256_RsaPss\n"
           "  --cert FILE --key FILE      the client's application certificate (DER) and private key\n"
           "                              (PEM) for sign and encrypt; without them the store's own,\n"
           "                              made on first use (DIR/own/certs, DIR/own/private)\n"
           "  --user NAME                 user-name login; the password comes from --password TEXT,\n"
           "                              else from VELA_PASSWORD, else it is asked for on the terminal\n"
           "  --allow-cleartext-password  lets the password go unencrypted where the server asks so\n"
           "  --user-cert FILE --user-key FILE\n"
           "                              X509 user login; a key's password comes from --password TEXT\n"
           "                              or VELA_PASSWORD (else, for an encrypted key, the terminal)\n"
           "  --pki DIR                   the certificate store: DIR/trusted/certs holds the servers\n"
           "                              trusted, DIR/rejected/certs those refused (default: the\n"
           "                              user's own, ~/.config/vela/pki or %APPDATA%\\Vela\\pki)\n"
           "  --accept-any-certificate    no check of the server's certificate: a quick test only\n"
           "  --proxy URL                 http://[user:password@]host[:port] or socks4://host[:port]\n"
           "  --timeout MS                time-out of connecting and of each request (default 10000)\n"
           "  --items FILE                more item ids, one per line; blank lines and lines starting\n"
           "                              with # are skipped\n"
           "  --rate MS                   update rate of subscribe (default 1000)\n"
           "  --seconds S                 how long subscribe runs, e.g. 0.5 or 60\n"
           "  --depth N                   browse levels (default 1)\n"
           "  --flat                      browse lists the ids of every node below NODE\n"
           "  --filter MASK               browse shows only nodes matching MASK (* ? [a-z])\n"
           "\n"
           "values are printed so that write takes them back:\n"
           "  numbers       42  -7  3.141592653589793  1e+300   ('.' as the decimal point, no group\n"
           "                separators; the shortest text that reads back exactly, an exponent as\n"
           "                e+NN or e-NN where that is shorter)\n"
           "  Booleans      true  false\n"
           "  date-times    2024-01-02T03:04:05.000Z in UTC; write also takes an offset (+01:00) or\n"
           "                a date alone; \"no time\" is the empty date-time\n"
           "  byte strings  0x0102ff; write also takes base64:AQL/\n"
           "  status codes  0x80340000 BadNodeIdUnknown; write takes the number, the name or both\n"
           "  structures    Range as {low: 0, high: 100}, EUInformation and ServerStatus by their\n"
           "                fields, others as the hex of their encoded body\n"
           "  arrays        [1, 2, 3]  [\"a, b\", c]; an element is quoted when it is empty, holds\n"
           "                , [ ] \" \\ or control characters or has blanks at its ends; inside\n"
           "                quotes \\\" \\\\ \\n \\r \\t \\uXXXX; matrices print as nested arrays\n"
           "  other texts   as they are; write takes everything after the item id as typed\n"
           "\n"
           "exit codes: 0 done, 1 an item, the write or the command failed, 2 usage error (nothing\n"
           "            written), 3 no connection or the connection was lost\n";
}

}  // namespace vela::cli
