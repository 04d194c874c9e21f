// Type change of Variant values by the OLE automation rules, with the invariant locale:
// integers round half to even and are range-checked, Booleans are -1 and 0, text is read and
// written with "." as the decimal point and dates as MM/dd/yyyy HH:mm:ss.
#include <cctype>
#include <charconv>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "base/DateTime.h"
#include "base/Text.h"
#include "base/Variant.h"

namespace vela {
namespace {

__extension__ using u128 = unsigned __int128;
__extension__ using i128 = __int128;

[[noreturn]] void RaiseMismatch(VarType from, VarType to) {
    throw VariantError(kDispETypeMismatch,
                       "Cannot convert a value of type " + VarTypeName(from) + " to type " + VarTypeName(to));
}

[[noreturn]] void RaiseOverflow(VarType from, VarType to) {
    throw VariantError(kDispEOverflow,
                       "Overflow converting a value of type " + VarTypeName(from) + " to type " + VarTypeName(to));
}

[[noreturn]] void RaiseBadText(std::string_view text, VarType to) {
    std::string shown(text.substr(0, 64));
    if (text.size() > 64) shown += "...";
    throw VariantError(kDispETypeMismatch, "Text \"" + shown + "\" is not a valid " + VarTypeName(to) + " value");
}

bool IsSignedIntegerType(VarType t) { return t == vtI1 || t == vtI2 || t == vtI4 || t == vtI8 || t == vtINT; }

struct IntRange {
    i128 min;
    i128 max;
};

IntRange RangeOf(VarType t) {
    switch (t) {
        case vtI1: return {INT8_MIN, INT8_MAX};
        case vtI2: return {INT16_MIN, INT16_MAX};
        case vtI4: case vtINT: return {INT32_MIN, INT32_MAX};
        case vtI8: return {INT64_MIN, INT64_MAX};
        case vtUI1: return {0, UINT8_MAX};
        case vtUI2: return {0, UINT16_MAX};
        case vtUI4: case vtUINT: return {0, UINT32_MAX};
        default: return {0, UINT64_MAX};  // vtUI8
    }
}

// An exact decimal number: (negative ? -1 : 1) * magnitude * 10^-scale, scale >= 0.
struct Exact {
    bool negative = false;
    u128 magnitude = 0;
    int scale = 0;
};

constexpr u128 kU128Max = ~u128{0};
constexpr u128 kDecimalMax = (u128{1} << 96) - 1;

u128 Pow10(int n) {
    u128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

// Divides by 10^digits, rounding half to even.
u128 DivideRoundEven(u128 value, int digits) {
    if (digits <= 0) return value;
    if (digits > 38) return 0;
    const u128 divisor = Pow10(digits);
    const u128 quotient = value / divisor;
    const u128 remainder = value % divisor;
    const u128 half = divisor / 2;
    if (remainder > half || (remainder == half && (quotient & 1))) return quotient + 1;
    return quotient;
}

// Rounds to an integer (half to even); nullopt when the magnitude does not fit 128 bits.
std::optional<i128> ExactToInteger(const Exact& e) {
    const u128 m = DivideRoundEven(e.magnitude, e.scale);
    if (m > static_cast<u128>(std::numeric_limits<i128>::max())) return std::nullopt;
    const auto v = static_cast<i128>(m);
    return e.negative ? -v : v;
}

Exact ExactFromInteger(i128 v) {
    Exact e;
    e.negative = v < 0;
    e.magnitude = v < 0 ? static_cast<u128>(-(v + 1)) + 1 : static_cast<u128>(v);
    return e;
}

Exact ExactFromDecimal(const Decimal& d) {
    return Exact{d.negative, (static_cast<u128>(d.hi32) << 64) | d.lo64, d.scale};
}

Exact ExactFromCurrency(int64_t scaled) {
    Exact e = ExactFromInteger(scaled);
    e.scale = 4;
    return e;
}

std::string ExactDigits(const Exact& e) {
    if (e.magnitude == 0) return "0";
    std::string digits;
    for (u128 m = e.magnitude; m != 0; m /= 10) digits.insert(digits.begin(), static_cast<char>('0' + m % 10));
    return digits;
}

// Plain decimal text; trailing zeros of the fraction are left out.
std::string ExactToText(const Exact& e) {
    std::string digits = ExactDigits(e);
    if (e.scale > 0) {
        if (static_cast<int>(digits.size()) <= e.scale) digits.insert(0, e.scale - digits.size() + 1, '0');
        digits.insert(digits.size() - e.scale, ".");
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    return (e.negative && e.magnitude != 0 ? "-" : "") + digits;
}

double ExactToDouble(const Exact& e) {
    if (e.scale == 0) {  // integers convert directly, correctly rounded
        const double v = static_cast<double>(e.magnitude);
        return e.negative ? -v : v;
    }
    const std::string text = ExactDigits(e) + "e-" + std::to_string(e.scale);
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return e.negative ? -v : v;
}

// Fits a number into DECIMAL: scale at most 28, magnitude at most 96 bits; nullopt on overflow.
std::optional<Decimal> ExactToDecimal(Exact e) {
    if (e.scale > 28) {
        e.magnitude = DivideRoundEven(e.magnitude, e.scale - 28);
        e.scale = 28;
    }
    while (e.magnitude > kDecimalMax && e.scale > 0) {
        e.magnitude = DivideRoundEven(e.magnitude, 1);
        --e.scale;
    }
    if (e.magnitude > kDecimalMax) return std::nullopt;
    Decimal d;
    d.negative = e.negative && e.magnitude != 0;
    d.scale = static_cast<uint8_t>(e.scale);
    d.hi32 = static_cast<uint32_t>(e.magnitude >> 64);
    d.lo64 = static_cast<uint64_t>(e.magnitude);
    return d;
}

// Number text in the invariant form: blanks around, a sign, digits with "," between groups,
// a "." fraction, an exponent; or "&H" hexadecimal and "&O" octal integers.
struct ParsedNumber {
    Exact exact;
    bool exactValid = true;  // false when the digits do not fit 128 bits
    std::string normalized;  // for reading as a double: sign, digits, ".", exponent
};

std::optional<ParsedNumber> ParseNumberText(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    ParsedNumber p;
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        uint64_t v = 0;
        const auto [end, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), v, base);
        if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
        // OLE reads these as two's complement of the smallest fitting width.
        i128 value = v;
        if (v <= 0xFFFF && v > 0x7FFF) value = static_cast<int16_t>(v);
        else if (v <= 0xFFFFFFFF && v > 0x7FFFFFFF) value = static_cast<int32_t>(v);
        else if (v > 0x7FFFFFFFFFFFFFFF) value = static_cast<int64_t>(v);
        p.exact = ExactFromInteger(negative ? -value : value);
        p.normalized = ExactToText(p.exact);
        return p;
    }
    std::string digits;
    int fractionDigits = 0;
    bool seenDigit = false, seenPoint = false;
    size_t i = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits += c;
            seenDigit = true;
            if (seenPoint) ++fractionDigits;
        } else if (c == ',' && !seenPoint && seenDigit && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
            continue;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit) return std::nullopt;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
        if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return std::nullopt;
        for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i)
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
        if (expNegative) exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;

