#include "base/Variant.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

TEST(Variant, ConstructorsPickTheNaturalType) {
    EXPECT_EQ(Variant().Type(), vtEMPTY);
    EXPECT_EQ(Variant::Null().Type(), vtNULL);
    EXPECT_EQ(Variant(true).Type(), vtBOOL);
    EXPECT_EQ(Variant(int8_t{1}).Type(), vtI1);
    EXPECT_EQ(Variant(uint8_t{1}).Type(), vtUI1);
    EXPECT_EQ(Variant(int16_t{1}).Type(), vtI2);
    EXPECT_EQ(Variant(uint16_t{1}).Type(), vtUI2);
    EXPECT_EQ(Variant(1).Type(), vtI4);
    EXPECT_EQ(Variant(1u).Type(), vtUI4);
    EXPECT_EQ(Variant(int64_t{1}).Type(), vtI8);
    EXPECT_EQ(Variant(uint64_t{1}).Type(), vtUI8);
    EXPECT_EQ(Variant(1.0f).Type(), vtR4);
    EXPECT_EQ(Variant(1.0).Type(), vtR8);
    EXPECT_EQ(Variant("x").Type(), vtBSTR);
    EXPECT_EQ(Variant(Currency{10000}).Type(), vtCY);
    EXPECT_EQ(Variant(Decimal{}).Type(), vtDECIMAL);
    EXPECT_EQ(Variant::FromDate(1.0).Type(), vtDATE);
    EXPECT_EQ(Variant::FromError(-1).Type(), vtERROR);
    EXPECT_EQ(Variant::FromInt(1).Type(), vtINT);
    EXPECT_EQ(Variant::FromUInt(1).Type(), vtUINT);
}

TEST(Variant, EqualityNeedsTheSameTypeAndValue) {
    EXPECT_EQ(Variant(5), Variant(5));
    EXPECT_NE(Variant(5), Variant(int16_t{5}));
    EXPECT_NE(Variant(5), Variant(6));
    EXPECT_EQ(Variant("a"), Variant(std::string("a")));
    EXPECT_EQ(Variant(), Variant());
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_NE(Variant::FromDate(1.0), Variant(1.0));
}

TEST(Variant, RawAccessOfTheWrongTypeRaises) {
    EXPECT_THROW(Variant(1).StringValue(), VariantError);
    EXPECT_THROW(Variant("1").SignedValue(), VariantError);
    EXPECT_THROW(Variant(1u).SignedValue(), VariantError);
    EXPECT_THROW(Variant(1).Array(), VariantError);
    EXPECT_THROW(Variant(1.0).CurrencyValue(), VariantError);
}

TEST(VariantArray, NewArraysHoldTheElementTypesZero) {
    const Variant a = Variant::MakeArray(vtBSTR, {{1, 3}});
    EXPECT_EQ(a.Type(), vtArray | vtBSTR);
    ASSERT_EQ(a.Array().Size(), 3u);
    EXPECT_EQ(a.Array().At({1}), Variant(""));
    const Variant v = Variant::MakeArray(vtVARIANT, {{0, 2}});
    EXPECT_TRUE(v.Array().At({0}).IsEmpty());
}

TEST(VariantArray, CopiesAreIndependent) {
    Variant a = Variant::FromElements(vtI4, {Variant(1), Variant(2)});
    const Variant b = a;
    a.MutableArray().Set({1}, Variant(20));
    EXPECT_EQ(a.Array().At({1}), Variant(20));
    EXPECT_EQ(b.Array().At({1}), Variant(2));
    EXPECT_NE(a, b);
}

TEST(VariantArray, ElementsAreConvertedToTheElementType) {
    Variant a = Variant::MakeArray(vtR8, {{0, 2}});
    a.MutableArray().Set({0}, Variant("2.5"));
    EXPECT_EQ(a.Array().At({0}), Variant(2.5));
    EXPECT_THROW(a.MutableArray().Set({1}, Variant("x")), VariantError);
}

TEST(VariantArray, MultipleDimensionsAreRowMajorWithBounds) {
    Variant a = Variant::MakeArray(vtI4, {{1, 2}, {-1, 3}});
    a.MutableArray().Set({2, 1}, Variant(7));
    EXPECT_EQ(a.Array().Elements()[5], Variant(7));  // (2-1)*3 + (1-(-1))
    EXPECT_EQ(a.Array().Dimensions(), 2);
}

TEST(VariantArray, BadIndicesAndSizesRaise) {
    Variant a = Variant::MakeArray(vtI4, {{0, 2}});
    EXPECT_THROW(a.Array().At({2}), VariantError);
    EXPECT_THROW(a.Array().At({-1}), VariantError);
    EXPECT_THROW(a.Array().At({0, 0}), VariantError);
    EXPECT_THROW(Variant::MakeArray(vtI4, {{0, 65536}, {0, 65536}}), VariantError);
    EXPECT_THROW(Variant::MakeArray(vtI4, {{2147483647, 2}}), VariantError);
    EXPECT_THROW(Variant::MakeArray(vtDISPATCH, {{0, 1}}), VariantError);
    EXPECT_THROW(Variant::MakeArray(vtI4, std::vector<ArrayBound>{}), VariantError);
}

TEST(VariantArray, ChangeTypeConvertsEveryElement) {
    const Variant a = Variant::FromElements(vtBSTR, {Variant("1.5"), Variant("2")});
    const Variant b = a.ChangeType(vtArray | vtR8);
    EXPECT_EQ(b.Array().At({0}), Variant(1.5));
    EXPECT_EQ(b.Array().At({1}), Variant(2.0));
    EXPECT_THROW(a.ChangeType(vtR8), VariantError);
    EXPECT_THROW(Variant(1).ChangeType(vtArray | vtI4), VariantError);
}

}  // namespace
}  // namespace vela
