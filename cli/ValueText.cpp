#include "cli/ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/Text.h"
#include "base/Utf.h"
#include "cli/StatusNames.h"
#include "cli/StructureText.h"

namespace vela::cli {
namespace {

constexpr const char* kBuiltInNames[] = {
    "unknown type", "Boolean", "SByte", "Byte", "Int16", "UInt16", "Int32", "UInt32", "Int64", "UInt64", "Float",
    "Double", "String", "DateTime", "Guid", "ByteString", "XmlElement", "NodeId", "ExpandedNodeId", "StatusCode",
    "QualifiedName", "LocalizedText", "ExtensionObject", "DataValue", "Variant", "DiagnosticInfo"};

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits with what people put between them: group separators and decimal commas.
bool LooksLikeGroupedNumber(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    if (text.empty() || !IsDigit(text[0])) return false;
    bool separated = false;
    for (char c : text) {
        if (c == ',' || c == '\'' || c == ' ' || c == '_') separated = true;
        else if (!IsDigit(c) && c != '.') return false;
    }
    return separated;
}

[[noreturn]] void NotANumber(std::string_view text, int builtIn, bool whole) {
    std::string message = Quoted(text) + " is not " + (whole ? "a whole number" : "a number") + " (" +
                          BuiltInName(builtIn) + ")";
    if (LooksLikeGroupedNumber(text)) message += ": write it without group separators, with '.' as the decimal point";
    else if (whole && text.find_first_of(".eE") != std::string::npos && text.find("0x") != 0) message += ": no fraction or exponent";
    throw ValueError(message);
}

struct Integer {
    bool negative = false;
    uint64_t magnitude = 0;
};

// Decimal digits with an optional sign, or 0x and hex digits.
std::optional<Integer> ParseInteger(std::string_view text) {
    Integer result;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        result.negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text[0] == '+' || text[0] == '-') return std::nullopt;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), result.magnitude, base);
    if (stop != text.data() + text.size() || error == std::errc::invalid_argument) return std::nullopt;
    if (error == std::errc::result_out_of_range) result.magnitude = std::numeric_limits<uint64_t>::max();
    return result;
}

