#include "app/OptionFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

#include "base/Text.h"
#include "ua/security/SecurityPolicy.h"

namespace vela::app {
namespace {

using ua::security::ModeFromName;
using ua::security::PolicyFromName;
using ua::security::TuaSecureMode;

struct Field {
    const char* element;
    std::string OptionServer::* member;
    const char* startUpDefault;
    const char* dialogDefault;
    bool optional;  // written only when not empty
};

// The order is the order of the file.
const Field kFields[] = {
    {"caption", &OptionServer::caption, "", "", false},
    {"name", &OptionServer::name, "", "", false},
    {"clsid", &OptionServer::clsid, "", "", false},
    {"url", &OptionServer::url, "", "", false},
    {"proxy", &OptionServer::proxy, "", "", false},
    {"user", &OptionServer::user, "", "", false},
    {"pass", &OptionServer::pass, "", "", false},
    {"minupdaterate", &OptionServer::minupdaterate, "500", "1000", false},
    {"waittime", &OptionServer::waittime, "0", "10000", false},
    {"holdtime", &OptionServer::holdtime, "0", "0", false},
    {"maxgroupcount", &OptionServer::maxgroupcount, "0", "0", false},
    {"securitymode", &OptionServer::securitymode, "", "", true},
    {"securitypolicy", &OptionServer::securitypolicy, "", "", true},
    {"certfile", &OptionServer::certfile, "", "", true},
    {"keyfile", &OptionServer::keyfile, "", "", true},
    {"uauser", &OptionServer::uauser, "", "", true},
    {"uapass", &OptionServer::uapass, "", "", true},
    {"usercertfile", &OptionServer::usercertfile, "", "", true},
    {"userkeyfile", &OptionServer::userkeyfile, "", "", true},
    {"trustfirstuse", &OptionServer::trustfirstuse, "", "", true},
    {"pkifolder", &OptionServer::pkifolder, "", "", true},
};

const Field* FieldNamed(std::string_view element) {
    for (const Field& field : kFields)
        if (element == field.element) return &field;
    return nullptr;
}

bool Blank(std::string_view text) { return TrimBlanks(text).empty(); }

// Namespace declarations in scope, copied onto a kept element so that it can be written alone.
void CarryDeclarations(xml::XmlElement& kept, const std::vector<const xml::XmlElement*>& ancestors) {
    for (const xml::XmlElement* ancestor : ancestors)
        for (const xml::XmlAttribute& attribute : ancestor->attributes) {
            const bool declaration = attribute.name == "xmlns" || attribute.name.rfind("xmlns:", 0) == 0;
            if (!declaration) continue;
            const bool present = std::any_of(kept.attributes.begin(), kept.attributes.end(),
                                             [&](const xml::XmlAttribute& a) { return a.name == attribute.name; });
            if (!present) kept.attributes.push_back(attribute);
        }
}

OptionServer ReadServer(const xml::XmlElement& element, OptionReader reader,
                        const std::vector<const xml::XmlElement*>& ancestors, std::string& unsavable) {
    OptionServer server;
    std::set<std::string> seen;
    for (const xml::XmlElement& child : element.children) {
        const Field* field = FieldNamed(child.localName);
        if (!field) {
            server.unknown.push_back(child);
            std::vector<const xml::XmlElement*> scope = ancestors;
            scope.push_back(&element);
            CarryDeclarations(server.unknown.back(), scope);
            continue;
        }
        if (!seen.insert(field->element).second) {
            if (unsavable.empty()) unsavable = "the element \"" + child.name + "\" is given twice in one server";
            continue;  // the first counts, as a lookup by name would give
        }
        if ((!child.attributes.empty() || !child.children.empty()) && unsavable.empty())
            unsavable = "the element \"" + child.name + "\" has attributes or elements of its own";
        server.*field->member = child.text;
    }
    for (const Field& field : kFields)
        if (Blank(server.*field.member))
            server.*field.member = reader == OptionReader::StartUp ? field.startUpDefault : field.dialogDefault;
    return server;
}


}  // namespace

std::string UASettingsError(const OptionServer& server) {
    if (!Blank(server.securitymode) && !ModeFromName(TrimBlanks(server.securitymode)))
        return "security mode '" + server.securitymode + "' is unknown (None, Sign or SignAndEncrypt)";
    if (!Blank(server.securitypolicy) && !PolicyFromName(TrimBlanks(server.securitypolicy)))
        return "security policy '" + server.securitypolicy +
               "' is unknown (None, Basic128Rsa15, Basic256, Basic256Sha256, Aes128_Sha256_RsaOaep, "
               "Aes256_Sha256_RsaPss)";
    const auto mode = ModeFromName(TrimBlanks(server.securitymode));
    const auto policy = PolicyFromName(TrimBlanks(server.securitypolicy));
    const bool secured = mode && *mode != TuaSecureMode::uaSNone;
    if (secured && policy && *policy == ua::security::TuaSecurePolicy::uaSPNone)
        return "security mode " + server.securitymode + " needs a security policy other than None";
    if (!secured && policy && *policy != ua::security::TuaSecurePolicy::uaSPNone)
        return "security policy " + server.securitypolicy + " needs the security mode Sign or SignAndEncrypt";
    if (Blank(server.certfile) != Blank(server.keyfile))
        return "the client certificate and key files go together";
    if (Blank(server.usercertfile) != Blank(server.userkeyfile))
        return "the user certificate and key files go together";
    if (!Blank(server.uauser) && !Blank(server.usercertfile))
        return "a user name login and a certificate login exclude each other";
    const std::string_view trust = TrimBlanks(server.trustfirstuse);
    if (!trust.empty() && trust != "0" && trust != "1")
        return "trustfirstuse '" + server.trustfirstuse + "' is neither 0 nor 1";
    return {};
}

TStrings OptionServer::UAConnectionOptions() const {
    TStrings options;
    const auto mode = ModeFromName(TrimBlanks(securitymode));
    const auto policy = PolicyFromName(TrimBlanks(securitypolicy));
    if (mode) {
        options.push_back("ua-securitymode=" + std::to_string(static_cast<int>(*mode)));
        // a secured mode alone takes the policy most servers offer
        const auto chosen = policy ? *policy
                            : *mode == TuaSecureMode::uaSNone ? ua::security::TuaSecurePolicy::uaSPNone
                                                               : ua::security::TuaSecurePolicy::uaSPBasic256Sha256;
        options.push_back("ua-securitypolicy=" + std::to_string(static_cast<int>(chosen)));
    } else if (policy) {
        options.push_back("ua-securitypolicy=" + std::to_string(static_cast<int>(*policy)));
    }
    if (!Blank(certfile)) options.push_back("ua-cert-file=" + std::string(TrimBlanks(certfile)));
    if (!Blank(keyfile)) options.push_back("ua-pkey-file=" + std::string(TrimBlanks(keyfile)));
    if (TrimBlanks(trustfirstuse) == "1") options.push_back("ua-trust=1");
    if (!Blank(pkifolder)) options.push_back("ua-pki=" + std::string(TrimBlanks(pkifolder)));
    if (!Blank(uauser)) {
        options.push_back("ua-usermode=1");
        options.push_back("ua-user=" + uauser);
        options.push_back("ua-pass=" + uapass);
    } else if (!Blank(usercertfile)) {
        // a certificate login names the certificate as the user and the key as its data
        options.push_back("ua-usermode=2");
        options.push_back("ua-user=" + std::string(TrimBlanks(usercertfile)));
        options.push_back("ua-data=" + std::string(TrimBlanks(userkeyfile)));
        options.push_back("ua-pass=" + uapass);
    }
    return options;
}

OptionFile ParseOptionFile(std::string_view bytes, OptionReader reader) {
    xml::XmlElement root;
    try {
        xml::XmlLimits limits;
        limits.maxBytes = 16u << 20;
        limits.maxDepth = 32;
        root = xml::ParseXml(bytes, limits);
    } catch (const xml::XmlError& e) {
        throw OptionFileError(e.what());
    }
    if (root.localName != "options") throw OptionFileError("the root element is \"" + root.name + "\", not \"options\"");
    OptionFile file;
    for (const xml::XmlAttribute& attribute : root.attributes) {
        if (attribute.name == "protected") file.protectedText = attribute.value;
        else if (attribute.name == "timeout") file.timeout = attribute.value;
        else file.otherRootAttributes.push_back(attribute);
    }
    const xml::XmlElement* list = root.Child("serverlist");
    for (const xml::XmlElement& child : root.children)
        if (&child != list) file.otherRootElements.push_back(child);
    if (!list) return file;
    file.serverListAttributes = list->attributes;
    if (list->children.size() > kMaxOptionServers)
        throw OptionFileError("the server list holds " + std::to_string(list->children.size()) +
                              " entries; at most " + std::to_string(kMaxOptionServers) + " are served");
    for (const xml::XmlElement& element : list->children)
        file.servers.push_back(ReadServer(element, reader, {&root, list}, file.unsavable));
    return file;
}

std::vector<std::pair<std::string, std::string>> ServerFields(const OptionServer& server) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const Field& field : kFields) fields.emplace_back(field.element, server.*field.member);
    return fields;
}