    p.normalized = (negative ? "-" : "") + digits + "e" + std::to_string(exponent - fractionDigits);
    const size_t firstNonZero = digits.find_first_not_of('0');
    digits = firstNonZero == std::string::npos ? "0" : digits.substr(firstNonZero);
    long scale = fractionDigits - exponent;
    p.exact.negative = negative;
    if (digits == "0") {
        p.exact.scale = 0;
        return p;
    }
    // Lower digits past 38 cannot change an integer, currency or decimal result but the rounding.
    while (digits.size() > 38 && scale > 0) {
        digits.pop_back();
        --scale;
    }
    if (digits.size() + std::max(0L, -scale) > 38 || scale > 1000) {
        p.exactValid = scale > 1000;  // tiny numbers are exactly zero for these targets
        p.exact.magnitude = 0;
        p.exact.scale = 0;
        return p;
    }
    u128 m = 0;
    for (char c : digits) m = m * 10 + static_cast<unsigned>(c - '0');
    if (scale < 0) {
        m *= Pow10(static_cast<int>(-scale));
        scale = 0;
    }
    if (scale > 38) {
        m = DivideRoundEven(m, static_cast<int>(scale - 38));
        scale = 38;
    }
    p.exact.magnitude = m;
    p.exact.scale = static_cast<int>(scale);
    return p;
}

