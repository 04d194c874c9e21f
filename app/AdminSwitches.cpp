#include "app/AdminSwitches.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>

#include "app/AdminRights.h"
#include "app/OptionFileRegistry.h"
#include "app/OptionFileSave.h"
#include "app/UserMessages.h"
#include "base/Text.h"
#include "base/Utf.h"
#include "ua/security/CertificateStore.h"
#include "xml/HttpProcessState.h"

namespace vela::app {
namespace {

void Print(FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

// A value as one line of a listing: a hand-edited file's line breaks must not fake lines.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text;
}

std::wstring RegisteredClsid(const std::string& progId) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, (Utf8ToWide(progId) + L"\\Clsid").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return {};
    return text;
}

int List(const OptionFile& file, const std::wstring& path) {
    Print(stdout, "Option file " + WideToUtf8(path) + ": " + std::to_string(file.servers.size()) + " virtual server" +
                      (file.servers.size() == 1 ? "" : "s") + (file.IsProtected() ? " (protected)" : "") + "\n");
    for (size_t i = 0; i < file.servers.size(); ++i) {
        const OptionServer& server = file.servers[i];
        const std::wstring registered = RegisteredClsid(std::string(TrimBlanks(server.name)));
        const bool ours = !registered.empty() && EqualsNoCase(WideToUtf8(registered), TrimBlanks(server.clsid));
        std::string text = std::to_string(i + 1) + ". " + OneLine(server.name) + "  \"" + OneLine(server.caption) + "\"\n";
        for (const auto& [element, value] : ServerFields(server)) {
            if (element == "name" || element == "caption" || value.empty()) continue;
            const bool secret = element == "pass" || element == "uapass";
            text += "   " + element + std::string(element.size() < 15 ? 15 - element.size() : 1, ' ') +
                    (secret ? std::string("(set)") : OneLine(value)) + "\n";
        }
        text += std::string("   registered     ") + (ours ? "yes" : registered.empty() ? "no" : "no (the ProgID names another class)") + "\n";
        Print(stdout, text);
    }
    return 0;
}

std::vector<OptionServer>::iterator FindServer(std::vector<OptionServer>& servers, const std::wstring& progId) {
    const std::string wanted = WideToUtf8(progId);
    for (auto it = servers.begin(); it != servers.end(); ++it)
        if (EqualsNoCase(TrimBlanks(it->name), TrimBlanks(wanted))) return it;
    return servers.end();
}

std::string NewClsid() {
    GUID guid{};
    CoCreateGuid(&guid);
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return WideToUtf8(text);
}

int AdministerOptionFile(StartMode mode, const std::vector<std::wstring>& operands) {
    const std::wstring exePath = ExecutablePath();
    const std::wstring path = Utf8ToWide(OptionFilePath(WideToUtf8(exePath)));
    // read, change and write under one lock: a second administrator waits instead of losing
    const OptionFileLock lock(path);
    if (!lock.Held()) {
        Print(stderr, "The option file is being changed by another program: nothing was changed.\n");
        return 1;
    }
    OptionFile file;
    try {
        if (const std::optional<std::string> bytes = ReadOptionFileBytes(path))
            file = ParseOptionFile(*bytes, OptionReader::StartUp);
    } catch (const OptionFileError& e) {
        Print(stderr, WideToUtf8(path) + ": " + e.what() + "\nNothing was changed.\n");
        return 1;
    }
    if (mode == StartMode::ListServers) {
        if (!operands.empty()) {
            Print(stderr, "/ListServers takes no operands.\n");
            return 2;
        }
        return List(file, path);
    }
    if (file.IsProtected()) {
        Print(stderr, WideToUtf8(path) + " is protected (protected=\"1\"): nothing was changed.\n");
        return 1;
    }
    std::vector<std::string> assignments;
    for (const std::wstring& operand : operands) assignments.push_back(WideToUtf8(operand));
    std::vector<OptionServer> servers = file.servers;
    std::string done;
    try {
        if (mode == StartMode::AddServer) {
            OptionServer server;
            server.minupdaterate = "1000";
            server.waittime = "10000";
            server.holdtime = "0";
            server.maxgroupcount = "0";
            ApplyServerAssignments(server, assignments);
            if (TrimBlanks(server.clsid).empty()) server.clsid = NewClsid();
            done = "Added " + server.name + " " + server.clsid + ".\n";
            servers.push_back(std::move(server));
        } else {
            if (assignments.empty() || assignments.front().find('=') != std::string::npos) {
                Print(stderr, "Name the server by its ProgID first: /ChangeServer PROGID name=VALUE ..., /RemoveServer PROGID.\n");
                return 2;
            }
            const auto found = FindServer(servers, operands.front());
            if (found == servers.end()) {
                Print(stderr, "No virtual server " + assignments.front() + " in " + WideToUtf8(path) + ".\n");
                return 1;
            }
            assignments.erase(assignments.begin());
            if (mode == StartMode::RemoveServer) {
                if (!assignments.empty()) {
                    Print(stderr, "/RemoveServer takes only the ProgID.\n");
                    return 2;
                }
                done = "Removed " + found->name + ".\n";
                servers.erase(found);
            } else {
                ApplyServerAssignments(*found, assignments);
                done = "Changed " + found->name + ".\n";
            }
        }
    } catch (const OptionFileError& e) {
        Print(stderr, std::string(e.what()) + "\n");
        return 2;
    }
    if (!HasAdminRights()) {
        Print(stderr, "Changing the virtual servers needs administrator rights: nothing was changed.\n");
        return 1;
    }
    int32_t timeout = xml::HttpTimeoutSetting();
    try {
        if (file.timeout) timeout = OptionNumber(*file.timeout);
    } catch (const OptionFileError&) {
    }
    if (const std::string error = SaveOptionFile(path, file, servers, timeout, exePath); !error.empty()) {
        Print(stderr, OneLine(error) + (error.find("was written") == std::string::npos ? "\nNothing was changed.\n" : "\n"));
        return 1;
    }
    Print(stdout, done);
    return 0;
}

// The stores the virtual servers use: the one beside the gateway and any of their own.
std::vector<std::string> CertificateStores(const std::wstring& exePath) {
    std::vector<std::string> stores = {CertificateStorePath(WideToUtf8(exePath))};
    try {
        const std::wstring path = Utf8ToWide(OptionFilePath(WideToUtf8(exePath)));
        if (const std::optional<std::string> bytes = ReadOptionFileBytes(path))
            for (const OptionServer& server : ParseOptionFile(*bytes, OptionReader::StartUp).servers) {
                const std::string own(TrimBlanks(server.pkifolder));
                if (!own.empty() && std::find(stores.begin(), stores.end(), own) == stores.end()) stores.push_back(own);
            }
    } catch (const OptionFileError&) {
    }
    return stores;
}

int AdministerCertificates(StartMode mode, const std::vector<std::wstring>& operands) {
    using ua::security::TCertificateStore;
    using ua::security::TStoreFolder;
    const std::vector<std::string> stores = CertificateStores(ExecutablePath());
    if (mode == StartMode::ListCertificates) {
        if (!operands.empty()) {
            Print(stderr, "/ListCertificates takes no operands.\n");
            return 2;
        }
        for (const std::string& root : stores) {
            const TCertificateStore store(root);
            for (const auto& [folder, title] : {std::pair{TStoreFolder::RejectedCerts, "Rejected"},
                                                std::pair{TStoreFolder::TrustedCerts, "Trusted"}}) {
                const auto certificates = store.Certificates(folder);
                Print(stdout, std::string(title) + " in " + store.Folder(folder) + ": " +
                                  std::to_string(certificates.size()) + "\n");
                for (const auto& c : certificates) {
                    std::string uri;
                    try {
                        uri = ua::security::PrintableText(c.ApplicationUri());
                    } catch (const std::exception&) {
                        uri = "(names that do not parse)";
                    }
                    Print(stdout, "  " + c.ThumbprintHEX() + "  " +
                                      ua::security::PrintableText(ua::security::NameText(c.fSubject)) + "  " + uri + "\n");
                }
            }
        }
        return 0;
    }
    if (operands.size() != 1) {
        Print(stderr, "/TrustCertificate takes the thumbprint of one rejected certificate (/ListCertificates shows them).\n");
        return 2;
    }
    if (!HasAdminRights()) {
        Print(stderr, "Trusting a certificate needs administrator rights: nothing was changed.\n");
        return 1;
    }
    const std::string thumbprint = WideToUtf8(operands.front());
    for (const std::string& root : stores) {
        const TCertificateStore store(root);
        if (store.TrustRejected(thumbprint)) {
            Print(stdout, "Trusted " + thumbprint + " in " + store.Folder(TStoreFolder::TrustedCerts) + ".\n");
            return 0;
        }
    }
    Print(stderr, "No rejected certificate has the thumbprint " + thumbprint + ".\n");
    return 1;
}

}  // namespace

int RunAdminSwitch(StartMode mode, const std::vector<std::wstring>& operands) {
    SendMessagesToStderr();
    try {
        if (mode == StartMode::ListCertificates || mode == StartMode::TrustCertificate)
            return AdministerCertificates(mode, operands);
        return AdministerOptionFile(mode, operands);
    } catch (const std::exception& e) {
        Print(stderr, std::string(e.what()) + "\n");
        return 1;
    }
}

}  // namespace vela::app
