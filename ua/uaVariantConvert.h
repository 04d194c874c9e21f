#pragma once
// The one bridge between UA values and the item values of the DA side.
#include <optional>
#include <string>

#include "base/Variant.h"
#include "ua/uaBuiltinTypes.h"

namespace vela::ua {

// UA value -> item value; an absent value gives Null. Arrays become one-dimensional arrays
// with bounds 0..n-1 whatever their UA dimensions.
Variant ToVariant(const std::optional<uaVariant>& value);
Variant ToVariant(const uaVariant& value);
Variant ValueToVariant(const uaDataValue& value);
// The text of the converted value; arrays as "[a | b]".
std::string VariantText(const uaVariant& value);

// The built-in type an item value maps to; raises "data type not supported as variant".
uaBuildInType VariantToUADatatype(const Variant& value);
// A UA value of the type VariantToUADatatype gives; nothing for Null and Empty.
std::optional<uaVariant> VariantToUaVariant(const Variant& value);
// The item value converted to the node's built-in type (what a write sends); nothing for Null.
// A value the type cannot hold raises VariantError kDispEOverflow (never cut or wrapped), one
// that is no value of the type kDispETypeMismatch (or uaConversionError for ids and GUIDs).
std::optional<uaVariant> CreateUaVariant(const Variant& value, uaBuildInType type);
// The elements of an array as bytes, each within 0..255; raises as CreateUaVariant.
uaByteString BytesOf(const Variant& value);
// The type's default value; nothing for the null type.
std::optional<uaVariant> createNullScalar(uaBuildInType type);
std::optional<uaVariant> createNullArray(size_t length, uaBuildInType type);
std::optional<uaVariant> createNullArray(size_t length, const uaTypeInfo& type);

}  // namespace vela::ua
