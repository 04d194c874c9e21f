// DA item properties of UA nodes against node-opcua: attributes and properties of analog,
// discrete and plain items as DA ids, failed items, and many items in a few calls.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include "tests/ua/da/DAClientFixture.h"
#include "ua/da/UADAMapping.h"
#include "ua/da/UADAProperties.h"

namespace vela::ua {
namespace {

constexpr uint32_t kOpcUnknownItemId = 0xC0040007u, kOpcInvalidItemId = 0xC0040008u, kOpcBadRights = 0xC0040006u;

VarType ArrayOf(VarType type) { return static_cast<VarType>(vtArray | type); }

class DAProperties : public DAClientFixture {
protected:
    void SetUp() override {
        DAClientFixture::SetUp();
        client->SetActive(true);
        connection = dynamic_cast<TVelaUADAConnection*>(client->Connection()->GetObject());
        ASSERT_NE(connection, nullptr);
    }
    void TearDown() override {
        if (connection) connection->Client().OnLog = nullptr;
        DAClientFixture::TearDown();
    }

    // The lists of the items, filled by one query.
    struct Answers {
        bool result = false;
        std::vector<std::unique_ptr<TVelaItemProperties>> lists;
        const TVelaItemProperties& operator[](size_t i) const { return *lists.at(i); }
    };
    Answers Query(const std::vector<std::string>& itemIds, const std::vector<int32_t>& ids, bool values = true) {
        Answers answers;
        TVelaPropertyRequests requests;
        for (const auto& itemId : itemIds) {
            answers.lists.push_back(std::make_unique<TVelaItemProperties>(itemId));
            answers.lists.back()->Add().FId = 999;  // a stale entry: the query clears the list
            requests.push_back({itemId, answers.lists.back().get()});
        }
        answers.result = QueryDAProperties(*connection, requests, ids, false, values);
        return answers;
    }
    static std::vector<int32_t> IdsOf(const TVelaItemProperties& list) {
        std::vector<int32_t> ids;
        for (const auto& property : list) ids.push_back(property->FId);
        return ids;
    }
    // The service calls of the connection, by name.
    void CountCalls() {
        connection->Client().OnLog = [this](int, uint32_t type, const std::string& text, const TuaObj*) {
            if (type != 6) return;
            std::lock_guard lock(callsLock_);
            ++calls_[text];
        };
    }
    std::map<std::string, int> Calls() {
        std::lock_guard lock(callsLock_);
        auto calls = calls_;
        calls_.clear();
        return calls;
    }