double ParseDouble(const ParsedNumber& p) {
    double v = 0;
    const char* begin = p.normalized.data();
    const bool negative = *begin == '-';
    const auto [ptr, ec] = std::from_chars(begin + negative, p.normalized.data() + p.normalized.size(), v);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // from_chars reports both overflow and underflow this way: tell them apart by the text
        v = p.normalized.find("e-") != std::string::npos && p.normalized.find_first_of("123456789") != std::string::npos &&
                    std::stol(p.normalized.substr(p.normalized.find('e') + 1)) < 0
                ? 0.0
                : std::numeric_limits<double>::infinity();
    }
    return negative ? -v : v;
}

// Date text: "yyyy-mm-dd", "m/d/yyyy", optionally followed by a time, or a time alone
// ("hh:mm", "hh:mm:ss", "hh:mm:ss.fff"); date and time are separated by a blank or "T".
std::optional<DateTime> ParseDateText(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    auto readInt = [&](size_t& i, int maxDigits, int& out) {
        const size_t start = i;
        out = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < static_cast<size_t>(maxDigits))
            out = out * 10 + (s[i++] - '0');
        return i > start;
    };
    DateTimeParts parts;
    size_t i = 0;
    int a = 0, b = 0, c = 0;
    bool haveDate = false;
    size_t save = i;
    if (readInt(i, 4, a) && i < s.size() && (s[i] == '-' || s[i] == '/')) {
        const char sep = s[i++];
        if (!readInt(i, 2, b) || i >= s.size() || s[i] != sep) return std::nullopt;
        ++i;
        if (!readInt(i, 4, c)) return std::nullopt;
        if (sep == '-') parts.year = a, parts.month = b, parts.day = c;
        else parts.month = a, parts.day = b, parts.year = c;
        haveDate = true;
        if (i < s.size()) {
            if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
            while (i < s.size() && (s[i] == ' ' || s[i] == 'T')) ++i;
        }
    } else {
        i = save;
    }
    bool haveTime = false;
    if (i < s.size()) {
        if (!readInt(i, 2, parts.hour) || i >= s.size() || s[i] != ':') return std::nullopt;
        ++i;
        if (!readInt(i, 2, parts.minute)) return std::nullopt;
        if (i < s.size() && s[i] == ':') {
            ++i;
            if (!readInt(i, 2, parts.second)) return std::nullopt;
            if (i < s.size() && s[i] == '.') {
                ++i;
                const size_t start = i;
                int ms = 0;
                while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
                    if (i - start < 3) ms = ms * 10 + (s[i] - '0');
                    ++i;
                }
                if (i == start) return std::nullopt;
                for (size_t k = i - start; k < 3; ++k) ms *= 10;
                parts.millisecond = ms;
            }
        }
        haveTime = true;
    }
    if (i != s.size() || (!haveDate && !haveTime)) return std::nullopt;
    try {
        return EncodeDateTime(parts);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

std::string Pad(int value, int width) {
    std::string s = std::to_string(value);
    return s.size() < static_cast<size_t>(width) ? std::string(width - s.size(), '0') + s : s;
}

// Date only when the time is midnight, time only on day 0, both otherwise.
std::string DateToText(DateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    const bool hasTime = p.hour || p.minute || p.second;
    const bool hasDate = !(p.year == 1899 && p.month == 12 && p.day == 30);
    std::string out;
    if (hasDate || !hasTime) out = Pad(p.month, 2) + "/" + Pad(p.day, 2) + "/" + Pad(p.year, 4);
    if (hasTime) {
        if (!out.empty()) out += ' ';
        out += Pad(p.hour, 2) + ":" + Pad(p.minute, 2) + ":" + Pad(p.second, 2);
    }
    return out;
}

// Shortest "%G"-style text with the given significant digits, exponent of at least two digits.
std::string RealToText(double v, int precision) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    (void)ec;
    std::string s(buf, end);
    for (char& ch : s)
        if (ch == 'e') ch = 'E';
    return s == "-0" ? "0" : s;
}

double CheckedDate(double v, VarType from) {
    if (!std::isfinite(v) || v <= kMinDateTime - 1.0 || v >= kMaxDateTime + 1.0) RaiseOverflow(from, vtDATE);
    return v;
}

