#include "server/DAEdge.h"

#include "ua/da/UADAMapping.h"

namespace vela::server {

FILETIME ToUtcFileTime(DateTime local) {
    const uint64_t ticks = local == 0 ? 0 : DateTimeToFileTime(LocalToUtc(local));
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

uint16_t DAEdge::Quality(const TVelaItemData& item) const {
    return ua_ ? ua::DAQualityOf(item.FQuality) : static_cast<uint16_t>(item.FQuality & 0xFFFF);
}

int64_t DAEdge::Error(int64_t lastError) const { return ua_ ? ua::DAErrorOf(lastError) : lastError; }

HRESULT DAEdge::ClientValue(const TVelaItemData& item, Variant& value) const {
    value = item.FValue;
    const VarType wanted = static_cast<VarType>(item.FRequesttype);
    if (!ua_ || wanted == vtEMPTY || wanted == value.Type() || value.IsEmpty() || value.IsNull()) return S_OK;
    try {
        value = value.ChangeType(wanted);
        return S_OK;
    } catch (const std::exception&) {
        value = Variant();
        return kOpcEBadType;
    }
}

HRESULT DAEdge::WriteValue(VarType canonical, const Variant& value, Variant& out) const {
    out = value;
    if (!ua_ || canonical == vtEMPTY || canonical == vtVARIANT || (canonical & vtArray) || value.IsArray() ||
        canonical == value.Type())
        return S_OK;
    try {
        out = value.ChangeType(canonical);
        return S_OK;
    } catch (const VariantError& e) {
        return e.Code() == kDispEOverflow ? kOpcERange : kOpcEBadType;
    } catch (const std::exception&) {
        return kOpcEBadType;
    }
}

}  // namespace vela::server