Variant IntegerVariant(const Integer& number) {
    if (!number.negative) {
        if (number.magnitude <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return Variant(static_cast<int64_t>(number.magnitude));
        return Variant(number.magnitude);
    }
    if (number.magnitude <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return Variant(-static_cast<int64_t>(number.magnitude));
    if (number.magnitude == static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1)
        return Variant(std::numeric_limits<int64_t>::min());
    return Variant(-static_cast<double>(number.magnitude));  // beyond every integer type: the range check refuses it
}

template <typename T>
std::optional<T> ParseFloating(std::string_view text, bool& outOfRange) {
    if (text.starts_with("+")) {
        text.remove_prefix(1);
        if (text.starts_with("-")) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    T value{};
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (stop != text.data() + text.size() || error == std::errc::invalid_argument) return std::nullopt;
    outOfRange = error == std::errc::result_out_of_range;
    return value;
}

Variant ParseNumber(std::string_view text, int builtIn) {
    bool outOfRange = false;
    if (builtIn == kFloat) {
        if (auto value = ParseFloating<float>(text, outOfRange); value && !outOfRange) return Variant(*value);
    }
    if (auto value = ParseFloating<double>(text, outOfRange)) {
        if (outOfRange) throw ValueError(Quoted(text) + " is out of range (" + BuiltInName(builtIn) + ")");
        return Variant(*value);
    }
    NotANumber(text, builtIn, false);
}

Variant ParseBoolean(std::string_view text) {
    if (EqualsNoCase(text, "true") || text == "1") return Variant(true);
    if (EqualsNoCase(text, "false") || text == "0") return Variant(false);
    throw ValueError(Quoted(text) + " is not a Boolean: use true or false");
}

Variant ParseStatusCode(std::string_view text) {
    const size_t blank = text.find(' ');
    const std::string_view number = text.substr(0, blank);
    const std::string_view name = blank == std::string_view::npos ? std::string_view() : TrimBlanks(text.substr(blank));
    std::optional<uint32_t> code;
    if (auto integer = ParseInteger(number); integer && !integer->negative && integer->magnitude <= 0xFFFFFFFFu)
        code = static_cast<uint32_t>(integer->magnitude);
    else if (blank == std::string_view::npos)
        code = StatusCodeByName(text);
    if (!code)
        throw ValueError(Quoted(text) + " is not a status code: write 0x80340000, a name like BadNodeIdUnknown, or both");
    if (!name.empty() && StatusCodeByName(name) != code)
        throw ValueError(Quoted(text) + ": the name does not go with the code");
    return Variant(*code);
}

Variant BytesVariant(const std::vector<uint8_t>& bytes) {
    std::vector<Variant> elements(bytes.begin(), bytes.end());
    return Variant::FromElements(vtUI1, elements);
}

int Digits(std::string_view text, size_t& at, size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!IsDigit(text[at + i])) return -1;
        value = value * 10 + (text[at + i] - '0');
    }
    at += count;
    return value;
}

bool NeedsQuotes(std::string_view text) {
    if (text.empty() || static_cast<unsigned char>(text.front()) <= ' ' || static_cast<unsigned char>(text.back()) <= ' ')
        return true;
    for (char c : text)
        if (c == ',' || c == '[' || c == ']' || c == '"' || c == '\\' || static_cast<unsigned char>(c) < ' ') return true;
    return false;
}

struct Token {
    std::string text;
    bool quoted = false;
};


std::vector<Token> SplitArray(std::string_view text) {
    const auto fail = [&](const std::string& why) -> ValueError {
        return ValueError(Quoted(text) + " is not an array: " + why);
    };
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') throw fail("write it as [a, b, c]");
    std::vector<Token> tokens;
    size_t at = 1;
    const size_t end = text.size() - 1;
    const auto skipBlanks = [&] {
        while (at < end && (text[at] == ' ' || text[at] == '\t')) ++at;
    };
    skipBlanks();
    if (at == end) return tokens;
    for (;;) {
        skipBlanks();
        Token token;
        if (at < end && text[at] == '[') throw fail("arrays inside arrays (matrices) cannot be written");
        if (at < end && text[at] == '"') {
            token.quoted = true;
            ++at;
            std::u16string units;  // of \u escapes in a row, so that surrogate pairs join
            for (;;) {
                if (at >= end) throw fail("a quoted element has no closing quote");
                const char c = text[at++];
                if (c != '\\' || (at < end && text[at] != 'u')) {
                    token.text += Utf16ToUtf8(units);
                    units.clear();
                }
                if (c == '"') break;
                if (c != '\\') {
                    token.text += c;
                    continue;
                }
                if (at >= end) throw fail("a '\\' ends the text");
                const char escaped = text[at++];
                switch (escaped) {
                    case '"': token.text += '"'; break;
                    case '\\': token.text += '\\'; break;
                    case 'n': token.text += '\n'; break;
                    case 'r': token.text += '\r'; break;
                    case 't': token.text += '\t'; break;
                    case 'u': {
                        uint32_t code = 0;
                        const auto [stop, error] = std::from_chars(text.data() + at, text.data() + std::min(at + 4, end), code, 16);
                        if (error != std::errc() || stop != text.data() + at + 4) throw fail("\\u needs four hex digits");
                        at += 4;
                        units += static_cast<char16_t>(code);
                        break;
                    }
                    default: throw fail(std::string("unknown escape \\") + escaped);
                }
            }
            skipBlanks();
        } else {
            const size_t start = at;
            while (at < end && text[at] != ',' && text[at] != '"' && text[at] != '[' && text[at] != ']') ++at;
            token.text = std::string(TrimBlanks(text.substr(start, at - start)));
            if (token.text.empty()) throw fail("an element is missing (write an empty text as \"\")");
        }
        tokens.push_back(std::move(token));
        if (at == end) return tokens;
        if (text[at] != ',') throw fail("elements are separated by ','; quote an element holding \" [ ] or ,");
        ++at;
    }
}

bool IsStringLike(int builtIn) {
    switch (builtIn) {
        case kString: case kGuid: case kXmlElement: case kNodeId: case kExpandedNodeId: case kQualifiedName:
        case kLocalizedText: return true;
        default: return false;
    }
}

bool IsInteger(int builtIn) { return builtIn >= kSByte && builtIn <= kUInt64; }

// The value of a text whose item type is not known: what the text looks like.
Variant Infer(const Token& token) {
    const std::string_view text = token.text;
    if (token.quoted) return Variant(token.text);
    if (EqualsNoCase(text, "true")) return Variant(true);
    if (EqualsNoCase(text, "false")) return Variant(false);
    if (auto bytes = ParseBytes(text)) return BytesVariant(*bytes);
    if (auto integer = ParseInteger(text)) {
        const Variant wide = IntegerVariant(*integer);
        if (wide.Type() == vtI8 && wide.SignedValue() >= INT32_MIN && wide.SignedValue() <= INT32_MAX)
            return Variant(static_cast<int32_t>(wide.SignedValue()));
        return wide;
    }
    bool outOfRange = false;
    if (auto number = ParseFloating<double>(text, outOfRange); number && !outOfRange) return Variant(*number);
    if (LooksLikeGroupedNumber(text))
        throw ValueError(Quoted(text) + " is not a number: write it without group separators, with '.' as the "
                         "decimal point (or quote it in an array to write a text)");
    if (text == "no time" || (text.size() >= 10 && IsDigit(text[0]) && text[4] == '-' && text[7] == '-'))
        return Variant::FromDate(ParseDateTime(text));
    return Variant(token.text);
}

Variant ParseScalar(const Token& token, int builtIn) {
    const std::string_view text = token.text;
    if (IsStringLike(builtIn)) return Variant(token.text);
    if (IsInteger(builtIn)) {
        if (auto integer = ParseInteger(text)) return IntegerVariant(*integer);
        NotANumber(text, builtIn, true);
    }
    switch (builtIn) {
        case kBoolean: return ParseBoolean(text);
        case kFloat: case kDouble: return ParseNumber(text, builtIn);
        case kDateTime: return Variant::FromDate(ParseDateTime(text));
        case kStatusCode: return ParseStatusCode(text);
        case kByteString: case kExtensionObject: {
            if (auto bytes = ParseBytes(text)) return BytesVariant(*bytes);
            throw ValueError(Quoted(text) + " is not a byte string: write it as 0x0102ff or base64:AQL/");
        }
        default: return Infer(token);
    }
}

VarType CommonType(const std::vector<Variant>& elements) {
    if (elements.empty()) return vtVARIANT;
    const VarType first = elements.front().Type();
    for (const Variant& element : elements)
        if (element.Type() != first || element.IsArray()) return vtVARIANT;
    return first;
}

VarType ElementVarType(int builtIn) {
    switch (builtIn) {
        case kBoolean: return vtBOOL;
        case kSByte: case kInt16: case kInt32: case kInt64: return vtI8;
        case kByte: case kUInt16: case kUInt32: case kUInt64: case kStatusCode: return vtUI8;
        case kFloat: case kDouble: return vtR8;
        case kDateTime: return vtDATE;
        default: return IsStringLike(builtIn) ? vtBSTR : vtVARIANT;
    }
}

Variant ParseArray(std::string_view text, const ValueType& type) {
    std::vector<Variant> elements;
    const int builtIn = type.builtIn == kVariant ? kUnknown : type.builtIn;
    for (const Token& token : SplitArray(text)) elements.push_back(ParseScalar(token, builtIn));
    // elements of different types stay as they are: one type for all would change some of them
    return Variant::FromElements(elements.empty() ? ElementVarType(builtIn) : CommonType(elements), elements);
}

std::string ScalarText(const Variant& value, const ValueType& type, bool inVariantArray) {
    switch (value.Type()) {
        case vtEMPTY: return "(empty)";
        case vtNULL: return "(null)";
        case vtBOOL: return value.BoolValue() ? "true" : "false";
        case vtI1: case vtI2: case vtI4: case vtI8: case vtINT: return std::to_string(value.SignedValue());
        case vtUI1: case vtUI2: case vtUI4: case vtUI8: case vtUINT:
            if (type.builtIn == kStatusCode) return CodeText(static_cast<uint32_t>(value.UnsignedValue()));
            return std::to_string(value.UnsignedValue());
        case vtR4: return FloatText(static_cast<float>(value.DoubleValue()));
        case vtR8: return DoubleText(value.DoubleValue());
        case vtDATE: return DateTimeText(value.DoubleValue());
        case vtBSTR: return inVariantArray ? QuotedText(value.StringValue()) : value.StringValue();
        case vtERROR: return "error " + CodeText(static_cast<uint32_t>(value.SignedValue()));
        default:
            try {
                return value.ToString();
            } catch (const std::exception&) {
                return "(" + VarTypeName(value.Type()) + ", not shown)";
            }
    }
}

std::string ArrayText(const VariantArray& array, const ValueType& type) {
    const ValueType elementType{type.builtIn, type.dataType, false};
    const bool variants = array.ElementType() == vtVARIANT;
    const auto element = [&](const Variant& v) {
        if (v.IsArray()) return FormatValue(v, elementType);
        if (v.Type() == vtBSTR && !variants) return ElementText(v.StringValue());
        return ScalarText(v, elementType, variants);
    };
    const auto& bounds = array.Bounds();
    const auto& elements = array.Elements();
    // row-major: the last dimension varies fastest
    std::vector<size_t> strides(bounds.size(), 1);
    for (size_t d = bounds.size(); d-- > 1;) strides[d - 1] = strides[d] * bounds[d].count;
    std::string text;
    const auto nest = [&](auto& self, size_t dimension, size_t offset) -> void {
        text += '[';
        for (uint32_t i = 0; i < bounds[dimension].count; ++i) {
            if (i) text += ", ";
            const size_t at = offset + i * strides[dimension];
            if (dimension + 1 < bounds.size()) self(self, dimension + 1, at);
            else text += element(elements.at(at));
        }
        text += ']';
    };
    if (bounds.empty()) return "[]";
    nest(nest, 0, 0);
    return text;
}

}  // namespace

