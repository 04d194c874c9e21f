// vela_cli: a command-line OPC client on the toolkit, for checking a remote server before it is
// configured in the gateway. It speaks DA over UA (opc.tcp:// URLs).
//
//   vela_cli URL [options] status | browse [NODE] | read ITEM... | write ITEM VALUE | subscribe ITEM...
//   vela_cli --help      (the commands, options, value forms and exit codes: cli/CliArguments.cpp)
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/FileData.h"
#include "base/MainThread.h"
#include "cli/CliArguments.h"
#include "cli/Console.h"
#include "cli/StatusNames.h"
#include "cli/TrustCommand.h"
#include "cli/ValueText.h"
#include "toolkit/VelaBrowser.h"
#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"
#include "ua/da/UADAConnection.h"

#ifdef _WIN32
#include <windows.h>

#include "base/Utf.h"
#else
#include <termios.h>
#include <unistd.h>
#endif

using namespace vela;
using cli::Arguments;

namespace {

constexpr int kExitDone = 0, kExitFailed = 1, kExitUsage = 2, kExitNoConnection = 3;

std::atomic<bool> stopRequested{false};

void OnSignal(int) { stopRequested = true; }

std::string TimeText(DateTime time) { return time > 0 ? cli::DateTimeText(time) : "no time"; }

// Texts of the toolkit are made for message boxes, and name UA codes as "$801F0000".
std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '$' && i + 9 <= text.size() &&
            text.find_first_not_of("0123456789abcdefABCDEF", i + 1) >= i + 9) {
            line += cli::CodeText(static_cast<uint32_t>(std::stoul(text.substr(i + 1, 8), nullptr, 16)));
            i += 8;
        } else if (c != '\r') {
            line += c == '\n' ? ' ' : c;
        }
    }
    return line;
}

bool IsGood(uint32_t code) { return (code & 0xC0000000u) == 0; }

cli::ValueType TypeOf(const TVelaItemData& item) {
    cli::ValueType type;
    type.builtIn = item.fBaseDatatype > 0 ? item.fBaseDatatype : cli::kUnknown;
    type.dataType = item.FCanonicalDatatype > 0 ? static_cast<uint32_t>(item.FCanonicalDatatype) : 0;
    type.array = item.FIsArray;
    // the item marks byte strings and structures as arrays: they travel as arrays of bytes
    if (type.builtIn == cli::kByteString || type.builtIn == cli::kExtensionObject)
        type.array = item.FValue.IsArray() && item.FValue.ElementType() == vtVARIANT;
    return type;
}

void PrintItem(const TVelaItemData& item) {
    std::cout << item.FItemID << " = " << cli::FormatValue(item.FValue, TypeOf(item)) << "  quality "
              << cli::CodeText(item.FQuality);
    if (item.FTimeStamp > 0) std::cout << "  time " << cli::DateTimeText(item.FTimeStamp);
    if (item.FChangeCount > 0) std::cout << "  change " << item.FChangeCount;
    std::cout << std::endl;
}

void PrintFailure(const std::string& id, uint32_t code) {
    std::cout << id << ": error " << cli::CodeExplained(code) << std::endl;
}

// What the browse depth and similar options hold; the parser has checked the text.
int Number(const Arguments& args, const std::string& name, int absent) {
    auto found = args.options.find(name);
    return found == args.options.end() ? absent : std::stoi(found->second);
}

std::string ReadTextFile(const std::string& option, const std::string& path) {
    try {
        const std::vector<uint8_t> bytes = ReadWholeFile(path);
        return std::string(bytes.begin(), bytes.end());
    } catch (const std::exception&) {
        throw cli::UsageError(option + ": cannot read the file " + path + " (is the name right?)");
    }
}

// The items of the command line, then those of --items FILE.
std::vector<std::string> ItemIds(const Arguments& args) {
    std::vector<std::string> ids = args.operands;
    if (args.Has("--items")) {
        const std::vector<std::string> fromFile = cli::ItemLines(ReadTextFile("--items", args.Option("--items")));
        if (fromFile.empty() && ids.empty())
            throw cli::UsageError("--items: " + args.Option("--items") + " names no item (one id per line)");
        ids.insert(ids.end(), fromFile.begin(), fromFile.end());
    }
    return ids;
}

// Key and certificate files are read only while connecting, where a missing one would show as
// a missing key; a person wants the file named.
void CheckFiles(const Arguments& args) {
    for (const char* option : {"--cert", "--key", "--user-cert", "--user-key"})
        if (args.Has(option)) ReadTextFile(option, args.Option(option));
}

