// Groups and items of the toolkit on a UA server (node-opcua): subscriptions, monitored items,
// reads, writes, activation, dead bands, data changes in the owning thread.
#include <atomic>
#include <map>

#include "tests/ua/da/DAClientFixture.h"
#include "toolkit/OPCResultTexts.h"
#include "ua/da/UADAGroup.h"

namespace vela::ua {
namespace {

class DAGroups : public DAClientFixture {
protected:
    void SetUp() override {
        DAClientFixture::SetUp();
        client->SetActive(true);
    }
};

TEST_F(DAGroups, ItemsAreCheckedAgainstTheAddressSpace) {
    TVelaGroup& group = ActiveGroup("G");
    auto item = group.OPCItems().AddItem(Id("Demo.Static.Scalars.Double"));
    EXPECT_EQ(item->FLastError, 0);
    EXPECT_NE(item->FServerHandle, -1);
    EXPECT_EQ(item->fItemName, "Double");
    EXPECT_EQ(item->FCanonicalDatatype, 11);
    EXPECT_EQ(item->fBaseDatatype, 11);
    EXPECT_EQ(item->FAccessRights & 3, 3);
    EXPECT_FALSE(item->FIsArray);
    EXPECT_EQ(item->FValue.ToDouble(), 3.25);

    auto array = group.OPCItems().AddItem(Id("Demo.Static.Arrays.Int32Array"));
    EXPECT_TRUE(array->FIsArray);
    auto readOnly = group.OPCItems().AddItem(Id("Demo.Static.Access.ReadOnly"));
    EXPECT_EQ(readOnly->FAccessRights & 3, 1);

    for (const char* bad : {"ns=1;s=No.Such.Node", "ns=abc;i=5"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(group.OPCItems().AddItem(bad), EOPCItemException);
        auto* failed = group.OPCItems().FindItem(bad);
        ASSERT_NE(failed, nullptr);
        EXPECT_NE(failed->FLastError, 0);
    }
    EXPECT_EQ(static_cast<uint32_t>(group.OPCItems().FindItem("ns=1;s=No.Such.Node")->FLastError), 0x80340000u);
    EXPECT_EQ(static_cast<uint32_t>(group.OPCItems().FindItem("ns=abc;i=5")->FLastError), 0x80330000u);
}

// Arrays compare element by element.
std::string Text(const Variant& v) {
    if (!v.IsArray()) return v.ToString();
    std::string text = "[";
    for (const auto& element : v.Array().Elements()) text += element.ToString() + ";";
    return text + "]";
}

struct WriteCase {
    const char* node;
    Variant value;
};

TEST_F(DAGroups, EveryScalarTypeIsWrittenAndReadBack) {
    const WriteCase cases[] = {
        {"Boolean", Variant(false)},
        {"SByte", Variant(int8_t{-100})},
        {"Byte", Variant(uint8_t{250})},
        {"Int16", Variant(int16_t{-30000})},
        {"UInt16", Variant(uint16_t{65000})},
        {"Int32", Variant(int32_t{-2000000000})},
        {"UInt32", Variant(uint32_t{4000000001u})},
        {"Int64", Variant(int64_t{-5000000000})},
        {"UInt64", Variant(uint64_t{9000000000u})},
        {"Float", Variant(-0.25f)},
        {"Double", Variant(1e300)},
        {"String", Variant("Grüße")},
        {"DateTime", Variant::FromDate(45000.5)},
        {"ByteString", Variant::FromElements(vtUI1, {Variant(uint8_t{9}), Variant(uint8_t{8})})},
        {"Int32", Variant("123")},  // text converted to the node's type
        {"Double", Variant(int32_t{7})},
    };
    TVelaGroup& group = ActiveGroup("G");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        auto item = group.OPCItems().AddItem(Id(std::string("Demo.Static.Scalars.") + c.node));
        ASSERT_EQ(item->FLastError, 0);
        item->WriteSync(c.value);
        EXPECT_EQ(item->FLastError, 0);
        TVelaItemList one(item);
        EXPECT_TRUE(group.SyncRead(&one, false));
        EXPECT_EQ(item->FQuality, 0u);
        EXPECT_EQ(Text(item->FValue), Text(c.value));
        group.OPCItems().Remove(item.get());
    }
}

TEST_F(DAGroups, ArraysAndABooleanToAnItemOfUnknownType) {
    TVelaGroup& group = ActiveGroup("G");
    auto array = group.OPCItems().AddItem(Id("Demo.Static.Arrays.DoubleArray"));
    const Variant values = Variant::FromElements(vtR8, {Variant(1.0), Variant(2.0), Variant(4.0), Variant(8.0)});
    array->WriteSync(values);
    TVelaItemList list(array);
    EXPECT_TRUE(group.SyncRead(&list, false));
    EXPECT_TRUE(array->FValue.IsArray());
    EXPECT_EQ(Text(array->FValue), Text(values));

    auto flag = group.OPCItems().AddItem(Id("Demo.Static.Scalars.Boolean"));
    flag->fBaseDatatype = -1;  // as before the first read
    flag->WriteSync(Variant(true));  // must go out as a UA Boolean, which the node takes
    EXPECT_EQ(flag->FLastError, 0);
    TVelaItemList one(flag);
    group.SyncRead(&one, false);
    EXPECT_EQ(flag->FValue.Type(), vtBOOL);
    EXPECT_TRUE(flag->FValue.BoolValue());
}

// A structure travels as the bytes of its encoding; a write replaces the body and keeps the type.
TEST_F(DAGroups, ExtensionObjectsAreWrittenAsTheirBody) {
    TVelaGroup& group = ActiveGroup("G", false);
    auto range = group.OPCItems().AddItem(Id("Demo.Static.Range"));
    EXPECT_EQ(range->fBaseDatatype, 22);
    ASSERT_TRUE(range->FValue.IsArray());
    EXPECT_EQ(range->FValue.Array().Size(), 16u);  // two Doubles: low 0, high 100
    const double bounds[2] = {1.5, 2.5};
    std::vector<Variant> bytes;
    for (size_t i = 0; i < sizeof bounds; ++i) bytes.emplace_back(reinterpret_cast<const uint8_t*>(bounds)[i]);
    const Variant body = Variant::FromElements(vtUI1, bytes);
    range->WriteSync(body);
    EXPECT_EQ(range->FLastError, 0);
    TVelaItemList list(range);
    group.SyncRead(&list, false);
    EXPECT_EQ(Text(range->FValue), Text(body));

    // a scalar would leave an empty body, a number beyond a byte a corrupt one: neither is written
    for (const Variant& wrong : {Variant(5), Variant::FromElements(vtI4, {Variant(1), Variant(256)})}) {
        EXPECT_THROW(range->WriteSync(wrong), EOPCException);
        EXPECT_NE(range->FLastError, 0);
        range->FLastError = 0;
        group.SyncRead(&list, false);
        EXPECT_EQ(Text(range->FValue), Text(body));
    }
}

TEST_F(DAGroups, AccessRightsAndBadStatusReachTheItems) {
    TVelaGroup& group = ActiveGroup("G");
    // no value to read: the base type comes from the DataType attribute
    auto writeOnly = group.OPCItems().AddItem(Id("Demo.Static.Access.WriteOnly"));
    EXPECT_EQ(writeOnly->FAccessRights & 3, 2);
    EXPECT_EQ(writeOnly->fBaseDatatype, 6);
    EXPECT_EQ(writeOnly->FQuality, 0x803A0000u);  // BadNotReadable
    writeOnly->WriteSync(Variant("17"));
    EXPECT_EQ(writeOnly->FLastError, 0);
    auto readOnly = group.OPCItems().AddItem(Id("Demo.Static.Access.ReadOnly"));
    EXPECT_THROW(readOnly->WriteSync(Variant(1)), EOPCException);
    EXPECT_EQ(static_cast<uint32_t>(readOnly->FLastError), 0x803B0000u);  // BadNotWritable
    auto bad = group.OPCItems().AddItem(Id("Demo.Static.Bad.SensorFailure"));  // the monitored item is fine
    EXPECT_EQ(bad->FQuality, 0x808C0000u);
    TVelaItemList list(bad);
    EXPECT_TRUE(group.SyncRead(&list, false));  // a bad quality is not an error of the item
    EXPECT_EQ(bad->FLastError, 0);
    EXPECT_EQ(bad->FQuality, 0x808C0000u);
}

// Without a subscription items are checked by reading their attributes: a write-only item and
// items whose value has an uncertain or bad status are items all the same.
TEST_F(DAGroups, WriteOnlyAndUncertainItemsStandWithoutASubscription) {
    TVelaGroup& group = client->OPCGroups().Add("Plain", true, false);
    auto writeOnly = group.OPCItems().AddItem(Id("Demo.Static.Access.WriteOnly"));
    EXPECT_EQ(writeOnly->FLastError, 0);
    EXPECT_EQ(writeOnly->FQuality, 0x803A0000u);  // BadNotReadable
    writeOnly->WriteSync(Variant("19"));
    EXPECT_EQ(writeOnly->FLastError, 0);
    TVelaItemList unreadable(writeOnly);
    EXPECT_FALSE(group.SyncRead(&unreadable, false));  // reading it is still refused
    EXPECT_EQ(static_cast<uint32_t>(writeOnly->FLastError), 0x803A0000u);

    auto uncertain = group.OPCItems().AddItem(Id("Demo.Static.Bad.Uncertain"));
    EXPECT_EQ(uncertain->FLastError, 0);
    EXPECT_EQ(uncertain->FQuality, 0x40900000u);  // UncertainLastUsableValue
    uncertain->WriteSync(Variant(int32_t{77}));
    EXPECT_EQ(uncertain->FLastError, 0);
    TVelaItemList list(uncertain);
    EXPECT_TRUE(group.SyncRead(&list, false));
    EXPECT_EQ(uncertain->FValue.ToInt32(), 77);
    EXPECT_EQ(uncertain->FQuality, 0x40900000u);

    auto bad = group.OPCItems().AddItem(Id("Demo.Static.Bad.SensorFailure"));
    EXPECT_EQ(bad->FLastError, 0);
    EXPECT_EQ(bad->FQuality, 0x808C0000u);
    EXPECT_THROW(group.OPCItems().AddItem(Id("No.Such.Node")), EOPCItemException);
}

// A value the node cannot hold is refused with OPC_E_RANGE and not written; the other items of
// the same write go through.
TEST_F(DAGroups, ValuesOutOfTheNodesRangeAreRefusedAndNotWritten) {
    const WriteCase outside[] = {
        {"Byte", Variant(300)},
        {"Byte", Variant("300")},
        {"SByte", Variant(-129)},
        {"UInt16", Variant(-1)},
        {"UInt32", Variant(int64_t{4294967296})},
        {"Int16", Variant(40000)},
        {"Float", Variant(1e39)},
    };
    TVelaGroup& group = ActiveGroup("G", false);
    auto neighbour = group.OPCItems().AddItem(Id("Demo.Static.Scalars.Int32"));
    std::map<std::string, decltype(neighbour)> items;
    for (const auto& c : outside) {
        SCOPED_TRACE(std::string(c.node) + " " + c.value.ToString());
        auto& item = items[c.node];
        if (!item) item = group.OPCItems().AddItem(Id(std::string("Demo.Static.Scalars.") + c.node));
        ASSERT_EQ(item->FLastError, 0);
        const Variant before = item->FValue;
        item->FWantValue = c.value;
        neighbour->FWantValue = Variant(int32_t{4711});
        TVelaItemList both(item);
        both.Add(neighbour);
        EXPECT_FALSE(group.SyncWrite(&both));
        EXPECT_EQ(item->FLastError, kOpcERange);
        EXPECT_EQ(neighbour->FLastError, 0);
        EXPECT_TRUE(group.SyncRead(&both, false));
        EXPECT_EQ(item->FValue.ToString(), before.ToString());
        EXPECT_EQ(neighbour->FValue.ToInt32(), 4711);
        neighbour->WriteSync(Variant(int32_t{0}));
        EXPECT_THROW(item->WriteSync(c.value), EOPCException);
        EXPECT_NE(item->GetLastErrorStr().find("out of range"), std::string::npos) << item->GetLastErrorStr();
        item->FLastError = 0;
    }
    // text that is no number for the node: a type error, also per item
    auto number = group.OPCItems().AddItem(Id("Demo.Static.Scalars.Double"));
    EXPECT_THROW(number->WriteSync(Variant("abc")), EOPCException);
    EXPECT_EQ(number->FLastError, kOpcEBadType);
}

TEST_F(DAGroups, AnAsynchronousWriteReportsItsRefusedValues) {
    std::vector<int64_t> results;
    client->OnWriteComplete = [&](TVelaDAClient&, TVelaItemList& items) {
        for (const auto& item : items) results.push_back(item->FLastError);
    };
    TVelaGroup& group = ActiveGroup("Polled", false);
    auto small = group.OPCItems().AddItem(Id("Demo.Static.Scalars.SByte"));
    auto wide = group.OPCItems().AddItem(Id("Demo.Static.Scalars.Int64"));
    small->FWantValue = Variant(1000);
    wide->FWantValue = Variant(1000);
    TVelaItemList both(small);
    both.Add(wide);
    EXPECT_TRUE(group.AsyncWrite(&both));
    EXPECT_TRUE(Pump([&] { return results.size() == 2; }));
    EXPECT_EQ(results, (std::vector<int64_t>{kOpcERange, 0}));
    results.clear();
    TVelaItemList alone(small);  // nothing left for the server
    EXPECT_TRUE(group.AsyncWrite(&alone));
    EXPECT_TRUE(Pump([&] { return results.size() == 1; }));
    EXPECT_EQ(results, (std::vector<int64_t>{kOpcERange}));
}

TEST_F(DAGroups, DataChangesArriveInTheOwningThreadWithTheirCounts) {
    std::atomic<int> changes{0};
    bool onMainThread = true;
    int32_t lastCount = 0;
    double lastValue = -1;
    bool increasing = true;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList& items) {
        onMainThread = onMainThread && loop.IsMainThread();
        for (const auto& item : items) {
            increasing = increasing && item->FValue.ToDouble() > lastValue && item->FChangeCount > lastCount;
            lastValue = item->FValue.ToDouble();
            lastCount = item->FChangeCount;
            EXPECT_EQ(item->FQuality, 0u);
            EXPECT_GT(item->FTimeStamp, 0);
        }
        ++changes;
    };
    TVelaGroup& group = ActiveGroup("G", true, 100);
    group.OPCItems().AddItem(Id("Demo.Dynamic.Fast"));
    EXPECT_TRUE(Pump([&] { return changes >= 5; }));
    EXPECT_TRUE(onMainThread);
    EXPECT_TRUE(increasing);