Variant IntegerResult(i128 v, VarType target, VarType from) {
    const IntRange r = RangeOf(target);
    if (v < r.min || v > r.max) RaiseOverflow(from, target);
    Variant result = IsSignedIntegerType(target) ? Variant(static_cast<int64_t>(v)) : Variant(static_cast<uint64_t>(v));
    switch (target) {
        case vtI1: return Variant(static_cast<int8_t>(v));
        case vtI2: return Variant(static_cast<int16_t>(v));
        case vtI4: return Variant(static_cast<int32_t>(v));
        case vtINT: return Variant::FromInt(static_cast<int32_t>(v));
        case vtUI1: return Variant(static_cast<uint8_t>(v));
        case vtUI2: return Variant(static_cast<uint16_t>(v));
        case vtUI4: return Variant(static_cast<uint32_t>(v));
        case vtUINT: return Variant::FromUInt(static_cast<uint32_t>(v));
        default: return result;
    }
}

// Every numeric conversion goes through one of two source forms: exact or double.
Variant FromExact(const Exact& e, VarType target, VarType from) {
    switch (target) {
        case vtR4: {
            const double d = ExactToDouble(e);
            if (std::fabs(d) > std::numeric_limits<float>::max()) RaiseOverflow(from, target);
            return Variant(static_cast<float>(d));
        }
        case vtR8: return Variant(ExactToDouble(e));
        case vtDATE: return Variant::FromDate(CheckedDate(ExactToDouble(e), from));
        case vtBOOL: return Variant(e.magnitude != 0);
        case vtBSTR: return Variant(ExactToText(e));
        case vtCY: {
            Exact scaled = e;
            if (scaled.scale > 4) {
                scaled.magnitude = DivideRoundEven(scaled.magnitude, scaled.scale - 4);
            } else {
                const u128 factor = Pow10(4 - scaled.scale);
                if (scaled.magnitude > kU128Max / factor) RaiseOverflow(from, target);
                scaled.magnitude *= factor;
            }
            scaled.scale = 0;
            const auto v = ExactToInteger(scaled);
            if (!v || *v < INT64_MIN || *v > INT64_MAX) RaiseOverflow(from, target);
            return Variant(Currency{static_cast<int64_t>(*v)});
        }
        case vtDECIMAL: {
            const auto d = ExactToDecimal(e);
            if (!d) RaiseOverflow(from, target);
            return Variant(*d);
        }
        default: {
            const auto v = ExactToInteger(e);
            if (!v) RaiseOverflow(from, target);
            return IntegerResult(*v, target, from);
        }
    }
}

Variant FromDouble(double v, VarType target, VarType from) {
    switch (target) {
        case vtR4:
            if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) RaiseOverflow(from, target);
            return Variant(static_cast<float>(v));
        case vtR8: return Variant(v);
        case vtDATE: return Variant::FromDate(CheckedDate(v, from));
        case vtBOOL: return Variant(v != 0);
        case vtBSTR:
            return Variant(from == vtDATE ? DateToText(v) : RealToText(v, from == vtR4 ? 7 : 15));
        case vtDECIMAL: {
            if (!std::isfinite(v)) RaiseOverflow(from, target);
            const auto p = ParseNumberText(RealToText(v, 15));
            if (!p || !p->exactValid) RaiseOverflow(from, target);
            return FromExact(p->exact, target, from);
        }
        case vtCY: {
            if (!std::isfinite(v)) RaiseOverflow(from, target);
            const double scaled = std::nearbyint(v * 10000.0);
            if (scaled < -9223372036854775808.0 || scaled >= 9223372036854775808.0) RaiseOverflow(from, target);
            return Variant(Currency{static_cast<int64_t>(scaled)});
        }
        default: {
            if (!std::isfinite(v)) RaiseOverflow(from, target);
            const double rounded = std::nearbyint(v);  // the default rounding mode: half to even
            if (rounded < -1.8e19 || rounded > 1.9e19) RaiseOverflow(from, target);
            return IntegerResult(static_cast<i128>(rounded), target, from);
        }
    }
}

Variant FromText(const std::string& text, VarType target) {
    if (target == vtBSTR) return Variant(text);
    if (target == vtDATE) {
        if (const auto d = ParseDateText(text)) return Variant::FromDate(*d);
        const auto p = ParseNumberText(text);
        if (!p) RaiseBadText(text, target);
        return FromDouble(ParseDouble(*p), target, vtBSTR);
    }
    if (target == vtBOOL) {
        const std::string_view t = TrimBlanks(text);
        if (EqualsNoCase(t, "true")) return Variant(true);
        if (EqualsNoCase(t, "false")) return Variant(false);
    }
    const auto p = ParseNumberText(text);
    if (!p) RaiseBadText(text, target);
    if (target == vtR4 || target == vtR8 || target == vtBOOL) return FromDouble(ParseDouble(*p), target, vtBSTR);
    if (!p->exactValid) RaiseOverflow(vtBSTR, target);
    return FromExact(p->exact, target, vtBSTR);
}

