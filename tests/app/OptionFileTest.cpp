#include "app/OptionFile.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vela::app {
namespace {

constexpr char kOneServer[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<options protected="0" timeout="0">
  <serverlist>
    <server>
      <caption>Line 1</caption>
      <name>Plant.Line1.1</name>
      <clsid>{11111111-2222-3333-4444-555555555555}</clsid>
      <url>opc.tcp://plc:4840</url>
      <minupdaterate></minupdaterate>
      <waittime>  </waittime>
    </server>
  </serverlist>
</options>
)";

TEST(OptionFileReaders, MissingOrEmptyNumbersTakeTheReadersOwnDefaults) {
    const OptionServer startUp = ParseOptionFile(kOneServer, OptionReader::StartUp).servers.at(0);
    const OptionServer dialog = ParseOptionFile(kOneServer, OptionReader::Dialog).servers.at(0);
    const struct {
        const std::string OptionServer::* field;
        const char* startUp;
        const char* dialog;
    } cases[] = {
        {&OptionServer::minupdaterate, "500", "1000"}, {&OptionServer::waittime, "0", "10000"},
        {&OptionServer::holdtime, "0", "0"},           {&OptionServer::maxgroupcount, "0", "0"},
        {&OptionServer::proxy, "", ""},                {&OptionServer::securitymode, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(startUp.*c.field, c.startUp);
        EXPECT_EQ(dialog.*c.field, c.dialog);
    }
    EXPECT_EQ(startUp.caption, "Line 1");
    EXPECT_EQ(startUp.url, "opc.tcp://plc:4840");
}

TEST(OptionFileReaders, RootAttributes) {
    const OptionFile file = ParseOptionFile(kOneServer, OptionReader::StartUp);
    EXPECT_FALSE(file.IsProtected());
    ASSERT_TRUE(file.timeout);
    EXPECT_EQ(*file.timeout, "0");
    const struct {
        const char* root;
        bool isProtected;
        bool hasTimeout;
    } cases[] = {
        {R"(<options protected="1"/>)", true, false},
        {R"(<options protected="2" timeout="5000"/>)", false, true},
        {R"(<options protected=" 1"/>)", false, false},
        {R"(<options/>)", false, false},
    };
    for (const auto& c : cases) {
        const OptionFile parsed = ParseOptionFile(c.root, OptionReader::Dialog);
        EXPECT_EQ(parsed.IsProtected(), c.isProtected) << c.root;
        EXPECT_EQ(parsed.timeout.has_value(), c.hasTimeout) << c.root;
        EXPECT_TRUE(parsed.servers.empty());
    }
}

TEST(OptionFileReaders, RefuseWhatIsNoOptionFile) {
    std::string tooMany = "<options><serverlist>";
    for (size_t i = 0; i <= kMaxOptionServers; ++i) tooMany += "<server/>";
    tooMany += "</serverlist></options>";
    for (const std::string& text : {std::string(), std::string("<options><serverlist>"), std::string("<settings/>"),
                                    std::string("not xml at all"), tooMany})
        EXPECT_THROW(ParseOptionFile(text, OptionReader::StartUp), OptionFileError) << text.substr(0, 40);
}

OptionServer FullServer() {
    OptionServer server;
    server.caption = "Tank farm <east> & \"west\"";
    server.name = "Plant.Tanks.1";
    server.clsid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
    server.url = "opc.tcp://tanks:4840/ua";
    server.proxy = "";
    server.user = "operator";
    server.pass = "s3cret";
    server.minupdaterate = "250";
    server.waittime = "10000";
    server.holdtime = "0";
    server.maxgroupcount = "12";
    server.securitymode = "SignAndEncrypt";
    server.securitypolicy = "Basic256Sha256";
    server.certfile = "C:\\pki\\gateway.der";
    server.keyfile = "C:\\pki\\gateway.pem";
    server.uauser = "Grüße";
    server.uapass = "pa<ss>";
    return server;
}

TEST(OptionFileWriting, WhatIsWrittenReadsBackWithUnknownElementsKept) {
    OptionServer full = FullServer();
    xml::XmlElement note;
    note.name = note.localName = "note";
    note.text = "kept by the site's installer";
    full.unknown.push_back(note);
    OptionServer plain;
    plain.caption = "Plain";
    plain.name = "Plant.Plain.1";
    plain.clsid = "{00000000-0000-0000-0000-000000000001}";
    plain.url = "http://xmlda/opc";
    plain.minupdaterate = "1000";
    plain.waittime = "10000";
    plain.holdtime = "0";
    plain.maxgroupcount = "0";

    const std::string text = FormatOptionFile({full, plain}, 15000);
    const OptionFile file = ParseOptionFile(text, OptionReader::Dialog);
    EXPECT_EQ(file.protectedText, "0");
    EXPECT_EQ(file.timeout.value_or(""), "15000");
    ASSERT_EQ(file.servers.size(), 2u);
    EXPECT_EQ(ServerFields(file.servers[0]), ServerFields(full));
    ASSERT_EQ(file.servers[0].unknown.size(), 1u);
    EXPECT_EQ(file.servers[0].unknown[0].text, "kept by the site's installer");
    EXPECT_EQ(ServerFields(file.servers[1]), ServerFields(plain));

    // the eleven elements in their fixed order; UA elements only where given
    const xml::XmlElement root = xml::ParseXml(text);
    const auto names = [](const xml::XmlElement& server) {
        std::vector<std::string> list;
        for (const xml::XmlElement& child : server.children) list.push_back(child.localName);
        return list;
    };
    const std::vector<std::string> eleven = {"caption", "name",          "clsid",    "url",
                                             "proxy",   "user",          "pass",     "minupdaterate",
                                             "waittime", "holdtime",     "maxgroupcount"};
    EXPECT_EQ(names(root.Child("serverlist")->children.at(1)), eleven);
    EXPECT_EQ(root.Child("serverlist")->children.at(0).children.size(), eleven.size() + 6 + 1);
}

TEST(OptionFileWriting, WhatTheListDoesNotHoldIsKeptOrTheFileIsNotSavedOver) {
    const char* text = R"(<options protected="0" site="north" xmlns:v="urn:vendor">
  <serverlist version="2">
    <server><caption>C</caption><name>P.C.1</name><clsid>{00000000-0000-0000-0000-000000000001}</clsid>
      <url>opc.tcp://c</url><v:note>kept</v:note></server>
  </serverlist>
  <settings><trace>on</trace></settings>
</options>)";
    const OptionFile file = ParseOptionFile(text, OptionReader::StartUp);
    EXPECT_TRUE(file.unsavable.empty());
    const OptionFile again = ParseOptionFile(FormatOptionFile(file.servers, 15000, &file), OptionReader::StartUp);
    ASSERT_EQ(again.otherRootAttributes.size(), 2u);  // site and the namespace declaration
    const auto site = std::find_if(again.otherRootAttributes.begin(), again.otherRootAttributes.end(),
                                   [](const xml::XmlAttribute& a) { return a.name == "site"; });
    ASSERT_NE(site, again.otherRootAttributes.end());
    EXPECT_EQ(site->value, "north");
    ASSERT_EQ(again.otherRootElements.size(), 1u);
    EXPECT_EQ(again.otherRootElements[0].Child("trace")->text, "on");
    ASSERT_EQ(again.serverListAttributes.size(), 1u);
    ASSERT_EQ(again.servers.at(0).unknown.size(), 1u);
    EXPECT_EQ(again.servers[0].unknown[0].namespaceUri, "urn:vendor");

    for (const char* unsavable :
         {"<options><serverlist><server><pass encoding=\"base64\">cw==</pass></server></serverlist></options>",
          "<options><serverlist><server><url>a</url><url>b</url></server></serverlist></options>"}) {
        const OptionFile odd = ParseOptionFile(unsavable, OptionReader::Dialog);
        EXPECT_FALSE(odd.unsavable.empty()) << unsavable;
        EXPECT_THROW(FormatOptionFile(odd.servers, 15000, &odd), OptionFileError);
    }
    OptionServer control = FullServer();
    control.caption = "a\x01b";  // XML 1.0 cannot carry it: refused, not thrown through
    EXPECT_THROW(FormatOptionFile({control}, 15000), OptionFileError);
}

TEST(OptionFileWriting, FilePaths) {
    EXPECT_EQ(OptionFilePath("C:\\Program Files\\Vela\\vela_gateway.exe"), "C:\\Program Files\\Vela\\vela_gateway.dat");
    EXPECT_EQ(PendingOptionFilePath("C:\\Program Files\\Vela\\vela_gateway.exe"),
              "C:\\Program Files\\Vela\\vela_gateway.new");
    EXPECT_EQ(OptionFilePath("C:\\v1.2\\gateway"), "C:\\v1.2\\gateway.dat");
    EXPECT_EQ(OptionFilePath("/opt/vela/gw.bin.exe"), "/opt/vela/gw.bin.dat");
}

TEST(OptionFileValidation, EachRowIsCheckedAndTheLastFailingCheckIsReported) {
    const struct {
        void (*change)(OptionServer&);
        const char* message;
    } cases[] = {
        {[](OptionServer& s) { s.caption = "  "; }, "server caption could not be empty"},
        {[](OptionServer& s) { s.caption = ""; s.name = " "; }, "server name could not be empty"},
        {[](OptionServer& s) { s.clsid = ""; }, "class id could not be empty"},
        {[](OptionServer& s) { s.clsid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}"; },
         "class id '{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}' is no GUID"},
        {[](OptionServer& s) { s.caption = ""; s.url = ""; }, "server url could not be empty"},
        {[](OptionServer& s) { s.minupdaterate = "-1"; }, "min update rate must > 0"},
        {[](OptionServer& s) { s.waittime = "-5"; s.minupdaterate = "-1"; }, "wait time must > 0"},
        {[](OptionServer& s) { s.holdtime = "-1"; }, "hold time must > 0"},
        {[](OptionServer& s) { s.holdtime = "1.5"; s.caption = ""; }, "'1.5' is not a valid integer value"},
        {[](OptionServer& s) { s.maxgroupcount = "2147483648"; }, "'2147483648' is not a valid integer value"},
        {[](OptionServer& s) { s.securitymode = "SignAndEncrpyt"; }, "security mode 'SignAndEncrpyt' is unknown"},
        {[](OptionServer& s) { s.securitypolicy = "None"; }, "security mode SignAndEncrypt needs a security policy"},
        {[](OptionServer& s) { s.keyfile = ""; }, "the client certificate and key files go together"},
        {[](OptionServer& s) { s.trustfirstuse = "yes"; }, "trustfirstuse 'yes' is neither 0 nor 1"},
        {[](OptionServer& s) { s.usercertfile = "u.der"; s.userkeyfile = "u.pem"; }, "exclude each other"},
        {[](OptionServer& s) { s.name = "CLSID"; s.caption = " "; }, "server caption could not be empty"},
        {[](OptionServer& s) { s.name = "CLSID\\{00000000-0000-0000-C000-000000000046}"; }, "is no ProgID"},
        {[](OptionServer& s) { s.name = "1Plant.Line"; }, "is no ProgID"},
        {[](OptionServer& s) { s.name = std::string(40, 'a'); }, "is no ProgID"},
        {[](OptionServer& s) { s.name = "Plant.Line=1"; }, "is no ProgID"},
        {[](OptionServer& s) { s.caption = "Line\n2. Fake"; }, "caption holds a control character"},
        {[](OptionServer& s) { s.waittime = "+-5"; }, "'+-5' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        OptionServer server = FullServer();
        c.change(server);
        const std::string message = ValidateServers({FullServer(), server});
        EXPECT_EQ(message.rfind("Input error item 2, server caption: " + server.caption + "\r\n", 0), 0u) << message;
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
    EXPECT_EQ(ValidateServer(FullServer()), "");
    OptionServer blankNumbers = FullServer();
    blankNumbers.minupdaterate = " 0 ";
    EXPECT_EQ(ValidateServer(blankNumbers), "");
}

TEST(OptionFileValidation, AClassIdOrProgIdListedTwiceIsRefused) {
    OptionServer second = FullServer();
    second.name = "Plant.Other.1";
    second.clsid = "{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}";
    EXPECT_NE(ValidateServers({FullServer(), second}).find("is used by an earlier server"), std::string::npos);
    second = FullServer();
    second.clsid = "{00000000-0000-0000-0000-000000000002}";
    second.name = "plant.tanks.1";
    EXPECT_NE(ValidateServers({FullServer(), second}).find("is used by an earlier server"), std::string::npos);
}

TEST(OptionFileUA, ElementsBecomeTheConnectionsOptions) {
    EXPECT_TRUE(OptionServer{}.UAConnectionOptions().empty());
    EXPECT_EQ(FullServer().UAConnectionOptions(),
              (TStrings{"ua-securitymode=3", "ua-securitypolicy=4", "ua-cert-file=C:\\pki\\gateway.der",
                        "ua-pkey-file=C:\\pki\\gateway.pem", "ua-usermode=1", "ua-user=Grüße", "ua-pass=pa<ss>"}));
    OptionServer signOnly;
    signOnly.securitymode = "sign";
    signOnly.usercertfile = "user.der";
    signOnly.userkeyfile = "user.pem";
    EXPECT_EQ(signOnly.UAConnectionOptions(),
              (TStrings{"ua-securitymode=2", "ua-securitypolicy=4", "ua-usermode=2", "ua-user=user.der",
                        "ua-data=user.pem", "ua-pass="}));
}

TEST(OptionFileAssignments, SetByElementNameOrRefused) {
    OptionServer server;
    ApplyServerAssignments(server, {"Caption=Boiler = 2", "url=opc.tcp://b:4840", "SECURITYMODE=None"});
    EXPECT_EQ(server.caption, "Boiler = 2");
    EXPECT_EQ(server.url, "opc.tcp://b:4840");
    EXPECT_EQ(server.securitymode, "None");
    EXPECT_THROW(ApplyServerAssignments(server, {"colour=red"}), OptionFileError);
    EXPECT_THROW(ApplyServerAssignments(server, {"caption"}), OptionFileError);
}

}  // namespace
}  // namespace vela::app
