// Writes binary encodings made by node-opcua, an independent UA implementation, one JSON
// object per line: {"name", "kind" (variant | datavalue | message), "hex", "lossy" (optional:
// why our re-encoding may differ while meaning the same)}.
//   node make-golden-vectors.js > ../../tests/ua/golden/node-opcua-vectors.jsonl
"use strict";
const { BinaryStream } = require("node-opcua-binary-stream");
const { Variant, DataType, VariantArrayType } = require("node-opcua-variant");
const { DataValue } = require("node-opcua-data-value");
const { StatusCodes } = require("node-opcua-status-code");
const { encodeNodeId } = require("node-opcua-basic-types");
const { coerceNodeId, makeExpandedNodeId, NodeId } = require("node-opcua-nodeid");
const { DiagnosticInfo } = require("node-opcua-data-model");
const types = require("node-opcua-types");

const out = [];
const when = new Date(Date.UTC(2024, 4, 1, 10, 30, 15, 123));
const guid = "72962B91-FA75-4AE6-8D28-B404DC7DAF63";

function emit(name, kind, encodeInto, size, lossy) {
    const stream = new BinaryStream(size + 64);
    encodeInto(stream);
    const line = { name, kind, hex: stream.buffer.subarray(0, stream.length).toString("hex") };
    if (lossy) line.lossy = lossy;
    out.push(JSON.stringify(line));
}
function variant(name, options, lossy) {
    const v = new Variant(options);
    emit(name, "variant", (s) => v.encode(s), v.binaryStoreSize(), lossy);
}
function dataValue(name, options) {
    const dv = new DataValue(options);
    emit(name, "datavalue", (s) => dv.encode(s), dv.binaryStoreSize());
}
// Empty strings and empty arrays are written as their null forms by our encoder (the two are
// one value); node-opcua writes a count of 0 for them. Structures get the null forms here so
// that both encoders must agree byte for byte.
function nullify(object) {
    if (!object || typeof object !== "object" || !object.schema) return;
    for (const key of Object.keys(object)) {
        const value = object[key];
        if (value === "" || (Array.isArray(value) && value.length === 0)) object[key] = null;
        else if (Array.isArray(value)) value.forEach(nullify);
        else nullify(value);
    }
}
function message(name, object) {
    nullify(object);
    emit(name, "message", (s) => {
        encodeNodeId(object.schema.encodingDefaultBinary, s);
        object.encode(s);
    }, object.binaryStoreSize() + 8);
}

// --- built-in types in variants
variant("bool_true", { dataType: DataType.Boolean, value: true });
variant("bool_false", { dataType: DataType.Boolean, value: false });
variant("sbyte_min", { dataType: DataType.SByte, value: -128 });
variant("byte_max", { dataType: DataType.Byte, value: 255 });
variant("int16_min", { dataType: DataType.Int16, value: -32768 });
variant("uint16_max", { dataType: DataType.UInt16, value: 65535 });
variant("int32_min", { dataType: DataType.Int32, value: -2147483648 });
variant("int32_max", { dataType: DataType.Int32, value: 2147483647 });
variant("uint32_max", { dataType: DataType.UInt32, value: 4294967295 });
variant("int64_min", { dataType: DataType.Int64, arrayType: VariantArrayType.Scalar, value: [0x80000000, 0] });
variant("int64_max", { dataType: DataType.Int64, arrayType: VariantArrayType.Scalar, value: [0x7fffffff, 0xffffffff] });
variant("uint64_max", { dataType: DataType.UInt64, arrayType: VariantArrayType.Scalar, value: [0xffffffff, 0xffffffff] });
variant("float", { dataType: DataType.Float, value: -1.5 });
variant("double", { dataType: DataType.Double, value: 1e300 });
variant("double_nan", { dataType: DataType.Double, value: NaN }, "NaN reads as the standard quiet NaN");
variant("float_nan", { dataType: DataType.Float, value: NaN }, "NaN reads as the standard quiet NaN");
variant("string", { dataType: DataType.String, value: "gr\u00fc\u00df \u20ac" });
variant("string_null", { dataType: DataType.String, value: null });
variant("string_empty", { dataType: DataType.String, value: "" }, "an empty string is written as the null string");
variant("datetime", { dataType: DataType.DateTime, value: when });
variant("datetime_1601", { dataType: DataType.DateTime, value: new Date(Date.UTC(1601, 0, 1)) });
variant("datetime_9999", { dataType: DataType.DateTime, value: new Date(Date.UTC(9999, 11, 31, 23, 59, 59)) });
variant("guid", { dataType: DataType.Guid, value: guid });
variant("bytestring", { dataType: DataType.ByteString, value: Buffer.from([0, 1, 2, 0xff]) });
variant("bytestring_null", { dataType: DataType.ByteString, value: null });
variant("xmlelement", { dataType: DataType.XmlElement, value: "<a b=\"1\"/>" });
variant("nodeid_two_byte", { dataType: DataType.NodeId, value: coerceNodeId("i=255") });
variant("nodeid_four_byte", { dataType: DataType.NodeId, value: coerceNodeId("ns=1;i=1025") });
variant("nodeid_numeric", { dataType: DataType.NodeId, value: coerceNodeId("ns=300;i=70000") });
variant("nodeid_string", { dataType: DataType.NodeId, value: coerceNodeId("ns=2;s=Plant/Temp") });
variant("nodeid_guid", { dataType: DataType.NodeId, value: coerceNodeId("ns=3;g=" + guid) });
variant("nodeid_opaque", { dataType: DataType.NodeId, value: coerceNodeId("ns=4;b=AQID") });
variant("expanded_nodeid", { dataType: DataType.ExpandedNodeId,
                             value: makeExpandedNodeId(coerceNodeId("ns=2;i=5"), "urn:plant", 3) });
