#include "base/OleVariant.h"

#include <cstring>

#include "base/Utf.h"

namespace vela {
namespace {

[[noreturn]] void RaiseOutOfMemory() { throw VariantError(static_cast<int32_t>(E_OUTOFMEMORY), "Out of memory for a VARIANT"); }

void ScalarToOle(const Variant& v, VARIANT* out) {
    V_VT(out) = v.Type();
    switch (v.Type()) {
        case vtEMPTY: case vtNULL: break;
        case vtI1: V_I1(out) = static_cast<CHAR>(v.SignedValue()); break;
        case vtI2: V_I2(out) = static_cast<SHORT>(v.SignedValue()); break;
        case vtI4: V_I4(out) = static_cast<LONG>(v.SignedValue()); break;
        case vtINT: V_INT(out) = static_cast<INT>(v.SignedValue()); break;
        case vtI8: V_I8(out) = v.SignedValue(); break;
        case vtERROR: V_ERROR(out) = static_cast<SCODE>(v.SignedValue()); break;
        case vtUI1: V_UI1(out) = static_cast<BYTE>(v.UnsignedValue()); break;
        case vtUI2: V_UI2(out) = static_cast<USHORT>(v.UnsignedValue()); break;
        case vtUI4: V_UI4(out) = static_cast<ULONG>(v.UnsignedValue()); break;
        case vtUINT: V_UINT(out) = static_cast<UINT>(v.UnsignedValue()); break;
        case vtUI8: V_UI8(out) = v.UnsignedValue(); break;
        case vtR4: V_R4(out) = static_cast<FLOAT>(v.DoubleValue()); break;
        case vtR8: V_R8(out) = v.DoubleValue(); break;
        case vtDATE: V_DATE(out) = v.DoubleValue(); break;
        case vtBOOL: V_BOOL(out) = v.BoolValue() ? VARIANT_TRUE : VARIANT_FALSE; break;
        case vtCY: V_CY(out).int64 = v.CurrencyValue().scaled; break;
        case vtBSTR:
            V_BSTR(out) = ToBstr(v.StringValue());
            if (!V_BSTR(out)) {
                V_VT(out) = VT_EMPTY;
                RaiseOutOfMemory();
            }
            break;
        case vtDECIMAL: {
            const Decimal& d = v.DecimalValue();
            DECIMAL dec{};
            dec.scale = d.scale;
            dec.sign = d.negative ? DECIMAL_NEG : 0;
            dec.Hi32 = d.hi32;
            dec.Lo64 = d.lo64;
            V_DECIMAL(out) = dec;
            V_VT(out) = VT_DECIMAL;  // the DECIMAL overlays the type field
            break;
        }
        default:
            V_VT(out) = VT_EMPTY;
            throw VariantError(kDispEBadVarType, "Cannot pass a value of type " + VarTypeName(v.Type()));
    }
}

Variant ScalarFromOle(VARTYPE type, const void* p) {
    switch (type) {
        case VT_EMPTY: return Variant();
        case VT_NULL: return Variant::Null();
        case VT_I1: return Variant(*static_cast<const int8_t*>(p));
        case VT_I2: return Variant(*static_cast<const int16_t*>(p));
        case VT_I4: return Variant(*static_cast<const int32_t*>(p));
        case VT_INT: return Variant::FromInt(*static_cast<const int32_t*>(p));
        case VT_I8: return Variant(*static_cast<const int64_t*>(p));
        case VT_ERROR: return Variant::FromError(*static_cast<const int32_t*>(p));
        case VT_UI1: return Variant(*static_cast<const uint8_t*>(p));
        case VT_UI2: return Variant(*static_cast<const uint16_t*>(p));
        case VT_UI4: return Variant(*static_cast<const uint32_t*>(p));
        case VT_UINT: return Variant::FromUInt(*static_cast<const uint32_t*>(p));
        case VT_UI8: return Variant(*static_cast<const uint64_t*>(p));
        case VT_R4: return Variant(*static_cast<const float*>(p));
        case VT_R8: return Variant(*static_cast<const double*>(p));
        case VT_DATE: return Variant::FromDate(*static_cast<const double*>(p));
        case VT_BOOL: return Variant(*static_cast<const VARIANT_BOOL*>(p) != VARIANT_FALSE);
        case VT_CY: return Variant(Currency{static_cast<const CY*>(p)->int64});
        case VT_BSTR: return Variant(FromBstr(*static_cast<const BSTR*>(p)));
        case VT_DECIMAL: {
            const auto* dec = static_cast<const DECIMAL*>(p);
            if (dec->scale > 28) throw VariantError(kDispEOverflow, "A DECIMAL with a scale above 28");
            Decimal d;
            d.scale = dec->scale;
            d.negative = (dec->sign & DECIMAL_NEG) != 0;
            d.hi32 = dec->Hi32;
            d.lo64 = dec->Lo64;
            return Variant(d);
        }
        case VT_VARIANT: return FromOleVariant(*static_cast<const VARIANT*>(p));
        default:
            throw VariantError(kDispEBadVarType, "Cannot take a value of type " + VarTypeName(type));
    }
}

size_t ElementSize(VARTYPE type) {
    switch (type) {
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
        case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: return 8;
        case VT_BSTR: return sizeof(BSTR);
        case VT_DECIMAL: return sizeof(DECIMAL);
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

// SAFEARRAY bounds are stored last dimension first; element data varies the first index fastest.
void ArrayToOle(const Variant& v, VARIANT* out) {
    const VariantArray& array = v.Array();
    const VARTYPE element = array.ElementType();
    const int dims = array.Dimensions();
    std::vector<SAFEARRAYBOUND> bounds(dims);
    for (int d = 0; d < dims; ++d) {
        bounds[d].lLbound = array.Bounds()[d].lowerBound;
        bounds[d].cElements = array.Bounds()[d].count;
    }
    SAFEARRAY* sa = SafeArrayCreate(element, static_cast<UINT>(dims), bounds.data());
    if (!sa) RaiseOutOfMemory();
    std::vector<LONG> index(dims);
    const auto& elements = array.Elements();
    for (size_t flat = 0; flat < elements.size(); ++flat) {
        size_t rest = flat;
        for (int d = dims - 1; d >= 0; --d) {
            const uint32_t count = array.Bounds()[d].count;
            index[d] = array.Bounds()[d].lowerBound + static_cast<LONG>(rest % count);
            rest /= count;
        }
        VARIANT item;
        VariantInit(&item);
        try {
            if (element == VT_VARIANT) ToOleVariant(elements[flat], &item);
            else ScalarToOle(elements[flat], &item);
        } catch (...) {
            SafeArrayDestroy(sa);
            throw;
        }
        void* target = (element == VT_VARIANT) ? static_cast<void*>(&item)
                       : (element == VT_DECIMAL) ? static_cast<void*>(&V_DECIMAL(&item))
                       : (element == VT_BSTR) ? static_cast<void*>(V_BSTR(&item))
                                              : static_cast<void*>(&V_UI1(&item));
        const HRESULT hr = SafeArrayPutElement(sa, index.data(), target);
        VariantClear(&item);
        if (FAILED(hr)) {
            SafeArrayDestroy(sa);
            throw VariantError(hr, "Cannot fill a SAFEARRAY");
        }
    }
    V_VT(out) = static_cast<VARTYPE>(VT_ARRAY | element);
    V_ARRAY(out) = sa;
}

Variant ArrayFromOle(VARTYPE element, const SAFEARRAY* sa) {
    if (!sa) return Variant::MakeArray(element, {{0, 0}});
    const UINT dims = SafeArrayGetDim(const_cast<SAFEARRAY*>(sa));
    if (dims == 0 || ElementSize(element) == 0 || ElementSize(element) != sa->cbElements)
        throw VariantError(kDispEBadVarType, "A SAFEARRAY of type " + VarTypeName(element) + " cannot be taken");
    std::vector<ArrayBound> bounds(dims);
    for (UINT d = 0; d < dims; ++d) {
        // rgsabound holds the last dimension first
        bounds[d].lowerBound = sa->rgsabound[dims - 1 - d].lLbound;
        bounds[d].count = sa->rgsabound[dims - 1 - d].cElements;
    }
    Variant result = Variant::MakeArray(element, bounds);
    VariantArray& array = result.MutableArray();
    const auto* data = static_cast<const unsigned char*>(sa->pvData);
    for (size_t flat = 0; flat < array.Size(); ++flat) {
        // element data varies the first index fastest: transpose from row-major
        size_t rest = flat, offset = 0, stride = 1;
        std::vector<size_t> idx(dims);
        for (int d = static_cast<int>(dims) - 1; d >= 0; --d) {
            idx[d] = rest % bounds[d].count;
            rest /= bounds[d].count;
        }
        for (UINT d = 0; d < dims; ++d) {
            offset += idx[d] * stride;
            stride *= bounds[d].count;
        }
        array.Set(flat, ScalarFromOle(element, data + offset * sa->cbElements));
    }
    return result;
}

}  // namespace

BSTR ToBstr(const std::string& text) {
    const std::wstring wide = Utf8ToWide(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string FromBstr(BSTR text) {
    if (!text) return {};
    return WideToUtf8(std::wstring_view(text, SysStringLen(text)));
}

void ToOleVariant(const Variant& value, VARIANT* out) {
    if (value.IsArray()) ArrayToOle(value, out);
    else ScalarToOle(value, out);
}

Variant FromOleVariant(const VARIANT& value) {
    VARTYPE type = V_VT(&value);
    const bool byRef = (type & VT_BYREF) != 0;
    type &= static_cast<VARTYPE>(~VT_BYREF);
    if (type & VT_ARRAY) {
        const SAFEARRAY* sa = byRef ? (V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr) : V_ARRAY(&value);
        return ArrayFromOle(static_cast<VARTYPE>(type & VT_TYPEMASK), sa);
    }
    if (byRef) {
        if (!V_BYREF(&value)) throw VariantError(kDispEBadVarType, "A by-reference VARIANT without a target");
        return ScalarFromOle(type, V_BYREF(&value));
    }
    if (type == VT_DECIMAL) return ScalarFromOle(type, &V_DECIMAL(&value));
    if (type == VT_VARIANT) throw VariantError(kDispEBadVarType, "A VARIANT of type VARIANT must be by reference");
    return ScalarFromOle(type, &V_UI1(&value));
}

}  // namespace vela
