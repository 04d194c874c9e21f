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
    EXPECT_EQ(CreateUaVariant(Variant(300), bit_Byte), uaVariant::Scalar(bit_Byte, uint8_t{44}));  // cut to 8 bits
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
