#include <gtest/gtest.h>

#include <limits>

#include "base/Variant.h"

namespace vela {
namespace {

struct Conversion {
    const char* name;
    Variant from;
    VarType to;
    Variant expected;   // ignored when error is set
    int32_t error = 0;  // the VariantError code expected
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class ChangeTypeTable : public testing::TestWithParam<Conversion> {};

TEST_P(ChangeTypeTable, GivesTheValueOrTheError) {
    const Conversion& c = GetParam();
    if (c.error) {
        try {
            const Variant v = c.from.ChangeType(c.to);
            FAIL() << "expected an error, got type " << v.Type();
        } catch (const VariantError& e) {
            EXPECT_EQ(e.Code(), c.error) << e.what();
            EXPECT_FALSE(std::string(e.what()).empty());
        }
    } else {
        const Variant v = c.from.ChangeType(c.to);
        EXPECT_EQ(v.Type(), c.expected.Type());
        EXPECT_EQ(v, c.expected) << (v.Type() == vtBSTR ? v.StringValue() : std::string());
    }
}

Decimal Dec(uint64_t lo, uint8_t scale, bool negative = false) {
    Decimal d;
    d.lo64 = lo;
    d.scale = scale;
    d.negative = negative;
    return d;
}

const Conversion kIntegers[] = {
    {"i4_to_i2", Variant(32767), vtI2, Variant(int16_t{32767})},
    {"i4_to_i2_overflow", Variant(32768), vtI2, {}, kDispEOverflow},
    {"i4_to_i2_low_overflow", Variant(-32769), vtI2, {}, kDispEOverflow},
    {"i4_to_ui1_negative", Variant(-1), vtUI1, {}, kDispEOverflow},
    {"i4_to_ui4_same_width_bits", Variant(-1), vtUI4, Variant(4294967295u)},
    {"i1_to_ui1_same_width_bits", Variant(int8_t{-128}), vtUI1, Variant(uint8_t{128})},
    {"ui8_to_i8_same_width_bits", Variant(std::numeric_limits<uint64_t>::max()), vtI8, Variant(int64_t{-1})},
    {"uint_to_i4_same_width_bits", Variant::FromUInt(0x80000000u), vtI4, Variant(std::numeric_limits<int32_t>::min())},
    {"i2_to_ui4_other_width_overflow", Variant(int16_t{-1}), vtUI4, {}, kDispEOverflow},
    {"i4_to_i1", Variant(-128), vtI1, Variant(int8_t{-128})},
    {"i8_min_to_r8", Variant(std::numeric_limits<int64_t>::min()), vtR8, Variant(-9223372036854775808.0)},
    {"ui4_max_to_i8", Variant(4294967295u), vtI8, Variant(int64_t{4294967295})},
    {"i4_to_int", Variant(7), vtINT, Variant::FromInt(7)},
    {"uint_to_ui4", Variant::FromUInt(7), vtUI4, Variant(7u)},
};
INSTANTIATE_TEST_SUITE_P(Integers, ChangeTypeTable, testing::ValuesIn(kIntegers),
                         [](const auto& i) { return std::string(i.param.name); });

const Conversion kReals[] = {
    {"r8_half_to_even_down", Variant(2.5), vtI4, Variant(2)},
    {"r8_half_to_even_up", Variant(3.5), vtI4, Variant(4)},
    {"r8_negative_half", Variant(-2.5), vtI4, Variant(-2)},
    {"r8_rounds_nearest", Variant(2.6), vtI2, Variant(int16_t{3})},
    {"r8_i4_upper_edge", Variant(2147483647.4), vtI4, Variant(2147483647)},
    {"r8_i4_overflow", Variant(2147483647.5), vtI4, {}, kDispEOverflow},
    {"r8_nan_to_i4", Variant(std::numeric_limits<double>::quiet_NaN()), vtI4, {}, kDispEOverflow},
    {"r8_to_r4_overflow", Variant(1e39), vtR4, {}, kDispEOverflow},
    {"r8_to_r4", Variant(0.5), vtR4, Variant(0.5f)},
    {"r8_to_ui8_negative", Variant(-1.0), vtUI8, {}, kDispEOverflow},
    {"r8_small_negative_to_ui4", Variant(-0.4), vtUI4, Variant(0u)},
    {"r8_to_bool", Variant(0.1), vtBOOL, Variant(true)},
    {"r8_zero_to_bool", Variant(0.0), vtBOOL, Variant(false)},
    {"r8_to_cy", Variant(1.23456), vtCY, Variant(Currency{12346})},
    {"r8_to_cy_overflow", Variant(1e15), vtCY, {}, kDispEOverflow},
    {"r8_to_date", Variant(45000.5), vtDATE, Variant::FromDate(45000.5)},
    {"r8_to_date_overflow", Variant(3e6), vtDATE, {}, kDispEOverflow},
    {"r8_to_decimal", Variant(-1.5), vtDECIMAL, Variant(Dec(15, 1, true))},
    {"r4_to_r8_exact", Variant(0.1f), vtR8, Variant(static_cast<double>(0.1f))},
};
INSTANTIATE_TEST_SUITE_P(Reals, ChangeTypeTable, testing::ValuesIn(kReals),
                         [](const auto& i) { return std::string(i.param.name); });

const Conversion kBooleansAndSpecials[] = {
    {"true_to_i4", Variant(true), vtI4, Variant(-1)},
    {"true_to_ui1", Variant(true), vtUI1, Variant(uint8_t{255})},
    {"true_to_ui4", Variant(true), vtUI4, Variant(4294967295u)},
    {"false_to_r8", Variant(false), vtR8, Variant(0.0)},
    {"i4_to_bool", Variant(-7), vtBOOL, Variant(true)},
    {"empty_to_i4", Variant(), vtI4, Variant(0)},
    {"empty_to_bstr", Variant(), vtBSTR, Variant("")},
    {"empty_to_bool", Variant(), vtBOOL, Variant(false)},
    {"empty_to_date", Variant(), vtDATE, Variant::FromDate(0)},
    {"null_to_i4", Variant::Null(), vtI4, {}, kDispETypeMismatch},
    {"null_to_bstr", Variant::Null(), vtBSTR, {}, kDispETypeMismatch},
    {"error_to_i4", Variant::FromError(5), vtI4, {}, kDispETypeMismatch},
    {"i4_to_error", Variant(5), vtERROR, {}, kDispETypeMismatch},
    {"i4_to_dispatch", Variant(5), vtDISPATCH, {}, kDispETypeMismatch},
    {"i4_to_empty", Variant(5), vtEMPTY, Variant()},
};
INSTANTIATE_TEST_SUITE_P(Specials, ChangeTypeTable, testing::ValuesIn(kBooleansAndSpecials),
                         [](const auto& i) { return std::string(i.param.name); });

const Conversion kCurrencyAndDecimal[] = {
    {"cy_to_i4_half_even", Variant(Currency{25000}), vtI4, Variant(2)},
    {"cy_to_r8", Variant(Currency{12345}), vtR8, Variant(1.2345)},
    {"cy_to_bstr", Variant(Currency{-15000}), vtBSTR, Variant("-1.5")},
    {"cy_small_to_bstr", Variant(Currency{1}), vtBSTR, Variant("0.0001")},
    {"i8_to_cy_overflow", Variant(int64_t{1000000000000000}), vtCY, {}, kDispEOverflow},
    {"decimal_to_i4", Variant(Dec(125, 2)), vtI4, Variant(1)},
    {"decimal_to_cy_rounds", Variant(Dec(123455, 5)), vtCY, Variant(Currency{12346})},
    {"decimal_to_bstr", Variant(Dec(1050, 3, true)), vtBSTR, Variant("-1.05")},
    {"decimal_to_r8", Variant(Dec(1, 1)), vtR8, Variant(0.1)},
    {"ui8_to_decimal", Variant(uint64_t{18446744073709551615u}), vtDECIMAL, Variant(Dec(18446744073709551615u, 0))},
    {"cy_to_decimal", Variant(Currency{15000}), vtDECIMAL, Variant(Dec(15000, 4))},
};
INSTANTIATE_TEST_SUITE_P(CurrencyDecimal, ChangeTypeTable, testing::ValuesIn(kCurrencyAndDecimal),
                         [](const auto& i) { return std::string(i.param.name); });

const Conversion kFromText[] = {
    {"text_to_i4", Variant(" -42 "), vtI4, Variant(-42)},
    {"text_with_groups", Variant("1,234,567"), vtI4, Variant(1234567)},
    {"text_fraction_rounds_even", Variant("2.5"), vtI4, Variant(2)},
    {"text_exponent", Variant("1.5E3"), vtI4, Variant(1500)},
    {"text_hex", Variant("&HFF"), vtI4, Variant(255)},
    {"text_hex_twos_complement", Variant("&HFFFF"), vtI2, Variant(int16_t{-1})},
    {"text_octal", Variant("&O17"), vtUI1, Variant(uint8_t{15})},
    {"text_i4_overflow", Variant("2147483648"), vtI4, {}, kDispEOverflow},
    {"text_i8_max", Variant("9223372036854775807"), vtI8, Variant(int64_t{9223372036854775807})},
    {"text_ui8_max", Variant("18446744073709551615"), vtUI8, Variant(uint64_t{18446744073709551615u})},
    {"text_huge_overflows", Variant("1e400"), vtI4, {}, kDispEOverflow},
    {"text_huge_r8_overflows", Variant("1e400"), vtR8, Variant(std::numeric_limits<double>::infinity())},
    {"text_garbage", Variant("12abc"), vtI4, {}, kDispETypeMismatch},
    {"text_empty", Variant(""), vtI4, {}, kDispETypeMismatch},
    {"text_only_sign", Variant("-"), vtR8, {}, kDispETypeMismatch},
    {"text_to_r8", Variant("0.1"), vtR8, Variant(0.1)},
    {"text_to_r4", Variant("3.25"), vtR4, Variant(3.25f)},
    {"text_true", Variant(" True "), vtBOOL, Variant(true)},
    {"text_false", Variant("FALSE"), vtBOOL, Variant(false)},
    {"text_number_to_bool", Variant("0"), vtBOOL, Variant(false)},
    {"text_bad_bool", Variant("yes"), vtBOOL, {}, kDispETypeMismatch},
    {"text_to_cy", Variant("12.34567"), vtCY, Variant(Currency{123457})},
    {"text_to_decimal", Variant("-0.000123"), vtDECIMAL, Variant(Dec(123, 6, true))},
    {"text_to_decimal_too_big", Variant("1e30"), vtDECIMAL, {}, kDispEOverflow},
    {"text_iso_date", Variant("2024-05-01 10:30:15"), vtDATE, Variant::FromDate(45413.0 + (10 * 3600 + 30 * 60 + 15) / 86400.0)},
    {"text_us_date", Variant("05/01/2024"), vtDATE, Variant::FromDate(45413.0)},
    {"text_time_only", Variant("12:00"), vtDATE, Variant::FromDate(0.5)},
    {"text_bad_date", Variant("2024-02-30"), vtDATE, {}, kDispETypeMismatch},
    {"text_number_as_date", Variant("1.5"), vtDATE, Variant::FromDate(1.5)},
};
INSTANTIATE_TEST_SUITE_P(FromText, ChangeTypeTable, testing::ValuesIn(kFromText),
                         [](const auto& i) { return std::string(i.param.name); });

const Conversion kToText[] = {
    {"i4", Variant(-42), vtBSTR, Variant("-42")},
    {"ui8", Variant(uint64_t{18446744073709551615u}), vtBSTR, Variant("18446744073709551615")},
    {"r8", Variant(0.1), vtBSTR, Variant("0.1")},
    {"r8_fifteen_digits", Variant(1.0 / 3.0), vtBSTR, Variant("0.333333333333333")},
    {"r8_large", Variant(1e20), vtBSTR, Variant("1E+20")},
    {"r8_small", Variant(1.5e-5), vtBSTR, Variant("1.5E-05")},
    {"r4_seven_digits", Variant(0.1f), vtBSTR, Variant("0.1")},
    {"bool_true", Variant(true), vtBSTR, Variant("-1")},
    {"bool_false", Variant(false), vtBSTR, Variant("0")},
    {"date_and_time", Variant::FromDate(45413.4375), vtBSTR, Variant("05/01/2024 10:30:00")},
    {"date_only", Variant::FromDate(45413.0), vtBSTR, Variant("05/01/2024")},
    {"time_only", Variant::FromDate(0.75), vtBSTR, Variant("18:00:00")},
    {"day_zero", Variant::FromDate(0.0), vtBSTR, Variant("12/30/1899")},
};
INSTANTIATE_TEST_SUITE_P(ToText, ChangeTypeTable, testing::ValuesIn(kToText),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(VariantToString, EmptyIsEmptyTextAndNullRaises) {
    EXPECT_EQ(Variant().ToString(), "");
    EXPECT_THROW(Variant::Null().ToString(), VariantError);
    EXPECT_EQ(Variant(12).ToString(), "12");
    EXPECT_EQ(Variant(true).ToString(), "True");  // the display form, unlike the type change
    EXPECT_EQ(Variant(false).ToString(), "False");
}

TEST(VariantConvert, LongGarbageTextIsShortenedInTheMessage) {
    const std::string junk(10000, 'x');
    try {
        Variant(junk).ChangeType(vtI4);
        FAIL();
    } catch (const VariantError& e) {
        EXPECT_LT(std::string(e.what()).size(), 200u);
    }
}

TEST(VariantConvert, TextRoundTripsThroughEveryNumericType) {
    for (const VarType t : {vtI1, vtI2, vtI4, vtI8, vtUI1, vtUI2, vtUI4, vtUI8, vtINT, vtUINT, vtR4, vtR8, vtCY, vtDECIMAL}) {
        const Variant v = Variant("100").ChangeType(t);
        EXPECT_EQ(v.Type(), t);
        EXPECT_EQ(v.ToString(), "100") << VarTypeName(t);
    }
}

}  // namespace
}  // namespace vela