// A line typed on the terminal without echo; empty when input is not a terminal.
std::string PromptPassword(const std::string& prompt) {
#ifdef _WIN32
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return {};
    std::cerr << prompt << ": " << std::flush;
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring typed;
    wchar_t c = 0;
    DWORD got = 0;
    while (ReadConsoleW(input, &c, 1, &got, nullptr) && got == 1 && c != L'\r' && c != L'\n') typed += c;
    SetConsoleMode(input, mode);
    std::cerr << std::endl;
    return WideToUtf8(typed);
#else
    if (!isatty(STDIN_FILENO)) return {};
    std::cerr << prompt << ": " << std::flush;
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::string text;
    std::getline(std::cin, text);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cerr << std::endl;
    return text;
#endif
}

// --password, else the environment, else the terminal: a password need not stand on the command
// line, where other users of the machine can see it.
std::string UserPassword(const Arguments& args) {
    if (args.Has("--password")) return args.Option("--password");
    if (const char* fromEnvironment = std::getenv("VELA_PASSWORD")) return fromEnvironment;
    if (args.Has("--user")) return PromptPassword("password for " + args.Option("--user"));
    // a user key without encryption needs no password
    const std::vector<uint8_t> key = ReadWholeFile(args.Option("--user-key"));
    if (std::string(key.begin(), key.end()).find("ENCRYPTED") == std::string::npos) return {};
    return PromptPassword("password of the key " + args.Option("--user-key"));
}

void Configure(TVelaDAClient& client, const Arguments& args) {
    client.SetServerName(args.url);
    static const std::map<std::string, std::string> modes = {{"none", "1"}, {"sign", "2"}, {"encrypt", "3"}};
    static const std::map<std::string, std::string> policies = {
        {"None", "1"}, {"Basic128Rsa15", "2"}, {"Basic256", "3"}, {"Basic256Sha256", "4"},
        {"Aes128_Sha256_RsaOaep", "5"}, {"Aes256_Sha256_RsaPss", "6"}};
    const std::string mode = args.Has("--mode") ? args.Option("--mode") : "none";
    std::string policy = args.Option("--policy");
    if (policy.empty()) policy = mode == "none" ? "None" : "Basic256Sha256";
    client.SetParam("ua-securitymode", modes.at(mode));
    client.SetParam("ua-securitypolicy", policies.at(policy));
    client.SetParam("ua-cert-file", args.Option("--cert"));
    client.SetParam("ua-pkey-file", args.Option("--key"));
    client.SetParam("ua-proxy", args.Option("--proxy"));
    client.SetParam("ua-pki", cli::CertificateStoreFolder(args));
    if (args.Has("--accept-any-certificate")) client.SetParam("ua-trust", "2");
    if (args.Has("--timeout")) {
        client.SetParam("ua-timeout", args.Option("--timeout"));
        client.SetParam("ua-timeoutconnect", args.Option("--timeout"));
    }
    if (args.Has("--user")) {
        client.SetParam("ua-usermode", "1");
        client.SetParam("ua-user", args.Option("--user"));
        client.SetParam("ua-pass", UserPassword(args));
        if (args.Has("--allow-cleartext-password")) client.SetParam("ua-cleartextpassword", "1");
    } else if (args.Has("--user-cert")) {
        // a certificate login names the certificate file as the user and the key file as its data
        client.SetParam("ua-usermode", "2");
        client.SetParam("ua-user", args.Option("--user-cert"));
        client.SetParam("ua-data", args.Option("--user-key"));
        client.SetParam("ua-pass", UserPassword(args));
    }
}

void Status(TVelaDAClient& client) {
    TServerStateRecord status;
    client.GetServerInfo(status);
    std::cout << "product:     " << status.ProductName << "\nvendor:      " << status.VendorInfo
              << "\nversion:     " << status.Version << " (build " << status.BuildNumber << ")"
              << "\nstate:       " << status.StatusInfo << "\nstarted:     " << TimeText(status.Starttime)
              << "\nserver time: " << TimeText(status.Currenttime) << std::endl;
}

