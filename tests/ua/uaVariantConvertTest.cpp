#include <gtest/gtest.h>

#include "ua/uaVariantConvert.h"

namespace vela::ua {
namespace {

TEST(UaToItem, ScalarsAndArrays) {
    EXPECT_EQ(ToVariant(uaVariant::Array(bit_Int32, {int32_t{1}, int32_t{2}, int32_t{3}})),
              Variant::FromElements(vtI4, {Variant(1), Variant(2), Variant(3)}));
    EXPECT_EQ(ToVariant(uaVariant::Scalar(bit_UInt32, uint32_t{3000000000u})), Variant(3000000000u));
    EXPECT_EQ(ToVariant(uaVariant::Scalar(bit_StatusCode, uint32_t{0x80000000u})), Variant(2147483648u));
    EXPECT_EQ(ToVariant(uaVariant::Scalar(bit_LocalizedText, uaLocalizedText{"en", "Hi"})), Variant("Hi"));
    EXPECT_EQ(ToVariant(uaVariant::Scalar(bit_NodeId, uaNodeId(85u))), Variant("ns=0;i=85"));
    EXPECT_EQ(ToVariant(uaVariant::Scalar(bit_DateTime, 45000.5)), Variant::FromDate(45000.5));
    EXPECT_TRUE(ValueToVariant(uaDataValue{}).IsNull());
    EXPECT_TRUE(ToVariant(std::optional<uaVariant>()).IsNull());
    uaExtensionObject none;
    EXPECT_EQ(ToVariant(uaVariant::Scalar(bit_ExtensionObject, none)), Variant("none body"));
    const Variant bytes = ToVariant(uaVariant::Scalar(bit_ByteString, uaByteString{1, 2}));
    EXPECT_EQ(bytes.Type(), vtArray | vtUI1);
}

TEST(UaToItem, Texts) {
    EXPECT_EQ(VariantText(uaVariant::Array(bit_Int32, {int32_t{1}, int32_t{2}, int32_t{3}})), "[1 | 2 | 3]");
    EXPECT_EQ(VariantText(uaVariant::Array(bit_Int32, {})), "[]");
    EXPECT_EQ(VariantText(uaVariant::Scalar(bit_Double, 2.5)), "2.5");
}

TEST(ItemToUa, TypesOfItemValues) {
    EXPECT_EQ(VariantToUADatatype(Variant(1)), bit_Int32);
    EXPECT_EQ(VariantToUADatatype(Variant(Currency{1})), bit_Double);
    EXPECT_EQ(VariantToUADatatype(Variant("x")), bit_String);
    EXPECT_EQ(VariantToUADatatype(Variant::FromElements(vtR8, {Variant(1.0)})), bit_Double);
    try {
        VariantToUADatatype(Variant(Decimal{}));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "data type not supported as variant");
    }
    EXPECT_THROW(VariantToUADatatype(Variant::FromInt(1)), Exception);
}

TEST(ItemToUa, WritesTakeTheNodesType) {
    EXPECT_FALSE(CreateUaVariant(Variant::Null(), bit_Int32).has_value());
    EXPECT_EQ(CreateUaVariant(Variant("2.5"), bit_Double), uaVariant::Scalar(bit_Double, 2.5));
    EXPECT_EQ(CreateUaVariant(Variant(" ns=2;s=Tag "), bit_NodeId), uaVariant::Scalar(bit_NodeId, uaNodeId(std::string("Tag"), 2)));
    const Variant bytes = Variant::FromElements(vtUI1, {Variant(uint8_t{1}), Variant(uint8_t{2})});
    EXPECT_EQ(CreateUaVariant(bytes, bit_ByteString), uaVariant::Scalar(bit_ByteString, uaByteString{1, 2}));
    const Variant manyBytes = Variant::FromElements(vtVARIANT, {bytes, bytes});
    const auto strings = CreateUaVariant(manyBytes, bit_ByteString);
    ASSERT_TRUE(strings);
    EXPECT_TRUE(strings->IsArray());
    EXPECT_EQ(strings->fArray.size(), 2u);
    EXPECT_EQ(CreateUaVariant(Variant::FromElements(vtI4, {Variant(1), Variant(2)}), bit_Int16),
              uaVariant::Array(bit_Int16, {int16_t{1}, int16_t{2}}));
    EXPECT_THROW(CreateUaVariant(Variant(1), bit_DataValue), Exception);
    EXPECT_THROW(CreateUaVariant(Variant("not a guid"), bit_Guid), uaConversionError);
    EXPECT_THROW(CreateUaVariant(Variant("abc"), bit_Int32), VariantError);
}

// A value the node's type cannot hold is refused as an overflow, never cut or wrapped.
TEST(ItemToUa, ValuesOutsideTheNodesTypeAreRefused) {
    struct Case {
        Variant value;
        uaBuildInType type;
    };
    const Case outside[] = {
        {Variant(300), bit_Byte},
        {Variant("256"), bit_Byte},
        {Variant(-1), bit_Byte},
        {Variant(-129), bit_SByte},
        {Variant("128"), bit_SByte},
        {Variant(40000), bit_Int16},
        {Variant(-1), bit_UInt16},
        {Variant(int16_t{-1}), bit_UInt16},  // same width: OLE would take the bit pattern
        {Variant(int64_t{4294967296}), bit_UInt32},
        {Variant("4294967296"), bit_UInt32},
        {Variant(int64_t{-1}), bit_StatusCode},
        {Variant(uint32_t{2147483648u}), bit_Int32},
        {Variant(uint64_t{9223372036854775808u}), bit_Int64},
        {Variant(-1), bit_UInt64},
        {Variant(1e39), bit_Float},
        {Variant("-1e39"), bit_Float},
        {Variant(1e10), bit_Int32},
        {Variant::FromElements(vtI4, {Variant(1), Variant(256)}), bit_ByteString},
        {Variant::FromElements(vtI4, {Variant(1), Variant(70000)}), bit_UInt16},
    };
    for (size_t i = 0; i < std::size(outside); ++i) {
        const Case& c = outside[i];
        SCOPED_TRACE("case " + std::to_string(i));
        try {
            CreateUaVariant(c.value, c.type);
            FAIL() << "taken";
        } catch (const VariantError& e) {
            EXPECT_EQ(e.Code(), kDispEOverflow);
        }
    }
}

TEST(ItemToUa, ValuesAtTheEdgesOfTheNodesTypeAreTaken) {
    EXPECT_EQ(CreateUaVariant(Variant(255), bit_Byte), uaVariant::Scalar(bit_Byte, uint8_t{255}));
    EXPECT_EQ(CreateUaVariant(Variant("-128"), bit_SByte), uaVariant::Scalar(bit_SByte, int8_t{-128}));
    EXPECT_EQ(CreateUaVariant(Variant(uint16_t{32767}), bit_Int16), uaVariant::Scalar(bit_Int16, int16_t{32767}));
    EXPECT_EQ(CreateUaVariant(Variant(int32_t{65535}), bit_UInt16), uaVariant::Scalar(bit_UInt16, uint16_t{65535}));
    EXPECT_EQ(CreateUaVariant(Variant("4294967295"), bit_UInt32), uaVariant::Scalar(bit_UInt32, uint32_t{4294967295u}));
    // a status code read (as an unsigned number) can be written back
    EXPECT_EQ(CreateUaVariant(Variant("2147483648"), bit_StatusCode),
              uaVariant::Scalar(bit_StatusCode, uint32_t{0x80000000u}));
    EXPECT_EQ(CreateUaVariant(Variant(uint32_t{0x808C0000u}), bit_StatusCode),
              uaVariant::Scalar(bit_StatusCode, uint32_t{0x808C0000u}));
    // a status code is a bit field: a client with signed integers only gives the high codes negative
    EXPECT_EQ(CreateUaVariant(Variant(static_cast<int32_t>(0x80340000u)), bit_StatusCode),
              uaVariant::Scalar(bit_StatusCode, uint32_t{0x80340000u}));
    EXPECT_EQ(CreateUaVariant(Variant("18446744073709551615"), bit_UInt64),
              uaVariant::Scalar(bit_UInt64, uint64_t{18446744073709551615u}));
    EXPECT_EQ(CreateUaVariant(Variant(3.4028234663852886e38), bit_Float),
              uaVariant::Scalar(bit_Float, 3.4028234663852886e38f));
    EXPECT_EQ(CreateUaVariant(Variant(2.5), bit_Byte), uaVariant::Scalar(bit_Byte, uint8_t{2}));  // half to even
}

TEST(ItemToUa, DefaultValues) {
    EXPECT_EQ(createNullScalar(bit_Boolean), uaVariant::Scalar(bit_Boolean, false));
    EXPECT_EQ(createNullScalar(bit_NodeId)->fScalar, uaScalar(uaNodeId(std::string("0"), 0)));
    EXPECT_FALSE(createNullScalar(bit_null).has_value());
    EXPECT_THROW(createNullScalar(bit_DataValue), Exception);
    EXPECT_EQ(createNullArray(3, bit_Double)->fArray.size(), 3u);
    try {
        createNullArray(3, uaTypeInfo{bit_Double, -1});
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "data type not an array");
    }
    EXPECT_THROW(createNullArray(1, bit_DiagnosticInfo), Exception);
}

}  // namespace
}  // namespace vela::ua