variant("statuscode", { dataType: DataType.StatusCode, value: StatusCodes.BadNodeIdUnknown });
variant("qualifiedname", { dataType: DataType.QualifiedName, value: { namespaceIndex: 2, name: "Temp" } });
variant("localizedtext", { dataType: DataType.LocalizedText, value: { locale: "en", text: "Hello" } });
variant("localizedtext_text_only", { dataType: DataType.LocalizedText, value: { text: "Hello" } });
variant("extensionobject", { dataType: DataType.ExtensionObject,
                             value: new types.ReadValueId({ nodeId: "ns=2;s=Temp", attributeId: 13 }) });
variant("diagnosticinfo", { dataType: DataType.DiagnosticInfo,
                            value: new DiagnosticInfo({ symbolicId: 1, locale: 2, additionalInfo: "more",
                                                        innerStatusCode: StatusCodes.BadUnexpectedError,
                                                        innerDiagnosticInfo: new DiagnosticInfo({ symbolicId: 9 }) }) });
variant("array_int32", { dataType: DataType.Int32, arrayType: VariantArrayType.Array, value: [1, -2, 3] });
variant("array_double", { dataType: DataType.Double, arrayType: VariantArrayType.Array, value: [0.5, -1e-300] });
variant("array_string", { dataType: DataType.String, arrayType: VariantArrayType.Array, value: ["a", "b\u00e4"] });
variant("array_bool", { dataType: DataType.Boolean, arrayType: VariantArrayType.Array, value: [true, false] });
variant("array_datetime", { dataType: DataType.DateTime, arrayType: VariantArrayType.Array, value: [when, when] });
variant("array_empty", { dataType: DataType.Int32, arrayType: VariantArrayType.Array, value: [] },
        "an empty array is written as the null array");
variant("matrix_int32", { dataType: DataType.Int32, arrayType: VariantArrayType.Matrix, value: [1, 2, 3, 4, 5, 6],
                          dimensions: [2, 3] });
variant("array_variant", { dataType: DataType.Variant, arrayType: VariantArrayType.Array,
                           value: [new Variant({ dataType: DataType.Int32, value: 1 }),
                                   new Variant({ dataType: DataType.String, value: "x" }),
                                   new Variant({ dataType: DataType.Double, arrayType: VariantArrayType.Array,
                                                 value: [1, 2] })] });
variant("array_nodeid", { dataType: DataType.NodeId, arrayType: VariantArrayType.Array,
                          value: [coerceNodeId("i=85"), coerceNodeId("ns=2;s=x")] });

