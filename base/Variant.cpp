#include "base/Variant.h"

#include <limits>

namespace vela {
namespace {

[[noreturn]] void RaiseWrongType(VarType stored, const char* wanted) {
    throw VariantError(kDispETypeMismatch,
                       "The value holds type " + VarTypeName(stored) + ", not " + wanted);
}

Variant ZeroOf(VarType type) {
    if (type == vtVARIANT) return Variant();
    return Variant().ChangeType(type);
}

}  // namespace

std::string VarTypeName(VarType type) {
    if (type & vtArray) return "ARRAY of " + VarTypeName(type & vtTypeMask);
    switch (type) {
        case vtEMPTY: return "EMPTY";
        case vtNULL: return "NULL";
        case vtI2: return "I2";
        case vtI4: return "I4";
        case vtR4: return "R4";
        case vtR8: return "R8";
        case vtCY: return "CY";
        case vtDATE: return "DATE";
        case vtBSTR: return "BSTR";
        case vtDISPATCH: return "DISPATCH";
        case vtERROR: return "ERROR";
        case vtBOOL: return "BOOL";
        case vtVARIANT: return "VARIANT";
        case vtUNKNOWN: return "UNKNOWN";
        case vtDECIMAL: return "DECIMAL";
        case vtI1: return "I1";
        case vtUI1: return "UI1";
        case vtUI2: return "UI2";
        case vtUI4: return "UI4";
        case vtI8: return "I8";
        case vtUI8: return "UI8";
        case vtINT: return "INT";
        case vtUINT: return "UINT";
        default: return "type " + std::to_string(type);
    }
}

bool IsSupportedScalarType(VarType type) {
    switch (type) {
        case vtEMPTY: case vtNULL: case vtI2: case vtI4: case vtR4: case vtR8: case vtCY:
        case vtDATE: case vtBSTR: case vtERROR: case vtBOOL: case vtDECIMAL: case vtI1:
        case vtUI1: case vtUI2: case vtUI4: case vtI8: case vtUI8: case vtINT: case vtUINT:
            return true;
        default:
            return false;
    }
}

Variant Variant::Null() { return Variant(vtNULL, std::monostate{}); }
Variant Variant::FromDate(double dayNumber) { return Variant(vtDATE, dayNumber); }
Variant Variant::FromError(int32_t code) { return Variant(vtERROR, static_cast<int64_t>(code)); }
Variant Variant::FromInt(int32_t value) { return Variant(vtINT, static_cast<int64_t>(value)); }
Variant Variant::FromUInt(uint32_t value) { return Variant(vtUINT, static_cast<uint64_t>(value)); }

Variant Variant::MakeArray(VarType elementType, std::vector<ArrayBound> bounds) {
    const bool elementOk = elementType == vtVARIANT ||
                           (IsSupportedScalarType(elementType) && elementType != vtEMPTY &&
                            elementType != vtNULL);
    if (!elementOk)
        throw VariantError(kDispEBadVarType, "An array cannot hold elements of type " + VarTypeName(elementType));
    if (bounds.empty()) throw VariantError(kDispEBadVarType, "An array needs at least one dimension");
    uint64_t total = 1;
    for (const ArrayBound& b : bounds) {
        if (b.count > 0 && static_cast<int64_t>(b.lowerBound) + b.count - 1 > std::numeric_limits<int32_t>::max())
            throw VariantError(kDispEOverflow, "An array dimension reaches past the largest index");
        total *= b.count;
        if (total > (uint64_t{1} << 31)) throw VariantError(kDispEOverflow, "An array of more than 2^31 elements");
    }
    auto array = std::make_shared<VariantArray>();
    array->elementType_ = elementType;
    array->bounds_ = std::move(bounds);
    array->elements_.assign(total, ZeroOf(elementType));
    return Variant(static_cast<VarType>(vtArray | elementType), std::move(array));
}

Variant Variant::FromElements(VarType elementType, const std::vector<Variant>& elements, int32_t lowerBound) {
    if (elements.size() > std::numeric_limits<uint32_t>::max())
        throw VariantError(kDispEOverflow, "An array of more than 2^32 elements");
    Variant result = MakeArray(elementType, std::vector<ArrayBound>{{lowerBound, static_cast<uint32_t>(elements.size())}});
    VariantArray& array = result.MutableArray();
    for (size_t i = 0; i < elements.size(); ++i) array.Set(i, elements[i]);
    return result;
}

int64_t Variant::SignedValue() const {
    if (const auto* v = std::get_if<int64_t>(&data_)) return *v;
    RaiseWrongType(type_, "a signed integer");
}

uint64_t Variant::UnsignedValue() const {
    if (const auto* v = std::get_if<uint64_t>(&data_)) return *v;
    RaiseWrongType(type_, "an unsigned integer");
}

double Variant::DoubleValue() const {
    if (const auto* v = std::get_if<double>(&data_)) return *v;
    RaiseWrongType(type_, "a floating-point number or date");
}

bool Variant::BoolValue() const {
    if (const auto* v = std::get_if<bool>(&data_)) return *v;
    RaiseWrongType(type_, "BOOL");
}

Currency Variant::CurrencyValue() const {
    if (type_ == vtCY) return Currency{std::get<int64_t>(data_)};
    RaiseWrongType(type_, "CY");
}

const Decimal& Variant::DecimalValue() const {
    if (const auto* v = std::get_if<Decimal>(&data_)) return *v;
    RaiseWrongType(type_, "DECIMAL");
}

const std::string& Variant::StringValue() const {
    if (const auto* v = std::get_if<std::string>(&data_)) return *v;
    RaiseWrongType(type_, "BSTR");
}

const VariantArray& Variant::Array() const {
    if (const auto* v = std::get_if<std::shared_ptr<VariantArray>>(&data_)) return **v;
    RaiseWrongType(type_, "an array");
}

VariantArray& Variant::MutableArray() {
    auto* v = std::get_if<std::shared_ptr<VariantArray>>(&data_);
    if (!v) RaiseWrongType(type_, "an array");
    if (v->use_count() > 1) *v = std::make_shared<VariantArray>(**v);
    return **v;
}

int32_t Variant::ToInt32() const { return static_cast<int32_t>(ChangeType(vtI4).SignedValue()); }
int64_t Variant::ToInt64() const { return ChangeType(vtI8).SignedValue(); }
double Variant::ToDouble() const { return ChangeType(vtR8).DoubleValue(); }
bool Variant::ToBool() const { return ChangeType(vtBOOL).BoolValue(); }

bool Variant::operator==(const Variant& other) const {
    if (type_ != other.type_) return false;
    if (IsArray()) return Array() == other.Array();
    return data_ == other.data_;
}

size_t VariantArray::FlatIndex(const std::vector<int32_t>& indices) const {
    if (indices.size() != bounds_.size())
        throw VariantError(kDispEBadVarType, "An index of " + std::to_string(indices.size()) +
                                                 " dimensions for an array of " + std::to_string(bounds_.size()));
    size_t flat = 0;
    for (size_t d = 0; d < bounds_.size(); ++d) {
        const int64_t offset = static_cast<int64_t>(indices[d]) - bounds_[d].lowerBound;
        if (offset < 0 || offset >= bounds_[d].count)
            throw VariantError(static_cast<int32_t>(0x8002000B),  // DISP_E_BADINDEX
                               "Array index " + std::to_string(indices[d]) + " is out of bounds");
        flat = flat * bounds_[d].count + static_cast<size_t>(offset);
    }
    return flat;
}

const Variant& VariantArray::At(const std::vector<int32_t>& indices) const {
    return elements_[FlatIndex(indices)];
}

void VariantArray::Set(const std::vector<int32_t>& indices, const Variant& value) {
    Set(FlatIndex(indices), value);
}

void VariantArray::Set(size_t flatIndex, const Variant& value) {
    if (flatIndex >= elements_.size())
        throw VariantError(static_cast<int32_t>(0x8002000B), "Array index is out of bounds");
    elements_[flatIndex] = elementType_ == vtVARIANT ? value : value.ChangeType(elementType_);
}

}  // namespace vela
