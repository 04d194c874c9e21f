// The command-line client against node-opcua, as a user runs it.
#include <array>
#include <cstdio>

#include "tests/ua/da/DAClientFixture.h"

namespace vela::ua {
namespace {

std::string RunCli(const std::string& arguments) {
    std::string output;
    // a command line that starts with an environment setting names the program itself
    const std::string command = arguments.find('=') < arguments.find(' ') ? arguments : std::string(VELA_CLI) + " " + arguments;
    FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (!pipe) return output;
    std::array<char, 512> buffer;
    while (fgets(buffer.data(), buffer.size(), pipe)) output += buffer.data();
    pclose(pipe);
    return output;
}

using VelaCli = NodeOpcuaServer;

TEST_F(VelaCli, StatusReadWriteAndSubscribe) {
    EXPECT_NE(RunCli(url_ + " status").find("state:       Running"), std::string::npos);
    const std::string read = RunCli(url_ + " read 'ns=1;s=Demo.Static.Arrays.StringArray' 'ns=1;s=No.Such'");
    EXPECT_NE(read.find("ns=1;s=Demo.Static.Arrays.StringArray = [a, b, c]  quality 0x00000000 Good"), std::string::npos)
        << read;
    EXPECT_NE(read.find("ns=1;s=No.Such = (empty)  quality 0x80340000"), std::string::npos) << read;
    const std::string write = RunCli(url_ + " write 'ns=1;s=Demo.Static.Scalars.UInt16' 4711");
    EXPECT_NE(write.find("ns=1;s=Demo.Static.Scalars.UInt16 = 4711  quality 0x00000000 Good"), std::string::npos)
        << write;
    const std::string changes = RunCli(url_ + " subscribe 'ns=1;s=Demo.Dynamic.Fast' --rate 200 --seconds 2");
    EXPECT_NE(changes.find("change 3"), std::string::npos) << changes;
    EXPECT_NE(RunCli(url_ + " browse --depth 2").find("+ Demo  [ns=1;s=Demo]"), std::string::npos);
    EXPECT_EQ(RunCli(url_ + " browse 'ns=1;s=Demo.Static' --flat --filter '*Arrays.*'"),
              "ns=1;s=Demo.Static.Arrays.BooleanArray\nns=1;s=Demo.Static.Arrays.Int32Array\n"
              "ns=1;s=Demo.Static.Arrays.DoubleArray\nns=1;s=Demo.Static.Arrays.StringArray\n"
              "ns=1;s=Demo.Static.Arrays.DoubleMatrix\n");
    EXPECT_NE(RunCli("opc.tcp://127.0.0.1:1 status").find("error: "), std::string::npos);
}

// The password can stay off the command line: it comes from the environment (or the terminal).
TEST_F(VelaCli, PasswordFromTheEnvironment) {
    EXPECT_NE(RunCli("VELA_PASSWORD=secret " + std::string(VELA_CLI) + " " + url_ + " --user operator status").find("state:       Running"),
              std::string::npos);
    EXPECT_NE(RunCli(url_ + " --user operator --password wrong status").find("error: "), std::string::npos);
}

}  // namespace
}  // namespace vela::ua
