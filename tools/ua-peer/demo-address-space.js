// The address space that DA clients of the gateway meet in tests and in the demo:
//   Objects/Demo/Static/Scalars   one writable variable of every scalar built-in type
//   Objects/Demo/Static/Arrays    writable arrays, and a 2 x 3 matrix of doubles
//   Objects/Demo/Static/Access    ReadOnly, WriteOnly
//   Objects/Demo/Static/Bad       values with a bad or uncertain status (Uncertain keeps what is written)
//   Objects/Demo/Static/OldSource a value with a source timestamp of 2020-01-01
//   Objects/Demo/Static/Range     a writable structure (an extension object of type Range)
//   Objects/Demo/Static/TwoState  a writable two-state discrete item (TrueState "Open", FalseState "Closed")
//   Objects/Demo/Static/MultiState a writable multi-state discrete item (EnumStrings "Low", "Mid", "High")
//   Objects/Demo/Analog           analog items with engineering units and ranges
//   Objects/Demo/Dynamic          Fast (changes every 100 ms), Slow (every second)
//   Objects/Demo/Deep/Level1/Level2/Level3/Value
//   Objects/Demo/Bulk             UA_BULK variables (default 10000), values stepping every 100 ms
// Node ids are strings in namespace 1: "Demo.Static.Scalars.Double" and so on.
"use strict";
const { Variant, DataType, StatusCodes, AccessLevelFlag, standardUnits, LocalizedText, QualifiedName,
        DataValue, Range, coerceNodeId } = require("node-opcua");

const scalars = [
    ["Boolean", DataType.Boolean, true],
    ["SByte", DataType.SByte, -8],
    ["Byte", DataType.Byte, 200],
    ["Int16", DataType.Int16, -1600],
    ["UInt16", DataType.UInt16, 60000],
    ["Int32", DataType.Int32, -320000],
    ["UInt32", DataType.UInt32, 4000000000],
    ["Int64", DataType.Int64, [0xFFFFFFFF, 0xFFFFFF00]],  // high, low words: -256
    ["UInt64", DataType.UInt64, [0, 1000000]],
    ["Float", DataType.Float, 1.5],
    ["Double", DataType.Double, 3.25],
    ["String", DataType.String, "hello"],
    ["DateTime", DataType.DateTime, new Date(Date.UTC(2024, 0, 2, 3, 4, 5))],
    ["Guid", DataType.Guid, "72962B91-FA75-4AE6-8D28-B404DC7DAF63"],
    ["ByteString", DataType.ByteString, Buffer.from([1, 2, 3])],
    ["XmlElement", DataType.XmlElement, "<a>1</a>"],
    ["NodeId", DataType.NodeId, coerceNodeId("ns=1;s=Demo")],
    ["QualifiedName", DataType.QualifiedName, new QualifiedName({ namespaceIndex: 1, name: "Name" })],
    ["LocalizedText", DataType.LocalizedText, new LocalizedText({ locale: "en", text: "text" })],
    ["StatusCode", DataType.StatusCode, StatusCodes.Good],
];

const arrays = [
    ["BooleanArray", DataType.Boolean, [true, false, true]],
    ["Int32Array", DataType.Int32, [1, 2, 3, 4]],
    ["DoubleArray", DataType.Double, [0.5, 1.5, 2.5]],
    ["StringArray", DataType.String, ["a", "b", "c"]],
];

// A variable that keeps what is written to it.
function stored(namespace, parent, name, nodeId, dataType, value, extra = {}) {
    let current = new Variant({ dataType, value, arrayType: extra.array ? 1 : 0 });
    return namespace.addVariable(Object.assign({
        componentOf: parent, browseName: name, nodeId: "s=" + nodeId,
        dataType: DataType[dataType], valueRank: extra.array ? 1 : -1, minimumSamplingInterval: 100,
        value: { get: () => current, set: (v) => { current = v; return StatusCodes.Good; } },
    }, extra.options || {}));
}

