#include "ClientFixture.h"

namespace vela::testdouble {
namespace {

class GroupsAndItems : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        client->SetActive(true);
        group = &client->OPCGroups().Add("G1");
        Server().calls.clear();
    }
    TVelaGroup* group = nullptr;
};

TEST_F(GroupsAndItems, GroupNamesAreUniqueAndNotBlank) {
    try {
        client->OPCGroups().Add("G1");
        FAIL();
    } catch (const EOPCGroupException& e) {
        EXPECT_EQ(std::string(e.what()), "Group G1 already exists");
    }
    try {
        client->OPCGroups().Add("   ");
        FAIL();
    } catch (const EOPCGroupException& e) {
        EXPECT_EQ(std::string(e.what()), "Group     already exists");
    }
    EXPECT_THROW(client->OPCGroups().Remove("nope"), EOPCGroupException);
    EXPECT_EQ(client->OPCGroups().Count(), 1u);
}

TEST_F(GroupsAndItems, NewGroupsTakeTheDefaultsAndAUniqueClientHandle) {
    client->OPCGroupDefault().UpdateRate = 250;
    client->OPCGroupDefault().IsActive = false;
    TVelaGroup& second = client->OPCGroups().Add("G2");
    EXPECT_EQ(second.UpdateRate(), 250);
    EXPECT_FALSE(second.IsActive());
    EXPECT_NE(second.ClientHandle(), group->ClientHandle());
    const int32_t secondHandle = second.ClientHandle();
    client->OPCGroups().Remove("G2");
    EXPECT_EQ(Server().Count("RemoveGroup G2"), 1u);
    TVelaGroup& third = client->OPCGroups().Add("G3");
    EXPECT_NE(third.ClientHandle(), group->ClientHandle());
    EXPECT_NE(third.ClientHandle(), secondHandle);  // handles are never reused
}

struct DeadBandCase {
    float set;
    float stored;
    const char* sent;
};

void PrintTo(const DeadBandCase& c, std::ostream* os) { *os << c.set; }

class DeadBand : public GroupsAndItems, public ::testing::WithParamInterface<DeadBandCase> {};

TEST_P(DeadBand, IsClampedBeforeItIsSent) {
    group->SetDeadBand(50);
    group->SetDeadBand(GetParam().set);
    EXPECT_EQ(group->DeadBand(), GetParam().stored);
    EXPECT_EQ(Server().Count(GetParam().sent), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, DeadBand,
                         ::testing::Values(DeadBandCase{150, 100, "SetState rate=1000 active=1 deadband=100"},
                                           DeadBandCase{-5, 0, "SetState rate=1000 active=1 deadband=0"},
                                           DeadBandCase{42, 42, "SetState rate=1000 active=1 deadband=42"}),
                         [](const auto& p) { return "set" + std::to_string(p.index); });

TEST_F(GroupsAndItems, TheServersRevisedRateIsStored) {
    Server().revisedUpdateRate = 750;
    group->SetUpdateRate(100);
    EXPECT_EQ(group->UpdateRate(), 750);
}

TEST_F(GroupsAndItems, AFailedActivationSetsTheGroupInactiveAgain) {
    group->SetIsActive(false);
    Server().failSetStateWhenActivating = true;
    Server().calls.clear();
    EXPECT_THROW(group->SetIsActive(true), EOPCException);
    EXPECT_FALSE(group->IsActive());
    EXPECT_EQ(Server().Calls(), (std::vector<std::string>{"SetState rate=1000 active=1 deadband=0",
                                                          "SetState rate=1000 active=0 deadband=0"}));
}

TEST_F(GroupsAndItems, ItemCommandsReachTheServer) {
    auto item = group->OPCItems().AddItem("Plant/Temp");
    item->SetIsActive(false);
    item->SetRequestDatatype(vtI4);
    item->SetRequestDatatype(vtI4);  // unchanged: nothing sent
    group->OPCItems().Remove(item.get());
    EXPECT_EQ(Server().Calls(), (std::vector<std::string>{"AddItems Plant/Temp", "SetActiveState 0 Plant/Temp",
                                                          "SetDatatypes Plant/Temp", "RemoveItems Plant/Temp"}));
    EXPECT_EQ(item->Parent(), nullptr);
    EXPECT_EQ(group->OPCItems().Count(), 0u);
}

TEST_F(GroupsAndItems, ItemsAddedLaterGoInOneCall) {
    group->OPCItems().AddItem("A", true);
    group->OPCItems().AddItem("B", true);
    EXPECT_EQ(Server().Calls().size(), 0u);
    group->OPCItems().OPCAddAllItems(true);
    EXPECT_EQ(Server().Calls(), (std::vector<std::string>{"AddItems A,B"}));
}

TEST_F(GroupsAndItems, IdentityCannotChangeOnTheServer) {
    auto item = group->OPCItems().AddItem("Plant/Temp");
    try {
        item->SetItemID("Other");
        FAIL();
    } catch (const EOPCItemException& e) {
        EXPECT_EQ(std::string(e.what()), "Not possible if connected to OPC server");
    }
    EXPECT_THROW(item->SetAccessPath("x"), EOPCItemException);
    client->SetActive(false);
    item->SetItemID("Other");  // fine while not on the server
    EXPECT_EQ(item->ItemID(), "Other");
}

TEST_F(GroupsAndItems, AnUnknownItemFailsTheAddWithItsText) {
    Server().unknownItems = {"Nope"};
    try {
        group->OPCItems().AddItem("Nope");
        FAIL();
    } catch (const EOPCItemException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "OPC Command:\r\nNope- The item is no longer available in the server address space.\r\n");
    }
}

