// vela_cli's command line: what it takes, and what it refuses with which message.
#include <gtest/gtest.h>

#include "cli/CliArguments.h"

namespace vela::cli {
namespace {

const std::string kUrl = "opc.tcp://127.0.0.1:4840";

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

std::string Refusal(const std::string& line) {
    try {
        ParseArguments(Words(line));
        return "(taken)";
    } catch (const UsageError& e) {
        return e.what();
    }
}

TEST(CliArguments, TakesCommandsOptionsAndOperandsInAnyOrderAfterTheUrl) {
    const Arguments args = ParseArguments(
        Words(kUrl + " --rate 250 subscribe ns=1;s=A --seconds 0.5 ns=1;s=B --timeout=2000 --mode Encrypt "
                     "--cert c.der --key k.pem"));
    EXPECT_EQ(args.url, kUrl);
    EXPECT_EQ(args.command, "subscribe");
    EXPECT_EQ(args.operands, (std::vector<std::string>{"ns=1;s=A", "ns=1;s=B"}));
    EXPECT_EQ(args.Option("--rate"), "250");
    EXPECT_EQ(args.Option("--seconds"), "0.5");
    EXPECT_EQ(args.Option("--timeout"), "2000");
    EXPECT_EQ(args.Option("--mode"), "encrypt");
    EXPECT_FALSE(args.help);

    const Arguments write = ParseArguments({kUrl, "write", "ns=1;s=X", "-5"});
    EXPECT_EQ(write.operands, (std::vector<std::string>{"ns=1;s=X", "-5"}));
    const Arguments ended = ParseArguments({kUrl, "write", "--", "--odd", "--flat"});
    EXPECT_EQ(ended.operands, (std::vector<std::string>{"--odd", "--flat"}));
    const Arguments browse = ParseArguments(Words(kUrl + " browse ns=1;s=Demo --flat --filter *.x"));
    EXPECT_TRUE(browse.flat);
    EXPECT_EQ(browse.Option("--filter"), "*.x");
    EXPECT_TRUE(ParseArguments({kUrl, "read", "--items", "ids.txt"}).Has("--items"));
}

TEST(CliArguments, HelpAnywhereWinsOverEverythingElse) {
    for (const char* line : {"--help", "-h", "opc.tcp://x:99999 frobnicate --help", "nonsense -h --bogus"})
        EXPECT_TRUE(ParseArguments(Words(line)).help) << line;
    EXPECT_NE(std::string(UsageText()).find("exit codes"), std::string::npos);
}

TEST(CliArguments, RefusesWhatCannotRunAsTyped) {
    struct Case {
        std::string line;
        const char* message;
    };
    const Case cases[] = {
        {"", "no server URL given"},
        {"status", "'status' is not a server URL"},
        {"opc.tcp://h:99999 status", "the port 99999 is out of range (1..65535)"},
        {"opc.tcp://h:0 status", "the port 0 is out of range"},
        {"opc.tcp://h:48a0 status", "the port '48a0' is not a number"},
        {"opc.tcp://:4840 status", "no host"},
        {"opc.tcp://::1:4840 status", "an IPv6 address goes in brackets"},
        {"http://h/DA status", "XML-DA (http:// and https:// URLs) is not available in this build"},
        {"https://h/DA status", "XML-DA"},
        {"opc.wss://h status", "opc.wss:// is not supported"},
        {kUrl, "no command given"},
        {kUrl + " frobnicate", "unknown command 'frobnicate'"},
        {kUrl + " Read x", "unknown command 'Read'"},
        {kUrl + " status --bogus", "unknown option --bogus"},
        {kUrl + " status --timeout", "--timeout needs a value"},
        {kUrl + " status --timeout abc", "--timeout: 'abc' is not a whole number"},
        {kUrl + " status --timeout 1,000", "without group separators"},
        {kUrl + " status --timeout 0", "--timeout: 0 is out of range"},
        {kUrl + " status --timeout 99999999999", "out of range"},
        {kUrl + " subscribe x --rate abc", "--rate: 'abc' is not a whole number"},
        {kUrl + " subscribe x --rate -5", "--rate: -5 is out of range"},
        {kUrl + " subscribe x --rate 1.5", "--rate: '1.5' is not a whole number"},
        {kUrl + " subscribe x --seconds 1,5", "--seconds: '1,5' is not a number of seconds (use '.'"},
        {kUrl + " subscribe x --seconds 0", "--seconds: 0 is out of range"},
        {kUrl + " subscribe x --seconds -2", "out of range"},
        {kUrl + " subscribe x --seconds inf", "--seconds: 'inf' is not a number of seconds"},
        {kUrl + " subscribe x --seconds soon", "is not a number of seconds"},
        {kUrl + " subscribe x --rate 5 --rate 6", "--rate is given twice"},
        {kUrl + " status --rate 5", "--rate applies to subscribe, not to status"},
        {kUrl + " write x 1 --items f", "--items applies to read and subscribe"},
        {kUrl + " read x --depth 2", "--depth applies to browse"},
        {kUrl + " browse --depth 0", "--depth: 0 is out of range"},
        {kUrl + " browse --flat --depth 2", "--depth does not go with --flat"},
        {kUrl + " browse --flat=1", "--flat takes no value"},
        {kUrl + " browse a b", "browse takes at most one node"},
        {kUrl + " status x", "status takes no operands"},
        {kUrl + " read", "read needs at least one item id (or --items FILE)"},
        {kUrl + " subscribe", "subscribe needs at least one item id"},
        {kUrl + " write x", "write needs an item id and a value"},
        {kUrl + " write x 1 2", "quote a value that holds blanks"},
        {kUrl + " status --proxy foo://p:1", "--proxy: 'foo://p:1' is not a proxy URL of a supported kind"},
        {kUrl + " status --proxy socks5://p:1080", "is not a proxy URL of a supported kind"},
        {kUrl + " status --proxy p:8080", "is not a proxy URL"},
        {kUrl + " status --proxy http://u:pw@p:99999", "--proxy: Proxy error: bad port in http://***@p:99999"},
        {kUrl + " status --mode secure", "--mode: 'secure' is no security mode; use none, sign, encrypt"},
        {kUrl + " status --policy Basic512", "--policy: 'Basic512' is no security policy"},
        {kUrl + " trust --accept-any-certificate", "--accept-any-certificate applies to every command but trust"},
        {kUrl + " status --yes", "--yes applies to trust, not to status"},
        {kUrl + " trust --pki", "--pki needs a value"},
        {kUrl + " status --policy Basic256Sha256", "--policy Basic256Sha256 needs --mode sign or --mode encrypt"},
        {kUrl + " status --mode sign --policy None --cert c --key k", "--mode sign needs a --policy other than None"},
        {kUrl + " status --cert c", "--cert and --key go together"},
        {kUrl + " status --user-key k", "--user-cert and --user-key go together"},
        {kUrl + " status --user u --user-cert c --user-key k", "choose one login"},
        {kUrl + " status --password p", "--password needs --user NAME"},
        {kUrl + " status --allow-cleartext-password", "--allow-cleartext-password needs --user NAME"},
        {kUrl + " status --user=", "--user needs a value that is not empty"},
    };
    for (const Case& c : cases) {
        const std::string message = Refusal(c.line);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.line << "\n  gave: " << message;
    }
}

TEST(CliArguments, EndpointUrlsThatPass) {
    for (const char* url : {"opc.tcp://h", "OPC.TCP://h:4840", "opc.tcp://h:1/path", "opc.tcp://h:65535",
                            "opc.tcp://[::1]:4840", "opc.tcp://[fe80::1]", "opc.tcp://10.0.0.1:48010/UA/Server"})
        EXPECT_NO_THROW(CheckEndpointUrl(url)) << url;
    for (const char* proxy : {"http://p", "http://user:pw@p:3128", "socks4://p:1080", "HTTP://p:80/"})
        EXPECT_NO_THROW(CheckProxyUrl(proxy)) << proxy;
}

TEST(CliArguments, NumbersAsTyped) {
    EXPECT_EQ(WholeNumber("--rate", "0", 0, 10), 0);
    EXPECT_EQ(WholeNumber("--x", "-7", -10, 10), -7);
    EXPECT_DOUBLE_EQ(Seconds("--seconds", "0.5"), 0.5);
    EXPECT_DOUBLE_EQ(Seconds("--seconds", ".25"), 0.25);
    EXPECT_DOUBLE_EQ(Seconds("--seconds", "90"), 90.0);
    for (const char* junk : {"", " 5", "5 ", "+5", "5ms", "0x10", "1_000"})
        EXPECT_THROW(WholeNumber("--rate", junk, 0, 100000), UsageError) << junk;
}

TEST(CliArguments, ItemFileLines) {
    EXPECT_EQ(ItemLines("\xEF\xBB\xBFns=1;s=A\r\n\n  # a comment\n#x\n\t ns=1;s=B \nns=1;s=C"),
              (std::vector<std::string>{"ns=1;s=A", "ns=1;s=B", "ns=1;s=C"}));
    EXPECT_TRUE(ItemLines("").empty());
    EXPECT_TRUE(ItemLines("\n\n# only\n").empty());
    EXPECT_EQ(ItemLines("ns=1;s=Grüße\n"), (std::vector<std::string>{"ns=1;s=Grüße"}));
}

}  // namespace
}  // namespace vela::cli