void ApplyServerAssignments(OptionServer& server, const std::vector<std::string>& assignments) {
    for (const std::string& assignment : assignments) {
        const size_t equals = assignment.find('=');
        const Field* field = equals == std::string::npos ? nullptr : FieldNamed(AsciiLower(assignment.substr(0, equals)));
        if (!field)
            throw OptionFileError("'" + assignment + "' names no value of a server (name=value; names: caption, name, "
                                  "clsid, url, proxy, user, pass, minupdaterate, waittime, holdtime, maxgroupcount, "
                                  "securitymode, securitypolicy, certfile, keyfile, uauser, uapass, usercertfile, "
                                  "userkeyfile, trustfirstuse, pkifolder)");
        server.*field->member = assignment.substr(equals + 1);
    }
}

std::string FormatOptionFile(const std::vector<OptionServer>& servers, int32_t httpTimeoutMs,
                             const OptionFile* original) {
    if (original && !original->unsavable.empty())
        throw OptionFileError("the option file cannot be saved over: " + original->unsavable);
    xml::XmlElement root;
    root.name = root.localName = "options";
    root.SetAttribute("protected", "0");
    root.SetAttribute("timeout", std::to_string(httpTimeoutMs));
    if (original)
        for (const xml::XmlAttribute& attribute : original->otherRootAttributes) root.attributes.push_back(attribute);
    xml::XmlElement& list = root.Add("serverlist");
    if (original) list.attributes = original->serverListAttributes;
    for (const OptionServer& server : servers) {
        xml::XmlElement& element = list.Add("server");
        for (const Field& field : kFields)
            if (!field.optional || !(server.*field.member).empty()) element.Add(field.element, server.*field.member);
        for (const xml::XmlElement& unknown : server.unknown) element.children.push_back(unknown);
    }
    if (original)
        for (const xml::XmlElement& other : original->otherRootElements) root.children.push_back(other);
    std::string text;
    try {
        text = xml::WriteXml(root);
    } catch (const xml::XmlError& e) {
        throw OptionFileError(std::string("the option file cannot be written: ") + e.what());
    }
    // What cannot be read back must not replace a file that could (a value with characters XML
    // cannot carry, an element whose prefix was declared elsewhere).
    try {
        const OptionFile again = ParseOptionFile(text, OptionReader::StartUp);
        bool same = again.servers.size() == servers.size();
        for (size_t i = 0; same && i < servers.size(); ++i)
            for (const Field& field : kFields)
                same = same && (TrimBlanks(again.servers[i].*field.member) == TrimBlanks(servers[i].*field.member) ||
                                Blank(servers[i].*field.member));
        if (!same) throw OptionFileError("the values do not read back as written");
    } catch (const OptionFileError& e) {
        throw OptionFileError(std::string("the option file cannot be written: ") + e.what());
    }
    return text;
}

