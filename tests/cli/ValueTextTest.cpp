// Values as vela_cli prints them and takes them for write, and the names of result codes.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "cli/StatusNames.h"
#include "cli/StructureText.h"
#include "cli/ValueText.h"

namespace vela::cli {
namespace {

const ValueType kDoubleType{kDouble}, kFloatType{kFloat}, kInt32Type{kInt32}, kInt64Type{kInt64},
    kUInt32Type{kUInt32}, kUInt64Type{kUInt64}, kBooleanType{kBoolean}, kDateTimeType{kDateTime},
    kStringType{kString}, kByteStringType{kByteString}, kStatusCodeType{kStatusCode}, kUnknownType{};
const ValueType kInt32Array{kInt32, 0, true}, kDoubleArray{kDouble, 0, true}, kStringArray{kString, 0, true},
    kByteArray{kByte, 0, true}, kStatusCodeArray{kStatusCode, 0, true}, kRange{kExtensionObject, kRangeType, false};

DateTime At(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    return EncodeDateTime({year, month, day, hour, minute, second, millisecond});
}

Variant Bytes(std::initializer_list<uint8_t> bytes) {
    std::vector<Variant> elements(bytes.begin(), bytes.end());
    return Variant::FromElements(vtUI1, elements);
}

std::string Refusal(const std::string& text, const ValueType& type) {
    try {
        return "(taken as " + FormatValue(ParseValue(text, type), type) + ")";
    } catch (const ValueError& e) {
        return e.what();
    }
}

TEST(ValueText, NumbersPrintAsTheShortestTextThatReadsBackExactly) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {3.141592653589793, "3.141592653589793"}, {1.7976931348623157e308, "1.7976931348623157e+308"},
        {0.1, "0.1"}, {100, "100"}, {-2.5, "-2.5"}, {1e21, "1e+21"}, {1e-5, "1e-05"}, {5e-324, "5e-324"},
        {-0.0, "-0"}, {std::numeric_limits<double>::infinity(), "inf"}, {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DoubleText(c.value), c.text);
        double back = 0;
        std::from_chars(c.text, c.text + std::strlen(c.text), back);
        EXPECT_EQ(std::memcmp(&back, &c.value, sizeof back), 0) << c.text;
    }
    EXPECT_EQ(DoubleText(std::nan("")), "nan");
    EXPECT_EQ(FloatText(3.14159265f), "3.1415927");
    EXPECT_EQ(FloatText(0.1f), "0.1");
    EXPECT_EQ(FloatText(std::numeric_limits<float>::max()), "3.4028235e+38");
}

