#pragma once
// The option file: the list of virtual servers the gateway publishes, one "server" element
// each. Reading, validating and writing it is portable; registering what it lists is not
// (OptionFileRegistry.h).
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/ConnectionOptions.h"
#include "xml/XmlDom.h"

namespace vela::app {

// A file that cannot be read as an option file; the message names the cause.
class OptionFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One virtual server as the file holds it: every value is the element's text.
struct OptionServer {
    std::string caption;
    std::string name;  // ProgID
    std::string clsid;
    std::string url;
    std::string proxy;
    std::string user;
    std::string pass;
    std::string minupdaterate;
    std::string waittime;
    std::string holdtime;
    std::string maxgroupcount;
    // The UA connection's security and identity; empty when not given (security None, anonymous).
    std::string securitymode;    // "None", "Sign" or "SignAndEncrypt"
    std::string securitypolicy;  // "None", "Basic128Rsa15", "Basic256", "Basic256Sha256", ...
    std::string certfile;        // the gateway's application certificate (DER) and its key (PEM)
    std::string keyfile;
    std::string uauser;          // user-name login
    std::string uapass;
    std::string usercertfile;    // certificate login: the user's certificate and key
    std::string userkeyfile;
    std::string trustfirstuse;   // "1": the server's certificate is trusted (stored) the first time
    std::string pkifolder;       // the certificate store, when not the one beside the gateway
    // Elements of the entry this program does not know, kept so that saving loses nothing.
    std::vector<xml::XmlElement> unknown;

    // The entry as the toolkit's "ua-..." connection options (empty when nothing is given).
    TStrings UAConnectionOptions() const;
};

struct OptionFile {
    std::string protectedText;           // the root's "protected" attribute as written
    std::optional<std::string> timeout;  // the root's "timeout" attribute when present
    std::vector<OptionServer> servers;
    // What else the file holds beside the list, kept so that saving loses nothing.
    std::vector<xml::XmlAttribute> otherRootAttributes;
    std::vector<xml::XmlElement> otherRootElements;
    std::vector<xml::XmlAttribute> serverListAttributes;
    // Not empty when the file holds what the model cannot keep (a known element given twice or
    // with attributes or elements of its own): such a file is read, but never saved over.
    std::string unsavable;

    bool IsProtected() const { return protectedText == "1"; }
};

// The two readers differ only in the defaults of missing or empty numbers.
enum class OptionReader { StartUp, Dialog };

// Parses the file's bytes. Broken XML, a root that is not "options" and more than
// kMaxOptionServers entries raise OptionFileError; values are taken as text and checked by
// ValidateServer and the start-up conversions.
OptionFile ParseOptionFile(std::string_view bytes, OptionReader reader);

// The document as saved: "protected" = "0" and the given HTTP time-out on the root, one
// "server" per entry with its elements in their fixed order (UA elements only where given),
// and what else `original` held beside the list. Raises OptionFileError when the text would
// not read back as these entries, or when `original` cannot be saved over.
std::string FormatOptionFile(const std::vector<OptionServer>& servers, int32_t httpTimeoutMs,
                             const OptionFile* original = nullptr);

constexpr size_t kMaxOptionServers = 1000;

// The option file beside an executable: its path with the extension ".dat"; the pending copy
// has ".new".
std::string OptionFilePath(std::string_view exePath);
std::string PendingOptionFilePath(std::string_view exePath);
// The certificate store beside an executable: the folder "pki" in the executable's folder.
std::string CertificateStorePath(std::string_view exePath);

// Checks one entry as the server-list dialog does before saving; empty when it is fine, else
// the message of the last failing check (number conversion failures stop at once).
std::string ValidateServer(const OptionServer& server);
// Checks every entry in order and the list as a whole (class ids and names used once); empty
// when fine, else "Input error item N, server caption: C\r\n" and the message.
std::string ValidateServers(const std::vector<OptionServer>& servers);

// The UA elements of an entry: empty when they make sense together, else what is wrong (an
// unknown mode or policy, a secured mode without certificate files, two logins at once).
std::string UASettingsError(const OptionServer& server);

// The element names of an entry in file order, with the entry's values.
std::vector<std::pair<std::string, std::string>> ServerFields(const OptionServer& server);
// Sets the values of "element=value" texts (element names as in the file, any case); the
// first text that names no element or has no "=" raises OptionFileError.
void ApplyServerAssignments(OptionServer& server, const std::vector<std::string>& assignments);

// A ProgID as COM takes it: 1 to 39 characters, letters, digits and periods, not starting with
// a digit.
bool IsValidProgId(std::string_view text);

// A registry-form GUID: "{" 8-4-4-4-12 hexadecimal digits "}".
bool IsRegistryGuid(std::string_view text);

// The number an element holds: a whole decimal number in the 32-bit range, blanks around it
// allowed; otherwise OptionFileError "'TEXT' is not a valid integer value".
int32_t OptionNumber(std::string_view text);

}  // namespace vela::app