std::string OptionFilePath(std::string_view exePath) {
    const size_t slash = exePath.find_last_of("\\/");
    const size_t dot = exePath.rfind('.');
    const size_t stem = dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash) ? dot
                                                                                                          : exePath.size();
    return std::string(exePath.substr(0, stem)) + ".dat";
}

std::string CertificateStorePath(std::string_view exePath) {
    const size_t slash = exePath.find_last_of("\\/");
    if (slash == std::string_view::npos) return "pki";
    return std::string(exePath.substr(0, slash + 1)) + "pki";
}

std::string PendingOptionFilePath(std::string_view exePath) {
    std::string path = OptionFilePath(exePath);
    path.replace(path.size() - 4, 4, ".new");
    return path;
}

int32_t OptionNumber(std::string_view text) {
    const std::string_view trimmed = TrimBlanks(text);
    int32_t value = 0;
    const char* first = trimmed.data();
    const char* last = first + trimmed.size();
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (trimmed.empty() || error != std::errc() || end != last)
        throw OptionFileError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

bool IsValidProgId(std::string_view text) {
    if (text.empty() || text.size() > 39 || std::isdigit(static_cast<unsigned char>(text.front()))) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == '.' || std::isalnum(static_cast<unsigned char>(c));
    });
}

bool IsRegistryGuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

