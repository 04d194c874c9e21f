#include "cli/TrustCommand.h"

#include <cstdlib>
#include <iostream>
#include <vector>

#include "base/Variant.h"
#include "ua/client/ServerTrust.h"
#include "ua/transport/uaStackClient.h"
#include "ua/uaStatusCodes.h"
#include "ua/uaStructures.h"

#ifdef _WIN32
#include <windows.h>

#include "base/Utf.h"
#else
#include <unistd.h>
#endif

namespace vela::cli {
namespace {

using namespace ua::security;

std::string EnvironmentValue(const char* name) {
#ifdef _WIN32
    std::wstring wide(Utf8ToWide(name));
    wchar_t value[32768];
    const DWORD length = GetEnvironmentVariableW(wide.c_str(), value, 32768);
    return length && length < 32768 ? WideToUtf8(std::wstring(value, length)) : std::string();
#else
    const char* value = std::getenv(name);
    return value ? value : "";
#endif
}

bool InteractiveInput() {
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

std::string DateText(DateTime utc) {
    const DateTimeParts p = DecodeDateTime(utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return text;
}

std::string AddressText(const Bytes& address) {
    std::string text;
    if (address.size() == 4) {
        for (uint8_t b : address) text += (text.empty() ? "" : ".") + std::to_string(b);
        return text;
    }
    char part[8];
    for (size_t i = 0; i + 1 < address.size(); i += 2) {
        std::snprintf(part, sizeof part, "%x", (address[i] << 8) | address[i + 1]);
        text += (text.empty() ? "" : ":") + std::string(part);
    }
    return text;
}

void Show(const TX509Certificate& c) {
    // what a server wrote goes to the terminal only as plain characters
    std::cout << "subject:         " << PrintableText(NameText(c.fSubject)) << "\n"
              << "issuer:          " << PrintableText(NameText(c.fIssuer)) << "\n"
              << "valid:           " << DateText(c.notBefore) << " to " << DateText(c.notAfter) << "\n"
              << "application URI: " << PrintableText(c.ApplicationUri()) << "\n";
    std::string names;
    for (const std::string& dns : c.DnsNames()) names += (names.empty() ? "" : ", ") + PrintableText(dns);
    for (const Bytes& ip : c.IpAddresses()) names += (names.empty() ? "" : ", ") + AddressText(ip);
    std::cout << "host names:      " << names << "\n"
              << "key:             RSA " << c.fPublicKey.SizeBits() << " bits\n"
              << "thumbprint:      " << c.ThumbprintHEX() << std::endl;
}

}  // namespace

std::string CertificateStoreFolder(const Arguments& args) {
    if (args.Has("--pki")) return args.Option("--pki");
#ifdef _WIN32
    const std::string base = EnvironmentValue("APPDATA");
    return (base.empty() ? std::string(".") : base) + "\\Vela\\pki";
#else
    std::string base = EnvironmentValue("XDG_CONFIG_HOME");
    if (base.empty()) base = EnvironmentValue("HOME") + "/.config";
    return base + "/vela/pki";
#endif
}

int RunTrustCommand(const Arguments& args) {
    std::vector<ua::uaEndpointDescription> endpoints;
    try {
        ua::uaStackClient client;
        const int timeout = args.Has("--timeout") ? static_cast<int>(WholeNumber("--timeout", args.Option("--timeout"), 1, INT32_MAX)) : 10000;
        client.Connect(args.url, args.Option("--proxy"), timeout);
        client.OpenSecureChannel(TuaSecurePolicy::uaSPNone, TuaSecureMode::uaSNone, {}, {}, 600000, timeout);
        ua::uaGetEndpointsRequest request;
        request.fEndpointUrl = args.url;
        auto response = client.Call(request, timeout);
        auto* answer = dynamic_cast<ua::uaGetEndpointsResponse*>(response.get());
        if (!answer) throw Exception("the server gave no list of endpoints");
        endpoints = answer->fEndpoints;
        client.CloseSecureChannel();
    } catch (const std::exception& e) {
        std::cerr << "error: cannot get the certificate of " << args.url << ": " << e.what() << std::endl;
        return 3;
    }
    const ua::uaEndpointDescription* chosen = nullptr;
    for (const auto& endpoint : endpoints)
        if (!endpoint.fServerCertificate.empty() && (!chosen || endpoint.fSecurityMode.fValue > chosen->fSecurityMode.fValue))
            chosen = &endpoint;
    if (!chosen) {
        std::cerr << "error: " << args.url << " offers no certificate (it has no secured endpoint)" << std::endl;
        return 1;
    }
    const TCertificateStore store(CertificateStoreFolder(args));
    TCertificateCheckContext context;
    context.policy = args.Has("--policy") ? PolicyFromName(args.Option("--policy")).value_or(TuaSecurePolicy::uaSPBasic256Sha256)
                                          : TuaSecurePolicy::uaSPBasic256Sha256;
    context.applicationUri = chosen->fServer.fApplicationUri;
    context.hostName = ua::UrlHost(args.url);
    const TCertificateVerdict verdict = ValidateCertificate(store, chosen->fServerCertificate, context);
    if (verdict.certificate.fRawData.empty()) {
        std::cerr << "error: the server's certificate " << verdict.reason << std::endl;
        return 1;
    }
    try {
        Show(verdict.certificate);
    } catch (const Exception& e) {  // a name that does not parse: the verdict says why
        std::cout << "(the certificate's names do not parse: " << e.what() << ")" << std::endl;
    }
    std::cout << "store:           " << store.Root() << "\n";
    if (verdict.Good()) {
        std::cout << "verdict:         trusted" << std::endl;
        return 0;
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", verdict.status);
    std::cout << "verdict:         " << verdict.reason << " (" << code << ")" << std::endl;
    if (verdict.status != kBadCertificateUntrusted && verdict.status != kBadCertificateChainIncomplete) {
        std::cout << "Trusting it would not help: the certificate itself is at fault." << std::endl;
        return 1;
    }
    bool store_it = args.Has("--yes");
    if (!store_it) {
        if (!InteractiveInput()) {
            std::cout << "Not stored: give --yes to trust it without being asked." << std::endl;
            return 1;
        }
        std::cout << "Trust this certificate? Compare the thumbprint with the server's own first. [y/N] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        store_it = answer == "y" || answer == "Y" || answer == "yes";
    }
    if (!store_it) {
        std::cout << "Not stored." << std::endl;
        return 1;
    }
    try {
        std::cout << "Trusted: " << store.Add(TStoreFolder::TrustedCerts, verdict.certificate) << std::endl;
        store.TrustRejected(verdict.certificate.ThumbprintHEX());  // a copy left in rejected/ goes
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace vela::cli