int IntegerWidth(VarType t) {
    switch (t) {
        case vtI1: case vtUI1: return 1;
        case vtI2: case vtUI2: return 2;
        case vtI4: case vtUI4: case vtINT: case vtUINT: return 4;
        case vtI8: case vtUI8: return 8;
        default: return 0;
    }
}

// OLE changes between signed and unsigned integers of one width by their bit pattern
// (I4 -1 becomes UI4 4294967295), not by value.
std::optional<Variant> ReinterpretSameWidth(const Variant& v, VarType target) {
    const VarType from = v.Type();
    const int width = IntegerWidth(from);
    if (width == 0 || width != IntegerWidth(target) || IsSignedIntegerType(from) == IsSignedIntegerType(target))
        return std::nullopt;
    const uint64_t bits = IsSignedIntegerType(from) ? static_cast<uint64_t>(v.SignedValue()) : v.UnsignedValue();
    const uint64_t mask = width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
    const uint64_t pattern = bits & mask;
    if (!IsSignedIntegerType(target)) return IntegerResult(static_cast<i128>(pattern), target, from);
    const uint64_t signBit = uint64_t{1} << (8 * width - 1);
    const i128 value = (pattern & signBit) ? static_cast<i128>(pattern) - (static_cast<i128>(mask) + 1) : static_cast<i128>(pattern);
    return IntegerResult(value, target, from);
}

Variant ChangeScalar(const Variant& v, VarType target) {
    const VarType from = v.Type();
    if (auto same = ReinterpretSameWidth(v, target)) return *same;
    if (from == target) return v;
    if (!IsSupportedScalarType(target) || target == vtEMPTY || target == vtNULL) {
        if (target == vtEMPTY) return Variant();
        if (target == vtNULL && from == vtEMPTY) return Variant::Null();
        RaiseMismatch(from, target);
    }
    if (target == vtERROR || from == vtERROR || from == vtNULL) RaiseMismatch(from, target);
    switch (from) {
        case vtEMPTY:
            if (target == vtBSTR) return Variant(std::string());
            return FromExact(Exact{}, target, from);
        case vtBOOL:
            // True is -1, taken as an integer of the target's width: 255 as UI1
            if (v.BoolValue() && IntegerWidth(target) && !IsSignedIntegerType(target))
                return IntegerResult(RangeOf(target).max, target, from);
            return FromExact(ExactFromInteger(v.BoolValue() ? -1 : 0), target, from);
        case vtI1: case vtI2: case vtI4: case vtI8: case vtINT:
            return FromExact(ExactFromInteger(v.SignedValue()), target, from);
        case vtUI1: case vtUI2: case vtUI4: case vtUI8: case vtUINT:
            return FromExact(ExactFromInteger(v.UnsignedValue()), target, from);
        case vtR4: case vtR8: case vtDATE:
            return FromDouble(v.DoubleValue(), target, from);
        case vtCY:
            return FromExact(ExactFromCurrency(v.CurrencyValue().scaled), target, from);
        case vtDECIMAL:
            return FromExact(ExactFromDecimal(v.DecimalValue()), target, from);
        case vtBSTR:
            return FromText(v.StringValue(), target);
        default:
            RaiseMismatch(from, target);
    }
}

}  // namespace

Variant Variant::ChangeType(VarType target) const {
    if (target == type_) return *this;
    const bool targetIsArray = (target & vtArray) != 0;
    if (targetIsArray != IsArray()) {
        if (target == vtEMPTY) return Variant();
        RaiseMismatch(type_, target);
    }
    if (!targetIsArray) return ChangeScalar(*this, target);
    const VarType element = target & vtTypeMask;
    Variant result = MakeArray(element, Array().Bounds());
    VariantArray& out = result.MutableArray();
    const auto& in = Array().Elements();
    for (size_t i = 0; i < in.size(); ++i) out.Set(i, in[i]);
    return result;
}

std::string Variant::ToString() const {
    if (type_ == vtBSTR) return StringValue();
    if (type_ == vtBOOL) return BoolValue() ? "True" : "False";
    return ChangeType(vtBSTR).StringValue();
}

}  // namespace vela
