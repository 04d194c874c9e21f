// vela_cli: a command-line OPC client on the toolkit, for checking a remote server before it is
// configured in the gateway. It speaks DA over UA (opc.tcp:// URLs).
//
//   vela_cli URL [options] status
//   vela_cli URL [options] browse [NODE] [--depth N] [--flat] [--filter MASK]
//   vela_cli URL [options] read ITEM...
//   vela_cli URL [options] write ITEM VALUE
//   vela_cli URL [options] subscribe ITEM... [--rate MS] [--seconds N]
//
// Options: --mode none|sign|encrypt, --policy None|Basic128Rsa15|Basic256|Basic256Sha256|
// Aes128_Sha256_RsaOaep|Aes256_Sha256_RsaPss, --cert FILE --key FILE (the client's application
// certificate and key), --user NAME --password TEXT, --proxy URL, --timeout MS.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/MainThread.h"
#include "toolkit/VelaBrowser.h"
#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"
#include "ua/da/UADAConnection.h"
#include "ua/uaStatusCodes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

using namespace vela;

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) { stopRequested = true; }

int Usage() {
    std::cerr << "usage: vela_cli URL [options] status | browse [NODE] [--depth N] [--flat] [--filter MASK]\n"
                 "       | read ITEM... | write ITEM VALUE | subscribe ITEM... [--rate MS] [--seconds N]\n"
                 "options: --mode none|sign|encrypt  --policy NAME  --cert FILE --key FILE\n"
                 "         --user NAME [--password TEXT]  --allow-cleartext-password  --proxy URL  --timeout MS\n"
                 "the password may also come from VELA_PASSWORD, else it is asked for on the terminal\n";
    return 2;
}

std::string TimeText(DateTime time) {
    if (time <= 0) return "-";
    try {
        const DateTimeParts p = DecodeDateTime(time);
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                      p.minute, p.second, p.millisecond);
        return text;
    } catch (const std::exception&) {
        return "-";
    }
}

std::string ValueText(const Variant& value) {
    try {
        if (!value.IsArray()) return value.IsEmpty() ? "(empty)" : value.ToString();
        std::string text = "[";
        for (const auto& element : value.Array().Elements())
            text += (text.size() > 1 ? ", " : "") + element.ToString();
        return text + "]";
    } catch (const std::exception&) {
        return "(not shown)";
    }
}

std::string QualityText(uint32_t quality) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", quality);
    return std::string(code) + " " + (quality == 0 ? "Good" : ua::Statuscodes::ToString(quality));
}

void PrintItem(const TVelaItemData& item) {
    std::cout << item.FItemID << " = " << ValueText(item.FValue) << "  quality " << QualityText(item.FQuality)
              << "  time " << TimeText(item.FTimeStamp);
    if (item.FChangeCount > 0) std::cout << "  change " << item.FChangeCount;
    std::cout << std::endl;
}

struct Arguments {
    std::string url, command;
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;
    bool flat = false;
};

bool Parse(int argc, char** argv, Arguments& args) {
    if (argc < 3) return false;
    args.url = argv[1];
    static const std::vector<std::string> valued = {"--mode", "--policy", "--cert", "--key", "--user", "--password",
                                                    "--proxy", "--timeout", "--depth", "--filter", "--rate",
                                                    "--seconds"};
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--flat") {
            args.flat = true;
        } else if (arg == "--allow-cleartext-password") {
            args.options[arg] = "1";
        } else if (arg.starts_with("--")) {
            if (std::find(valued.begin(), valued.end(), arg) == valued.end() || i + 1 >= argc) return false;
            args.options[arg] = argv[++i];
        } else if (args.command.empty()) {
            args.command = arg;
        } else {
            args.operands.push_back(arg);
        }
    }
    return !args.command.empty();
}

int Number(const Arguments& args, const std::string& name, int absent) {
    auto found = args.options.find(name);
    return found == args.options.end() ? absent : std::stoi(found->second);
}

// A line typed on the terminal without echo; empty when input is not a terminal.
std::string PromptPassword(const std::string& user) {
#ifdef _WIN32
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return {};
    std::cerr << "password for " << user << ": " << std::flush;
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring typed;
    wchar_t c = 0;
    DWORD got = 0;
    while (ReadConsoleW(input, &c, 1, &got, nullptr) && got == 1 && c != L'\r' && c != L'\n') typed += c;
    SetConsoleMode(input, mode);
    std::cerr << std::endl;
    std::string text;
    for (wchar_t w : typed) text += static_cast<char>(w < 0x80 ? w : '?');  // ASCII is what passwords hold here
    return text;
#else
    if (!isatty(STDIN_FILENO)) return {};
    std::cerr << "password for " << user << ": " << std::flush;
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
    if (auto given = args.options.find("--password"); given != args.options.end()) return given->second;
    if (const char* fromEnvironment = std::getenv("VELA_PASSWORD")) return fromEnvironment;
    return PromptPassword(args.options.at("--user"));
}