TEST(ValueText, DateTimesInIsoFormInUtc) {
    EXPECT_EQ(DateTimeText(At(2024, 1, 2, 3, 4, 5, 0)), "2024-01-02T03:04:05.000Z");
    EXPECT_EQ(DateTimeText(At(1899, 12, 29, 6, 0, 0, 0)), "1899-12-29T06:00:00.000Z");
    EXPECT_EQ(DateTimeText(kMaxDateTime), "9999-12-31T23:59:59.999Z");
    EXPECT_EQ(ParseDateTime("9999-12-31T23:59:59.999Z"), kMaxDateTime);
    EXPECT_EQ(DateTimeText(kMinDateTime), "no time");
    EXPECT_EQ(DateTimeText(UaDateTimeToDateTime(0)), "no time");

    const struct {
        const char* text;
        const char* printed;
    } taken[] = {
        {"2024-01-02T03:04:05.000Z", "2024-01-02T03:04:05.000Z"},
        {"2024-01-02T03:04:05Z", "2024-01-02T03:04:05.000Z"},
        {"2024-01-02t03:04:05.123z", "2024-01-02T03:04:05.123Z"},
        {"2024-01-02T03:04:05.1234567Z", "2024-01-02T03:04:05.123Z"},
        {"2024-01-02T03:04:05,5Z", "2024-01-02T03:04:05.500Z"},
        {"2024-01-02 03:04Z", "2024-01-02T03:04:00.000Z"},
        {"2024-01-02T04:04:05+01:00", "2024-01-02T03:04:05.000Z"},
        {"2024-01-01T22:04:05-0500", "2024-01-02T03:04:05.000Z"},
        {"2024-01-02", "2024-01-02T00:00:00.000Z"},
        {"1601-01-01T00:00:00.000Z", "1601-01-01T00:00:00.000Z"},
        {"no time", "no time"},
    };
    for (const auto& c : taken) EXPECT_EQ(DateTimeText(ParseDateTime(c.text)), c.printed) << c.text;

    const struct {
        const char* text;
        const char* message;
    } refused[] = {
        {"2024-01-02T03:04:05", "add Z for UTC or an offset like +01:00"},
        {"2024-13-01", "out of range"},
        {"2024-02-30", "out of range"},
        {"2024-01-02T25:00Z", "out of range"},
        {"2024-01-02T03:04+25:00", "bad offset"},
        {"0099-12-31", "out of range"},
        {"24-01-02", "is not a date-time"},
        {"2024-01-02T03:04:05Zjunk", "is not a date-time"},
        {"2024-01-02T03:04:05.Z", "is not a date-time"},
        {"yesterday", "write it as 2024-01-02T03:04:05.000Z"},
    };
    for (const auto& c : refused) {
        try {
            ParseDateTime(c.text);
            ADD_FAILURE() << c.text << " was taken";
        } catch (const ValueError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.text << ": " << e.what();
        }
    }
}

TEST(ValueText, ValuesPrintByTheirType) {
    Variant matrix = Variant::MakeArray(vtR8, {{0, 2}, {0, 3}});
    for (size_t i = 0; i < 6; ++i) matrix.MutableArray().Set(i, Variant(static_cast<double>(i + 1)));
    const std::vector<Variant> mixed = {Variant("1"), Variant(int32_t{1}), Variant(true), Bytes({0xAB})};
    const struct {
        Variant value;
        ValueType type;
        const char* text;
    } cases[] = {
        {Variant(), kUnknownType, "(empty)"},
        {Variant::Null(), kUnknownType, "(null)"},
        {Variant(true), kBooleanType, "true"},
        {Variant(int64_t{-9223372036854775807 - 1}), kInt64Type, "-9223372036854775808"},
        {Variant(uint64_t{18446744073709551615u}), kUInt64Type, "18446744073709551615"},
        {Variant(0.1f), kFloatType, "0.1"},
        {Variant::FromDate(At(2024, 1, 2, 3, 4, 5, 0)), kDateTimeType, "2024-01-02T03:04:05.000Z"},
        {Variant(" as it is, \"raw\" "), kStringType, " as it is, \"raw\" "},
        {Variant(uint32_t{0x80340000}), kStatusCodeType, "0x80340000 BadNodeIdUnknown"},
        {Variant(uint32_t{0x80340000}), kUInt32Type, "2150891520"},
        {Variant::FromError(static_cast<int32_t>(0xC004000B)), kUnknownType, "error 0xC004000B OPC_E_RANGE"},
        {Bytes({1, 2, 0xFF}), kByteStringType, "0x0102ff"},
        {Bytes({1, 2, 0xFF}), kUnknownType, "0x0102ff"},
        {Bytes({}), kByteStringType, "0x"},
        {Bytes({1, 2, 0xFF}), kByteArray, "[1, 2, 255]"},
        {Variant::FromElements(vtI4, {Variant(1), Variant(-2)}), kInt32Array, "[1, -2]"},
        {Variant::FromElements(vtBSTR, {Variant("a, b"), Variant("c"), Variant(""), Variant("q\"x\\"),
                                        Variant(" pad"), Variant("tab\there"), Variant("\x01")}),
         kStringArray, R"(["a, b", c, "", "q\"x\\", " pad", "tab\there", "\u0001"])"},
        {Variant::FromElements(vtVARIANT, mixed), kUnknownType, R"(["1", 1, true, 0xab])"},
        {Variant::FromElements(vtUI4, {Variant(uint32_t{0}), Variant(uint32_t{0x800A0000})}), kStatusCodeArray,
         "[0x00000000 Good, 0x800A0000 BadTimeout]"},
        {matrix, kDoubleArray, "[[1, 2, 3], [4, 5, 6]]"},
        {Bytes({0, 0, 0, 0, 0, 0, 0xF8, 0xBF, 0, 0, 0, 0, 0, 0, 0x59, 0x40}), kRange, "{low: -1.5, high: 100}"},
        {Bytes({0, 0, 0}), kRange, "0x000000"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatValue(c.value, c.type), c.text);
}