    TVelaUADAConnection* connection = nullptr;

private:
    std::mutex callsLock_;
    std::map<std::string, int> calls_;
};

struct Expected {
    int32_t id;
    VarType type;
    Variant value;
};

void ExpectProperties(const TVelaItemProperties& list, const std::vector<Expected>& table) {
    ASSERT_EQ(list.Count(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const TVelaItemProperty& property = list[i];
        SCOPED_TRACE("property " + std::to_string(table[i].id));
        EXPECT_EQ(property.FId, table[i].id);
        EXPECT_EQ(property.FStatusCode, 0);
        EXPECT_EQ(property.FDescription, DAPropertyDescription(table[i].id));
        EXPECT_EQ(property.FDataType, table[i].type);
        EXPECT_EQ(property.FValue.Type(), table[i].value.Type());
        EXPECT_TRUE(property.FValue == table[i].value) << property.FValue.ToString();
    }
}

TEST_F(DAProperties, AnAnalogItemShowsItsAttributesAndRanges) {
    const auto answers = Query({Id("Demo.Analog.Level")}, {1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105});
    EXPECT_TRUE(answers.result);
    const TVelaItemProperties& list = answers[0];
    ASSERT_EQ(list.Count(), 14u);
    // the timestamp is now: checked apart
    const Variant timestamp = list[3].FValue;
    EXPECT_EQ(timestamp.Type(), vtDATE);
    EXPECT_NEAR(timestamp.ToDouble(), NowUtc(), 1.0 / 24);
    ExpectProperties(list, {
        {1, vtI2, Variant(static_cast<int16_t>(vtR8))},
        {2, vtR8, Variant(42.5)},
        {3, vtI2, Variant(static_cast<int16_t>(0xC0))},
        {4, vtDATE, timestamp},
        {5, vtI4, Variant(int32_t{3})},
        {6, vtR4, Variant(100.0f)},
        {7, vtI4, Variant(int32_t{1})},
        {8, ArrayOf(vtR8), Variant::FromElements(vtR8, {Variant(0.0), Variant(100.0)})},
        {100, vtBSTR, Variant("%")},
        {101, vtBSTR, Variant("")},
        {102, vtR8, Variant(100.0)},
        {103, vtR8, Variant(0.0)},
        {104, vtR8, Variant(110.0)},
        {105, vtR8, Variant(-10.0)},
    });
}

TEST_F(DAProperties, WhatANodeLacksIsLeftOut) {
    // no instrument range on the pressure; the ids come back in the order asked, each once,
    // ids that are no DA property of a UA node are left out
    auto answers = Query({Id("Demo.Analog.Pressure")}, {103, 104, 105, 102, 9, 103, 5000});
    EXPECT_TRUE(answers.result);
    ExpectProperties(answers[0], {{103, vtR8, Variant(0.0)}, {102, vtR8, Variant(10.0)}});

    answers = Query({Id("Demo.Static.Scalars.Int32")}, {100, 102, 103, 106, 107});
    EXPECT_TRUE(answers.result);
    EXPECT_EQ(answers[0].Count(), 0u);
}

TEST_F(DAProperties, DiscreteItemsShowLabelsAndStates) {
    const auto answers =
        Query({Id("Demo.Static.TwoState"), Id("Demo.Static.MultiState")}, {1, 7, 8, 106, 107});
    EXPECT_TRUE(answers.result);
    ExpectProperties(answers[0], {
        {1, vtI2, Variant(static_cast<int16_t>(vtBOOL))},
        {7, vtI4, Variant(int32_t{0})},
        {8, vtVARIANT, Variant()},
        {106, vtBSTR, Variant("Open")},
        {107, vtBSTR, Variant("Closed")},
    });
    // the multi-state item's data type is abstract (Number): its value gives the type
    ExpectProperties(answers[1], {
        {1, vtI2, Variant(static_cast<int16_t>(vtUI4))},
        {7, vtI4, Variant(int32_t{2})},
        {8, ArrayOf(vtBSTR), Variant::FromElements(vtBSTR, {Variant("Low"), Variant("Mid"), Variant("High")})},
    });
}

TEST_F(DAProperties, CanonicalTypesOfScalarsArraysAndStructures) {
    const struct {
        const char* node;
        VarType type;
    } cases[] = {
        {"Demo.Static.Scalars.Int32", vtI4},
        {"Demo.Static.Scalars.Boolean", vtBOOL},
        {"Demo.Static.Scalars.String", vtBSTR},
        {"Demo.Static.Scalars.DateTime", vtDATE},
        {"Demo.Static.Scalars.UInt64", vtUI8},
        {"Demo.Static.Arrays.Int32Array", ArrayOf(vtI4)},
        {"Demo.Static.Arrays.StringArray", ArrayOf(vtBSTR)},
        {"Demo.Static.Arrays.DoubleMatrix", ArrayOf(vtR8)},
        {"Demo.Static.Range", ArrayOf(vtUI1)},
    };
    std::vector<std::string> nodes;
    for (const auto& c : cases) nodes.push_back(Id(c.node));
    for (const bool values : {true, false}) {
        const auto answers = Query(nodes, {1}, values);
        EXPECT_TRUE(answers.result);
        for (size_t i = 0; i < std::size(cases); ++i) {
            SCOPED_TRACE(cases[i].node);
            ASSERT_EQ(answers[i].Count(), 1u);
            EXPECT_EQ(answers[i][0].FDataType, vtI2);
            if (values) EXPECT_EQ(answers[i][0].FValue, Variant(static_cast<int16_t>(cases[i].type)));
            else EXPECT_TRUE(answers[i][0].FValue.IsEmpty());
        }
    }
    // the item value's property has the canonical type as its type
    const auto answers = Query({Id("Demo.Static.Arrays.Int32Array"), Id("Demo.Static.Range")}, {2});
    ASSERT_EQ(answers[0].Count(), 1u);
    EXPECT_EQ(answers[0][0].FDataType, ArrayOf(vtI4));
    EXPECT_EQ(answers[0][0].FValue.Type(), ArrayOf(vtI4));
    ASSERT_EQ(answers[1].Count(), 1u);
    EXPECT_EQ(answers[1][0].FDataType, ArrayOf(vtUI1));
    EXPECT_EQ(answers[1][0].FValue.Type(), ArrayOf(vtUI1));  // the structure's encoded bytes
}

TEST_F(DAProperties, AccessRightsQualitiesAndUnreadableValues) {
    const struct {
        const char* node;
        int32_t rights;
        uint32_t valueStatus;  // OPC code of properties 2-4 (0: read)
        int16_t quality;
    } cases[] = {
        {"Demo.Static.Access.ReadOnly", 1, 0, 0xC0},
        {"Demo.Static.Access.WriteOnly", 2, kOpcBadRights, 0},
        {"Demo.Static.Scalars.Double", 3, 0, 0xC0},
        {"Demo.Static.Bad.SensorFailure", 3, 0, 0x10},
        {"Demo.Static.Bad.Uncertain", 3, 0, 0x44},
    };
    std::vector<std::string> nodes;
    for (const auto& c : cases) nodes.push_back(Id(c.node));
    const auto answers = Query(nodes, {5, 2, 3, 4});
    EXPECT_TRUE(answers.result);  // an unreadable value fails its properties, not the item
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].node);
        const TVelaItemProperties& list = answers[i];
        ASSERT_EQ(IdsOf(list), (std::vector<int32_t>{5, 2, 3, 4}));
        EXPECT_EQ(list[0].FStatusCode, 0);
        EXPECT_EQ(list[0].FValue, Variant(cases[i].rights));
        for (size_t p = 1; p < 4; ++p) EXPECT_EQ(static_cast<uint32_t>(list[p].FStatusCode), cases[i].valueStatus);
        if (cases[i].valueStatus != 0) {
            EXPECT_TRUE(list[1].FValue.IsEmpty());
            continue;
        }
        EXPECT_EQ(list[2].FValue, Variant(cases[i].quality));
        EXPECT_EQ(list[3].FValue.Type(), vtDATE);
    }
}

