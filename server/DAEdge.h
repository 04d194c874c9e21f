#pragma once
// How item records of the toolkit look to a DA client: quality, last error, value in the
// requested type and UTC time. Over UA the records hold UA status codes and UA-typed values,
// which are mapped here; records of other connections already hold the DA forms.
#include <windows.h>

#include <cstdint>

#include "base/DateTime.h"
#include "base/Variant.h"
#include "toolkit/VelaItemData.h"
#include "toolkit/VelaTypes.h"

namespace vela::server {

inline constexpr HRESULT kOpcEInvalidHandle = static_cast<HRESULT>(0xC0040001);
inline constexpr HRESULT kOpcEBadType = static_cast<HRESULT>(0xC0040004);
inline constexpr HRESULT kOpcEBadRights = static_cast<HRESULT>(0xC0040006);
inline constexpr HRESULT kOpcEUnknownItemId = static_cast<HRESULT>(0xC0040007);
inline constexpr HRESULT kOpcEInvalidItemId = static_cast<HRESULT>(0xC0040008);
inline constexpr HRESULT kOpcERange = static_cast<HRESULT>(0xC004000B);
inline constexpr HRESULT kOpcEDuplicateName = static_cast<HRESULT>(0xC004000C);
inline constexpr HRESULT kOpcENotFound = static_cast<HRESULT>(0xC0040011);
inline constexpr HRESULT kOpcEInvalidPid = static_cast<HRESULT>(0xC0040203);
inline constexpr HRESULT kOpcSUnsupportedRate = static_cast<HRESULT>(0x0004000D);
inline constexpr HRESULT kOpcSInUse = static_cast<HRESULT>(0x0004000F);
inline constexpr int64_t kToolkitWriteOnly = static_cast<int32_t>(0xC0040408);
inline constexpr int64_t kToolkitReadOnly = static_cast<int32_t>(0xC0040409);
inline constexpr uint16_t kQualityBadOutOfService = 0x1C;
inline constexpr uint16_t kQualityBadNotConnected = 0x08;

FILETIME ToUtcFileTime(DateTime local);

class DAEdge {
public:
    void SetProtocol(tVelaConnectionType protocol) { ua_ = protocol == coUA; }
    bool IsUA() const { return ua_; }

    uint16_t Quality(const TVelaItemData& item) const;
    // The item's last error as the OPC code a DA client understands.
    int64_t Error(int64_t lastError) const;
    // The item's value in the type the client asked for (the item's requested type, else as
    // it is); S_OK, or OPC_E_BADTYPE with an empty value when it does not convert.
    HRESULT ClientValue(const TVelaItemData& item, Variant& value) const;
    // A client's value for writing, converted to the item's canonical type where that is a
    // scalar type; OPC_E_BADTYPE or OPC_E_RANGE when it does not fit.
    HRESULT WriteValue(VarType canonical, const Variant& value, Variant& out) const;
    // The bad-not-connected quality in the form records of this connection hold.
    uint32_t NotConnectedQuality() const { return ua_ ? 0x808A0000u : kQualityBadNotConnected; }

private:
    bool ua_ = false;
};

}  // namespace vela::server
