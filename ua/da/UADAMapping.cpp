#include "ua/da/UADAMapping.h"

#include <array>
#include <utility>

namespace vela::ua {

namespace {

// DA quality bits: main quality in bits 6-7, sub-status 2-5, limit 0-1.
constexpr uint16_t kQualityGood = 0xC0;
constexpr uint16_t kQualityUncertain = 0x40;
constexpr uint16_t kQualityBad = 0x00;

// UA sub-codes (the status code's upper 16 bits) that have a DA sub-status of their own.
constexpr std::array<std::pair<uint32_t, uint16_t>, 12> kSubStatus{{
    {0x00960000u, 0xD8},  // GoodLocalOverride
    {0x40900000u, 0x44},  // UncertainLastUsableValue
    {0x40930000u, 0x50},  // UncertainSensorNotAccurate
    {0x40940000u, 0x54},  // UncertainEngineeringUnitsExceeded
    {0x40950000u, 0x58},  // UncertainSubNormal
    {0x80890000u, 0x04},  // BadConfigurationError
    {0x808A0000u, 0x08},  // BadNotConnected
    {0x808B0000u, 0x0C},  // BadDeviceFailure
    {0x808C0000u, 0x10},  // BadSensorFailure
    {0x80310000u, 0x18},  // BadNoCommunication
    {0x808D0000u, 0x1C},  // BadOutOfService
    {0x80320000u, 0x20},  // BadWaitingForInitialData
}};

constexpr std::array<std::pair<uint32_t, uint32_t>, 7> kOpcErrors{{
    {0x80340000u, 0xC0040007u},  // BadNodeIdUnknown -> OPC_E_UNKNOWNITEMID
    {0x80330000u, 0xC0040008u},  // BadNodeIdInvalid -> OPC_E_INVALIDITEMID
    {0x803A0000u, 0xC0040006u},  // BadNotReadable -> OPC_E_BADRIGHTS
    {0x803B0000u, 0xC0040006u},  // BadNotWritable
    {0x801F0000u, 0xC0040006u},  // BadUserAccessDenied
    {0x80740000u, 0xC0040004u},  // BadTypeMismatch -> OPC_E_BADTYPE
    {0x803C0000u, 0xC004000Bu},  // BadOutOfRange -> OPC_E_RANGE
}};

// Item value types of the built-in types 1..29 (index = type id); 0 marks an abstract type.
constexpr std::array<VarType, 30> kBuiltinVarType{
    vtEMPTY,            // 0: none
    vtBOOL, vtI1, vtUI1, vtI2, vtUI2, vtI4, vtUI4, vtI8, vtUI8, vtR4, vtR8,
    vtBSTR,             // 12 String
    vtDATE,             // 13 DateTime
    vtBSTR,             // 14 Guid
    vtArray | vtUI1,    // 15 ByteString
    vtBSTR,             // 16 XmlElement
    vtBSTR, vtBSTR,     // 17 NodeId, 18 ExpandedNodeId
    vtUI4,              // 19 StatusCode
    vtBSTR, vtBSTR,     // 20 QualifiedName, 21 LocalizedText
    vtArray | vtUI1,    // 22 Structure
    vtVARIANT,          // 23 DataValue
    vtVARIANT,          // 24 BaseDataType
    vtBSTR,             // 25 DiagnosticInfo
    vtVARIANT, vtVARIANT, vtVARIANT,  // 26 Number, 27 Integer, 28 UInteger
    vtI4,               // 29 Enumeration
};

// Well-known subtypes of namespace 0 that keep their base's value type.
VarType KnownSubtype(uint32_t id) {
    switch (id) {
        case 30: case 311: case 2000: case 2001: case 2002: case 2003: return vtArray | vtUI1;  // images, certificates
        case 289: return vtUI4;     // Counter
        case 290: return vtR8;      // Duration
        case 294: return vtDATE;    // UtcTime
        case 295: return vtBSTR;    // LocaleId
        case 288: return vtUI4;     // IntegerId
        case 256: case 257: case 852: case 120: case 851: return vtI4;  // enumerations
        case 12755: return vtBSTR;  // NumericRange
        default: return vtEMPTY;
    }
}

// The element type of an array of this scalar item value type.
VarType ArrayOf(VarType scalar) {
    if (scalar & vtArray) return vtArray | vtVARIANT;  // arrays of byte strings or structures
    return vtArray | scalar;
}

}  // namespace

uint16_t DAQualityOf(uint32_t uaStatus) {
    const uint32_t code = uaStatus & 0xFFFF0000u;
    const uint16_t limit = static_cast<uint16_t>((uaStatus >> 8) & 3);
    for (const auto& [ua, da] : kSubStatus)
        if (ua == code) return static_cast<uint16_t>(da | limit);
    switch (uaStatus >> 30) {
        case 0: return kQualityGood | limit;
        case 1: return kQualityUncertain | limit;
        default: return kQualityBad | limit;
    }
}

int64_t DAErrorOf(int64_t lastError) {
    const uint32_t low = static_cast<uint32_t>(lastError);
    if ((low >> 30) != 2) return lastError;  // only UA bad codes have a counterpart
    for (const auto& [ua, opc] : kOpcErrors)
        if (ua == (low & 0xFFFF0000u)) return static_cast<int32_t>(opc);
    return lastError;
}

VarType DAVarTypeOf(const uaNodeId& dataType, int32_t valueRank, VarType valueType) {
    VarType scalar = vtEMPTY;
    bool known = false;
    if (dataType.fNameSpaceIndex == 0 && dataType.IdentifierType() == 0) {
        const uint32_t id = std::get<uint32_t>(dataType.fValue);
        if (id >= 1 && id < kBuiltinVarType.size()) {
            scalar = kBuiltinVarType[id];
            known = true;
        } else if (const VarType subtype = KnownSubtype(id); subtype != vtEMPTY) {
            scalar = subtype;
            known = true;
        }
    }
    const bool valueGiven = valueType != vtEMPTY && valueType != vtNULL;
    if (!known) {
        if (valueGiven) return valueType;
        scalar = vtArray | vtUI1;
    }
    bool array = valueRank >= 0;
    if ((valueRank == -2 || valueRank == -3) && valueGiven) {
        // the value's own form; a byte string is no array of the scalar type
        array = (valueType & vtArray) != 0 && valueType != (vtArray | vtUI1);
        if (scalar == vtVARIANT) return valueType;
    }
    return array ? ArrayOf(scalar) : scalar;
}

bool IsValueReadFailure(uint32_t valueStatus) {
    switch (valueStatus & 0xFFFF0000u) {
        case 0x801F0000u:  // BadUserAccessDenied
        case 0x80330000u:  // BadNodeIdInvalid
        case 0x80340000u:  // BadNodeIdUnknown
        case 0x80350000u:  // BadAttributeIdInvalid
        case 0x80360000u:  // BadIndexRangeInvalid
        case 0x80370000u:  // BadIndexRangeNoData
        case 0x80380000u:  // BadDataEncodingInvalid
        case 0x80390000u:  // BadDataEncodingUnsupported
        case 0x803A0000u:  // BadNotReadable
        case 0x80E60000u:  // BadSecurityModeInsufficient
            return true;
        default:
            return false;
    }
}

int32_t DAServerStateOf(int32_t uaServerState) {
    switch (uaServerState) {
        case 0: return 1;  // Running
        case 1: return 2;  // Failed
        case 2: return 3;  // NoConfiguration
        case 3: return 4;  // Suspended
        case 4: return 4;  // Shutdown: not serving for now
        case 5: return 5;  // Test
        case 6: return 6;  // CommunicationFault
        default: return 2;
    }
}

int32_t DAAccessRightsOf(uint8_t accessLevel) { return accessLevel & 3; }

const char* DAPropertyDescription(int32_t id) {
    switch (id) {
        case 1: return "Item Canonical DataType";
        case 2: return "Item Value";
        case 3: return "Item Quality";
        case 4: return "Item Timestamp";
        case 5: return "Item Access Rights";
        case 6: return "Server Scan Rate";
        case 7: return "Item EU Type";
        case 8: return "Item EUInfo";
        case 100: return "EU Units";
        case 101: return "Item Description";
        case 102: return "High EU";
        case 103: return "Low EU";
        case 104: return "High Instrument Range";
        case 105: return "Low Instrument Range";
        case 106: return "Contact Close Label";
        case 107: return "Contact Open Label";
        default: return "";
    }
}

VarType DAPropertyType(int32_t id) {
    switch (id) {
        case 1: case 3: return vtI2;
        case 2: return vtVARIANT;
        case 4: return vtDATE;
        case 5: case 7: return vtI4;
        case 6: return vtR4;
        case 8: return vtVARIANT;
        case 100: case 101: case 106: case 107: return vtBSTR;
        case 102: case 103: case 104: case 105: return vtR8;
        default: return vtEMPTY;
    }
}

}  // namespace vela::ua