TEST_F(DAProperties, AllPropertiesAreTheOnesTheNodeHas) {
    const auto answers = Query({Id("Demo.Analog.Level"), Id("Demo.Analog.Pressure"), Id("Demo.Static.TwoState"),
                                Id("Demo.Static.MultiState"), Id("Demo.Static.Scalars.Int32"), Id("Demo.Static")},
                               {});
    EXPECT_TRUE(answers.result);
    using Ids = std::vector<int32_t>;
    EXPECT_EQ(IdsOf(answers[0]), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105}));
    EXPECT_EQ(IdsOf(answers[1]), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103}));
    EXPECT_EQ(IdsOf(answers[2]), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 101, 106, 107}));
    EXPECT_EQ(IdsOf(answers[3]), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 101}));
    EXPECT_EQ(IdsOf(answers[4]), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 101}));
    EXPECT_EQ(IdsOf(answers[5]), Ids{});  // a folder is no item
    for (const auto& property : answers[1]) EXPECT_EQ(property->FStatusCode, 0) << property->FId;
    EXPECT_EQ(answers[1].ById(100)->FValue, Variant("bar"));
    EXPECT_EQ(answers[3].ById(2)->FValue, Variant(uint32_t{1}));
}

TEST_F(DAProperties, WithoutValuesTheTypesStillCome) {
    CountCalls();
    const auto answers = Query({Id("Demo.Analog.Level"), Id("Demo.Static.MultiState")}, {1, 2, 3, 8, 102}, false);
    EXPECT_TRUE(answers.result);
    ExpectProperties(answers[0], {
        {1, vtI2, Variant()},
        {2, vtR8, Variant()},
        {3, vtI2, Variant()},
        {8, ArrayOf(vtR8), Variant()},
        {102, vtR8, Variant()},
    });
    ExpectProperties(answers[1], {
        {1, vtI2, Variant()},
        {2, vtUI4, Variant()},
        {3, vtI2, Variant()},
        {8, ArrayOf(vtBSTR), Variant()},
    });
    // the properties found, the attributes read, the abstract type's value read
    EXPECT_EQ(Calls(), (std::map<std::string, int>{{"Read", 2}, {"TranslateBrowsePathsToNodeIds", 1}}));
}

