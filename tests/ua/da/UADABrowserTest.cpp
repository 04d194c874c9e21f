// The UA address-space browser through the toolkit's browser front end, against node-opcua.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "tests/ua/da/DAClientFixture.h"
#include "toolkit/VelaBrowser.h"
#include "ua/da/UADAConnection.h"

namespace vela::ua {
namespace {

class DABrowsing : public DAClientFixture {
protected:
    void SetUp() override {
        DAClientFixture::SetUp();
        client->SetActive(true);
        browser = &client->Browser();
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& item : browser->Items()) names.push_back(item->ItemName());
        return names;
    }
    const TVelaBrowseItem* Entry(const std::string& name) {
        for (const auto& item : browser->Items())
            if (item->ItemName() == name) return item.get();
        return nullptr;
    }
    static bool Has(const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    std::vector<std::string> ItemIds() {
        std::vector<std::string> ids;
        for (const auto& item : browser->Items()) ids.push_back(item->GetItemId());
        return ids;
    }
    // What a flat browse must give, found a folder at a time: depth first, each item before
    // what lies below it.
    void WalkFolders(std::vector<std::string>& ids) {
        browser->Browse(false);
        std::vector<TVelaBrowseItem> level;
        for (const auto& item : browser->Items()) level.push_back(*item);
        for (const auto& entry : level) {
            if (entry.FIsItem) ids.push_back(entry.GetItemId());
            if (entry.FIsFolder && browser->MoveDown(&entry)) {
                WalkFolders(ids);
                browser->Moveup();
            }
        }
    }
    // Counts the Browse and BrowseNext requests the connection sends from now on.
    void CountBrowseCalls() {
        auto* connection = dynamic_cast<TVelaUADAConnection*>(client->Connection()->GetObject());
        ASSERT_NE(connection, nullptr);
        connection->Client().OnLog = [this](int, uint32_t type, const std::string& text, const TuaObj*) {
            if (type == 6 && (text == "Browse" || text == "BrowseNext")) ++browseCalls;
        };
    }
    TVelaBrowser* browser = nullptr;
    std::atomic<int> browseCalls{0};
};

TEST_F(DABrowsing, DownThreeLevelsUpAndBackToTheRoot) {
    browser->Browse(false);
    auto names = Names();
    EXPECT_TRUE(Has(names, "Demo"));
    EXPECT_TRUE(Has(names, "Server"));
    EXPECT_EQ(browser->GetCurrentPath("/"), "");
    const TVelaBrowseItem* demo = Entry("Demo");
    ASSERT_NE(demo, nullptr);
    EXPECT_TRUE(demo->FIsFolder);
    EXPECT_FALSE(demo->FIsItem);
    EXPECT_EQ(demo->FKind, 0);  // a FolderType object
    EXPECT_EQ(demo->FNodeId, "ns=1;s=Demo");

    for (const char* level : {"Demo", "Deep", "Level1", "Level2", "Level3"}) {
        SCOPED_TRACE(level);
        const TVelaBrowseItem* next = Entry(level);
        ASSERT_NE(next, nullptr);
        ASSERT_TRUE(browser->MoveDown(next));
        browser->Browse(false);
    }
    EXPECT_EQ(browser->GetCurrentPath("/"), "/Demo/Deep/Level1/Level2/Level3");
    const TVelaBrowseItem* value = Entry("Value");
    ASSERT_NE(value, nullptr);
    EXPECT_TRUE(value->FIsItem);
    EXPECT_EQ(value->FKind, 3);  // a Variable reached through HasComponent
    EXPECT_EQ(value->GetItemId(), "ns=1;s=Demo.Deep.Level1.Level2.Level3.Value");

    EXPECT_TRUE(browser->Moveup());
    EXPECT_EQ(browser->GetCurrentPath("/"), "/Demo/Deep/Level1/Level2");
    browser->Browse(false);
    EXPECT_EQ(Names(), std::vector<std::string>{"Level3"});

    EXPECT_TRUE(browser->Moveto(std::string("ns=1;s=Demo.Analog")));
    EXPECT_FALSE(browser->Moveup());  // a jump leaves no way up
    browser->Browse(false);
    EXPECT_TRUE(Has(Names(), "Level"));
    EXPECT_TRUE(Has(Names(), "Pressure"));
    const TVelaBrowseItem* level = Entry("Level");
    ASSERT_NE(level, nullptr);
    TVelaBrowseItem levelFolder = *level;
    ASSERT_TRUE(browser->MoveDown(&levelFolder));
    browser->Browse(false);
    const TVelaBrowseItem* range = Entry("EURange");
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->FKind, 5);  // a property
    EXPECT_FALSE(range->FIsFolder);

