#include <gtest/gtest.h>

#include <set>

#include "ua/uaStatusCodes.h"
#include "ua/uaStructures.h"

namespace vela::ua {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Structures, ANewReadRequestHasItsNumbersAndHeader) {
    uaReadRequest request;
    EXPECT_EQ(request.fObjNo, 631);
    EXPECT_EQ(request.fRequestHeader.fObjNo, 391);
    EXPECT_EQ(request.GetRequestHeader(), &request.fRequestHeader);
    TuaBinaryEncoder e;
    e.WriteMessage(request);
    ASSERT_GE(e.Size(), 4u);
    EXPECT_EQ(Bytes(e.Buffer().begin(), e.Buffer().begin() + 4), (Bytes{0x01, 0x00, 0x77, 0x02}));
}

TEST(Structures, RegistryRowsAndClasses) {
    const auto& registry = ServiceRegistry();
    ASSERT_EQ(registry.size(), 79u);
    EXPECT_EQ(registry[0].ServiceId, 397);
    EXPECT_EQ(registry[0].ResponseId, 0);
    std::set<int32_t> ids;
    for (const auto& row : registry) {
        ids.insert(row.ServiceId);
        auto object = row.ClassType();
        EXPECT_EQ(object->fObjNo, row.ServiceId);
    }
    EXPECT_EQ(ids.size(), 79u);
    const auto read = std::find_if(registry.begin(), registry.end(), [](const auto& r) { return r.ServiceId == 631; });
    ASSERT_NE(read, registry.end());
    EXPECT_EQ(read->ResponseId, 634);
    const auto last = registry.back();
    EXPECT_EQ(last.ServiceId, 850);  // DeleteSubscriptionsResponse
}

TEST(Structures, AServiceFaultDecodesByItsTypeId) {
    uaServiceFault fault;
    fault.fResponseHeader.fServiceResult = 0x80AB0000;
    fault.fResponseHeader.fRequestHandle = 42;
    TuaBinaryEncoder e;
    e.WriteMessage(fault);
    TuaBinaryDecoder d(e.Buffer());
    const uint32_t id = d.ReadMessageId();
    EXPECT_EQ(id, 397u);
    std::unique_ptr<TuaObj> decoded = CreateStructure(static_cast<int32_t>(id));
    ASSERT_NE(dynamic_cast<uaServiceFault*>(decoded.get()), nullptr);
    d.Read(*decoded);
    auto& back = static_cast<uaServiceFault&>(*decoded);
    EXPECT_EQ(back.fResponseHeader.fServiceResult, 0x80AB0000u);
    EXPECT_EQ(back.fResponseHeader.fRequestHandle, 42u);
    EXPECT_EQ(d.Remaining(), 0u);
}

TEST(Structures, RoundTripOfANestedRequest) {
    uaCreateMonitoredItemsRequest request;
    request.fSubscriptionId = 7;
    request.fTimestampsToReturn.fValue = 2;
    request.ItemsToCreate_Setlength(2);
    request.fItemsToCreate[0].fItemToMonitor.fNodeId = uaNodeId(std::string("Temp"), 2);
    request.fItemsToCreate[0].fItemToMonitor.fAttributeId = 13;
    request.fItemsToCreate[0].fMonitoringMode.fValue = 2;
    request.fItemsToCreate[0].fRequestedParameters.fSamplingInterval = 250;
    request.fItemsToCreate[1].fRequestedParameters.fQueueSize = 10;
    auto filter = std::make_shared<uaDataChangeFilter>();
    filter->fTrigger.fValue = 1;
    filter->fDeadbandValue = 0.5;
    request.fItemsToCreate[1].fRequestedParameters.fFilter.fEncoding = uaExtensionObject::eo_EncodeableObject;
    request.fItemsToCreate[1].fRequestedParameters.fFilter.fObject = filter;
    TuaBinaryEncoder e;
    e.WriteMessage(request);
    TuaBinaryDecoder d(e.Buffer());
    EXPECT_EQ(d.ReadMessageId(), 751u);
    uaCreateMonitoredItemsRequest back;
    d.Read(back);
    EXPECT_EQ(d.Remaining(), 0u);
    ASSERT_EQ(back.fItemsToCreate.size(), 2u);
    EXPECT_EQ(back.fItemsToCreate[0].fItemToMonitor.fNodeId, uaNodeId(std::string("Temp"), 2));
    EXPECT_EQ(back.fItemsToCreate[0].fRequestedParameters.fSamplingInterval, 250);
    const uaExtensionObject& received = back.fItemsToCreate[1].fRequestedParameters.fFilter;
    EXPECT_EQ(received.fEncoding, uaExtensionObject::eo_BinaryBody);
    EXPECT_EQ(received.ObjectNumber(), 724u);
    // the length field equals the bytes the structure wrote
    TuaBinaryEncoder alone;
    alone.Write(*filter);
    EXPECT_EQ(received.fBinaryBody, alone.Buffer());
    uaDataChangeFilter decodedFilter;
    TuaBinaryDecoder body(received.fBinaryBody);
    body.Read(decodedFilter);
    EXPECT_EQ(decodedFilter.fDeadbandValue, 0.5);
}