function build(server) {
    const addressSpace = server.engine.addressSpace;
    const namespace = addressSpace.getOwnNamespace();
    const demo = namespace.addFolder(addressSpace.rootFolder.objects, { browseName: "Demo", nodeId: "s=Demo" });
    const folder = (parent, name, id) => namespace.addFolder(parent, { browseName: name, nodeId: "s=" + id });

    const stat = folder(demo, "Static", "Demo.Static");
    const scalarFolder = folder(stat, "Scalars", "Demo.Static.Scalars");
    for (const [name, type, value] of scalars)
        stored(namespace, scalarFolder, name, "Demo.Static.Scalars." + name, type, value);
    const arrayFolder = folder(stat, "Arrays", "Demo.Static.Arrays");
    for (const [name, type, value] of arrays)
        stored(namespace, arrayFolder, name, "Demo.Static.Arrays." + name, type, value, { array: true });

    const access = folder(stat, "Access", "Demo.Static.Access");
    namespace.addVariable({ componentOf: access, browseName: "ReadOnly", nodeId: "s=Demo.Static.Access.ReadOnly",
        dataType: "Int32", minimumSamplingInterval: 100, accessLevel: AccessLevelFlag.CurrentRead, userAccessLevel: AccessLevelFlag.CurrentRead,
        value: { get: () => new Variant({ dataType: DataType.Int32, value: 7 }) } });
    stored(namespace, access, "WriteOnly", "Demo.Static.Access.WriteOnly", DataType.Int32, 0, { options: {
        accessLevel: AccessLevelFlag.CurrentWrite, userAccessLevel: AccessLevelFlag.CurrentWrite } });

    const bad = folder(stat, "Bad", "Demo.Static.Bad");
    namespace.addVariable({ componentOf: bad, browseName: "SensorFailure", nodeId: "s=Demo.Static.Bad.SensorFailure",
        dataType: "Double", minimumSamplingInterval: 100,
        value: { timestamped_get: () => new DataValue({ value: new Variant({ dataType: DataType.Double, value: 0 }),
                                          statusCode: StatusCodes.BadSensorFailure,
                                          sourceTimestamp: new Date(), serverTimestamp: new Date() }) } });

    let uncertain = 5;
    namespace.addVariable({ componentOf: bad, browseName: "Uncertain", nodeId: "s=Demo.Static.Bad.Uncertain",
        dataType: "Int32", minimumSamplingInterval: 100,
        value: { timestamped_get: () => new DataValue({ value: new Variant({ dataType: DataType.Int32, value: uncertain }),
                                          statusCode: StatusCodes.UncertainLastUsableValue,
                                          sourceTimestamp: new Date(), serverTimestamp: new Date() }),
                 timestamped_set: (dataValue, callback) => { uncertain = dataValue.value.value; callback(null, StatusCodes.Good); } } });

    let matrix = new Variant({ dataType: DataType.Double, arrayType: 2 /* Matrix */, dimensions: [2, 3],
                               value: new Float64Array([1, 2, 3, 4, 5, 6]) });
    namespace.addVariable({ componentOf: arrayFolder, browseName: "DoubleMatrix", nodeId: "s=Demo.Static.Arrays.DoubleMatrix",
        dataType: "Double", valueRank: 2, arrayDimensions: [2, 3], minimumSamplingInterval: 100,
        value: { get: () => matrix, set: (v) => { matrix = v; return StatusCodes.Good; } } });

    // a structure: an extension object of type Range
    let range = new Variant({ dataType: DataType.ExtensionObject, value: new Range({ low: 0, high: 100 }) });
    namespace.addVariable({ componentOf: stat, browseName: "Range", nodeId: "s=Demo.Static.Range",
        dataType: "Range", minimumSamplingInterval: 100,
        value: { get: () => range, set: (v) => { range = v; return StatusCodes.Good; } } });

    // a value whose source time lies in the past: server and source timestamps differ
    namespace.addVariable({ componentOf: stat, browseName: "OldSource", nodeId: "s=Demo.Static.OldSource",
        dataType: "Double", minimumSamplingInterval: 100,
        value: { timestamped_get: () => new DataValue({ value: new Variant({ dataType: DataType.Double, value: 1 }),
                                          sourceTimestamp: new Date(Date.UTC(2020, 0, 1)), serverTimestamp: new Date() }) } });

    // discrete items: what DA clients see as close/open labels and as enumerated EU info
    const readWrite = AccessLevelFlag.CurrentRead | AccessLevelFlag.CurrentWrite;
    namespace.addTwoStateDiscrete({ componentOf: stat, browseName: "TwoState", nodeId: "s=Demo.Static.TwoState",
        trueState: "Open", falseState: "Closed", value: false, minimumSamplingInterval: 100,
        accessLevel: readWrite, userAccessLevel: readWrite });
    namespace.addMultiStateDiscrete({ componentOf: stat, browseName: "MultiState", nodeId: "s=Demo.Static.MultiState",
        enumStrings: ["Low", "Mid", "High"], value: 1, minimumSamplingInterval: 100,
        accessLevel: readWrite, userAccessLevel: readWrite });

    const analog = folder(demo, "Analog", "Demo.Analog");
    let level = 42.5;
    namespace.addAnalogDataItem({ componentOf: analog, browseName: "Level", nodeId: "s=Demo.Analog.Level",
        dataType: "Double", minimumSamplingInterval: 100, engineeringUnitsRange: { low: 0, high: 100 }, instrumentRange: { low: -10, high: 110 },
        engineeringUnits: standardUnits.percent,
        value: { get: () => new Variant({ dataType: DataType.Double, value: level }),
                 set: (v) => { level = v.value; return StatusCodes.Good; } } });
    let pressure = 1.25;
    namespace.addAnalogDataItem({ componentOf: analog, browseName: "Pressure", nodeId: "s=Demo.Analog.Pressure",
        dataType: "Float", minimumSamplingInterval: 100, engineeringUnitsRange: { low: 0, high: 10 }, engineeringUnits: standardUnits.bar,
        value: { get: () => new Variant({ dataType: DataType.Float, value: pressure }),
                 set: (v) => { pressure = v.value; return StatusCodes.Good; } } });

    const dynamic = folder(demo, "Dynamic", "Demo.Dynamic");
    let fast = 0, slow = 0;
    setInterval(() => { fast++; }, 100);
    setInterval(() => { slow += 0.5; }, 1000);
    namespace.addVariable({ componentOf: dynamic, browseName: "Fast", nodeId: "s=Demo.Dynamic.Fast", dataType: "Int32",
        minimumSamplingInterval: 50, value: { get: () => new Variant({ dataType: DataType.Int32, value: fast }) } });
    namespace.addVariable({ componentOf: dynamic, browseName: "Slow", nodeId: "s=Demo.Dynamic.Slow", dataType: "Double",
        minimumSamplingInterval: 100, value: { get: () => new Variant({ dataType: DataType.Double, value: slow }) } });

    let deep = demo;
    let path = "Demo.Deep";
    deep = folder(deep, "Deep", path);
    for (const name of ["Level1", "Level2", "Level3"]) {
        path += "." + name;
        deep = folder(deep, name, path);
    }
    stored(namespace, deep, "Value", path + ".Value", DataType.Int32, 3);

    const bulk = folder(demo, "Bulk", "Demo.Bulk");
    const count = Number(process.env.UA_BULK || 10000);
    for (let i = 0; i < count; i++) {
        const name = "V" + String(i).padStart(5, "0");
        namespace.addVariable({ componentOf: bulk, browseName: name, nodeId: "s=Demo.Bulk." + name, dataType: "Int32",
            minimumSamplingInterval: 100,
            value: { get: () => new Variant({ dataType: DataType.Int32, value: Math.floor(Date.now() / 100) % 1000000 + i }) } });
    }
}

module.exports = { build };