    group.SetIsActive(false);  // publishing off: nothing more arrives
    Pump([] { return false; }, 300ms);
    const int stopped = changes;
    Pump([] { return false; }, 700ms);
    EXPECT_LE(changes - stopped, 1);
    group.SetIsActive(true);
    EXPECT_TRUE(Pump([&] { return changes >= stopped + 3; }));

    group.SetUpdateRate(500);
    EXPECT_EQ(group.UpdateRate(), 500);
}

TEST_F(DAGroups, TwoGroupsShareOnePublishLoop) {
    std::map<int32_t, int> perGroup;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList& items) {
        for (const auto& item : items) ++perGroup[dynamic_cast<TVelaItem&>(*item).Parent()->ClientHandle()];
    };
    TVelaGroup& fast = ActiveGroup("Fast", true, 100);
    TVelaGroup& slow = ActiveGroup("Slow", true, 500);
    fast.OPCItems().AddItem(Id("Demo.Dynamic.Fast"));
    slow.OPCItems().AddItem(Id("Demo.Dynamic.Slow"));
    EXPECT_TRUE(Pump([&] { return perGroup[fast.ClientHandle()] >= 10 && perGroup[slow.ClientHandle()] >= 2; }, 15s));
    auto* connection = dynamic_cast<TVelaUADAConnection*>(client->Connection()->GetObject());
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->ActiveGroups(), 2);
    EXPECT_EQ(connection->PublishResponseTimeout(), 500 * 10 * 3);  // three keep-alive periods of the slowest
    // acknowledgements ride on the next Publish: never more than a few are pending
    EXPECT_LE(connection->PendingAcknowledgements().size(), 4u);

    client->OPCGroups().Remove("Slow");
    EXPECT_EQ(connection->ActiveGroups(), 1);
    const int before = perGroup[fast.ClientHandle()];
    EXPECT_TRUE(Pump([&] { return perGroup[fast.ClientHandle()] >= before + 3; }));
}