TEST(ItemErrors, ThirtyFailingItemsGiveTwentySixLines) {
    TVelaItemList list;
    for (int i = 0; i < 30; ++i) {
        auto item = std::make_shared<TVelaItemData>();
        item->FItemID = "I" + std::to_string(i);
        item->FLastError = 5;
        list.Add(item);
    }
    list.Add(std::make_shared<TVelaItemData>());  // a good one
    try {
        list.CheckOPCErrors("Cannot write Items:", true);
        FAIL();
    } catch (const EOPCItemException& e) {
        const std::string text = e.what();
        size_t lines = 0;
        for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++lines;
        EXPECT_EQ(lines, 27u);  // the caption and 26 items
        EXPECT_EQ(text.rfind("Cannot write Items:\r\nI0- Unknown error : 5\r\n", 0), 0u);
        EXPECT_EQ(text.find("I26-"), std::string::npos);
    }
    TVelaItemList good(std::make_shared<TVelaItemData>());
    EXPECT_TRUE(good.CheckOPCErrors("x", true));
    EXPECT_FALSE(list.CheckOPCErrors("x", false));
}

TEST_F(GroupsAndItems, IoNeedsItemsOnTheServer) {
    TVelaItemList empty;
    EXPECT_FALSE(group->SyncRead(&empty, true));
    EXPECT_EQ(Server().Calls().size(), 0u);
    auto item = group->OPCItems().AddItem("Plant/Temp");
    auto waiting = group->OPCItems().AddItem("Plant/Level", true);
    try {
        group->SyncRead(nullptr, true);
        FAIL();
    } catch (const EOPCServerException& e) {
        EXPECT_EQ(std::string(e.what()), "Item Plant/Level not exists on OPC server");
    }
    group->OPCItems().OPCAddAllItems(true);
    Server().values["Plant/Temp"] = Variant(21.5);
    EXPECT_TRUE(group->SyncRead(nullptr, false));
    EXPECT_EQ(item->FValue, Variant(21.5));
    EXPECT_EQ(Server().Count("SyncRead device Plant/Temp,Plant/Level"), 1u);
}

TEST_F(GroupsAndItems, WritesSendTheWantedValueAndForgetQualityAndTime) {
    auto item = group->OPCItems().AddItem("Plant/Temp");
    item->WriteSync(Variant(5), 0xC0, 45000.0);
    EXPECT_EQ(Server().Count("SyncWrite Plant/Temp=5 q=192"), 1u);
    EXPECT_EQ(item->FWantQuality, -1);
    EXPECT_EQ(item->FWantTimeStamp, -1.0);
    EXPECT_EQ(item->FWantValue, Variant(5));
    Server().unknownItems = {"Plant/Temp"};
    EXPECT_THROW(item->WriteAsync(Variant(6)), EOPCItemException);
    EXPECT_EQ(item->FWantQuality, -1);
}

TEST_F(GroupsAndItems, RefreshAsksForCacheOrDevice) {
    group->Refresh(true);
    group->Refresh(false);
    group->RefreshMaxAge(1500);
    EXPECT_EQ(Server().Calls(), (std::vector<std::string>{"Refresh 2147483647", "Refresh 0", "Refresh 1500"}));
}

TEST_F(GroupsAndItems, EngineeringUnitsAreFetchedOnDemand) {
    auto item = group->OPCItems().AddItem("Plant/Temp");
    EXPECT_EQ(item->GetEUType(), 1);
    EXPECT_EQ(item->GetEUType(), 1);
    EXPECT_EQ(Server().Count("GetEUInfos"), 1u);
    EXPECT_TRUE(item->GetEUInfo().IsArray());
    TVelaItem orphan(nullptr);
    EXPECT_THROW(orphan.GetEUType(), EOPCItemException);
}

TEST_F(GroupsAndItems, StateRecordsReflectTheGroup) {
    TVelaGroupStateRec state;
    group->GetState(state);
    EXPECT_EQ(state.Name, "G1");
    EXPECT_EQ(state.ServerHandle, group->ServerHandle());
    state.UpdateRate = 2000;
    state.DeadBand = 500;
    group->SetState(state);
    EXPECT_EQ(group->UpdateRate(), 2000);
    EXPECT_EQ(group->DeadBand(), 100);
}