std::string ValidateServer(const OptionServer& server) {
    // a non-number stops at once, as the conversion would
    for (const std::string* number : {&server.minupdaterate, &server.waittime, &server.holdtime, &server.maxgroupcount})
        try {
            OptionNumber(*number);
        } catch (const OptionFileError& e) {
            return e.what();
        }
    // line breaks and other control characters would end up in registry texts and listings
    for (const auto& [element, value] : ServerFields(server))
        if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            return element + " holds a control character";
    std::string message;
    if (Blank(server.caption)) message = "server caption could not be empty";
    if (Blank(server.name)) message = "server name could not be empty";
    else if (!IsValidProgId(TrimBlanks(server.name)))
        message = "server name '" + server.name + "' is no ProgID (up to 39 letters, digits and periods, not starting "
                  "with a digit)";
    if (Blank(server.clsid)) message = "class id could not be empty";
    else if (!IsRegistryGuid(TrimBlanks(server.clsid))) message = "class id '" + server.clsid + "' is no GUID";
    if (Blank(server.url)) message = "server url could not be empty";
    if (OptionNumber(server.minupdaterate) < 0) message = "min update rate must > 0";
    if (OptionNumber(server.waittime) < 0) message = "wait time must > 0";
    if (OptionNumber(server.holdtime) < 0) message = "hold time must > 0";
    if (OptionNumber(server.maxgroupcount) < 0) message = "max group count must not be negative";
    if (const std::string ua = UASettingsError(server); !ua.empty()) message = ua;
    return message;
}

std::string ValidateServers(const std::vector<OptionServer>& servers) {
    std::set<std::string> clsids, names;
    for (size_t i = 0; i < servers.size(); ++i) {
        const OptionServer& server = servers[i];
        std::string message = ValidateServer(server);
        // a class id or ProgID given twice would let one entry's registration undo the other's
        if (message.empty() && !clsids.insert(AsciiLower(TrimBlanks(server.clsid))).second)
            message = "class id " + server.clsid + " is used by an earlier server";
        if (message.empty() && !names.insert(AsciiLower(TrimBlanks(server.name))).second)
            message = "server name " + server.name + " is used by an earlier server";
        if (!message.empty())
            return "Input error item " + std::to_string(i + 1) + ", server caption: " + server.caption + "\r\n" + message;
    }
    return {};
}

}  // namespace vela::app