TEST_F(DAProperties, ItemsThatAreNoNodesFailAsAWhole) {
    const struct {
        const char* itemId;
        uint32_t code;
    } cases[] = {
        {"ns=1;s=No.Such.Node", kOpcUnknownItemId},
        {"ns=1;i=987654", kOpcUnknownItemId},
        {"Demo.Analog.Level", kOpcUnknownItemId},  // bare text: a string id in namespace 0
        {"ns=x;s=Demo", kOpcInvalidItemId},         // no node id text
        {"ns=1;i=abc", kOpcInvalidItemId},
        {"ns=70000;s=Demo", kOpcInvalidItemId},
    };
    for (const std::vector<int32_t>& ids : {std::vector<int32_t>{}, {1, 5}, {102}}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.itemId) + " with " + std::to_string(ids.size()) + " ids");
            const auto answers = Query({c.itemId}, ids);
            EXPECT_FALSE(answers.result);
            ASSERT_EQ(answers[0].Count(), 1u);
            EXPECT_EQ(answers[0][0].FId, 0);
            EXPECT_EQ(static_cast<uint32_t>(answers[0][0].FStatusCode), c.code);
            EXPECT_FALSE(answers[0][0].FDescription.empty());
        }
    }
}

TEST_F(DAProperties, AMixedListInOneCall) {
    CountCalls();
    const auto answers = Query({Id("Demo.Analog.Level"), Id("No.Such.Node"), "ns=1;i=Level"}, {1, 5, 102});
    EXPECT_FALSE(answers.result);
    ExpectProperties(answers[0], {{1, vtI2, Variant(static_cast<int16_t>(vtR8))},
                                  {5, vtI4, Variant(int32_t{3})},
                                  {102, vtR8, Variant(100.0)}});
    ASSERT_EQ(answers[1].Count(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(answers[1][0].FStatusCode), kOpcUnknownItemId);
    ASSERT_EQ(answers[2].Count(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(answers[2][0].FStatusCode), kOpcInvalidItemId);
    EXPECT_EQ(Calls(), (std::map<std::string, int>{{"Read", 1}, {"TranslateBrowsePathsToNodeIds", 1}}));
}

// What the gateway asks for every AddItems: the calls stay the same however many items come.
TEST_F(DAProperties, ThousandsOfItemsInOneRead) {
    for (const size_t count : {size_t{20}, size_t{2000}}) {
        SCOPED_TRACE(count);
        std::vector<std::string> nodes;
        for (size_t i = 0; i < count; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, "Demo.Bulk.V%05u", static_cast<unsigned>(i));
            nodes.push_back(Id(name));
        }
        CountCalls();
        const auto start = std::chrono::steady_clock::now();
        const auto answers = Query(nodes, {1, 5});
        const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
        EXPECT_EQ(Calls(), (std::map<std::string, int>{{"Read", 1}}));
        EXPECT_TRUE(answers.result);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(answers[i].Count(), 2u) << nodes[i];
            ASSERT_EQ(answers[i][0].FValue, Variant(static_cast<int16_t>(vtI4))) << nodes[i];
            ASSERT_EQ(answers[i][1].FValue, Variant(int32_t{3})) << nodes[i];
        }
        std::printf("[   INFO   ] %zu items, properties 1 and 5: %.1f ms\n", count, elapsed.count());
    }
}

TEST_F(DAProperties, AFailedExchangeFailsEveryItemOrRaises) {
    VelaPtr<IVelaDAConnection> holder(new TVelaUADAConnection(nullptr, false));  // never connected
    auto& idle = *dynamic_cast<TVelaUADAConnection*>(holder->GetObject());
    TVelaItemProperties first, second;
    TVelaPropertyRequests requests{{Id("Demo.Analog.Level"), &first}, {"ns=x;s=bad", &second}};
    for (const bool raise : {true, false}) {
        SCOPED_TRACE(raise);
        first.Add();
        if (raise) EXPECT_THROW(QueryDAProperties(idle, requests, {1}, true, true), std::exception);
        else EXPECT_FALSE(QueryDAProperties(idle, requests, {1}, false, true));
        for (const auto* list : {&first, &second}) {
            ASSERT_EQ(list->Count(), 1u);
            EXPECT_EQ((*list)[0].FId, 0);
            EXPECT_EQ(static_cast<uint32_t>((*list)[0].FStatusCode), 0x800D0000u);  // BadServerNotConnected
        }
    }
}

}  // namespace
}  // namespace vela::ua