void BrowseLevel(TVelaBrowser& browser, int depth, const std::string& indent) {
    browser.Browse(false);
    std::vector<TVelaBrowseItem> entries;
    for (const auto& item : browser.Items()) entries.push_back(*item);
    for (const auto& entry : entries) {
        std::cout << indent << (entry.FIsFolder ? "+ " : "  ") << entry.FName << "  [" << entry.GetItemId() << "]"
                  << (entry.FIsItem ? "  item" : "") << std::endl;
        if (depth > 1 && entry.FIsFolder && browser.MoveDown(&entry)) {
            BrowseLevel(browser, depth - 1, indent + "    ");
            browser.Moveup();
        }
    }
}

void Browse(TVelaDAClient& client, const Arguments& args) {
    TVelaBrowser& browser = client.Browser();
    if (!args.operands.empty() && !browser.Moveto(args.operands[0]))
        throw Exception("no such node: " + args.operands[0]);
    auto filter = args.options.find("--filter");
    if (args.flat) {
        browser.SetFilter(filter != args.options.end() ? filter->second : "");
        // every kind of node: the walk descends through folders too; a large tree shows its
        // items as they are found, and Ctrl-C ends the walk
        browser.BrowseFlat([](const TVelaBrowseItem& item) {
            std::cout << item.GetItemId() << std::endl;
            return !stopRequested;
        });
        return;
    }
    if (filter != args.options.end()) browser.SetFilter(filter->second);
    BrowseLevel(browser, Number(args, "--depth", 1), "");
}

bool Failed(const TVelaItemData& item) { return item.FLastError != 0 || item.FServerHandle == -1; }

void PrintFailure(const TVelaItemData& item) {
    // an item without a server handle and without an error was not taken, for no reason given
    PrintFailure(item.FItemID, item.FLastError != 0 ? static_cast<uint32_t>(item.FLastError) : 0x80000000u);
}

// Adds the items to the group in one request (split where the server's limits ask for it).
std::vector<TVelaItemPtr> AddItems(TVelaGroup& group, const std::vector<std::string>& ids) {
    TVelaItems& items = group.OPCItems();
    std::vector<TVelaItemPtr> added;
    items.BeginUpdate();
    for (const auto& id : ids) added.push_back(items.AddItem(id));
    items.EndUpdate();
    items.OPCAddAllItems(false);
    return added;
}

int Read(TVelaDAClient& client, const std::vector<std::string>& ids) {
    TVelaGroup& group = client.OPCGroups().Add("read", true, false);
    const std::vector<TVelaItemPtr> items = AddItems(group, ids);
    TVelaItemList standing;
    for (const auto& item : items)
        if (!Failed(*item)) standing.Add(item);
    if (!standing.Empty()) group.SyncRead(&standing, false);
    int failures = 0;
    for (const auto& item : items) {
        if (Failed(*item)) {
            PrintFailure(*item);
            ++failures;
        } else {
            PrintItem(*item);
        }
    }
    return failures == 0 ? kExitDone : kExitFailed;
}

int Write(TVelaDAClient& client, const Arguments& args) {
    const std::string& id = args.operands[0];
    TVelaGroup& group = client.OPCGroups().Add("write", true, false);
    const TVelaItemPtr item = AddItems(group, {id}).front();
    if (Failed(*item)) {
        PrintFailure(*item);
        return kExitFailed;
    }
    Variant value;
    try {
        value = cli::ParseValue(args.operands[1], TypeOf(*item));
    } catch (const cli::ValueError& e) {
        std::cerr << "vela_cli: " << id << ": " << e.what() << std::endl;
        return kExitUsage;
    }
    try {
        item->WriteSync(value);
    } catch (const EOPCItemException&) {
        if (item->FLastError == 0) throw;
    }
    const uint32_t result = static_cast<uint32_t>(item->FLastError);
    if (!IsGood(result)) {
        std::cout << id << ": write failed: " << cli::CodeExplained(result) << std::endl;
        return kExitFailed;
    }
    std::cout << id << " written" << (result != 0 ? ": " + cli::CodeText(result) : std::string()) << std::endl;
    if (item->IsReadAble()) {
        TVelaItemList one(item);
        group.SyncRead(&one, false);
        if (item->FLastError != 0) PrintFailure(id, static_cast<uint32_t>(item->FLastError));
        else PrintItem(*item);
    }
    return kExitDone;
}

// "$80AE0000" as the toolkit gives a UA reason, with its name and text.
std::string ReasonText(const std::string& reason) {
    if (reason.size() > 1 && reason[0] == '$') {
        try {
            return cli::CodeExplained(static_cast<uint32_t>(std::stoul(reason.substr(1), nullptr, 16)));
        } catch (const std::exception&) {
        }
    }
    return reason.empty() ? "no reason given" : reason;
}

