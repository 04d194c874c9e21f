#include <gtest/gtest.h>

#include "ua/uaBuiltinTypes.h"

namespace vela::ua {
namespace {

struct NodeIdText {
    const char* text;
    uint16_t ns;
    uaIdType type;
    const char* printed;
};

void PrintTo(const NodeIdText& c, std::ostream* os) { *os << c.text; }

class NodeIdTexts : public ::testing::TestWithParam<NodeIdText> {};

TEST_P(NodeIdTexts, ParseAndPrint) {
    const uaNodeId id = uaNodeId::Parse(GetParam().text);
    EXPECT_EQ(id.fNameSpaceIndex, GetParam().ns);
    EXPECT_EQ(id.IdentifierType(), GetParam().type);
    EXPECT_EQ(id.ToString(), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NodeIdTexts,
    ::testing::Values(NodeIdText{"ns=3;i=1001", 3, itNumeric, "ns=3;i=1001"},
                      NodeIdText{"i=85", 0, itNumeric, "ns=0;i=85"},
                      NodeIdText{"ns=2;s=A;B=C", 2, itString, "ns=2;s=A;B=C"},
                      NodeIdText{"b=0A1B", 0, itOpaque, "ns=0;b=0A1B"},
                      // the standard base64 form is read; what is valid hex stays hex
                      NodeIdText{"ns=1;b=AQID", 1, itOpaque, "ns=1;b=010203"},
                      NodeIdText{"ns=1;b=AQI=", 1, itOpaque, "ns=1;b=0102"},
                      NodeIdText{"ns=1;b=/w==", 1, itOpaque, "ns=1;b=FF"},
                      NodeIdText{"ns=1;b=", 1, itOpaque, "ns=1;b="},
                      NodeIdText{"MyTag", 0, itString, "ns=0;s=MyTag"},
                      NodeIdText{"Channel1.Device1.Tag1", 0, itString, "ns=0;s=Channel1.Device1.Tag1"},
                      NodeIdText{"ns=2;Tag1", 2, itString, "ns=2;s=Tag1"},
                      NodeIdText{"0", 0, itString, "ns=0;s=0"},
                      NodeIdText{"ns=1;g={01234567-89AB-CDEF-0123-456789ABCDEF}", 1, itGuid,
                                 "ns=1;g={01234567-89AB-CDEF-0123-456789ABCDEF}"},
                      NodeIdText{"ns=1;g=5CE9DBCE-5D79-434C-9AC3-1CFBA9A6E92C", 1, itGuid,
                                 "ns=1;g={5CE9DBCE-5D79-434C-9AC3-1CFBA9A6E92C}"},
                      NodeIdText{"ns=4;i=4294967295", 4, itNumeric, "ns=4;i=4294967295"}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

TEST(NodeId, BadTextsRaise) {
    for (const char* text : {"i=-1", "i=4294967296", "i=", "i=12x"}) {
        try {
            uaNodeId::Parse(text);
            FAIL() << text;
        } catch (const uaConversionError& e) {
            EXPECT_EQ(std::string(e.what()), "Invalid Integer") << text;
        }
    }
    try {
        uaNodeId::Parse("ns=2 i=5");
        FAIL();
    } catch (const uaConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "delimiter (;) not found.");
    }
    EXPECT_THROW(uaNodeId::Parse("ns=x;i=5"), uaConversionError);
    EXPECT_THROW(uaNodeId::Parse("ns=70000;i=5"), uaConversionError);
    EXPECT_THROW(uaNodeId::Parse("g={nope}"), uaConversionError);
    // neither hex nor base64: nothing is dropped or guessed
    for (const char* text : {"b=0G", "b=0A1", "b=AQI", "b=AQ=I", "b=AR==", "b=A===", "b=AQ I"})
        EXPECT_THROW(uaNodeId::Parse(text), uaConversionError) << text;
}

TEST(NodeId, TrimmingIsTheCallersChoice) {
    EXPECT_EQ(uaNodeId::Parse("  ns=2;i=5 ", true).ToString(), "ns=2;i=5");
    // without the trim the blank hides the namespace part: the whole text is a string id
    EXPECT_EQ(uaNodeId::Parse(" ns=2;i=5").IdentifierType(), itString);
}

TEST(NodeId, NullTestsAndNumbers) {
    EXPECT_TRUE(uaNodeId().IsNullNodeId());
    EXPECT_TRUE(uaNodeId(std::string(), 0).IsNullNodeId());
    EXPECT_TRUE(uaNodeId(uaGuid{}, 0).IsNullNodeId());
    EXPECT_TRUE(uaNodeId(uaByteString{}, 0).IsNullNodeId());
    EXPECT_FALSE(uaNodeId(0u, 1).IsNullNodeId());
    EXPECT_EQ(uaNodeId(631u).IdAsNumber(), 631u);
    try {
        uaNodeId(std::string("x"), 0).IdAsNumber();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Object type is not numeric");
    }
}

TEST(ExpandedNodeId, TextFormRoundTrips) {
    uaExpandedNodeId id;
    id.fNodeId = uaNodeId(5u, 2);
    id.fNamespaceUri = "urn:plant";
    id.fServerIndex = 3;
    EXPECT_EQ(id.ToString(), "ns=2;i=5;nsu=urn:plant;svr=3");
    EXPECT_EQ(uaExpandedNodeId::Parse(id.ToString()), id);
    const uaExpandedNodeId s = uaExpandedNodeId::Parse("ns=1;s=A;B; svr=x");
    EXPECT_EQ(s.fNodeId.ToString(), "ns=1;s=A;B");
    EXPECT_EQ(s.fServerIndex, 0u);  // an invalid number gives 0
}

TEST(BuiltinTexts, LocalizedTextQualifiedNameAndExtensionObject) {
    EXPECT_EQ((uaLocalizedText{"en", "Hello"}.ToString()), "Hello:l=en");
    EXPECT_EQ((uaLocalizedText{"", "Hello"}.ToString()), "Hello");
    EXPECT_EQ((uaQualifiedName{2, "Temp"}.ToString()), "Temp");
    uaExtensionObject eo;
    EXPECT_EQ(eo.ToString(), "");
    eo.fTypeId = uaExpandedNodeId{uaNodeId(811u), "", 0};
    eo.fEncoding = uaExtensionObject::eo_BinaryBody;
    EXPECT_EQ(eo.ToString(), "ns=0;i=811,Binary,,0");
    EXPECT_EQ(eo.ObjectNumber(), 811u);
}

TEST(Guid, TextRoundTrip) {
    const uaGuid g = uaGuid::Parse("{72962B91-FA75-4AE6-8D28-B404DC7DAF63}");
    EXPECT_EQ(g.Data1, 0x72962B91u);
    EXPECT_EQ(g.Data4[7], 0x63);
    EXPECT_EQ(g.ToString(), "{72962B91-FA75-4AE6-8D28-B404DC7DAF63}");
    EXPECT_THROW(uaGuid::Parse("72962B91-FA75-4AE6-8D28-B404DC7DAF63"), uaConversionError);
}

TEST(Variant, RanksAndDimensions) {
    uaVariant a = uaVariant::Array(bit_Int32, {int32_t{1}, int32_t{2}});
    EXPECT_TRUE(a.IsArray());
    EXPECT_FALSE(a.IsArray2d());
    a.SetDimensions({});
    EXPECT_EQ(a.fType.fValueRank, 1);
    a.SetDimensions({1, 2});
    EXPECT_TRUE(a.IsArray2d());
    EXPECT_FALSE(uaVariant().HasValue());
    EXPECT_THROW(uaVariant::Scalar(bit_Int32, std::string("x")), Exception);
}

}  // namespace
}  // namespace vela::ua