std::string BuiltInName(int builtIn) {
    if (builtIn >= 0 && builtIn <= kDiagnosticInfo) return kBuiltInNames[builtIn];
    return "type " + std::to_string(builtIn);
}

std::string DoubleText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string FloatText(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string DateTimeText(DateTime utc) {
    if (!(utc > kMinDateTime)) return "no time";
    // the last millisecond of the range lies beyond kMaxDateTime, which stands for it
    if (utc >= kMaxDateTime && utc < kMaxDateTime + 1.0 / 86400) return "9999-12-31T23:59:59.999Z";
    try {
        const DateTimeParts p = DecodeDateTime(utc);
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.year, p.month, p.day, p.hour,
                      p.minute, p.second, p.millisecond);
        return text;
    } catch (const std::exception&) {
        return "(date out of range: " + DoubleText(utc) + ")";
    }
}

DateTime ParseDateTime(std::string_view text) {
    if (text == "no time") return kMinDateTime;
    const auto fail = [&](const char* why) {
        return ValueError(Quoted(text) + " is not a date-time" + (*why ? std::string(": ") + why : std::string()) +
                          "; write it as 2024-01-02T03:04:05.000Z");
    };
    DateTimeParts parts;
    size_t at = 0;
    parts.year = Digits(text, at, 4);
    if (parts.year < 0 || at >= text.size() || text[at++] != '-') throw fail("");
    parts.month = Digits(text, at, 2);
    if (parts.month < 0 || at >= text.size() || text[at++] != '-') throw fail("");
    parts.day = Digits(text, at, 2);
    if (parts.day < 0) throw fail("");
    double fraction = 0;  // seconds
    int offsetMinutes = 0;
    if (at < text.size()) {
        if (text[at] != 'T' && text[at] != 't' && text[at] != ' ') throw fail("");
        ++at;
        parts.hour = Digits(text, at, 2);
        if (parts.hour < 0 || at >= text.size() || text[at++] != ':') throw fail("");
        parts.minute = Digits(text, at, 2);
        if (parts.minute < 0) throw fail("");
        if (at < text.size() && text[at] == ':') {
            ++at;
            parts.second = Digits(text, at, 2);
            if (parts.second < 0) throw fail("");
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                ++at;
                double scale = 0.1;
                const size_t start = at;
                for (; at < text.size() && IsDigit(text[at]); ++at, scale /= 10) fraction += (text[at] - '0') * scale;
                if (at == start || at - start > 9) throw fail("");
            }
        }
        if (at >= text.size()) throw fail("add Z for UTC or an offset like +01:00");
        if (text[at] == 'Z' || text[at] == 'z') {
            ++at;
        } else if (text[at] == '+' || text[at] == '-') {
            const int sign = text[at++] == '-' ? -1 : 1;
            const int hours = Digits(text, at, 2);
            if (at < text.size() && text[at] == ':') ++at;
            const int minutes = Digits(text, at, 2);
            if (hours < 0 || minutes < 0 || hours > 23 || minutes > 59) throw fail("bad offset");
            offsetMinutes = sign * (hours * 60 + minutes);
        } else {
            throw fail("");
        }
        if (at != text.size()) throw fail("");
    }
    if (parts.hour > 23 || parts.minute > 59 || parts.second > 59) throw fail("a time field is out of range");
    try {
        const double days = DateTimeToLinearDays(EncodeDateTime(parts)) + (fraction - offsetMinutes * 60.0) / 86400.0;
        DateTime value = LinearDaysToDateTime(days);
        if (value > kMaxDateTime && value < kMaxDateTime + 1.0 / 86400) value = kMaxDateTime;
        if (!(value >= kMinDateTime && value <= kMaxDateTime)) throw fail("out of range (years 100 to 9999)");
        return value;
    } catch (const ValueError&) {
        throw;
    } catch (const std::exception&) {
        throw fail("a field is out of range");
    }
}

