#pragma once
// The value of an item: a portable value with the meaning of the COM VARIANT (VARTYPE numbering,
// arrays with bounds, text, dates, currency, decimal, 64-bit integers, Null and Empty) and with
// value semantics. Arrays are shared copy-on-write, so copies are cheap and independent.
#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/Exception.h"

namespace vela {

using VarType = uint16_t;  // COM VARTYPE numbering

inline constexpr VarType vtEMPTY = 0, vtNULL = 1, vtI2 = 2, vtI4 = 3, vtR4 = 4, vtR8 = 5, vtCY = 6,
                         vtDATE = 7, vtBSTR = 8, vtDISPATCH = 9, vtERROR = 10, vtBOOL = 11,
                         vtVARIANT = 12, vtUNKNOWN = 13, vtDECIMAL = 14, vtI1 = 16, vtUI1 = 17,
                         vtUI2 = 18, vtUI4 = 19, vtI8 = 20, vtUI8 = 21, vtINT = 22, vtUINT = 23;
inline constexpr VarType vtArray = 0x2000;
inline constexpr VarType vtTypeMask = 0x0FFF;

// Result codes of failed conversions, the same as OLE automation reports.
inline constexpr int32_t kDispETypeMismatch = static_cast<int32_t>(0x80020005);
inline constexpr int32_t kDispEOverflow = static_cast<int32_t>(0x8002000A);
inline constexpr int32_t kDispEBadVarType = static_cast<int32_t>(0x80020008);

class VariantError : public Exception {
public:
    VariantError(int32_t code, const std::string& message) : Exception(message), code_(code) {}
    int32_t Code() const { return code_; }

private:
    int32_t code_;
};

// The name of a VARTYPE ("I4", "BSTR", "ARRAY of R8") for messages and logs.
std::string VarTypeName(VarType type);
// True for the scalar types this value type holds (every type above but Dispatch and Unknown).
bool IsSupportedScalarType(VarType type);

// Fixed-point with four decimals, as COM's CY: the stored integer is the value times 10,000.
struct Currency {
    int64_t scaled = 0;
    auto operator<=>(const Currency&) const = default;
};

// COM's DECIMAL: a 96-bit unsigned magnitude, a power-of-ten scale 0..28 and a sign.
struct Decimal {
    uint32_t hi32 = 0;
    uint64_t lo64 = 0;
    uint8_t scale = 0;
    bool negative = false;
    bool operator==(const Decimal&) const = default;
};

struct ArrayBound {
    int32_t lowerBound = 0;
    uint32_t count = 0;
    bool operator==(const ArrayBound&) const = default;
};

class VariantArray;

class Variant {
public:
    Variant() = default;  // Empty
    Variant(bool value) : type_(vtBOOL), data_(value) {}
    template <typename T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
    Variant(T value) {
        if constexpr (std::is_signed_v<T>) {
            type_ = sizeof(T) == 1 ? vtI1 : sizeof(T) == 2 ? vtI2 : sizeof(T) == 4 ? vtI4 : vtI8;
            data_ = static_cast<int64_t>(value);
        } else {
            type_ = sizeof(T) == 1 ? vtUI1 : sizeof(T) == 2 ? vtUI2 : sizeof(T) == 4 ? vtUI4 : vtUI8;
            data_ = static_cast<uint64_t>(value);
        }
    }
    Variant(float value) : type_(vtR4), data_(static_cast<double>(value)) {}
    Variant(double value) : type_(vtR8), data_(value) {}
    Variant(std::string value) : type_(vtBSTR), data_(std::move(value)) {}
    Variant(std::string_view value) : Variant(std::string(value)) {}
    Variant(const char* value) : Variant(std::string(value)) {}
    Variant(Currency value) : type_(vtCY), data_(value.scaled) {}
    Variant(const Decimal& value) : type_(vtDECIMAL), data_(value) {}

    static Variant Null();
    static Variant FromDate(double dayNumber);
    static Variant FromError(int32_t code);
    static Variant FromInt(int32_t value);    // vtINT
    static Variant FromUInt(uint32_t value);  // vtUINT
    // An array of the element type (a scalar type or vtVARIANT) with the given bounds, every
    // element at its type's zero (Empty for vtVARIANT). Raises for a bad type or a size that
    // does not fit 2^31 elements.
    static Variant MakeArray(VarType elementType, std::vector<ArrayBound> bounds);
    // A one-dimensional array holding the elements converted to the element type.
    static Variant FromElements(VarType elementType, const std::vector<Variant>& elements, int32_t lowerBound = 0);

    VarType Type() const { return type_; }
    bool IsEmpty() const { return type_ == vtEMPTY; }
    bool IsNull() const { return type_ == vtNULL; }
    bool IsArray() const { return (type_ & vtArray) != 0; }
    VarType ElementType() const { return type_ & vtTypeMask; }

    // Raw access; each raises VariantError (type mismatch) when the stored type differs.
    int64_t SignedValue() const;      // I1, I2, I4, I8, Int, Error
    uint64_t UnsignedValue() const;   // UI1, UI2, UI4, UI8, UInt
    double DoubleValue() const;       // R4, R8, Date
    bool BoolValue() const;
    Currency CurrencyValue() const;
    const Decimal& DecimalValue() const;
    const std::string& StringValue() const;
    const VariantArray& Array() const;
    VariantArray& MutableArray();     // unshares a shared array first

    // OLE automation type change with the invariant locale (Booleans become the texts "-1" and
    // "0"; signed and unsigned integers of one width change by bit pattern). Raises VariantError with
    // kDispETypeMismatch (no such conversion, text that is no valid value) or kDispEOverflow.
    Variant ChangeType(VarType target) const;
    // Conversions through ChangeType.
    int32_t ToInt32() const;
    int64_t ToInt64() const;
    double ToDouble() const;
    bool ToBool() const;
    std::string ToString() const;  // Empty gives ""; Booleans give "True" and "False"

    // Same type and same value; arrays compare bounds and elements.
    bool operator==(const Variant& other) const;

private:
    friend class VariantArray;
    using Storage = std::variant<std::monostate, int64_t, uint64_t, double, bool, std::string, Decimal,
                                 std::shared_ptr<VariantArray>>;
    Variant(VarType type, Storage data) : type_(type), data_(std::move(data)) {}

    VarType type_ = vtEMPTY;
    Storage data_;
};

class VariantArray {
public:
    VarType ElementType() const { return elementType_; }
    const std::vector<ArrayBound>& Bounds() const { return bounds_; }
    int Dimensions() const { return static_cast<int>(bounds_.size()); }
    size_t Size() const { return elements_.size(); }
    // Elements in row-major order: the last index varies fastest.
    const std::vector<Variant>& Elements() const { return elements_; }
    const Variant& At(const std::vector<int32_t>& indices) const;
    // Stores a value converted to the element type (vtVARIANT elements keep it as it is).
    void Set(const std::vector<int32_t>& indices, const Variant& value);
    void Set(size_t flatIndex, const Variant& value);
    bool operator==(const VariantArray&) const = default;

private:
    friend class Variant;
    size_t FlatIndex(const std::vector<int32_t>& indices) const;

    VarType elementType_ = vtVARIANT;
    std::vector<ArrayBound> bounds_;
    std::vector<Variant> elements_;
};

}  // namespace vela
