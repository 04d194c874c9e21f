// The value type's type change against the platform's own VariantChangeTypeEx with the
// invariant locale, on a table of cases: both must fail with the same code, or both give the
// same value.
#include <gtest/gtest.h>

#include <limits>

#include "base/OleVariant.h"

namespace vela {
namespace {

struct CrossCase {
    const char* name;
    Variant from;
    VarType to;
};

void PrintTo(const CrossCase& c, std::ostream* os) { *os << c.name; }

std::string Describe(const Variant& v) {
    try {
        return VarTypeName(v.Type()) + " " + v.ToString();
    } catch (const VariantError&) {
        return VarTypeName(v.Type());
    }
}

class CrossCheck : public testing::TestWithParam<CrossCase> {};

TEST_P(CrossCheck, AgreesWithOleAutomation) {
    const CrossCase& c = GetParam();
    OleVariant source(c.from);
    OleVariant converted;
    const HRESULT oleResult = VariantChangeTypeEx(converted.get(), source.get(), LOCALE_INVARIANT, 0, c.to);

    HRESULT ours = S_OK;
    Variant ourValue;
    try {
        ourValue = c.from.ChangeType(c.to);
    } catch (const VariantError& e) {
        ours = e.Code();
    }
    ASSERT_EQ(ours, oleResult) << "ours: " << (ours == S_OK ? Describe(ourValue) : "error")
                               << ", OLE: " << (SUCCEEDED(oleResult) ? Describe(FromOleVariant(*converted)) : "error");
    if (SUCCEEDED(oleResult)) {
        const Variant oleValue = FromOleVariant(*converted);
        EXPECT_EQ(ourValue, oleValue) << "ours: " << Describe(ourValue) << ", OLE: " << Describe(oleValue);
    }
}

const CrossCase kCases[] = {
    {"i4_max_to_i2", Variant(32767), vtI2},
    {"i4_over_i2", Variant(32768), vtI2},
    {"i4_under_i2", Variant(-32769), vtI2},
    {"i4_neg_to_ui4", Variant(-1), vtUI4},
    {"i4_min_to_r8", Variant(std::numeric_limits<int32_t>::min()), vtR8},
    {"i8_max_to_r8", Variant(std::numeric_limits<int64_t>::max()), vtR8},
    {"ui8_max_to_i8", Variant(std::numeric_limits<uint64_t>::max()), vtI8},
    {"ui4_max_to_i4", Variant(std::numeric_limits<uint32_t>::max()), vtI4},
    {"i1_min_to_ui1", Variant(int8_t{-128}), vtUI1},
    {"i2_neg_to_ui4", Variant(int16_t{-1}), vtUI4},
    {"i4_neg_to_ui8", Variant(-1), vtUI8},
    {"i8_neg_to_ui8", Variant(int64_t{-2}), vtUI8},
    {"uint_max_to_i4", Variant::FromUInt(4294967295u), vtI4},
    {"i4_neg_to_uint", Variant(-1), vtUINT},
    {"true_to_ui2", Variant(true), vtUI2},
    {"true_to_ui4", Variant(true), vtUI4},
    {"true_to_ui8", Variant(true), vtUI8},
    {"true_to_i1", Variant(true), vtI1},
    {"r8_2_5_to_i4", Variant(2.5), vtI4},
    {"r8_3_5_to_i4", Variant(3.5), vtI4},
    {"r8_neg_2_5_to_i4", Variant(-2.5), vtI4},
    {"r8_i4_edge", Variant(2147483647.4), vtI4},
    {"r8_i4_over", Variant(2147483647.5), vtI4},
    {"r8_to_r4_over", Variant(1e39), vtR4},
    {"r8_to_ui1", Variant(255.4), vtUI1},
    {"r8_to_cy", Variant(1.23456), vtCY},
    {"r8_to_cy_over", Variant(1e15), vtCY},
    {"r8_to_bool", Variant(0.5), vtBOOL},
    {"r8_to_date", Variant(45000.25), vtDATE},
    {"r8_to_date_over", Variant(3e6), vtDATE},
    {"r8_to_text", Variant(0.1), vtBSTR},
    {"r8_third_to_text", Variant(1.0 / 3.0), vtBSTR},
    {"r8_large_to_text", Variant(1e20), vtBSTR},
    {"r8_small_to_text", Variant(1.5e-5), vtBSTR},
    {"r8_integral_to_text", Variant(123456789.0), vtBSTR},
    {"r4_to_text", Variant(0.1f), vtBSTR},
    {"r8_to_decimal", Variant(-1.5), vtDECIMAL},
    {"true_to_i4", Variant(true), vtI4},
    {"true_to_ui1", Variant(true), vtUI1},
    {"true_to_r8", Variant(true), vtR8},
    {"false_to_text", Variant(false), vtBSTR},
    {"true_to_text", Variant(true), vtBSTR},
    {"i4_to_bool", Variant(-7), vtBOOL},
    {"cy_to_i4", Variant(Currency{25000}), vtI4},
    {"cy_to_r8", Variant(Currency{12345}), vtR8},
    {"cy_to_text", Variant(Currency{-15000}), vtBSTR},
    {"cy_small_to_text", Variant(Currency{1}), vtBSTR},
    {"date_to_r8", Variant::FromDate(45413.4375), vtR8},
    {"date_to_text", Variant::FromDate(45413.4375), vtBSTR},
    {"date_only_to_text", Variant::FromDate(45413.0), vtBSTR},
    {"time_only_to_text", Variant::FromDate(0.75), vtBSTR},
    {"date_to_i4", Variant::FromDate(45413.6), vtI4},
    {"text_to_i4", Variant(" -42 "), vtI4},
    {"text_fraction_to_i4", Variant("2.5"), vtI4},
    {"text_exponent_to_i4", Variant("1.5E3"), vtI4},
    {"text_groups_to_i4", Variant("1,234,567"), vtI4},
    {"text_comma_fraction_to_r8", Variant("0,5"), vtR8},
    {"text_hex_to_i4", Variant("&HFF"), vtI4},
    {"text_over_i4", Variant("2147483648"), vtI4},
    {"text_garbage_to_i4", Variant("12abc"), vtI4},
    {"text_empty_to_i4", Variant(""), vtI4},
    {"text_to_r8", Variant("0.1"), vtR8},
    {"text_to_cy", Variant("12.34567"), vtCY},
    {"text_true_to_bool", Variant("True"), vtBOOL},
    {"text_false_to_bool", Variant("false"), vtBOOL},
    {"text_zero_to_bool", Variant("0"), vtBOOL},
    {"text_iso_to_date", Variant("2024-05-01 10:30:15"), vtDATE},
    {"text_us_to_date", Variant("05/01/2024"), vtDATE},
    {"text_time_to_date", Variant("12:00"), vtDATE},
    {"text_bad_date", Variant("2024-02-30"), vtDATE},
    {"empty_to_i4", Variant(), vtI4},
    {"empty_to_text", Variant(), vtBSTR},
    {"null_to_i4", Variant::Null(), vtI4},
    {"null_to_text", Variant::Null(), vtBSTR},
    {"error_to_i4", Variant::FromError(5), vtI4},
    {"i4_to_error", Variant(5), vtERROR},
    {"decimal_to_text", Variant(Decimal{0, 1050, 3, true}), vtBSTR},
    {"decimal_to_i4", Variant(Decimal{0, 125, 2, false}), vtI4},
};
INSTANTIATE_TEST_SUITE_P(Table, CrossCheck, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vela