TEST_F(DAGroups, DeadBandFiltersGoToNumericItemsOnly) {
    TVelaGroup& group = ActiveGroup("G");
    group.SetDeadBand(10);
    // Percent dead bands need an engineering range: an analog item takes one...
    EXPECT_EQ(group.OPCItems().AddItem(Id("Demo.Analog.Level"))->FLastError, 0);
    // ...text and Boolean items get no filter at all...
    EXPECT_EQ(group.OPCItems().AddItem(Id("Demo.Static.Scalars.String"))->FLastError, 0);
    EXPECT_EQ(group.OPCItems().AddItem(Id("Demo.Static.Scalars.Boolean"))->FLastError, 0);
    // ...while a plain Double gets the filter, which the server refuses for want of a range
    EXPECT_THROW(group.OPCItems().AddItem(Id("Demo.Static.Scalars.Double")), EOPCItemException);
    EXPECT_NE(group.OPCItems().FindItem(Id("Demo.Static.Scalars.Double"))->FLastError, 0);
}

TEST_F(DAGroups, AGroupWithoutDataChangeDeliveryReadsAndWrites) {
    TVelaGroup& group = ActiveGroup("Polled", false);
    auto item = group.OPCItems().AddItem(Id("Demo.Deep.Level1.Level2.Level3.Value"));
    EXPECT_EQ(item->FLastError, 0);
    EXPECT_GT(item->FServerHandle, 0);
    EXPECT_EQ(item->FValue.ToInt32(), 3);
    item->WriteSync(Variant(int32_t{33}));
    TVelaItemList list(item);
    EXPECT_TRUE(group.SyncRead(&list, false));
    EXPECT_EQ(item->FValue.ToInt32(), 33);
}

