#include <gtest/gtest.h>

#include "InMemoryProtocol.h"
#include "toolkit/ConnectionOptions.h"
#include "toolkit/ConnectionRegistry.h"
#include "toolkit/OPCResultTexts.h"
#include "toolkit/VelaExceptions.h"

namespace vela::testdouble {
namespace {

struct Detection {
    const char* url;
    tVelaConnectionType current;
    tVelaConnectionType expected;
};

void PrintTo(const Detection& c, std::ostream* os) { *os << c.url; }

class ProtocolByUrl : public ::testing::TestWithParam<Detection> {};

TEST_P(ProtocolByUrl, ChoosesTheConnectionType) {
    EXPECT_EQ(DetectConnectionType(GetParam().url, GetParam().current), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProtocolByUrl,
    ::testing::Values(Detection{"opc.tcp://host:4840", coXML, coUA},
                      Detection{"OPC.TCP://HOST:4840/UA", coCOM, coUA},  // the test is on the lower-cased name
                      Detection{"http://host/xmlda", coCOM, coXML},
                      Detection{"HTTP://HOST/XMLDA", coUA, coXML},
                      Detection{"https://host/xmlda", coXML, coXML},     // neither pattern: the type stays
                      Detection{"https://host/xmlda", coCOM, coCOM},
                      Detection{"Vendor.Server.1", coCOM, coCOM},
                      Detection{"", coUA, coUA}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ClearConnectionRegistry(); }
    void TearDown() override { ClearConnectionRegistry(); }
};

TEST_F(Registry, EmptyRegistryHasNoDefault) {
    try {
        DefaultConnectionType();
        FAIL();
    } catch (const EOPCException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "No default connection registered add VelaXMLLink, VelaCOMLink or VelaUALink in uses clause");
    }
    EXPECT_FALSE(FindConnectionClass(coXML, false).has_value());
    EXPECT_THROW(FindConnectionClass(coXML, true), EOPCException);
}

TEST_F(Registry, TheFirstRecordIsTheDefaultAndStaysInForce) {
    TIFRegisterClass first;
    first.Connectiontype = coCOM;
    first.IFGetServerNames = [](const std::string&, std::string& caption, std::string&) { caption = "first"; };
    TIFRegisterClass second = first;
    second.IFGetServerNames = [](const std::string&, std::string& caption, std::string&) { caption = "second"; };
    EXPECT_TRUE(RegisterConnectionClass(first));
    EXPECT_FALSE(RegisterConnectionClass(second));
    RegisterInMemoryProtocol(coXML);
    RegisterInMemoryProtocol(coUA);
    EXPECT_EQ(DefaultConnectionType(), coCOM);
    std::string caption, classId;
    ConnectionServerNames(coCOM, "x", caption, classId);
    EXPECT_EQ(caption, "first");
    EXPECT_TRUE(IsConnectionRegistered(coUA));
}

TEST_F(Registry, MissingProtocolNamesItsModule) {
    RegisterInMemoryProtocol(coXML);
    try {
        CheckProtocolRegistered(coUA);
        FAIL();
    } catch (const EOPCException& e) {
        EXPECT_EQ(std::string(e.what()), "Protocol not supported (add VelaUALink in uses clause)");
    }
    try {
        FindConnectionClass(coCOM, true);
        FAIL();
    } catch (const EOPCException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Connection not registered\r\nadd VelaXMLLink, VelaCOMLink or VelaUALink in uses clause");
    }
}

TEST(ConnectionOptions, NewListsHoldTwelveEmptyEntriesInOrder) {
    const TStrings options = DefaultConnectionOptions();
    ASSERT_EQ(options.size(), 12u);
    EXPECT_EQ(options.front(), "xml-user=");
    EXPECT_EQ(options[3], "ua-usermode=");
    EXPECT_EQ(options.back(), "ua-securitypolicy=");
}

TEST(ConnectionOptions, ValuesAreTrimmedAndNamesMatchWithoutCase) {
    TStrings options = {"xml-user= bob ", "UA-SecurityMode=3"};
    EXPECT_EQ(OptionValue(options, "xml-user"), "bob");
    EXPECT_EQ(OptionValue(options, "ua-securitymode"), "3");
    EXPECT_EQ(OptionValue(options, "missing"), "");
    SetOptionValue(options, "xml-user", "alice");
    SetOptionValue(options, "new", "1");
    EXPECT_EQ(options[0], "xml-user=alice");
    EXPECT_EQ(options.back(), "new=1");
}

TEST(ConnectionOptions, ProtocolPrefixes) {
    EXPECT_EQ(ProtocolOptionName(coUA, "user"), "ua-user");
    EXPECT_EQ(ProtocolOptionName(coUA, "ua-user"), "ua-user");
    EXPECT_EQ(ProtocolOptionName(coXML, "user"), "xml-user");
    EXPECT_EQ(ProtocolOptionName(coXML, "xml-proxy"), "xml-proxy");
    EXPECT_EQ(ProtocolOptionName(coCOM, "user"), "user");
}

TEST(OPCResultTexts, KnownAndUnknownCodes) {
    EXPECT_EQ(OPCResultTextOrUnknown(static_cast<int32_t>(0xC004000C)), "Duplicate name not allowed.");
    EXPECT_EQ(OPCResultTextOrUnknown(0x0004000D),
              "The server does not support the requested data rate\r\nbut will use the closest available rate.");
    EXPECT_EQ(OPCResultTextOrUnknown(123), "unknown errorcode: 123");
    EXPECT_FALSE(OPCResultText(0).has_value());
}

TEST(VelaTypes, ServerTypeAndStateTexts) {
    EXPECT_EQ(ServerTypeName(5), "OPC UA 1 Server ");
    EXPECT_EQ(ServerTypeName(9), "unknown");
    EXPECT_EQ(ServerStateText(coUA, 0), "running");
    EXPECT_EQ(ServerStateText(coUA, 4), "shutdown");
    EXPECT_EQ(ServerStateText(coXML, 0), "none");
    EXPECT_EQ(ServerStateText(coCOM, 6), "commFault");
    EXPECT_EQ(ServerStateText(coXML, 7), "unknown");
    EXPECT_EQ(ServerStateText(coUA, -1), "unknown");
}

}  // namespace
}  // namespace vela::testdouble
