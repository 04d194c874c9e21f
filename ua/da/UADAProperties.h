#pragma once
// The DA item properties of UA nodes: what a classic DA client asks by property id, answered
// from the node's attributes and from its properties (EURange, EngineeringUnits, ...), for many
// items in a few service calls.
#include <cstdint>
#include <vector>

#include "toolkit/VelaBrowseRecords.h"
#include "ua/da/UADAConnection.h"

namespace vela::ua {

// Answers DA property ids for the items' UA nodes. propertyIds empty: every DA property the node
// really has. Each item's list is cleared and filled with one TVelaItemProperty per answered id:
// FId = DA id, FStatusCode 0 (or the OPC code of a failed read of that one property),
// FDescription = the DA description, FDataType = the property's VARTYPE, FValue (only when
// withValues; else Empty). A requested id the node does not have is left out of the list.
// An item whose node cannot be read at all gets exactly one entry with FId 0 and FStatusCode =
// DAErrorOf(the UA status) (e.g. OPC_E_UNKNOWNITEMID 0xC0040007 for BadNodeIdUnknown; an item id
// that is no node id text: OPC_E_INVALIDITEMID 0xC0040008). A node that is no variable has no
// DA properties: its list stays empty.
// Returns false when some item failed. Raises only when the whole exchange fails and raiseErrors;
// without raiseErrors every item then gets the failure entry of the exchange's status.
bool QueryDAProperties(TVelaUADAConnection& connection, TVelaPropertyRequests& items,
                       const std::vector<int32_t>& propertyIds, bool raiseErrors, bool withValues);

}  // namespace vela::ua
