#pragma once
// Enumerations and records that cross the connection interfaces. Ordinals are part of the
// contract: they are stored and compared as numbers.
#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "base/Variant.h"

namespace vela {

enum tVelaConnectionType : int32_t { coXML = 0, coCOM = 1, coUA = 2 };

// The requested and canonical data types: the COM VARTYPE codes of the value type, plus the
// codes that only name a type.
using VelaADatatype = VarType;
inline constexpr VelaADatatype vtundef = 15, vtVOID = 24, vtHRESULT = 25, vtPTR = 26, vtSAFEARRAY = 27,
                               vtCARRAY = 28, vtUSERDEFINED = 29, vtLPSTR = 30, vtLPWSTR = 31;

// VelaAcesstype: a set of access rights, as bits.
using VelaAcesstype = uint32_t;
inline constexpr VelaAcesstype opcReadable = 1u << 0;
inline constexpr VelaAcesstype opcWritable = 1u << 1;

// tVelaServerSet: a 16-bit set of server kinds.
using tVelaServerSet = uint16_t;
enum tVelaServerKind : int { svr_DA10 = 0, svr_DA20, svr_DA30, svr_AE10, svr_BA10, svr_BA20, svr_DX10, svr_HDA10, svr_UA };
constexpr tVelaServerSet ServerSetOf(tVelaServerKind kind) { return static_cast<tVelaServerSet>(1u << kind); }

// Display name of a ServerType code: "DA 2 OPC Server", ...; "unknown" for other codes.
std::string ServerTypeName(int32_t serverType);
// Display text of a server state for a connection type ("running", "commFault", ...).
std::string ServerStateText(tVelaConnectionType type, int32_t state);

struct TServerStateRecord {
    DateTime Starttime = 0;
    DateTime Currenttime = 0;
    DateTime LastUpdateTime = 0;
    int32_t ServerState = 0;
    int32_t GroupCount = 0;
    int32_t MaxValues = 0;
    uint32_t BandWidth = 0;
    int32_t MajorVersion = 0;
    int32_t MinorVersion = 0;
    std::string BuildNumber;
    std::string VendorInfo;
    std::string Version;
    std::string StatusInfo;
    std::string _ClientHandle;
    std::string ProductName;
};

struct TVelaGroupStateRec {
    int32_t UpdateRate = 0;
    bool IsActive = false;
    std::string Name;
    int32_t TimeBias = 0;
    float DeadBand = 0;
    int32_t LocaleId = 0;
    int32_t ClientHandle = 0;
    int32_t ServerHandle = 0;
    int32_t Holdtime = 0;
    int32_t Waittime = 0;
    int32_t GroupState = 0;
};

}  // namespace vela
