#pragma once
// What a classic DA client sees of a UA server: status codes as DA qualities and OPC result
// codes, data types as VARTYPEs, access levels as DA access rights, and the DA item properties
// that UA nodes carry.
#include <cstdint>

#include "base/Variant.h"
#include "ua/uaBuiltinTypes.h"

namespace vela::ua {

// The DA quality of a UA status code: severity to the main quality, the sub-codes DA knows to
// its sub-status, the limit bits to the limit field.
uint16_t DAQualityOf(uint32_t uaStatus);

// An item's last error (a 32-bit code kept sign-extended) as the OPC code a DA client
// understands; codes without a DA counterpart come back unchanged.
int64_t DAErrorOf(int64_t lastError);

// The VARTYPE a node of this data type and value rank shows to DA clients: the built-in type's
// item value type, VT_ARRAY with it for arrays (value rank 0 or more), enumerations as VT_I4,
// abstract types as VT_VARIANT. For a type the table does not know (a server's own types) the
// type of the node's current value decides when it is given, else it is taken as a structure
// (a byte array). Value ranks -2 and -3 (any, scalar or one dimension) follow the value too.
VarType DAVarTypeOf(const uaNodeId& dataType, int32_t valueRank, VarType valueType = vtEMPTY);

// Whether a value read with this status failed as a read (unknown or invalid node, no read
// access, a bad encoding or index range). Any other status, Uncertain or Bad, is the value's
// quality: the item stands.
bool IsValueReadFailure(uint32_t valueStatus);

// The DA server state (OPCSERVERSTATE) of a UA ServerState.
int32_t DAServerStateOf(int32_t uaServerState);

// DA access rights (1 readable, 2 writable) of a UA (user) access level.
int32_t DAAccessRightsOf(uint8_t accessLevel);

// The DA item properties a UA node can answer.
enum DAPropertyId : int32_t {
    kDAPropCanonicalType = 1,
    kDAPropValue = 2,
    kDAPropQuality = 3,
    kDAPropTimestamp = 4,
    kDAPropAccessRights = 5,
    kDAPropScanRate = 6,
    kDAPropEUType = 7,
    kDAPropEUInfo = 8,
    kDAPropEngineeringUnits = 100,
    kDAPropDescription = 101,
    kDAPropHighEU = 102,
    kDAPropLowEU = 103,
    kDAPropHighIR = 104,
    kDAPropLowIR = 105,
    kDAPropCloseLabel = 106,
    kDAPropOpenLabel = 107,
};

// The published description and VARTYPE of a DA property id; empty text for ids outside the list.
const char* DAPropertyDescription(int32_t id);
VarType DAPropertyType(int32_t id);

}  // namespace vela::ua
