#pragma once
// The one place where item values cross to and from the OLE VARIANT, BSTR and SAFEARRAY.
#include <windows.h>
#include <oleauto.h>

#include "base/Variant.h"

namespace vela {

// Writes the value into *out, which must hold no value (VariantInit'ed or cleared).
// Raises VariantError when the platform cannot allocate it.
void ToOleVariant(const Variant& value, VARIANT* out);
// Reads a VARIANT (by-reference values are followed once). Raises VariantError for a type
// this value type does not hold (interfaces, records).
Variant FromOleVariant(const VARIANT& value);

// Owns a VARIANT and clears it at the end.
class OleVariant {
public:
    OleVariant() { VariantInit(&value_); }
    explicit OleVariant(const Variant& value) : OleVariant() { ToOleVariant(value, &value_); }
    ~OleVariant() { VariantClear(&value_); }
    OleVariant(const OleVariant&) = delete;
    OleVariant& operator=(const OleVariant&) = delete;
    VARIANT* get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

private:
    VARIANT value_;
};

BSTR ToBstr(const std::string& text);  // nullptr only when out of memory with a non-empty text
std::string FromBstr(BSTR text);

}  // namespace vela
