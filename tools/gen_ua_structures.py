#!/usr/bin/env python3
"""Generates the UA service structures (ua/uaStructures.h, ua/uaStructures.cpp) from the
published type dictionary (Opc.Ua.Types.bsd) and the published node ids of the default binary
encodings (the NodeIds list as node-opcua-constants ships it: opcua_node_ids.js).

  gen_ua_structures.py <Opc.Ua.Types.bsd> <opcua_node_ids.js> <output folder>

Each class gets one field list (VisitFields) that drives encoding, decoding and the text form.
The node structures, which later editions of the dictionary no longer carry, are given here
with their edition 1.04 field lists."""
import re
import sys
import xml.etree.ElementTree as ET

BSD_NS = {"opc": "http://opcfoundation.org/BinarySchema/"}

# The service registry, in its order: (service, has response)
SERVICES = ["FindServers", "FindServersOnNetwork", "GetEndpoints", "RegisterServer", "RegisterServer2",
            "OpenSecureChannel", "CloseSecureChannel", "CreateSession", "ActivateSession", "CloseSession", "Cancel",
            "AddNodes", "AddReferences", "DeleteNodes", "DeleteReferences", "Browse", "BrowseNext",
            "TranslateBrowsePathsToNodeIds", "RegisterNodes", "UnregisterNodes", "QueryFirst", "QueryNext", "Read",
            "HistoryRead", "Write", "HistoryUpdate", "Call", "CreateMonitoredItems", "ModifyMonitoredItems",
            "SetMonitoringMode", "SetTriggering", "DeleteMonitoredItems", "CreateSubscription", "ModifySubscription",
            "SetPublishingMode", "Publish", "Republish", "TransferSubscriptions", "DeleteSubscriptions"]

LISTED = """RolePermissionType Node ReferenceNode ApplicationDescription RequestHeader ResponseHeader ServerOnNetwork
UserTokenPolicy EndpointDescription RegisteredServer ChannelSecurityToken SignedSoftwareCertificate SignatureData
UserIdentityToken AddNodesItem AddNodesResult AddReferencesItem DeleteNodesItem DeleteReferencesItem ViewDescription
BrowseDescription ReferenceDescription BrowseResult RelativePathElement RelativePath BrowsePath BrowsePathTarget
BrowsePathResult QueryDataDescription NodeTypeDescription QueryDataSet ContentFilterElement ContentFilter
ContentFilterElementResult ContentFilterResult ParsingResult ReadValueId HistoryReadValueId HistoryReadResult
WriteValue HistoryUpdateResult CallMethodRequest CallMethodResult MonitoringFilter MonitoringParameters
MonitoredItemCreateRequest MonitoredItemCreateResult MonitoredItemModifyRequest MonitoredItemModifyResult
NotificationMessage NotificationData MonitoredItemNotification SubscriptionAcknowledgement TransferResult BuildInfo
ServerStatusDataType InstanceNode TypeNode ObjectNode VariableNode MethodNode ViewNode ObjectTypeNode
VariableTypeNode ReferenceTypeNode DataTypeNode AnonymousIdentityToken UserNameIdentityToken X509IdentityToken
IssuedIdentityToken DataChangeFilter DataChangeNotification StatusChangeNotification""".split()

ENUMS = {
    "NodeClass": {0: "Unspecified", 1: "Obj", 2: "Variable", 4: "Method", 8: "ObjectType", 16: "VariableType",
                  32: "ReferenceType", 64: "DataType", 128: "View"},
    "ApplicationType": {0: "Server", 1: "Client", 2: "ClientAndServer", 3: "DiscoveryServer"},
    "MessageSecurityMode": {0: "Invalid", 1: "None", 2: "Sign", 3: "SignAndEncrypt"},
    "UserTokenType": {0: "Anonymous", 1: "UserName", 2: "Certificate", 3: "IssuedToken"},
    "SecurityTokenRequestType": {0: "Issue", 1: "Renew"},
    "BrowseDirection": {0: "Forward", 1: "Inverse", 2: "Both", 3: "Invalid"},
    "FilterOperator": {0: "Equals", 1: "IsNull", 2: "GreaterThan", 3: "LessThan", 4: "GreaterThanOrEqual",
                       5: "LessThanOrEqual", 6: "Like", 7: "_Not", 8: "Between", 9: "InList", 10: "_And", 11: "_Or",
                       12: "Cast", 13: "InView", 14: "OfType", 15: "RelatedTo", 16: "BitwiseAnd", 17: "BitwiseOr"},
    "TimestampsToReturn": {0: "Source", 1: "Server", 2: "Both", 3: "Neither", 4: "Invalid"},
    "MonitoringMode": {0: "Disabled", 1: "Sampling", 2: "Reporting"},
    "DataChangeTrigger": {0: "Status", 1: "StatusValue", 2: "StatusValueTimestamp"},
    "ServerState": {0: "Running", 1: "Failed", 2: "NoConfiguration", 3: "Suspended", 4: "Shutdown", 5: "Test",
                    6: "CommunicationFault", 7: "Unknown"},
}