int Subscribe(TVelaDAClient& client, const Arguments& args, const std::vector<std::string>& ids, RunLoop& loop) {
    client.OPCGroupDefault().UpdateRate = Number(args, "--rate", 1000);
    TVelaGroup& group = client.OPCGroups().Add("subscription", true, true);
    client.OnDatachange = [](TVelaDAClient&, TVelaItemList& items) {
        for (const auto& item : items) PrintItem(*item);
    };
    bool lost = false;
    client.OnServerShutdown = [&](TVelaClient&, const std::string& reason) {
        std::cerr << "error: connection lost: " << ReasonText(reason) << std::endl;
        lost = true;
    };
    size_t failures = 0;
    for (const auto& item : AddItems(group, ids)) {
        if (Failed(*item)) {
            PrintFailure(*item);
            ++failures;
        }
    }
    const size_t standing = ids.size() - failures;
    if (standing == 0) {
        std::cerr << "error: no item could be subscribed" << std::endl;
        return kExitFailed;
    }
    std::cout << "subscribed to " << standing << (standing == 1 ? " item" : " items") << " at "
              << group.UpdateRate() << " ms; Ctrl-C ends" << std::endl;
    using Clock = std::chrono::steady_clock;
    const double seconds = args.Has("--seconds") ? cli::Seconds("--seconds", args.Option("--seconds")) : 1e9;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!stopRequested && !lost) {
        const Clock::time_point now = Clock::now();
        if (now >= end) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now) + std::chrono::milliseconds(1);
        loop.RunUntil([&] { return stopRequested.load() || lost; }, std::min(left, std::chrono::milliseconds(200)));
    }
    if (lost) return kExitNoConnection;
    return failures == 0 ? kExitDone : kExitFailed;
}

// A hint after the toolkit's text, for the failures people meet most.
std::string ConnectHint(const std::string& error) {
    if (error.find("cannot connect") != std::string::npos)
        return "is the server running, and are host and port right?";
    if (error.find("Timeout") != std::string::npos || error.find("timed out") != std::string::npos)
        return "no answer in time: is it an OPC UA server, is --timeout long enough?";
    if (error.find("$801F0000") != std::string::npos || error.find("$80200000") != std::string::npos ||
        error.find("$80210000") != std::string::npos)
        return "the server refused the login: check the user and the password or certificate";
    if (error.find("to trust it, move it to") != std::string::npos)
        return "vela_cli URL trust shows the certificate and stores it as trusted on request";
    if (error.find("Can't find right Security Mode") != std::string::npos)
        return "choose one of the server's modes with --mode and --policy";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    cli::UseUtf8Console();
    Arguments args;
    std::vector<std::string> ids;
    try {
        args = cli::ParseArguments(cli::Utf8Arguments(argc, argv));
        if (args.help) {
            std::cout << cli::UsageText() << std::flush;
            return kExitDone;
        }
        if (args.command == "read" || args.command == "subscribe") ids = ItemIds(args);
        CheckFiles(args);
    } catch (const cli::UsageError& e) {
        std::cerr << "vela_cli: " << e.what() << "\nvela_cli --help shows the usage" << std::endl;
        return kExitUsage;
    }
    if (args.command == "trust") return cli::RunTrustCommand(args);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    ua::RegisterUAConnection();
    RunLoop loop;
    try {
        TVelaDAClient client(&loop);
        try {
            Configure(client, args);
            client.SetActive(true);
        } catch (const std::exception& e) {
            const std::string hint = ConnectHint(e.what());
            std::cerr << "error: cannot connect to " << args.url << ": " << OneLine(e.what()) << std::endl;
            if (!hint.empty()) std::cerr << "       " << hint << std::endl;
            return kExitNoConnection;
        }
        int result = kExitDone;
        if (args.command == "status") Status(client);
        else if (args.command == "browse") Browse(client, args);
        else if (args.command == "read") result = Read(client, ids);
        else if (args.command == "write") result = Write(client, args);
        else if (args.command == "subscribe") result = Subscribe(client, args, ids, loop);
        if (client.Active()) client.SetActive(false);
        return result;
    } catch (const std::exception& e) {
        std::cerr << "error: " << OneLine(e.what()) << std::endl;
        return kExitFailed;
    }
}