TEST(ValueText, StructuresByTheirFields) {
    // namespaceUri "http", unitId, displayName "°C" (text only), description with locale "en" and text "deg"
    const std::vector<uint8_t> body = {4, 0, 0, 0, 'h', 't', 't', 'p', 0x4C, 0x43, 0x41, 0x00, 2, 3, 0, 0, 0,
                                       0xC2, 0xB0, 'C', 3, 2, 0, 0, 0, 'e', 'n', 3, 0, 0, 0, 'd', 'e', 'g'};
    EXPECT_EQ(StructureText(kEUInformationType, body),
              "{namespaceUri: \"http\", unitId: 4277068, displayName: \"°C\", description: \"deg\"}");
    std::vector<uint8_t> longer = body;
    longer.push_back(0);
    EXPECT_EQ(StructureText(kEUInformationType, longer), std::nullopt);
    EXPECT_EQ(StructureText(kEUInformationType, std::vector<uint8_t>(body.begin(), body.end() - 1)), std::nullopt);
    EXPECT_EQ(StructureText(12345, body), std::nullopt);
    EXPECT_EQ(ParseRange("{low: -1.5, high: 100}"),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF8, 0xBF, 0, 0, 0, 0, 0, 0, 0x59, 0x40}));
    EXPECT_EQ(ParseRange("{high: 1, low: 2}"), std::nullopt);
}