TEST_F(DAGroups, AsynchronousReadsAndWritesComeBackAsMessages) {
    int dataChanges = 0, writes = 0;
    Variant read;
    client->OnDatachange = [&](TVelaDAClient&, TVelaItemList& items) {
        ++dataChanges;
        read = items[0].FValue;
    };
    client->OnWriteComplete = [&](TVelaDAClient&, TVelaItemList& items) {
        ++writes;
        EXPECT_EQ(items[0].FLastError, 0);
    };
    TVelaGroup& group = ActiveGroup("Polled", false);
    auto item = group.OPCItems().AddItem(Id("Demo.Static.Scalars.Int16"));
    item->WriteAsync(Variant(int16_t{-77}));
    EXPECT_TRUE(Pump([&] { return writes == 1; }));
    EXPECT_TRUE(group.AsyncRead(nullptr));
    EXPECT_TRUE(Pump([&] { return dataChanges == 1; }));
    EXPECT_EQ(read.ToInt32(), -77);
}

// 2,500 items take 12,500 attribute reads, beyond the server's 10,000 per Read: the group
// splits its calls by the server's operation limits instead of failing them all.
TEST_F(DAGroups, LargeItemListsAreSplitByTheServersLimits) {
    TVelaGroup& group = ActiveGroup("Bulk", true, 1000);
    char name[40];
    for (int i = 0; i < 2500; ++i) {
        std::snprintf(name, sizeof name, "ns=1;s=Demo.Bulk.V%05d", i);
        group.OPCItems().AddItem(name, true);
    }
    group.OPCItems().OPCAddAllItems(true);
    size_t added = 0;
    for (const auto& item : group.OPCItems()) added += item->FServerHandle != -1 && item->FLastError == 0;
    EXPECT_EQ(added, 2500u);
    EXPECT_EQ(group.OPCItems()[2499].fItemName, "V02499");
    EXPECT_TRUE(group.SyncRead(nullptr, false));
}

TEST(VariantTypeToUAType, Table) {
    const std::pair<VarType, int32_t> cases[] = {
        {vtEMPTY, 0}, {vtNULL, 0}, {vtUNKNOWN, 0}, {vtI2, 4}, {vtI4, 6}, {vtR4, 10}, {vtR8, 11}, {vtCY, 11},
        {vtDATE, 13}, {vtBSTR, 12}, {vtDISPATCH, 12}, {vtERROR, 12}, {256, 12}, {258, 12}, {vtBOOL, 1},
        {vtI1, 2}, {vtUI1, 3}, {vtUI2, 5}, {vtUI4, 7}, {vtI8, 8}, {vtUI8, 8}, {vtDECIMAL, 24}, {vtVARIANT, 24}};
    for (const auto& [type, expected] : cases) EXPECT_EQ(VariantTypeToUAType(type), expected) << type;
}

}  // namespace
}  // namespace vela::ua