# Edition 1.04 node structures: (base, [(field, type, is_array)])
NODE_FIELDS = [("NodeId", "ua:NodeId", False), ("NodeClass", "tns:NodeClass", False),
               ("BrowseName", "ua:QualifiedName", False), ("DisplayName", "ua:LocalizedText", False),
               ("Description", "ua:LocalizedText", False), ("WriteMask", "opc:UInt32", False),
               ("UserWriteMask", "opc:UInt32", False), ("RolePermissions", "tns:RolePermissionType", True),
               ("UserRolePermissions", "tns:RolePermissionType", True), ("AccessRestrictions", "opc:UInt16", False),
               ("References", "tns:ReferenceNode", True)]
NODE_TYPES = {
    "Node": (None, NODE_FIELDS),
    "InstanceNode": ("Node", []),
    "TypeNode": ("Node", []),
    "ObjectNode": ("InstanceNode", [("EventNotifier", "opc:Byte", False)]),
    "ObjectTypeNode": ("TypeNode", [("IsAbstract", "opc:Boolean", False)]),
    "VariableNode": ("InstanceNode", [("Value", "ua:Variant", False), ("DataType", "ua:NodeId", False),
                                      ("ValueRank", "opc:Int32", False), ("ArrayDimensions", "opc:UInt32", True),
                                      ("AccessLevel", "opc:Byte", False), ("UserAccessLevel", "opc:Byte", False),
                                      ("MinimumSamplingInterval", "opc:Double", False),
                                      ("Historizing", "opc:Boolean", False), ("AccessLevelEx", "opc:UInt32", False)]),
    "VariableTypeNode": ("TypeNode", [("Value", "ua:Variant", False), ("DataType", "ua:NodeId", False),
                                      ("ValueRank", "opc:Int32", False), ("ArrayDimensions", "opc:UInt32", True),
                                      ("IsAbstract", "opc:Boolean", False)]),
    "ReferenceTypeNode": ("TypeNode", [("IsAbstract", "opc:Boolean", False), ("Symmetric", "opc:Boolean", False),
                                       ("InverseName", "ua:LocalizedText", False)]),
    "MethodNode": ("InstanceNode", [("Executable", "opc:Boolean", False), ("UserExecutable", "opc:Boolean", False)]),
    "ViewNode": ("InstanceNode", [("ContainsNoLoops", "opc:Boolean", False), ("EventNotifier", "opc:Byte", False)]),
    "DataTypeNode": ("TypeNode", [("IsAbstract", "opc:Boolean", False),
                                  ("DataTypeDefinition", "ua:ExtensionObject", False)]),
    "ReferenceNode": (None, [("ReferenceTypeId", "ua:NodeId", False), ("IsInverse", "opc:Boolean", False),
                             ("TargetId", "ua:ExpandedNodeId", False)]),
}

BUILTIN = {
    "opc:Boolean": ("bool", "false"), "opc:SByte": ("int8_t", "0"), "opc:Byte": ("uint8_t", "0"),
    "opc:Int16": ("int16_t", "0"), "opc:UInt16": ("uint16_t", "0"), "opc:Int32": ("int32_t", "0"),
    "opc:UInt32": ("uint32_t", "0"), "opc:Int64": ("int64_t", "0"), "opc:UInt64": ("uint64_t", "0"),
    "opc:Float": ("float", "0"), "opc:Double": ("double", "0"), "opc:String": ("std::string", None),
    "opc:CharArray": ("std::string", None), "opc:DateTime": ("DateTime", "kNoTimestamp"),
    "opc:Guid": ("uaGuid", None), "opc:ByteString": ("uaByteString", None), "ua:XmlElement": ("std::string", None),
    "ua:NodeId": ("uaNodeId", None), "ua:ExpandedNodeId": ("uaExpandedNodeId", None),
    "ua:StatusCode": ("uaStatusCode", "0"), "ua:QualifiedName": ("uaQualifiedName", None),
    "ua:LocalizedText": ("uaLocalizedText", None), "ua:ExtensionObject": ("uaExtensionObject", None),
    "ua:DataValue": ("uaDataValue", None), "ua:Variant": ("uaVariant", None),
    "ua:DiagnosticInfo": ("uaDiagnosticInfo", None),
}