TEST(ValueText, TypedTextsForWrite) {
    const struct {
        const char* text;
        ValueType type;
        VarType varType;
        const char* printed;
    } cases[] = {
        {"3.141592653589793", kDoubleType, vtR8, "3.141592653589793"},
        {"+2.5", kDoubleType, vtR8, "2.5"},
        {"-1e-5", kDoubleType, vtR8, "-1e-05"},
        {"nan", kDoubleType, vtR8, "nan"},
        {"0.1", kFloatType, vtR4, "0.1"},
        {"3.5e39", kFloatType, vtR8, "3.5e+39"},  // too large for a Float: the item's conversion refuses it
        {" 42 ", kInt32Type, vtI8, "42"},
        {"300", ValueType{kByte}, vtI8, "300"},
        {"0x1F", kUInt32Type, vtI8, "31"},
        {"-9223372036854775808", kInt64Type, vtI8, "-9223372036854775808"},
        {"18446744073709551615", kUInt64Type, vtUI8, "18446744073709551615"},
        {"TRUE", kBooleanType, vtBOOL, "true"},
        {"0", kBooleanType, vtBOOL, "false"},
        {"2024-01-02T03:04:05.000Z", kDateTimeType, vtDATE, "2024-01-02T03:04:05.000Z"},
        {"no time", kDateTimeType, vtDATE, "no time"},
        {" keep  blanks ", kStringType, vtBSTR, " keep  blanks "},
        {"Grüße 漢字 €", kStringType, vtBSTR, "Grüße 漢字 €"},
        {"0x0102FF", kByteStringType, vtArray | vtUI1, "0x0102ff"},
        {"base64:AQL/", kByteStringType, vtArray | vtUI1, "0x0102ff"},
        {"[1, 2, 255]", kByteStringType, vtArray | vtUI1, "0x0102ff"},
        {"0x", kByteStringType, vtArray | vtUI1, "0x"},
        {"0x0102", kByteArray, vtArray | vtUI1, "[1, 2]"},
        {"[1, 2, 3]", kInt32Array, vtArray | vtI8, "[1, 2, 3]"},
        {"[ ]", kInt32Array, vtArray | vtI8, "[]"},
        {"[1.5,2e-300]", kDoubleArray, vtArray | vtR8, "[1.5, 2e-300]"},
        {R"(["a, b", c , "", "q\"x", " pad "])", kStringArray, vtArray | vtBSTR, R"(["a, b", c, "", "q\"x", " pad "])"},
        {R"(["\u00fc\ud83d\ude00\n"])", kStringArray, vtArray | vtBSTR, "[\"ü😀\\n\"]"},
        {"[0x80340000 BadNodeIdUnknown, Good]", kStatusCodeArray, vtArray | vtUI4,
         "[0x80340000 BadNodeIdUnknown, 0x00000000 Good]"},
        {"BadTimeout", kStatusCodeType, vtUI4, "0x800A0000 BadTimeout"},
        {"0x80340000", kStatusCodeType, vtUI4, "0x80340000 BadNodeIdUnknown"},
        {"{low: -1.5, high: 100}", kRange, vtArray | vtUI1, "{low: -1.5, high: 100}"},
        {"5", kUnknownType, vtI4, "5"},
        {"5000000000", kUnknownType, vtI8, "5000000000"},
        {"1.5", kUnknownType, vtR8, "1.5"},
        {"false", kUnknownType, vtBOOL, "false"},
        {"2024-01-02T03:04:05Z", kUnknownType, vtDATE, "2024-01-02T03:04:05.000Z"},
        {"0x0a", kUnknownType, vtArray | vtUI1, "0x0a"},
        {" hello ", kUnknownType, vtBSTR, " hello "},
        {R"([1, "x", true])", kUnknownType, vtArray | vtVARIANT, R"([1, "x", true])"},
    };
    for (const auto& c : cases) {
        const Variant value = ParseValue(c.text, c.type);
        EXPECT_EQ(value.Type(), c.varType) << c.text;
        EXPECT_EQ(FormatValue(value, c.type), c.printed) << c.text;
    }
}

TEST(ValueText, TypedTextsThatAreRefused) {
    const struct {
        const char* text;
        ValueType type;
        const char* message;
    } cases[] = {
        {"1,5", kDoubleType, "'1,5' is not a number (Double): write it without group separators, with '.' as"},
        {"1.000,5", kDoubleType, "without group separators"},
        {"1 000", kInt32Type, "without group separators"},
        {"1'000", kInt64Type, "without group separators"},
        {"1,5", kUnknownType, "is not a number: write it without group separators"},
        {"abc", kDoubleType, "'abc' is not a number (Double)"},
        {"0x1p3", kDoubleType, "is not a number"},
        {"1e400", kDoubleType, "'1e400' is out of range (Double)"},
        {"1.5", kInt32Type, "'1.5' is not a whole number (Int32): no fraction or exponent"},
        {"1e3", kInt64Type, "no fraction or exponent"},
        {"--5", kInt32Type, "is not a whole number"},
        {"", kInt32Type, "an empty text is no Int32"},
        {"yes", kBooleanType, "'yes' is not a Boolean: use true or false"},
        {"2024-01-02", ValueType{kDateTime, 0, true}, "write it as [a, b, c]"},
        {"0x123", kByteStringType, "an odd number of hex digits"},
        {"0xzz", kByteStringType, "only hex digits may follow 0x"},
        {"base64:A", kByteStringType, "bad base64"},
        {"hello", kByteStringType, "write it as 0x0102ff or base64:AQL/"},
        {"[1, 256]", kByteStringType, "its elements are bytes, 0..255"},
        {"1, 2", kInt32Array, "the item holds an array of Int32: write it as [a, b, c]"},
        {"[1,,2]", kInt32Array, "an element is missing"},
        {"[1, 2,]", kInt32Array, "an element is missing"},
        {"[1, [2]]", kInt32Array, "arrays inside arrays (matrices) cannot be written"},
        {"[1, x]", kInt32Array, "'x' is not a whole number (Int32)"},
        {"[1] 2", kInt32Array, "is not an array"},
        {R"(["a])", kStringArray, "a quoted element has no closing quote"},
        {R"(["a" b])", kStringArray, "elements are separated by ','"},
        {R"(["\q"])", kStringArray, "unknown escape \\q"},
        {R"(["\u12"])", kStringArray, "\\u needs four hex digits"},
        {"0x80340000 BadTimeout", kStatusCodeType, "the name does not go with the code"},
        {"NoSuchName", kStatusCodeType, "is not a status code"},
        {"{lo: 1, high: 2}", kRange, "is not a Range: write it as {low: 0, high: 100}"},
        {"{low: x, high: 2}", kRange, "'x' is not a number (Double)"},
    };
    for (const auto& c : cases) {
        const std::string message = Refusal(c.text, c.type);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.text << "\n  gave: " << message;
    }
}