void Configure(TVelaDAClient& client, const Arguments& args) {
    client.SetServerName(args.url);
    const auto option = [&](const std::string& name) {
        auto found = args.options.find(name);
        return found == args.options.end() ? std::string() : found->second;
    };
    static const std::map<std::string, std::string> modes = {{"none", "1"}, {"sign", "2"}, {"encrypt", "3"},
                                                             {"signandencrypt", "3"}};
    static const std::map<std::string, std::string> policies = {
        {"None", "1"}, {"Basic128Rsa15", "2"}, {"Basic256", "3"}, {"Basic256Sha256", "4"},
        {"Aes128_Sha256_RsaOaep", "5"}, {"Aes256_Sha256_RsaPss", "6"}};
    if (!option("--mode").empty()) {
        auto mode = modes.find(option("--mode"));
        if (mode == modes.end()) throw Exception("unknown security mode " + option("--mode"));
        client.SetParam("ua-securitymode", mode->second);
    }
    if (!option("--policy").empty()) {
        auto policy = policies.find(option("--policy"));
        if (policy == policies.end()) throw Exception("unknown security policy " + option("--policy"));
        client.SetParam("ua-securitypolicy", policy->second);
    }
    client.SetParam("ua-cert-file", option("--cert"));
    client.SetParam("ua-pkey-file", option("--key"));
    client.SetParam("ua-proxy", option("--proxy"));
    if (!option("--timeout").empty()) client.SetParam("ua-timeout", option("--timeout"));
    if (!option("--user").empty()) {
        client.SetParam("ua-usermode", "1");
        client.SetParam("ua-user", option("--user"));
        client.SetParam("ua-pass", UserPassword(args));
        if (!option("--allow-cleartext-password").empty()) client.SetParam("ua-cleartextpassword", "1");
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

int Read(TVelaDAClient& client, const Arguments& args) {
    TVelaGroup& group = client.OPCGroups().Add("read", true, false);
    int failures = 0;
    for (const auto& id : args.operands) {
        try {
            group.OPCItems().AddItem(id);
        } catch (const EOPCException& e) {
            std::cout << id << ": " << e.what() << std::endl;
            ++failures;
        }
    }
    group.SyncRead(nullptr, false);
    for (const auto& item : group.OPCItems())
        if (item->FServerHandle != -1) PrintItem(*item);
    return failures == 0 ? 0 : 1;
}

int Write(TVelaDAClient& client, const Arguments& args) {
    if (args.operands.size() != 2) return Usage();
    TVelaGroup& group = client.OPCGroups().Add("write", true, false);
    auto item = group.OPCItems().AddItem(args.operands[0]);
    item->WriteSync(Variant(args.operands[1]));
    std::cout << args.operands[0] << " written: " << QualityText(static_cast<uint32_t>(item->FLastError)) << std::endl;
    TVelaItemList one(item);
    group.SyncRead(&one, false);
    PrintItem(*item);
    return 0;
}

int Subscribe(TVelaDAClient& client, const Arguments& args, RunLoop& loop) {
    client.OPCGroupDefault().UpdateRate = Number(args, "--rate", 1000);
    TVelaGroup& group = client.OPCGroups().Add("subscription", true, true);
    client.OnDatachange = [](TVelaDAClient&, TVelaItemList& items) {
        for (const auto& item : items) PrintItem(*item);
    };
    bool lost = false;
    client.OnServerShutdown = [&](TVelaClient&, const std::string& reason) {
        std::cout << "server lost: " << reason << std::endl;
        lost = true;
    };
    for (const auto& id : args.operands) {
        try {
            group.OPCItems().AddItem(id);
        } catch (const EOPCException& e) {
            std::cout << id << ": " << e.what() << std::endl;
        }
    }
    std::cout << "subscribed at " << group.UpdateRate() << " ms; Ctrl-C ends" << std::endl;
    const int seconds = Number(args, "--seconds", 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds > 0 ? seconds : 1000000000);
    while (!stopRequested && !lost && std::chrono::steady_clock::now() < end)
        loop.RunUntil([] { return stopRequested.load(); }, std::chrono::milliseconds(200));
    return lost ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!Parse(argc, argv, args)) return Usage();
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    ua::RegisterUAConnection();
    RunLoop loop;
    try {
        TVelaDAClient client(&loop);
        Configure(client, args);
        client.SetActive(true);
        int result = 0;
        if (args.command == "status") Status(client);
        else if (args.command == "browse") Browse(client, args);
        else if (args.command == "read") result = Read(client, args);
        else if (args.command == "write") result = Write(client, args);
        else if (args.command == "subscribe") result = Subscribe(client, args, loop);
        else return Usage();
        client.SetActive(false);
        return result;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << std::endl;
        return 1;
    }
}
