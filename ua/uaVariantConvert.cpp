#include "ua/uaVariantConvert.h"

#include <cstdint>

namespace vela::ua {
namespace {

// What cannot become the node's type is a type mismatch, as the OLE change of type has it.
[[noreturn]] void Mismatch(const std::string& text) { throw VariantError(kDispETypeMismatch, text); }
[[noreturn]] void NotAsVariant() { Mismatch("data type not supported as variant"); }

Variant Bytes(const uaByteString& bytes) {
    std::vector<Variant> elements;
    elements.reserve(bytes.size());
    for (uint8_t b : bytes) elements.emplace_back(b);
    return Variant::FromElements(vtUI1, elements);
}

Variant ExtensionObjectValue(const uaExtensionObject& eo) {
    switch (eo.fEncoding) {
        case uaExtensionObject::eo_None: return Variant("none body");
        case uaExtensionObject::eo_BinaryBody: return Bytes(eo.fBinaryBody);
        case uaExtensionObject::eo_XmlBody: return Variant(eo.fXmlBody);
        default: return Variant();
    }
}

Variant ScalarToVariant(uaBuildInType type, const uaScalar& v) {
    switch (type) {
        case bit_null: return Variant::Null();
        case bit_Boolean: return Variant(std::get<bool>(v));
        case bit_SByte: return Variant(std::get<int8_t>(v));
        case bit_Byte: return Variant(std::get<uint8_t>(v));
        case bit_Int16: return Variant(std::get<int16_t>(v));
        case bit_UInt16: return Variant(std::get<uint16_t>(v));
        case bit_Int32: return Variant(std::get<int32_t>(v));
        case bit_UInt32: case bit_StatusCode: return Variant(std::get<uint32_t>(v));
        case bit_Int64: return Variant(std::get<int64_t>(v));
        case bit_UInt64: return Variant(std::get<uint64_t>(v));
        case bit_Float: return Variant(std::get<float>(v));
        case bit_Double: return Variant(std::get<double>(v));
        case bit_DateTime: return Variant::FromDate(std::get<double>(v));
        case bit_String: case bit_XmlElement: return Variant(std::get<std::string>(v));
        case bit_Guid: return Variant(std::get<uaGuid>(v).ToString());
        case bit_ByteString: return Bytes(std::get<uaByteString>(v));
        case bit_NodeId: return Variant(std::get<uaNodeId>(v).ToString());
        case bit_ExpandedNodeId: return Variant(std::get<uaExpandedNodeId>(v).ToString());
        case bit_QualifiedName: return Variant(std::get<uaQualifiedName>(v).fName);
        case bit_LocalizedText: return Variant(std::get<uaLocalizedText>(v).fText);
        case bit_ExtensionObject: return ExtensionObjectValue(std::get<uaExtensionObject>(v));
        case bit_DataValue: return ValueToVariant(*std::get<Box<uaDataValue>>(v));
        case bit_Variant: return ToVariant(*std::get<Box<uaVariant>>(v));
        case bit_DiagnosticInfo: return Variant(std::get<Box<uaDiagnosticInfo>>(v)->fAdditionalInfo);
    }
    return Variant::Null();
}

VarType ArrayElementType(uaBuildInType type) {
    switch (type) {
        case bit_Boolean: return vtBOOL;
        case bit_SByte: return vtI1;
        case bit_Byte: return vtUI1;
        case bit_Int16: return vtI2;
        case bit_UInt16: return vtUI2;
        case bit_Int32: return vtI4;
        case bit_UInt32: case bit_StatusCode: return vtUI4;
        case bit_Int64: return vtI8;
        case bit_UInt64: return vtUI8;
        case bit_Float: return vtR4;
        case bit_Double: return vtR8;
        case bit_DateTime: return vtDATE;
        case bit_ByteString: case bit_ExtensionObject: case bit_Variant: return vtVARIANT;
        default: return vtBSTR;
    }
}

bool IsSignedInteger(VarType t) { return t == vtI1 || t == vtI2 || t == vtI4 || t == vtI8 || t == vtINT; }
bool IsUnsignedInteger(VarType t) { return t == vtUI1 || t == vtUI2 || t == vtUI4 || t == vtUI8 || t == vtUINT; }

[[noreturn]] void RaiseOverflow(VarType from, VarType to) {
    throw VariantError(kDispEOverflow,
                       "Overflow converting a value of type " + VarTypeName(from) + " to type " + VarTypeName(to));
}

// A value for a node must fit the node's type. Across signedness OLE changes integers by bit
// pattern; a node takes them by value: -1 written to a UInt16 is out of range, not 65535.
Variant Fitted(const Variant& value, VarType target) {
    const VarType from = value.Type();
    if (IsSignedInteger(from) && IsUnsignedInteger(target)) {
        if (value.SignedValue() < 0) RaiseOverflow(from, target);
        return Variant(static_cast<uint64_t>(value.SignedValue())).ChangeType(target);
    }
    if (IsUnsignedInteger(from) && IsSignedInteger(target)) {
        if (value.UnsignedValue() > static_cast<uint64_t>(INT64_MAX)) RaiseOverflow(from, target);
        return Variant(static_cast<int64_t>(value.UnsignedValue())).ChangeType(target);
    }
    return value.ChangeType(target);
}

int64_t SignedIn(const Variant& value, VarType target) { return Fitted(value, target).SignedValue(); }
uint64_t UnsignedIn(const Variant& value, VarType target) { return Fitted(value, target).UnsignedValue(); }

}  // namespace

uaByteString BytesOf(const Variant& value) {
    if (!value.IsArray()) Mismatch("a byte string needs an array of bytes");
    uaByteString bytes;
    bytes.reserve(value.Array().Elements().size());
    for (const Variant& b : value.Array().Elements()) bytes.push_back(static_cast<uint8_t>(UnsignedIn(b, vtUI1)));
    return bytes;
}

namespace {

uaScalar ScalarFrom(const Variant& value, uaBuildInType type) {
    switch (type) {
        case bit_Boolean: return value.ToBool();
        case bit_SByte: return static_cast<int8_t>(SignedIn(value, vtI1));
        case bit_Byte: return static_cast<uint8_t>(UnsignedIn(value, vtUI1));
        case bit_Int16: return static_cast<int16_t>(SignedIn(value, vtI2));
        case bit_UInt16: return static_cast<uint16_t>(UnsignedIn(value, vtUI2));
        case bit_Int32: return static_cast<int32_t>(SignedIn(value, vtI4));
        case bit_UInt32: return static_cast<uint32_t>(UnsignedIn(value, vtUI4));
        case bit_StatusCode:
            // a bit field: clients with only signed integers give its high codes as negative I4
            if (value.Type() == vtI4 || value.Type() == vtINT)
                return static_cast<uint32_t>(static_cast<int32_t>(value.SignedValue()));
            return static_cast<uint32_t>(UnsignedIn(value, vtUI4));
        case bit_Int64: return SignedIn(value, vtI8);
        case bit_UInt64: return UnsignedIn(value, vtUI8);
        case bit_Float: return static_cast<float>(Fitted(value, vtR4).DoubleValue());
        case bit_Double: return value.ToDouble();
        case bit_DateTime: return value.ChangeType(vtDATE).DoubleValue();
        case bit_String: case bit_XmlElement: return value.ToString();
        case bit_Guid: return uaGuid::Parse(value.ToString());
        case bit_ByteString: return BytesOf(value);
        case bit_NodeId: return uaNodeId::Parse(value.ToString(), true);
        case bit_ExpandedNodeId: return uaExpandedNodeId::Parse(value.ToString());
        case bit_QualifiedName: return uaQualifiedName{0, value.ToString()};
        case bit_LocalizedText: return uaLocalizedText{"", value.ToString()};
        default: NotAsVariant();
    }
}

const std::vector<Variant>& ArrayElements(const Variant& value) {
    const VariantArray& array = value.Array();
    if (array.Dimensions() != 1) Mismatch("only one-dimensional arrays can be written");
    return array.Elements();
}

std::optional<uaVariant> CreateArray(const Variant& value, uaBuildInType type) {
    if (type == bit_null) return uaVariant();
    std::vector<uaScalar> elements;
    const auto& items = ArrayElements(value);
    elements.reserve(items.size());
    if (type == bit_ExtensionObject) {
        // the array's data taken as bytes
        for (uint8_t b : BytesOf(value)) elements.emplace_back(b);
        return uaVariant::Array(bit_Byte, std::move(elements));
    }
    if (type == bit_Variant) {
        for (const Variant& item : items) {
            auto converted = VariantToUaVariant(item);
            elements.emplace_back(Box<uaVariant>(converted ? std::move(*converted) : uaVariant()));
        }
        return uaVariant::Array(bit_Variant, std::move(elements));
    }
    if (type == bit_DataValue || type == bit_DiagnosticInfo) NotAsVariant();
    for (const Variant& item : items) elements.push_back(ScalarFrom(item, type));
    return uaVariant::Array(type, std::move(elements));
}

}  // namespace

Variant ToVariant(const std::optional<uaVariant>& value) { return value ? ToVariant(*value) : Variant::Null(); }

Variant ToVariant(const uaVariant& value) {
    const uaBuildInType type = value.fType.fBuildInType;
    if (type == bit_null) return Variant::Null();
    if (!value.IsArray()) return ScalarToVariant(type, value.fScalar);
    const VarType element = ArrayElementType(type);
    std::vector<Variant> items;
    items.reserve(value.fArray.size());
    for (const uaScalar& s : value.fArray) {
        Variant v = ScalarToVariant(type, s);
        if (element == vtBSTR && !v.IsArray()) {
            try {
                v = Variant(v.ToString());
            } catch (const Exception&) {
                v = Variant(std::string());
            }
        }
        items.push_back(std::move(v));
    }
    return Variant::FromElements(element, items);
}

Variant ValueToVariant(const uaDataValue& value) { return ToVariant(value.fValue); }

namespace {

std::string TextOf(const Variant& v) {
    if (!v.IsArray()) {
        try {
            return v.ToString();
        } catch (const Exception&) {
            return {};
        }
    }
    std::string text = "[";
    const auto& elements = v.Array().Elements();
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i) text += " | ";
        text += TextOf(elements[i]);
    }
    return text + "]";
}

}  // namespace