TEST(ValueText, WhatIsPrintedReadsBackToTheSameValue) {
    const struct {
        Variant value;
        ValueType type;
    } cases[] = {
        {Variant(3.141592653589793), kDoubleType},
        {Variant(1.7976931348623157e308), kDoubleType},
        {Variant(-4.9406564584124654e-324), kDoubleType},
        {Variant(0.3f), kFloatType},
        {Variant(int64_t{-42}), kInt64Type},
        {Variant(true), kBooleanType},
        {Variant::FromDate(At(2024, 2, 29, 23, 59, 59, 999)), kDateTimeType},
        {Variant::FromDate(kMinDateTime), kDateTimeType},
        {Variant("Grüße, [x] \"y\""), kStringType},
        {Bytes({0, 0x7F, 0xFF}), kByteStringType},
        {Variant::FromElements(vtBSTR, {Variant(""), Variant(" a "), Variant("b,c"), Variant("\\\"\t")}), kStringArray},
        {Variant::FromElements(vtR8, {Variant(0.1), Variant(1e300), Variant(-0.0)}), kDoubleArray},
    };
    for (const auto& c : cases) {
        const std::string text = FormatValue(c.value, c.type);
        EXPECT_EQ(ParseValue(text, c.type), c.value) << text;
    }
}

TEST(StatusNames, CodesByNameAndDescription) {
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {
        {0x00000000, "0x00000000 Good"},
        {0x80340000, "0x80340000 BadNodeIdUnknown"},
        {0x80340400, "0x80340400 BadNodeIdUnknown"},  // info bits do not change the name
        {0x808C0000, "0x808C0000 BadSensorFailure"},
        {0x40900000, "0x40900000 UncertainLastUsableValue"},
        {0xC004000B, "0xC004000B OPC_E_RANGE"},
        {0xC0040004, "0xC0040004 OPC_E_BADTYPE"},
        {0x80020005, "0x80020005 DISP_E_TYPEMISMATCH"},
        {0x12345678, "0x12345678"},
    };
    for (const auto& c : cases) EXPECT_EQ(CodeText(c.code), c.text);
    EXPECT_EQ(CodeExplained(0xC004000B), "0xC004000B OPC_E_RANGE (The value was out of range.)");
    EXPECT_EQ(CodeExplained(0x803B0000),
              "0x803B0000 BadNotWritable (The access level does not allow writing to the Node.)");
    EXPECT_EQ(ResultDescription(0xC0040004).find('\n'), std::string::npos);
    EXPECT_EQ(CodeExplained(0), "0x00000000 Good");
    EXPECT_EQ(StatusCodeByName("BadTimeout"), 0x800A0000u);
    EXPECT_EQ(StatusCodeByName("OPC_E_RANGE"), 0xC004000Bu);
    EXPECT_EQ(StatusCodeByName("NoSuchName"), std::nullopt);
}

}  // namespace
}  // namespace vela::cli