    TVelaBrowseItem missing;
    missing.SetItemName("ns=1;s=No.Such.Folder");
    EXPECT_FALSE(browser->MoveDown(&missing));
    EXPECT_TRUE(browser->MovetoRoot());
    browser->Browse(false);
    EXPECT_TRUE(Has(Names(), "Demo"));
}

TEST_F(DABrowsing, BranchesLeavesAndNameFilters) {
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo.Static.Scalars")));
    browser->SetFilter("*Int*");
    browser->ShowLeafs(false);
    auto names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Int16", "Int32", "Int64", "UInt16", "UInt32", "UInt64"}));

    browser->SetFilter("");
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo.Static")));
    browser->ShowBranches();
    names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Access", "Arrays", "Bad", "Scalars"}));
}

TEST_F(DABrowsing, AFolderOfTenThousandIsFollowedThroughBrowseNext) {
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo.Bulk")));
    browser->Browse(false);
    EXPECT_EQ(browser->GetCount(), 10000u);
    EXPECT_NE(Entry("V09999"), nullptr);
}

TEST_F(DABrowsing, FlatBrowseFindsItemsByItemId) {
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo.Deep")));
    browser->SetFilter("*level3*");
    browser->Browse(true);
    ASSERT_EQ(browser->GetCount(), 1u);
    EXPECT_EQ(browser->Items()[0].GetItemId(), "ns=1;s=Demo.Deep.Level1.Level2.Level3.Value");
    EXPECT_EQ(browser->GetCurrentPosition()->FNodeId, "ns=1;s=Demo.Deep");
}

TEST_F(DABrowsing, FlatBrowseGivesWhatAFolderAtATimeFinds) {
    for (const char* root : {"ns=1;s=Demo.Static", "ns=1;s=Demo.Analog", "ns=1;s=Demo.Deep"}) {
        SCOPED_TRACE(root);
        ASSERT_TRUE(browser->Moveto(std::string(root)));
        std::vector<std::string> expected;
        WalkFolders(expected);
        browser->Browse(true);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(ItemIds(), expected);
    }
}

// Demo.Bulk browsed along with its siblings comes in pages; it must still come whole, in order.
TEST_F(DABrowsing, AFlatBrowseIsTheFlatBrowsesOfItsFoldersInTurn) {
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo")));
    browser->Browse(false);
    std::vector<TVelaBrowseItem> children;
    for (const auto& item : browser->Items()) children.push_back(*item);
    std::vector<std::string> expected;
    for (const auto& child : children) {
        if (child.FIsItem) expected.push_back(child.GetItemId());
        if (!child.FIsFolder) continue;
        ASSERT_TRUE(browser->Moveto(&child));
        browser->Browse(true);
        for (const auto& id : ItemIds()) expected.push_back(id);
    }
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo")));
    browser->Browse(true);
    EXPECT_GT(expected.size(), 10000u);
    EXPECT_EQ(ItemIds(), expected);
}

// Ten thousand items under one folder: pages of many references and many nodes per Browse, and
// the items handed on while the walk still has calls to make.
TEST_F(DABrowsing, AFlatBrowseOfTenThousandTakesFewCallsAndDeliversAsItGoes) {
    ASSERT_TRUE(browser->Moveto(std::string("ns=1;s=Demo.Bulk")));
    CountBrowseCalls();
    std::vector<std::string> ids;
    int callsAtFirstItem = -1;
    browser->BrowseFlat([&](const TVelaBrowseItem& item) {
        if (ids.empty()) callsAtFirstItem = browseCalls;
        ids.push_back(item.GetItemId());
        return true;
    });
    const int calls = browseCalls;
    ASSERT_EQ(ids.size(), 10000u);
    for (size_t i = 0; i < ids.size(); ++i) {
        char expected[40];
        std::snprintf(expected, sizeof expected, "ns=1;s=Demo.Bulk.V%05d", static_cast<int>(i));
        ASSERT_EQ(ids[i], expected);
    }
    EXPECT_LT(calls, 100);  // a call per node would be 10,000
    EXPECT_GT(callsAtFirstItem, 0);
    EXPECT_LT(callsAtFirstItem, calls);
    EXPECT_EQ(browser->GetCount(), 0u);
    EXPECT_EQ(browser->GetCurrentPosition()->FNodeId, "ns=1;s=Demo.Bulk");

    browser->Browse(true);  // the collecting form gives the same
    EXPECT_EQ(ItemIds(), ids);

    // a visitor's false ends the walk there, and the browser goes on working
    browseCalls = 0;
    ids.clear();
    browser->SetFilter("*V0001?");
    browser->BrowseFlat([&](const TVelaBrowseItem& item) {
        ids.push_back(item.GetItemId());
        return ids.size() < 3;
    });
    EXPECT_EQ(ids, (std::vector<std::string>{"ns=1;s=Demo.Bulk.V00010", "ns=1;s=Demo.Bulk.V00011",
                                             "ns=1;s=Demo.Bulk.V00012"}));
    EXPECT_LT(browseCalls, calls);
    browser->SetFilter("");
    browser->Browse(false);
    EXPECT_EQ(browser->GetCount(), 10000u);
}

}  // namespace
}  // namespace vela::ua