std::string BytesText(const std::vector<uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "0x";
    for (uint8_t b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

std::optional<std::vector<uint8_t>> ParseBytes(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        const std::string_view digits = text.substr(2);
        if (digits.size() % 2 != 0)
            throw ValueError(Quoted(text) + " is not a byte string: an odd number of hex digits");
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < digits.size(); i += 2) {
            uint8_t b = 0;
            const auto [stop, error] = std::from_chars(digits.data() + i, digits.data() + i + 2, b, 16);
            if (error != std::errc() || stop != digits.data() + i + 2)
                throw ValueError(Quoted(text) + " is not a byte string: only hex digits may follow 0x");
            bytes.push_back(b);
        }
        return bytes;
    }
    if (text.starts_with("base64:")) {
        auto decoded = Base64Decode(text.substr(7));
        if (!decoded) throw ValueError(Quoted(text) + " is not a byte string: bad base64 after base64:");
        return std::vector<uint8_t>(decoded->begin(), decoded->end());
    }
    return std::nullopt;
}

std::string QuotedText(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < ' ') {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    quoted += escape;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string ElementText(std::string_view text) { return NeedsQuotes(text) ? QuotedText(text) : std::string(text); }

std::string FormatValue(const Variant& value, const ValueType& type) {
    try {
        if (!value.IsArray()) return ScalarText(value, type, false);
        const VariantArray& array = value.Array();
        const bool byteList = type.builtIn == kByte && type.array;
        if (array.ElementType() == vtUI1 && array.Dimensions() == 1 && !byteList) {
            std::vector<uint8_t> bytes;
            for (const Variant& b : array.Elements()) bytes.push_back(static_cast<uint8_t>(b.UnsignedValue()));
            if (type.builtIn == kExtensionObject && !type.array)
                if (auto structure = StructureText(type.dataType, bytes)) return *structure;
            return BytesText(bytes);
        }
        return ArrayText(array, type);
    } catch (const std::exception&) {
        return "(" + VarTypeName(value.Type()) + ", not shown)";
    }
}

Variant ParseValue(std::string_view text, const ValueType& type) {
    const std::string_view trimmed = TrimBlanks(text);
    const int builtIn = type.builtIn == kVariant ? kUnknown : type.builtIn;
    if (type.array) {
        if ((builtIn == kByte || builtIn == kUnknown) && !trimmed.starts_with("["))
            if (auto bytes = ParseBytes(trimmed)) return BytesVariant(*bytes);
        if (!trimmed.starts_with("["))
            throw ValueError("the item holds an array of " + BuiltInName(builtIn) + ": write it as [a, b, c]");
        return ParseArray(trimmed, type);
    }
    if (IsStringLike(builtIn)) return Variant(std::string(text));
    if (builtIn == kExtensionObject && type.dataType == kRangeType && trimmed.starts_with("{")) {
        if (auto body = ParseRange(std::string(trimmed))) return BytesVariant(*body);
        throw ValueError(Quoted(trimmed) + " is not a Range: write it as {low: 0, high: 100}");
    }
    if ((builtIn == kByteString || builtIn == kExtensionObject) && trimmed.starts_with("[")) {
        std::vector<uint8_t> bytes;
        const Variant list = ParseArray(trimmed, ValueType{kByte, 0, true});
        for (const Variant& element : list.Array().Elements()) {
            if (element.Type() != vtI8 || element.SignedValue() < 0 || element.SignedValue() > 255)
                throw ValueError(Quoted(trimmed) + " is not a byte string: its elements are bytes, 0..255");
            bytes.push_back(static_cast<uint8_t>(element.SignedValue()));
        }
        return BytesVariant(bytes);
    }
    if (builtIn == kUnknown && trimmed.starts_with("[")) return ParseArray(trimmed, type);
    if (trimmed.empty() && builtIn != kUnknown)
        throw ValueError("an empty text is no " + BuiltInName(builtIn));
    Variant value = ParseScalar(Token{std::string(trimmed), false}, builtIn);
    if (value.Type() == vtBSTR) return Variant(std::string(text));  // a text is written as typed
    return value;
}

}  // namespace vela::cli
