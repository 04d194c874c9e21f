#include "ClientFixture.h"
#include "toolkit/VelaPropertyBrowser.h"

namespace vela::testdouble {
namespace {

using Browsing = ClientFixture;

TEST_F(Browsing, NeedsAnActiveClient) {
    EXPECT_FALSE(client->Browser().SupportsBrowsing());
    try {
        client->Browser().Browse(false);
        FAIL();
    } catch (const EOPCBrowserException& e) {
        EXPECT_EQ(std::string(e.what()), "OPC server not active");
    }
    TVelaBrowser unbound;
    try {
        unbound.MovetoRoot();
        FAIL();
    } catch (const EOPCBrowserException& e) {
        EXPECT_EQ(std::string(e.what()), "first define server object");
    }
    client->SetActive(true);
    EXPECT_TRUE(client->Browser().SupportsBrowsing());
}

TEST_F(Browsing, WalksTheAddressSpaceWithFilters) {
    client->SetActive(true);
    TVelaBrowser& browser = client->Browser();
    browser.Browse(false);
    ASSERT_EQ(browser.GetCount(), 1u);
    EXPECT_EQ(browser.Items()[0].GetItemId(), "Plant");
    EXPECT_TRUE(browser.MoveDown(&browser.Items()[0]));
    browser.ShowLeafs(false);
    ASSERT_EQ(browser.GetCount(), 2u);
    EXPECT_EQ(browser.Items()[0].FName, "Temp");
    EXPECT_TRUE(browser.Items()[0].FIsItem);
    browser.ShowBranches();
    ASSERT_EQ(browser.GetCount(), 1u);
    EXPECT_EQ(browser.Items()[0].FName, "Line");
    EXPECT_TRUE(browser.Moveto("Plant/Line"));
    EXPECT_EQ(browser.GetCurrentPath("."), "Plant.Line");
    EXPECT_FALSE(browser.MoveDown(nullptr));
    EXPECT_EQ(browser.GetOrganization(), 1);
}

TEST_F(Browsing, AnIdOfBlanksMovesToTheRoot) {
    client->SetActive(true);
    Server().calls.clear();
    EXPECT_TRUE(client->Browser().Moveto("   "));
    EXPECT_EQ(Server().Calls(), (std::vector<std::string>{"MovetoRoot"}));
}

TEST_F(Browsing, DeactivationUnbindsTheBrowser) {
    client->SetActive(true);
    client->Browser().Browse(false);
    client->SetActive(false);
    EXPECT_EQ(client->Browser().GetCount(), 0u);
    EXPECT_FALSE(client->Browser().SupportsBrowsing());
    client->SetActive(true);
    EXPECT_TRUE(client->Browser().SupportsBrowsing());
}

TEST(BrowseRecords, ItemIdsAndCopies) {
    TVelaBrowseItem fresh;
    EXPECT_TRUE(fresh.FIsFolder);
    EXPECT_FALSE(fresh.FIsItem);
    EXPECT_EQ(fresh.FKind, 0);
    TVelaBrowseItem xml;
    xml.SetItemName("Temp");
    EXPECT_EQ(xml.FNodeId, "Temp");  // the node id follows the first name
    xml.FNodeId.clear();
    xml.FItemPath = "Plant";
    EXPECT_EQ(xml.GetItemId(), "Plant//Temp");
    xml.FItemPath.clear();
    EXPECT_EQ(xml.GetItemId(), "Temp");
    TVelaBrowseItem ua;
    ua.FNodeId = "ns=2;s=Temp";
    ua.SetItemName("Temp");
    EXPECT_EQ(ua.GetItemId(), "ns=2;s=Temp");

    TVelaBrowseItems a, b;
    a.Add().FName = "x";
    b.Assign(a);
    b.Assign(a);
    a[0].FName = "changed";
    ASSERT_EQ(b.Count(), 2u);
    EXPECT_EQ(b[1].FName, "x");
}

TEST_F(Browsing, PropertyLinesAndValues) {
    client->SetActive(true);
    TStrings lines;
    EXPECT_TRUE(client->QueryAvailableProperties("Plant/Temp", lines));
    EXPECT_EQ(lines, (TStrings{"1,\"Item Canonical DataType\",2", "2,\"Item Value\",5"}));
    Variant value;
    EXPECT_TRUE(client->GetItemProperty("Plant/Temp", 2, value));
    EXPECT_EQ(value, Variant(21.5));
    EXPECT_FALSE(client->GetItemProperty("Plant/Temp", 101, value));  // a failed property gives Null
    EXPECT_TRUE(value.IsNull());
}

TEST_F(Browsing, AnUnknownItemGivesOneErrorEntry) {
    client->SetActive(true);
    Server().unknownItems = {"Nope"};
    TVelaPropertyBrowser browser;
    browser.SetOPCClient(client.get());
    browser.AddItem("Plant/Temp");
    browser.AddItem("Nope");
    EXPECT_TRUE(browser.Execute(true));
    EXPECT_EQ(browser.ItemErrorID("Nope"), kUnknownItemError);
    EXPECT_EQ(browser.ItemErrorID("Plant/Temp"), 0);
    EXPECT_EQ(browser.ItemErrorID("not asked"), 0);
    ASSERT_NE(browser.GetProperty("Plant/Temp", 2), nullptr);
    EXPECT_EQ(browser.GetProperty("Plant/Temp", 2)->FValue, Variant(21.5));
    TStrings lines;
    EXPECT_FALSE(client->QueryAvailableProperties("Nope", lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("0,\"", 0), 0u);
}

TEST_F(Browsing, PropertyQueriesNeedAnActiveClient) {
    TVelaPropertyBrowser browser;
    browser.SetOPCClient(client.get());
    browser.AddItem("Plant/Temp");
    try {
        browser.Execute(true);
        FAIL();
    } catch (const EOPCException& e) {
        EXPECT_EQ(std::string(e.what()), "Not connected to server");
    }
}

TEST_F(Browsing, ItemPropertyListsReloadWhenBound) {
    client->SetActive(true);
    TVelaItemProperties properties("Plant/Temp");
    properties.SetOPCClient(client.get());
    ASSERT_EQ(properties.Count(), 2u);
    EXPECT_EQ(properties.ById(2)->FValue, Variant(21.5));
    EXPECT_EQ(properties.ById(7), nullptr);
    properties.SetItemId("Plant/Temp");  // unchanged: no new query
    EXPECT_EQ(Server().Count("QueryAvailableProperties"), 1u);
    Server().unknownItems = {"Nope"};
    properties.SetItemId("Nope");
    ASSERT_EQ(properties.Count(), 1u);
    EXPECT_EQ(properties[0].FId, 0);
}

}  // namespace
}  // namespace vela::testdouble