// --- data values
dataValue("datavalue_value_only", { value: { dataType: DataType.Double, value: 21.5 } });
dataValue("datavalue_full", { value: { dataType: DataType.Int32, value: 7 }, statusCode: StatusCodes.UncertainLastUsableValue,
                              sourceTimestamp: when, sourcePicoseconds: 10, serverTimestamp: when, serverPicoseconds: 20 });
dataValue("datavalue_status_only", { statusCode: StatusCodes.BadNodeIdUnknown });

// --- messages the client sends and receives
const header = () => new types.RequestHeader({ authenticationToken: coerceNodeId("ns=0;b=AAECAw=="), timestamp: when,
                                                requestHandle: 42, timeoutHint: 10000 });
const responseHeader = () => new types.ResponseHeader({ timestamp: when, requestHandle: 42, stringTable: null });
message("read_request", new types.ReadRequest({
    requestHeader: header(), maxAge: 0, timestampsToReturn: 2,
    nodesToRead: [{ nodeId: "ns=2;s=Temp", attributeId: 13 }, { nodeId: "i=2258", attributeId: 13 }] }));
message("read_response", new types.ReadResponse({
    responseHeader: responseHeader(),
    results: [new DataValue({ value: { dataType: DataType.Double, value: 21.5 }, sourceTimestamp: when, serverTimestamp: when }),
              new DataValue({ statusCode: StatusCodes.BadNodeIdUnknown })] }));
message("write_request", new types.WriteRequest({
    requestHeader: header(),
    nodesToWrite: [{ nodeId: "ns=2;s=Setpoint", attributeId: 13,
                     value: new DataValue({ value: { dataType: DataType.Float, value: 3.5 } }) }] }));
message("write_response", new types.WriteResponse({ responseHeader: responseHeader(), results: [StatusCodes.Good, StatusCodes.BadNotWritable] }));
message("browse_request", new types.BrowseRequest({
    requestHeader: header(), requestedMaxReferencesPerNode: 1000,
    nodesToBrowse: [{ nodeId: "i=85", browseDirection: 0, referenceTypeId: "i=33", includeSubtypes: true,
                      nodeClassMask: 0, resultMask: 63 }] }));
message("browse_response", new types.BrowseResponse({
    responseHeader: responseHeader(),
    results: [{ statusCode: StatusCodes.Good, continuationPoint: Buffer.from([1, 2]),
                references: [{ referenceTypeId: "i=35", isForward: true, nodeId: makeExpandedNodeId(coerceNodeId("ns=2;s=Plant")),
                               browseName: { namespaceIndex: 2, name: "Plant" }, displayName: { text: "Plant" },
                               nodeClass: 1, typeDefinition: makeExpandedNodeId(coerceNodeId("i=61")) }] }] }));
message("create_subscription_request", new types.CreateSubscriptionRequest({
    requestHeader: header(), requestedPublishingInterval: 1000, requestedLifetimeCount: 60,
    requestedMaxKeepAliveCount: 10, maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 0 }));
message("create_subscription_response", new types.CreateSubscriptionResponse({
    responseHeader: responseHeader(), subscriptionId: 5, revisedPublishingInterval: 1000,
    revisedLifetimeCount: 60, revisedMaxKeepAliveCount: 10 }));
message("create_monitored_items_request", new types.CreateMonitoredItemsRequest({
    requestHeader: header(), subscriptionId: 5, timestampsToReturn: 2,
    itemsToCreate: [{ itemToMonitor: { nodeId: "ns=2;s=Temp", attributeId: 13 }, monitoringMode: 2,
                      requestedParameters: { clientHandle: 1, samplingInterval: 250, queueSize: 1, discardOldest: true,
                                             filter: new types.DataChangeFilter({ trigger: 1, deadbandType: 1, deadbandValue: 0.5 }) } }] }));
message("create_monitored_items_response", new types.CreateMonitoredItemsResponse({
    responseHeader: responseHeader(),
    results: [{ statusCode: StatusCodes.Good, monitoredItemId: 77, revisedSamplingInterval: 250, revisedQueueSize: 1 }] }));
message("publish_request", new types.PublishRequest({
    requestHeader: header(), subscriptionAcknowledgements: [{ subscriptionId: 5, sequenceNumber: 3 }] }));
