// The command-line client against node-opcua, as a user runs it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/ua/da/DAClientFixture.h"

namespace vela::ua {
namespace {

struct CliRun {
    std::string output;  // standard output and error
    int exit = -1;
};

// Runs vela_cli with the arguments (shell words); a command line that starts with an environment
// setting names the program itself.
CliRun RunCli(const std::string& arguments) {
    // the user's own certificate store stays untouched: the program's default goes to a scratch folder
    static const bool isolated = [] {
        return setenv("XDG_CONFIG_HOME", (::testing::TempDir() + "vela-cli-config-" + std::to_string(getpid())).c_str(), 1) == 0;
    }();
    (void)isolated;
    CliRun run;
    const std::string command =
        arguments.find('=') < arguments.find(' ') ? arguments : std::string(VELA_CLI) + " " + arguments;
    FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (!pipe) return run;
    std::array<char, 512> buffer;
    while (fgets(buffer.data(), buffer.size(), pipe)) run.output += buffer.data();
    const int status = pclose(pipe);
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Id(const std::string& path) { return "'ns=1;s=Demo." + path + "'"; }

std::string KeyPath(const std::string& name) { return std::string(VELA_KEYS_DIR) + "/" + name; }

std::string TempFile(const std::string& name, const std::string& content) {
    const std::string path = ::testing::TempDir() + "vela-cli-" + std::to_string(getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// A TCP listener that takes connections and never answers, until it is stopped or five seconds
// are up; then it closes them.
class SilentListener {
public:
    SilentListener() {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(socket_, 4) == 0 &&
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            std::vector<int> accepted;
            for (int waited = 0; waited < 5000 && !stop_; waited += 50) {
                pollfd ready{socket_, POLLIN, 0};
                if (poll(&ready, 1, 50) == 1) accepted.push_back(accept(socket_, nullptr, nullptr));
            }
            for (int s : accepted) close(s);
        });
    }
    ~SilentListener() {
        stop_ = true;
        thread_.join();
        close(socket_);
    }
    int Port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

using VelaCli = NodeOpcuaServer;

TEST_F(VelaCli, StatusReadWriteAndSubscribe) {
    const CliRun status = RunCli(url_ + " status");
    EXPECT_NE(status.output.find("state:       Running"), std::string::npos) << status.output;
    EXPECT_EQ(status.exit, 0);
    const CliRun read = RunCli(url_ + " read " + Id("Static.Arrays.StringArray") + " 'ns=1;s=No.Such'");
    EXPECT_NE(read.output.find("ns=1;s=Demo.Static.Arrays.StringArray = [a, b, c]  quality 0x00000000 Good  time 2"),
              std::string::npos)
        << read.output;
    EXPECT_NE(read.output.find("ns=1;s=No.Such: error 0x80340000 BadNodeIdUnknown (The node id refers to a node"),
              std::string::npos)
        << read.output;
    EXPECT_EQ(read.exit, 1);
    const CliRun write = RunCli(url_ + " write " + Id("Static.Scalars.UInt16") + " 4711");
    EXPECT_NE(write.output.find("ns=1;s=Demo.Static.Scalars.UInt16 written\n"
                                "ns=1;s=Demo.Static.Scalars.UInt16 = 4711  quality 0x00000000 Good"),
              std::string::npos)
        << write.output;
    EXPECT_EQ(write.exit, 0);
    const CliRun changes = RunCli(url_ + " subscribe " + Id("Dynamic.Fast") + " --rate 200 --seconds 2");
    EXPECT_NE(changes.output.find("subscribed to 1 item at 200 ms"), std::string::npos) << changes.output;
    EXPECT_NE(changes.output.find("change 3"), std::string::npos) << changes.output;
    EXPECT_EQ(changes.exit, 0);
    EXPECT_NE(RunCli(url_ + " browse --depth 2").output.find("+ Demo  [ns=1;s=Demo]"), std::string::npos);
    EXPECT_EQ(RunCli(url_ + " browse 'ns=1;s=Demo.Static' --flat --filter '*Arrays.*'").output,
              "ns=1;s=Demo.Static.Arrays.BooleanArray\nns=1;s=Demo.Static.Arrays.Int32Array\n"
              "ns=1;s=Demo.Static.Arrays.DoubleArray\nns=1;s=Demo.Static.Arrays.StringArray\n"
              "ns=1;s=Demo.Static.Arrays.DoubleMatrix\n");
    const CliRun refused = RunCli("opc.tcp://127.0.0.1:1 status");
    EXPECT_NE(refused.output.find("error: cannot connect to opc.tcp://127.0.0.1:1: "), std::string::npos);
    EXPECT_EQ(refused.exit, 3);
}

// The password can stay off the command line: it comes from the environment (or the terminal).
TEST_F(VelaCli, PasswordFromTheEnvironment) {
    // the password goes encrypted for the server's certificate, which has to be trusted
    const std::string pki = " --pki " + TrustStore();
    EXPECT_NE(RunCli("VELA_PASSWORD=secret " + std::string(VELA_CLI) + " " + url_ + pki + " --user operator status")
                  .output.find("state:       Running"),
              std::string::npos);
    const CliRun untrusted = RunCli(url_ + " --user operator --password secret status");
    EXPECT_NE(untrusted.output.find("is not trusted"), std::string::npos) << untrusted.output;
    EXPECT_NE(untrusted.output.find("vela_cli URL trust shows the certificate"), std::string::npos) << untrusted.output;
    const CliRun wrong = RunCli(url_ + pki + " --user operator --password wrong status");
    EXPECT_NE(wrong.output.find("error: cannot connect"), std::string::npos) << wrong.output;
    EXPECT_NE(wrong.output.find("0x801F0000 BadUserAccessDenied"), std::string::npos) << wrong.output;
    EXPECT_EQ(wrong.exit, 3);
}

TEST_F(VelaCli, UserCertificateLogin) {
    const CliRun run = RunCli(url_ + " --user-cert " + KeyPath("cert2048.der") + " --user-key " + KeyPath("key2048.pem") +
                           " read " + Id("Static.Scalars.Int16"));
    EXPECT_NE(run.output.find("ns=1;s=Demo.Static.Scalars.Int16 = "), std::string::npos) << run.output;
    EXPECT_EQ(run.exit, 0);
}

// What a person typed wrong is refused before anything is sent: the URL names a port where
// nothing listens, and each refusal comes with exit code 2, not a failed connect (3).
TEST(VelaCliUsage, RefusalsBeforeConnecting) {
    const std::string url = "opc.tcp://127.0.0.1:1";
    const struct {
        std::string arguments;
        const char* message;
    } cases[] = {
        {"", "vela_cli: no server URL given"},
        {"opc.tcp://127.0.0.1:99999 status", "the port 99999 is out of range (1..65535)"},
        {"http://127.0.0.1:1/DA status", "XML-DA (http:// and https:// URLs) is not available in this build"},
        {url + " frobnicate", "unknown command 'frobnicate'"},
        {url + " status --verbose", "unknown option --verbose"},
        {url + " subscribe x --rate abc", "--rate: 'abc' is not a whole number"},
        {url + " subscribe x --seconds 1,5", "--seconds: '1,5' is not a number of seconds"},
        {url + " status --timeout 10s", "--timeout: '10s' is not a whole number"},
        {url + " status --proxy socks5://127.0.0.1:1080", "--proxy: 'socks5://127.0.0.1:1080' is not a proxy URL"},
        {url + " status --proxy http://127.0.0.1:99999", "--proxy: Proxy error: bad port"},
        {url + " write x", "write needs an item id and a value"},
        {url + " read", "read needs at least one item id (or --items FILE)"},
        {url + " trust x", "trust takes no operands, not 'x'"},
        {url + " status --mode sign --cert /no/such.der --key /no/such.pem", "--cert: cannot read the file /no/such.der"},
        {url + " status --user-cert " + KeyPath("cert2048.der") + " --user-key /no/such.pem",
         "--user-key: cannot read the file /no/such.pem"},
        {url + " read --items /no/such.txt", "--items: cannot read the file /no/such.txt"},
        {url + " read --items " + TempFile("empty.txt", "# nothing\n\n"), "names no item (one id per line)"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(c.arguments);
        EXPECT_EQ(run.exit, 2) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find("vela_cli --help shows the usage"), std::string::npos) << run.output;
    }
    for (const char* help : {"--help", "-h", "opc.tcp://127.0.0.1:1 read x --help"}) {
        const CliRun run = RunCli(help);
        EXPECT_EQ(run.exit, 0) << help;
        EXPECT_EQ(run.output.rfind("usage: vela_cli URL [options] COMMAND [operands]\n", 0), 0u) << run.output;
        EXPECT_NE(run.output.find("exit codes: 0 done"), std::string::npos);
    }
}

// --timeout bounds the connect too: against a listener that stays silent for five seconds and
// then closes, a short time-out ends in a time-out, not in the closed connection.
TEST(VelaCliUsage, TheTimeoutBoundsTheConnect) {
    SilentListener listener;
    ASSERT_GT(listener.Port(), 0);
    const CliRun run = RunCli("opc.tcp://127.0.0.1:" + std::to_string(listener.Port()) + " --timeout 300 status");
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.output.find("receive timed out"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("is --timeout long enough?"), std::string::npos) << run.output;
}

TEST_F(VelaCli, ExitCodesAgreeWithTheReport) {
    const struct {
        std::string arguments;
        int exit;
        const char* report;
    } cases[] = {
        {"read " + Id("Static.Scalars.Int32") + " " + Id("Static.Scalars.Boolean"), 0, "Demo.Static.Scalars.Boolean = "},
        {"read " + Id("Static.Access.WriteOnly"), 1,
         "ns=1;s=Demo.Static.Access.WriteOnly: error 0x803A0000 BadNotReadable"},
        {"read " + Id("Static.Bad.SensorFailure"), 0, "quality 0x808C0000 BadSensorFailure"},
        {"read " + Id("Static.Bad.Uncertain"), 0, "quality 0x40900000 UncertainLastUsableValue"},
        {"subscribe 'ns=1;s=No.Such' --seconds 0.5", 1, "error: no item could be subscribed"},
        {"subscribe 'ns=1;s=No.Such' " + Id("Static.Scalars.Int32") + " --seconds 0.5", 1, "subscribed to 1 item at"},
        {"write " + Id("Static.Access.ReadOnly") + " 5", 1,
         "ns=1;s=Demo.Static.Access.ReadOnly: write failed: 0x803B0000 BadNotWritable (The access level does not "
         "allow writing to the Node.)"},
        {"write " + Id("Static.Scalars.Byte") + " 300", 1,
         "ns=1;s=Demo.Static.Scalars.Byte: write failed: 0xC004000B OPC_E_RANGE (The value was out of range.)"},
        {"write 'ns=1;s=No.Such' 5", 1, "ns=1;s=No.Such: error 0x80340000 BadNodeIdUnknown"},
        {"write " + Id("Static.Scalars.Double") + " 1,5", 2,
         "'1,5' is not a number (Double): write it without group separators, with '.' as the decimal point"},
        {"write " + Id("Static.Scalars.Int32") + " 12abc", 2, "'12abc' is not a whole number (Int32)"},
        {"write " + Id("Static.Scalars.DateTime") + " 2024-01-02T03:04:05", 2, "add Z for UTC or an offset"},
        {"write " + Id("Static.Arrays.Int32Array") + " 5", 2, "the item holds an array of Int32: write it as [a, b, c]"},
        {"write " + Id("Static.Access.WriteOnly") + " 5", 0, "ns=1;s=Demo.Static.Access.WriteOnly written"},
        {"write " + Id("Static.Bad.Uncertain") + " 6", 0,
         "ns=1;s=Demo.Static.Bad.Uncertain = 6  quality 0x40900000 UncertainLastUsableValue"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(url_ + " " + c.arguments);
        EXPECT_EQ(run.exit, c.exit) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.report), std::string::npos) << c.arguments << "\n" << run.output;
    }
    // a failed item is reported once, in one line
    const CliRun read = RunCli(url_ + " read 'ns=1;s=No.Such' " + Id("Static.Scalars.Int32"));
    EXPECT_EQ(read.output.find("ns=1;s=No.Such"), read.output.rfind("ns=1;s=No.Such")) << read.output;
    EXPECT_EQ(read.output.find("ns=1;s=No.Such: error"), 0u) << read.output;
    // a refused value leaves the item as it was
    RunCli(url_ + " write " + Id("Static.Scalars.Double") + " 2.5");
    RunCli(url_ + " write " + Id("Static.Scalars.Double") + " 1,5");
    EXPECT_NE(RunCli(url_ + " read " + Id("Static.Scalars.Double")).output.find("Double = 2.5  "), std::string::npos);
}

// What read prints, write takes back: each value written, read back by a second run, prints as
// it was typed (or in the printed form the table gives).
TEST_F(VelaCli, PrintedValuesWriteBack) {
    const struct {
        const char* item;
        const char* typed;
        const char* printed;
    } cases[] = {
        {"Static.Scalars.Double", "3.141592653589793", "3.141592653589793"},
        {"Static.Scalars.Double", "1.7976931348623157e+308", "1.7976931348623157e+308"},
        {"Static.Scalars.Double", "-1e-05", "-1e-05"},
        {"Static.Scalars.Float", "0.1", "0.1"},
        {"Static.Scalars.Int64", "-9223372036854775808", "-9223372036854775808"},
        {"Static.Scalars.UInt64", "18446744073709551615", "18446744073709551615"},
        {"Static.Scalars.Boolean", "false", "false"},
        {"Static.Scalars.DateTime", "2024-01-02T03:04:05.123Z", "2024-01-02T03:04:05.123Z"},
        {"Static.Scalars.DateTime", "2024-01-02T04:04:05+01:00", "2024-01-02T03:04:05.000Z"},
        {"Static.Scalars.DateTime", "no time", "no time"},
        {"Static.Scalars.ByteString", "0x0102ff", "0x0102ff"},
        {"Static.Scalars.ByteString", "base64:AQI=", "0x0102"},
        {"Static.Scalars.StatusCode", "BadTimeout", "0x800A0000 BadTimeout"},
        {"Static.Scalars.LocalizedText", "Grüße 漢字 €", "Grüße 漢字 €"},
        {"Static.Arrays.Int32Array", "[1,2,3]", "[1, 2, 3]"},
        {"Static.Arrays.DoubleArray", "[0.1, -2.5e-300]", "[0.1, -2.5e-300]"},
        {"Static.Arrays.BooleanArray", "[true, false]", "[true, false]"},
        {"Static.Arrays.StringArray", R"(["a, b", c, "", "say \"hi\""])", R"(["a, b", c, "", "say \"hi\""])"},
        {"Static.Arrays.StringArray", "[a, b, c]", "[a, b, c]"},
        {"Static.Range", "{low: -1.5, high: 250}", "{low: -1.5, high: 250}"},
        {"Static.Range", "{low: 0, high: 100}", "{low: 0, high: 100}"},
    };
    for (const auto& c : cases) {
        const std::string id = std::string("ns=1;s=Demo.") + c.item;
        const CliRun write = RunCli(url_ + " write '" + id + "' '" + c.typed + "'");
        EXPECT_EQ(write.exit, 0) << c.typed << "\n" << write.output;
        EXPECT_NE(write.output.find(id + " written\n"), std::string::npos) << write.output;
        const CliRun read = RunCli(url_ + " read '" + id + "'");
        EXPECT_NE(read.output.find(id + " = " + c.printed + "  quality 0x00000000 Good"), std::string::npos)
            << c.typed << "\n" << read.output;
    }
}

TEST_F(VelaCli, ServerStructuresAndMatricesPrintWhole) {
    const CliRun run = RunCli(url_ + " read i=2256 " + Id("Static.Arrays.DoubleMatrix"));
    EXPECT_NE(run.output.find("i=2256 = {startTime: 20"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(", state: Running, buildInfo: {productUri: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("productName: \"Vela test server\""), std::string::npos) << run.output;
    // a matrix prints nested when the value carries its dimensions, else as its elements in a row
    const bool nested = run.output.find("DoubleMatrix = [[1, 2, 3], [4, 5, 6]]") != std::string::npos;
    const bool flat = run.output.find("DoubleMatrix = [1, 2, 3, 4, 5, 6]") != std::string::npos;
    EXPECT_TRUE(nested || flat) << run.output;
}

TEST_F(VelaCli, ItemsFromAFile) {
    const std::string file = TempFile("items.txt",
                                      "# the items of a test\n\n"
                                      "ns=1;s=Demo.Static.Scalars.Int32\r\n"
                                      "  ns=1;s=No.Such  \n"
                                      "#ns=1;s=Demo.Static.Scalars.Boolean\n"
                                      "ns=1;s=Demo.Static.Scalars.String\n");
    const CliRun read = RunCli(url_ + " read " + Id("Static.Scalars.Byte") + " --items " + file);
    EXPECT_EQ(read.exit, 1);
    const size_t byte = read.output.find("ns=1;s=Demo.Static.Scalars.Byte = ");
    const size_t int32 = read.output.find("ns=1;s=Demo.Static.Scalars.Int32 = ");
    const size_t missing = read.output.find("ns=1;s=No.Such: error 0x80340000 BadNodeIdUnknown");
    const size_t string = read.output.find("ns=1;s=Demo.Static.Scalars.String = ");
    EXPECT_TRUE(byte < int32 && int32 < missing && missing < string && string != std::string::npos) << read.output;
    EXPECT_EQ(read.output.find("Boolean"), std::string::npos) << read.output;

    const std::string good = TempFile("good.txt", "ns=1;s=Demo.Dynamic.Fast\nns=1;s=Demo.Static.Scalars.Int32\n");
    const CliRun subscribe = RunCli(url_ + " subscribe --items " + good + " --rate 100 --seconds 0.5");
    EXPECT_EQ(subscribe.exit, 0) << subscribe.output;
    EXPECT_NE(subscribe.output.find("subscribed to 2 items at 100 ms"), std::string::npos) << subscribe.output;
    EXPECT_NE(subscribe.output.find("ns=1;s=Demo.Static.Scalars.Int32 = "), std::string::npos) << subscribe.output;
}

TEST_F(VelaCli, ALostServerEndsTheSubscriptionWithItsStatus) {
    testing_support::ChildProcess server;
    const int port = StartServer(server);
    ASSERT_GT(port, 0);
    FILE* cli = popen((std::string(VELA_CLI) + " opc.tcp://127.0.0.1:" + std::to_string(port) +
                       " subscribe 'ns=1;s=Demo.Dynamic.Fast' --rate 100 --seconds 60 2>&1")
                          .c_str(),
                      "r");
    ASSERT_NE(cli, nullptr);
    std::string output;
    std::array<char, 512> buffer;
    while (output.find("change 1") == std::string::npos && fgets(buffer.data(), buffer.size(), cli))
        output += buffer.data();
    server.Stop(SIGKILL);
    while (fgets(buffer.data(), buffer.size(), cli)) output += buffer.data();
    const int status = pclose(cli);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3) << output;
    EXPECT_NE(output.find("error: connection lost: 0x8"), std::string::npos) << output;
}

}  // namespace
}  // namespace vela::ua
