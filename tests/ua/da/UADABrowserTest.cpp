// The UA address-space browser through the toolkit's browser front end, against node-opcua.
#include <algorithm>

#include "tests/ua/da/DAClientFixture.h"
#include "toolkit/VelaBrowser.h"

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
    TVelaBrowser* browser = nullptr;
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

}  // namespace
}  // namespace vela::ua