TEST(Structures, TextForm) {
    uaReadValueId id;
    id.fNodeId = uaNodeId(85u);
    id.fAttributeId = 13;
    const std::string text = id.ToString();
    EXPECT_EQ(text.rfind("{\"ClassId\":\"uaReadValueId-628\",\r\n\"NodeId\":\"ns=0;i=85\",\r\n\"AttributeId\":\"13\"", 0), 0u)
        << text;
    EXPECT_EQ(text.substr(text.size() - 5), "\r\n}\r\n");
    uaBrowseRequest browse;
    const std::string browseText = browse.ToString();
    EXPECT_NE(browseText.find("\"NodesToBrowse\":[\"\"]"), std::string::npos) << browseText;
    EXPECT_NE(browseText.find("\"RequestHeader\":{\"ClassId\":\"uaRequestHeader-391\""), std::string::npos);
}

TEST(Enumerations, TextsAndUnknownValues) {
    uaNodeClass nodeClass;
    nodeClass.fValue = 1;
    EXPECT_EQ(nodeClass.ToString(), "Obj");
    nodeClass.fValue = 3;
    EXPECT_EQ(nodeClass.ToString(), "NONE 3");
    uaServerState state;
    state.fValue = 6;
    EXPECT_EQ(state.ToString(), "CommunicationFault");
    uaFilterOperator op;
    op.fValue = 10;
    EXPECT_EQ(op.ToString(), "_And");
}

TEST(Structures, NodeStructuresCarryTheirEditionFields) {
    uaVariableNode node;
    node.RolePermissions_Setlength(1);
    node.fAccessRestrictions = 3;
    node.fAccessLevelEx = 0x12345;
    TuaBinaryEncoder e;
    e.Write(node);
    TuaBinaryDecoder d(e.Buffer());
    uaVariableNode back;
    d.Read(back);
    EXPECT_EQ(back.fAccessLevelEx, 0x12345u);
    EXPECT_EQ(back.fAccessRestrictions, 3);
    EXPECT_EQ(back.fRolePermissions.size(), 1u);
    EXPECT_EQ(node.fObjNo, 269);
}

TEST(StatusCodes, TableAndFallback) {
    EXPECT_EQ(Statuscodes::Count(), 235u);
    EXPECT_EQ(Statuscodes::ToString(0), "Unknown error code: 0");
    EXPECT_EQ(Statuscodes::ToString(0x800D0000),
              "The operation could not complete because the client is not connected to the server.");
    EXPECT_EQ(Statuscodes::ToString(0x80AB0000), "One or more arguments are invalid.");
    EXPECT_EQ(Statuscodes::ToString(0x80AB0400), "Unknown error code: " + std::to_string(0x80AB0400u));
    EXPECT_EQ(Statuscodes::ToString(0x00A30000), Statuscodes::ToString(0x00A60000));
    EXPECT_FALSE(Statuscodes::ToString(0x406C0000).empty());
}

}  // namespace
}  // namespace vela::ua

namespace vela::ua {
namespace {

TEST(ExtensionObjectReader, DecodesKnownBodiesAndRefusesOthers) {
    uaDataChangeNotification notification;
    notification.MonitoredItems_Setlength(1);
    notification.fMonitoredItems[0].fClientHandle = 9;
    notification.fMonitoredItems[0].fValue.fValue = uaVariant::Scalar(bit_Double, 22.25);
    uaExtensionObject live;
    live.fEncoding = uaExtensionObject::eo_EncodeableObject;
    live.fObject = std::make_shared<uaDataChangeNotification>(notification);
    TuaBinaryEncoder e;
    e.Write(live);
    TuaBinaryDecoder d(e.Buffer());
    uaExtensionObject received;
    d.Read(received);
    uaDataChangeNotification back;
    TExtensionObjReader::ReadObject(received, back);
    ASSERT_EQ(back.fMonitoredItems.size(), 1u);
    EXPECT_EQ(back.fMonitoredItems[0].fClientHandle, 9u);
    uaStatusChangeNotification wrong;
    try {
        TExtensionObjReader::ReadObject(received, wrong);
        FAIL();
    } catch (const Exception& ex) {
        EXPECT_EQ(std::string(ex.what()), "Error Message: wrong extension object types (811 <> 820)");
    }
    uaExtensionObject xml;
    xml.fEncoding = uaExtensionObject::eo_XmlBody;
    EXPECT_THROW(TExtensionObjReader::ReadObject(xml, back), Exception);
    received.fBinaryBody.resize(3);  // a truncated body is a decoding error, not a crash
    EXPECT_THROW(TExtensionObjReader::ReadObject(received, back), uaDecodingError);
}

}  // namespace
}  // namespace vela::ua
