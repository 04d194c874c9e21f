#include "base/OleVariant.h"

#include <gtest/gtest.h>

#include <limits>

namespace vela {
namespace {

class OleRoundTrip : public testing::TestWithParam<Variant> {};

TEST_P(OleRoundTrip, KeepsTypeAndValue) {
    OleVariant ole(GetParam());
    EXPECT_EQ(V_VT(ole.get()), GetParam().Type());
    EXPECT_EQ(FromOleVariant(*ole), GetParam());
}

Decimal BigDecimal() {
    Decimal d;
    d.hi32 = 0xFFFFFFFF;
    d.lo64 = 0xFFFFFFFFFFFFFFFF;
    d.scale = 28;
    d.negative = true;
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Values, OleRoundTrip,
    testing::Values(Variant(), Variant::Null(), Variant(true), Variant(int8_t{-5}), Variant(uint8_t{200}),
                    Variant(int16_t{-300}), Variant(uint16_t{60000}), Variant(std::numeric_limits<int32_t>::min()),
                    Variant(4000000000u), Variant(std::numeric_limits<int64_t>::min()),
                    Variant(std::numeric_limits<uint64_t>::max()), Variant(1.5f), Variant(-2.25),
                    Variant(Currency{-123456789}), Variant::FromDate(45413.4375), Variant::FromError(-2147352567),
                    Variant::FromInt(-3), Variant::FromUInt(3), Variant("gr\xC3\xBC\xC3\x9F dich \xF0\x9F\x98\x80"),
                    Variant(""), Variant(BigDecimal())));

TEST(OleVariant, OneDimensionalArraysKeepBoundsAndElements) {
    const Variant a = Variant::FromElements(vtR8, {Variant(1.0), Variant(2.0), Variant(3.0)}, 5);
    OleVariant ole(a);
    ASSERT_EQ(V_VT(ole.get()), VT_ARRAY | VT_R8);
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(V_ARRAY(ole.get()), 1, &lower);
    SafeArrayGetUBound(V_ARRAY(ole.get()), 1, &upper);
    EXPECT_EQ(lower, 5);
    EXPECT_EQ(upper, 7);
    EXPECT_EQ(FromOleVariant(*ole), a);
}

TEST(OleVariant, StringAndVariantArraysRoundTrip) {
    const Variant strings = Variant::FromElements(vtBSTR, {Variant("a"), Variant(""), Variant("\xE2\x82\xAC")});
    OleVariant oleStrings(strings);
    EXPECT_EQ(FromOleVariant(*oleStrings), strings);
    const Variant nested = Variant::FromElements(vtVARIANT, {Variant(1), Variant("x"), strings});
    OleVariant oleNested(nested);
    EXPECT_EQ(FromOleVariant(*oleNested), nested);
}

TEST(OleVariant, TwoDimensionalArraysMatchThePlatformsIndexing) {
    Variant a = Variant::MakeArray(vtI4, {{0, 2}, {1, 3}});
    for (int32_t i = 0; i < 2; ++i)
        for (int32_t j = 1; j <= 3; ++j) a.MutableArray().Set({i, j}, Variant(i * 10 + j));
    OleVariant ole(a);
    // SafeArrayGetElement takes the indices in the order of the declaration, first dimension first
    for (LONG i = 0; i < 2; ++i)
        for (LONG j = 1; j <= 3; ++j) {
            LONG index[2] = {i, j};
            LONG value = -1;
            ASSERT_EQ(SafeArrayGetElement(V_ARRAY(ole.get()), index, &value), S_OK);
            EXPECT_EQ(value, i * 10 + j) << i << "," << j;
        }
    EXPECT_EQ(FromOleVariant(*ole), a);
}

TEST(OleVariant, UnsupportedTypesRaise) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = nullptr;
    EXPECT_THROW(FromOleVariant(v), VariantError);
    V_VT(&v) = VT_RECORD;
    EXPECT_THROW(FromOleVariant(v), VariantError);
}

TEST(OleVariant, ByReferenceValuesAreFollowed) {
    LONG target = 42;
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4 | VT_BYREF;
    V_I4REF(&v) = &target;
    EXPECT_EQ(FromOleVariant(v), Variant(42));
}

}  // namespace
}  // namespace vela