TEST_F(GroupsAndItems, LookupsFallBackToThePlaceholder) {
    group->OPCItems().AddItem("Plant/Temp");
    EXPECT_EQ(group->OPCItems().ItemStr("Plant/Temp")->FItemID, "Plant/Temp");
    const TVelaItemDataPtr missing = group->OPCItems().ItemStr("nothing");
    EXPECT_EQ(missing->FItemID, "unknown");
    EXPECT_EQ(missing->FValue, Variant("unknown value"));
    EXPECT_EQ(group->OPCItems().FindItem("nothing"), nullptr);
}

TEST_F(GroupsAndItems, LastErrorTextsComeFromTheConnection) {
    auto item = group->OPCItems().AddItem("Plant/Temp");
    item->FLastError = static_cast<int32_t>(0xC0040006);
    EXPECT_EQ(item->GetLastErrorStr(), "The Items AccessRights do not allow the operation.");
    item->FLastError = 0;
    EXPECT_EQ(item->GetLastErrorStr(), "");
}

struct QualityCase {
    const char* url;
    uint32_t quality;
    const char* text;
    bool good;
};

void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.url << " " << c.quality; }

class QualityText : public ClientFixture, public ::testing::WithParamInterface<QualityCase> {};

TEST_P(QualityText, DependsOnTheProtocol) {
    client->SetServerName(GetParam().url);
    client->SetActive(true);
    auto item = client->OPCGroups().Add("Q").OPCItems().AddItem("X");
    item->FQuality = GetParam().quality;
    EXPECT_EQ(item->QualityAsString(), GetParam().text);
    EXPECT_EQ(item->IsGoodQuality(), GetParam().good);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QualityText,
    ::testing::Values(QualityCase{"http://p", 0xC0, "good", true}, QualityCase{"http://p", 0xD8, "goodLocalOverride", true},
                      QualityCase{"http://p", 0x18, "badCommFailure", false},
                      QualityCase{"http://p", 0x08, "badNotConnected", false},
                      QualityCase{"http://p", 0x44, "uncertainLastUsableValue", false},
                      QualityCase{"http://p", 0x80, "", false},
                      QualityCase{"opc.tcp://p", 0x00000000, "good", true},
                      QualityCase{"opc.tcp://p", 0x40920000, "uncertain", false},
                      QualityCase{"opc.tcp://p", 0x80340000, "bad", false}),
    [](const auto& p) {
        return std::string(p.param.url[0] == 'h' ? "da_" : "ua_") + std::to_string(p.index);
    });

TEST_F(GroupsAndItems, ValueTextsOfScalarsAndArrays) {
    auto item = group->OPCItems().AddItem("X");
    EXPECT_EQ(item->ValueStr(), "");
    item->FValue = Variant(true);
    EXPECT_EQ(item->ValueStr(), "True");
    item->FValue = Variant::FromElements(vtI4, {Variant(1), Variant(2), Variant(3)}, 5);
    EXPECT_EQ(item->ValueStr(), "1;2;3;");
    const Variant inner = Variant::FromElements(vtI4, {Variant(7), Variant(8)});
    item->FValue = Variant::FromElements(vtVARIANT, {Variant("a"), inner, Variant(2.5)});
    EXPECT_EQ(item->ValueStr(), "a;<7;8;>2.5;");
    item->FValue = Variant::FromElements(vtVARIANT, {Variant("a"), Variant::Null(), Variant("b")});
    EXPECT_EQ(item->ValueStr(), "a;");  // stops where the conversion failed
}

TEST_F(GroupsAndItems, TypesAndRightsByProtocol) {
    auto item = group->OPCItems().AddItem("X");
    item->FCanonicalDatatype = vtArray | vtR8;
    item->FAccessRights = 2;
    EXPECT_TRUE(item->IsArray());
    EXPECT_EQ(item->GetBaseVarType(), vtR8);
    EXPECT_FALSE(item->IsReadAble());
    EXPECT_TRUE(item->IsWriteAble());
    client->SetServerName("opc.tcp://p");
    client->SetActive(true);
    for (const auto& [uaType, varType] : std::vector<std::pair<int32_t, VarType>>{
             {1, vtBOOL}, {2, vtI1}, {3, vtUI1}, {6, vtI4}, {7, vtUI4}, {11, vtR8}, {290, vtR8}, {12, vtBSTR},
             {13, vtDATE}, {24, vtVARIANT}, {99, vtNULL}}) {
        item->fBaseDatatype = uaType;
        EXPECT_EQ(item->GetBaseVarType(), varType) << uaType;
    }
    EXPECT_FALSE(item->IsArray());  // UA uses the array flag
}

}  // namespace
}  // namespace vela::testdouble