def load_bsd(path):
    root = ET.parse(path).getroot()
    structs, enums = {}, set()
    for e in root.findall("opc:EnumeratedType", BSD_NS):
        enums.add(e.get("Name"))
    for s in root.findall("opc:StructuredType", BSD_NS):
        name = s.get("Name")
        base = s.get("BaseType", "")
        base = base.split(":")[1] if base.startswith("tns:") else None
        fields, lengths = [], set()
        for f in s.findall("opc:Field", BSD_NS):
            if f.get("LengthField"):
                lengths.add(f.get("LengthField"))
        for f in s.findall("opc:Field", BSD_NS):
            if f.get("SourceType") or f.get("Name") in lengths:
                continue
            if f.get("SwitchField") or f.get("TypeName") == "opc:Bit":
                fields.append(("__unsupported__", f.get("TypeName"), False))
                continue
            fields.append((f.get("Name"), f.get("TypeName"), bool(f.get("LengthField"))))
        structs[name] = (base, fields)
    return structs, enums


def load_ids(path):
    text = open(path, encoding="utf-8").read()
    return {m.group(1): int(m.group(2))
            for m in re.finditer(r'"(\w+)_Encoding_DefaultBinary"\] = (\d+)\]', text)}


def main():
    bsd, ids_path, out = sys.argv[1:4]
    structs, enums = load_bsd(bsd)
    structs.update(NODE_TYPES)
    ids = load_ids(ids_path)

    roots = ["ServiceFault"] + [s + k for s in SERVICES for k in ("Request", "Response")] + LISTED
    wanted, stack = [], list(roots)
    while stack:
        name = stack.pop()
        if name in wanted:
            continue
        if name not in structs:
            sys.exit("unknown structure " + name)
        wanted.append(name)
        base, fields = structs[name]
        if base:
            stack.append(base)
        for fname, ftype, _ in fields:
            if fname == "__unsupported__":
                sys.exit(name + " has optional or union fields, which are not supported")
            if ftype.startswith("tns:") and ftype[4:] in structs:
                stack.append(ftype[4:])

    # value members need complete types: order by dependency
    ordered, done = [], set()

    def place(name):
        if name in done:
            return
        done.add(name)
        base, fields = structs[name]
        if base:
            place(base)
        for _, ftype, _ in fields:
            if ftype.startswith("tns:") and ftype[4:] in structs:
                place(ftype[4:])
        ordered.append(name)

    for name in sorted(wanted):
        place(name)

    def member(ftype, is_array):
        if ftype in BUILTIN:
            cpp, init = BUILTIN[ftype]
        elif ftype.startswith("tns:") and ftype[4:] in ENUMS:
            cpp, init = "ua" + ftype[4:], None
        elif ftype.startswith("tns:") and ftype[4:] in enums:
            cpp, init = "uaEnum", None
        elif ftype.startswith("tns:") and ftype[4:] in structs:
            cpp, init = "ua" + ftype[4:], None
        else:
            sys.exit("unknown field type " + ftype)
        if is_array:
            if cpp == "bool":
                cpp = "uint8_t"  # std::vector<bool> packs bits; a byte per Boolean is the wire form anyway
            if cpp.startswith("ua") and (ftype[4:] in ENUMS or ftype[4:] in enums) and ftype.startswith("tns:"):
                return "std::vector<int32_t>", None
            return "std::vector<%s>" % cpp, None
        return cpp, init

    def visit(fname, ftype, is_array):
        enum_text = None
        if ftype.startswith("tns:") and ftype[4:] in ENUMS:
            enum_text = "&ua%s::Text" % ftype[4:]
        elif ftype.startswith("tns:") and ftype[4:] in enums:
            enum_text = "nullptr"
        if enum_text:
            if is_array:
                return 'v.EnumArray("%s", f%s, %s);' % (fname, fname, enum_text)
            return 'v.Enum("%s", f%s.fValue, %s);' % (fname, fname, enum_text)
        if ftype == "opc:DateTime":
            return 'v.%s("%s", f%s);' % ("DateTimeArray" if is_array else "DateTime", fname, fname)
        return 'v("%s", f%s);' % (fname, fname)

    request = lambda n: n.endswith("Request") and n[:-7] in SERVICES
    response = lambda n: (n.endswith("Response") and n[:-8] in SERVICES) or n == "ServiceFault"

    h = ["// Generated by tools/gen_ua_structures.py from the published UA type dictionary and node ids.",
         "// Do not edit: change the generator and run it again.",
         "#pragma once",
         "#include <cstdint>", "#include <string>", "#include <vector>", "",
         '#include "ua/uaStructureBase.h"', "", "namespace vela::ua {", ""]
    for name, values in ENUMS.items():
        h += ["struct ua%s : uaEnum {" % name,
              "    static const char* Text(int32_t value);",
              "    std::string ToString() const { return EnumText(&Text, fValue); }",
              "};", ""]
    for name in ordered:
        base, fields = structs[name]
        cls = "ua" + name
        if request(name):
            parent = "TuaRequestObj"
        elif response(name):
            parent = "TuaResponseObj"
        elif base:
            parent = "ua" + base
        else:
            parent = "TuaObj"
        if name not in ids:
            sys.exit("no binary encoding id for " + name)
        h.append("class %s : public %s {" % (cls, parent))
        h.append("public:")
        h.append("    static constexpr int32_t kObjNo = %d;" % ids[name])
        if parent in ("TuaObj", "TuaRequestObj", "TuaResponseObj"):
            h.append("    %s() : %s(kObjNo) {}" % (cls, parent))
        else:
            h.append("    %s() { fObjNo = kObjNo; }" % cls)
        for fname, ftype, is_array in fields:
            cpp, init = member(ftype, is_array)
            h.append("    %s f%s%s;" % (cpp, fname, " = " + init if init else "{}"))
        for fname, ftype, is_array in fields:
            if is_array:
                h.append("    void %s_Setlength(size_t length) { f%s.resize(length); }" % (fname, fname))
        if request(name):
            h.append("    uaRequestHeader* GetRequestHeader() override { return &fRequestHeader; }")
        if response(name):
            h.append("    uaResponseHeader* GetResponseHeader() override { return &fResponseHeader; }")
        h.append("    template <typename V>")
        h.append("    void VisitFields(V& v) {")
        if base and parent.startswith("ua"):
            h.append("        %s::VisitFields(v);" % parent)
        for fname, ftype, is_array in fields:
            h.append("        " + visit(fname, ftype, is_array))
        if not fields and not (base and parent.startswith("ua")):
            h.append("        (void)v;")
        h.append("    }")
        h.append("    VELA_UA_STRUCTURE_OPERATIONS")
        h.append("};")
        h.append("")
    h += ["// The service registry, in its fixed order.",
          "const std::vector<uaServiceInfo>& ServiceRegistry();",
          "// A new structure for a binary encoding id, or nothing.",
          "std::unique_ptr<TuaObj> CreateStructure(int32_t objNo);",
          "", "}  // namespace vela::ua", ""]

    c = ["// Generated by tools/gen_ua_structures.py; do not edit.",
         '#include "ua/uaStructures.h"', "", "namespace vela::ua {", ""]
    for name, values in ENUMS.items():
        c.append("const char* ua%s::Text(int32_t value) {" % name)
        c.append("    switch (value) {")
        for k, v in values.items():
            c.append('        case %d: return "%s";' % (k, v))
        c.append("        default: return nullptr;")
        c.append("    }")
        c.append("}")
        c.append("")
    for name in ordered:
        cls = "ua" + name
        c.append("void %s::Encode(TuaBinaryEncoder& encoder) const {" % cls)
        c.append("    FieldEncoder visitor{encoder};")
        c.append("    const_cast<%s*>(this)->VisitFields(visitor);" % cls)
        c.append("}")
        c.append("void %s::Decode(TuaBinaryDecoder& decoder) {" % cls)
        c.append("    FieldDecoder visitor{decoder};")
        c.append("    VisitFields(visitor);")
        c.append("}")
        c.append("std::string %s::ToString() const {" % cls)
        c.append('    FieldPrinter visitor("%s-%d");' % (cls, ids[name]))
        c.append("    const_cast<%s*>(this)->VisitFields(visitor);" % cls)
        c.append("    return visitor.Finish();")
        c.append("}")
        c.append("")
    c.append("const std::vector<uaServiceInfo>& ServiceRegistry() {")
    c.append("    static const std::vector<uaServiceInfo> registry = {")
    rows = [("ServiceFault", 0)]
    for s in SERVICES:
        rows.append((s + "Request", ids[s + "Response"]))
        rows.append((s + "Response", 0))
    for name, response_id in rows:
        c.append("        {%d, %d, [] { return std::unique_ptr<TuaObj>(new ua%s()); }, {}}," %
                 (ids[name], response_id, name))
    c.append("    };")
    c.append("    return registry;")
    c.append("}")
    c.append("")
    c.append("std::unique_ptr<TuaObj> CreateStructure(int32_t objNo) {")
    c.append("    switch (objNo) {")
    for name in ordered:
        c.append("        case %d: return std::make_unique<ua%s>();" % (ids[name], name))
    c.append("        default: return nullptr;")
    c.append("    }")
    c.append("}")
    c.append("")
    c.append("}  // namespace vela::ua")
    c.append("")
    open(out + "/uaStructures.h", "w").write("\n".join(h))
    open(out + "/uaStructures.cpp", "w").write("\n".join(c))
    print("%d structures, %d registry rows" % (len(ordered), len(rows)))


if __name__ == "__main__":
    main()