message("publish_response_data_change", new types.PublishResponse({
    responseHeader: responseHeader(), subscriptionId: 5, availableSequenceNumbers: [4], moreNotifications: false,
    notificationMessage: { sequenceNumber: 4, publishTime: when, notificationData: [
        new types.DataChangeNotification({ monitoredItems: [
            { clientHandle: 1, value: new DataValue({ value: { dataType: DataType.Double, value: 22.25 }, sourceTimestamp: when }) },
            { clientHandle: 2, value: new DataValue({ statusCode: StatusCodes.BadNodeIdUnknown }) }] }),
        new types.StatusChangeNotification({ status: StatusCodes.GoodSubscriptionTransferred })] },
    results: [StatusCodes.Good] }));
message("open_secure_channel_request", new types.OpenSecureChannelRequest({
    requestHeader: header(), clientProtocolVersion: 0, requestType: 0, securityMode: 1,
    clientNonce: Buffer.alloc(32, 7), requestedLifetime: 3600000 }));
message("open_secure_channel_response", new types.OpenSecureChannelResponse({
    responseHeader: responseHeader(), serverProtocolVersion: 0,
    securityToken: { channelId: 1, tokenId: 2, createdAt: when, revisedLifetime: 3600000 }, serverNonce: Buffer.alloc(32, 9) }));
const endpoint = () => new types.EndpointDescription({
    endpointUrl: "opc.tcp://127.0.0.1:4840", securityMode: 3,
    securityPolicyUri: "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256",
    server: { applicationUri: "urn:demo:server", productUri: "urn:demo", applicationName: { text: "Demo" },
              applicationType: 0, discoveryUrls: ["opc.tcp://127.0.0.1:4840"] },
    serverCertificate: Buffer.from([0x30, 0x82, 0x01, 0x00]),
    userIdentityTokens: [{ policyId: "anon", tokenType: 0 }, { policyId: "user", tokenType: 1,
                           securityPolicyUri: "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256" }],
    transportProfileUri: "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary", securityLevel: 3 });
message("get_endpoints_request", new types.GetEndpointsRequest({ requestHeader: header(), endpointUrl: "opc.tcp://127.0.0.1:4840" }));
message("get_endpoints_response", new types.GetEndpointsResponse({ responseHeader: responseHeader(), endpoints: [endpoint()] }));
message("create_session_request", new types.CreateSessionRequest({
    requestHeader: header(), clientDescription: { applicationUri: "urn:vela:gateway", applicationName: { text: "Gateway" }, applicationType: 1 },
    endpointUrl: "opc.tcp://127.0.0.1:4840", sessionName: "session", clientNonce: Buffer.alloc(32, 1),
    clientCertificate: Buffer.from([0x30, 0x82]), requestedSessionTimeout: 60000, maxResponseMessageSize: 0 }));
message("create_session_response", new types.CreateSessionResponse({
    responseHeader: responseHeader(), sessionId: coerceNodeId("ns=1;i=1000"), authenticationToken: coerceNodeId("ns=0;b=AAECAw=="),
    revisedSessionTimeout: 60000, serverNonce: Buffer.alloc(32, 2), serverCertificate: Buffer.from([0x30, 0x82]),
    serverEndpoints: [endpoint()], serverSignature: { algorithm: "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256",
                                                       signature: Buffer.from([1, 2, 3]) }, maxRequestMessageSize: 0 }));
message("activate_session_request", new types.ActivateSessionRequest({
    requestHeader: header(), clientSignature: { algorithm: "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256", signature: Buffer.from([4, 5]) },
    localeIds: ["en"], userIdentityToken: new types.UserNameIdentityToken({ policyId: "user", userName: "operator",
        password: Buffer.from([1, 2, 3, 4]), encryptionAlgorithm: "http://www.w3.org/2001/04/xmlenc#rsa-oaep" }),
    userTokenSignature: {} }));
message("activate_session_response", new types.ActivateSessionResponse({
    responseHeader: responseHeader(), serverNonce: Buffer.alloc(32, 3), results: [], diagnosticInfos: [] }));
message("service_fault", new types.ServiceFault({ responseHeader: new types.ResponseHeader({
    timestamp: when, requestHandle: 42, serviceResult: StatusCodes.BadSessionIdInvalid }) }));

process.stdout.write(out.join("\n") + "\n");