std::string VariantText(const uaVariant& value) { return TextOf(ToVariant(value)); }

uaBuildInType VariantToUADatatype(const Variant& value) {
    switch (value.Type() & vtTypeMask) {
        case vtEMPTY: case vtNULL: case vtUNKNOWN: return bit_null;
        case vtI2: return bit_Int16;
        case vtI4: return bit_Int32;
        case vtR4: return bit_Float;
        case vtR8: case vtCY: return bit_Double;
        case vtDATE: return bit_DateTime;
        case vtBSTR: case vtDISPATCH: case vtERROR: case 0x0100: case 0x0102: return bit_String;
        case vtBOOL: return bit_Boolean;
        case vtVARIANT: case 0x0101: return bit_Variant;
        case vtI1: return bit_SByte;
        case vtUI1: return bit_Byte;
        case vtUI2: return bit_UInt16;
        case vtUI4: return bit_UInt32;
        case vtI8: return bit_Int64;
        case vtUI8: return bit_UInt64;
        default: NotAsVariant();
    }
}

std::optional<uaVariant> VariantToUaVariant(const Variant& value) {
    const uaBuildInType type = VariantToUADatatype(value);
    if (type == bit_null) return std::nullopt;
    if (value.IsArray()) return CreateArray(value, type);
    return uaVariant::Scalar(type, ScalarFrom(value, type));
}

std::optional<uaVariant> CreateUaVariant(const Variant& value, uaBuildInType type) {
    if (value.IsNull()) return std::nullopt;
    if (value.IsArray() && (type != bit_ByteString || value.ElementType() == vtVARIANT))
        return CreateArray(value, type);
    if (type == bit_null) return std::nullopt;
    if (type == bit_Variant) return VariantToUaVariant(value);
    return uaVariant::Scalar(type, ScalarFrom(value, type));
}

std::optional<uaVariant> createNullScalar(uaBuildInType type) {
    switch (type) {
        case bit_null: return std::nullopt;
        case bit_Boolean: return uaVariant::Scalar(type, false);
        case bit_SByte: return uaVariant::Scalar(type, int8_t{0});
        case bit_Byte: return uaVariant::Scalar(type, uint8_t{0});
        case bit_Int16: return uaVariant::Scalar(type, int16_t{0});
        case bit_UInt16: return uaVariant::Scalar(type, uint16_t{0});
        case bit_Int32: return uaVariant::Scalar(type, int32_t{0});
        case bit_UInt32: case bit_StatusCode: return uaVariant::Scalar(type, uint32_t{0});
        case bit_Int64: return uaVariant::Scalar(type, int64_t{0});
        case bit_UInt64: return uaVariant::Scalar(type, uint64_t{0});
        case bit_Float: return uaVariant::Scalar(type, 0.0f);
        case bit_Double: case bit_DateTime: return uaVariant::Scalar(type, 0.0);
        case bit_String: case bit_XmlElement: return uaVariant::Scalar(type, std::string());
        case bit_Guid: return uaVariant::Scalar(type, uaGuid{});
        case bit_ByteString: return uaVariant::Scalar(type, uaByteString{});
        case bit_NodeId: return uaVariant::Scalar(type, uaNodeId::Parse("0"));
        case bit_ExpandedNodeId: return uaVariant::Scalar(type, uaExpandedNodeId{uaNodeId::Parse("0"), "", 0});
        case bit_QualifiedName: return uaVariant::Scalar(type, uaQualifiedName{});
        case bit_LocalizedText: return uaVariant::Scalar(type, uaLocalizedText{});
        case bit_ExtensionObject: return uaVariant::Scalar(type, uaExtensionObject{});
        default: NotAsVariant();
    }
}

std::optional<uaVariant> createNullArray(size_t length, uaBuildInType type) {
    if (type == bit_null) return std::nullopt;
    if (type > bit_Variant) throw Exception("data type not supported as array");
    uaScalar zero;
    if (type == bit_DataValue) zero = Box<uaDataValue>();
    else if (type == bit_Variant) zero = Box<uaVariant>();
    else zero = createNullScalar(type)->fScalar;
    return uaVariant::Array(type, std::vector<uaScalar>(length, zero));
}

std::optional<uaVariant> createNullArray(size_t length, const uaTypeInfo& type) {
    if (type.fValueRank < 0) throw Exception("data type not an array");
    return createNullArray(length, type.fBuildInType);
}

}  // namespace vela::ua
