// TVelaUAClient::ReadNode: all attributes of one node in one Read, gathered into the node
// structure of its class.
#include <memory>

#include "base/Exception.h"
#include "ua/client/VelaUAClient.h"

namespace vela::ua {
namespace {

constexpr uint32_t kAttributeCount = 27;  // NodeId (1) .. AccessLevelEx (27)

bool IsGood(const uaDataValue& value) { return (value.fStatusCode & 0xC0000000u) == 0 && value.fValue; }

// Copies a scalar attribute when it is there and of the expected holder; others stay default.
template <typename T>
void Take(const uaDataValue& value, T& target) {
    if (!IsGood(value) || value.fValue->IsArray()) return;
    if (const auto* held = std::get_if<T>(&value.fValue->fScalar)) target = *held;
}

void TakeDimensions(const uaDataValue& value, std::vector<uint32_t>& target) {
    if (!IsGood(value)) return;
    for (const uaScalar& item : value.fValue->fArray)
        if (const auto* n = std::get_if<uint32_t>(&item)) target.push_back(*n);
}

void TakePermissions(const uaDataValue& value, std::vector<uaRolePermissionType>& target) {
    if (!IsGood(value)) return;
    for (const uaScalar& item : value.fValue->fArray)
        if (const auto* object = std::get_if<uaExtensionObject>(&item))
            if (const auto* permission = dynamic_cast<const uaRolePermissionType*>(object->fObject.get()))
                target.push_back(*permission);
}

std::shared_ptr<uaNode> NodeOfClass(int32_t nodeClass) {
    switch (nodeClass) {
        case 1: return std::make_shared<uaObjectNode>();
        case 2: return std::make_shared<uaVariableNode>();
        case 4: return std::make_shared<uaMethodNode>();
        case 8: return std::make_shared<uaObjectTypeNode>();
        case 16: return std::make_shared<uaVariableTypeNode>();
        case 32: return std::make_shared<uaReferenceTypeNode>();
        case 64: return std::make_shared<uaDataTypeNode>();
        case 128: return std::make_shared<uaViewNode>();
        default: return nullptr;
    }
}

}  // namespace

std::shared_ptr<uaNode> TVelaUAClient::ReadNode(const uaNodeId& nodeId) {
    std::vector<uint32_t> attributes;
    for (uint32_t id = 1; id <= kAttributeCount; ++id) attributes.push_back(id);
    const auto values = ReadNodeAttributes({nodeId}, attributes, 3);
    if (values.size() != kAttributeCount) throw Exception("ERROR: can not read attributes");
    const auto at = [&](uint32_t attribute) -> const uaDataValue& { return values[attribute - 1]; };
    if (!IsGood(at(1))) throw Exception("node not found");
    if (!IsGood(at(2))) throw Exception("node has no class attribute");
    const auto* nodeClass = std::get_if<int32_t>(&at(2).fValue->fScalar);
    std::shared_ptr<uaNode> node = nodeClass ? NodeOfClass(*nodeClass) : nullptr;
    if (!node) throw Exception("node class attribute is bad");

    node->fNodeClass.fValue = *nodeClass;
    Take(at(1), node->fNodeId);
    Take(at(3), node->fBrowseName);
    Take(at(4), node->fDisplayName);
    Take(at(5), node->fDescription);
    Take(at(6), node->fWriteMask);
    Take(at(7), node->fUserWriteMask);
    TakePermissions(at(24), node->fRolePermissions);
    TakePermissions(at(25), node->fUserRolePermissions);
    Take(at(26), node->fAccessRestrictions);
    if (auto* object = dynamic_cast<uaObjectNode*>(node.get())) {
        Take(at(12), object->fEventNotifier);
    } else if (auto* variable = dynamic_cast<uaVariableNode*>(node.get())) {
        if (IsGood(at(13))) variable->fValue = *at(13).fValue;
        Take(at(14), variable->fDataType);
        Take(at(15), variable->fValueRank);
        TakeDimensions(at(16), variable->fArrayDimensions);
        Take(at(17), variable->fAccessLevel);
        Take(at(18), variable->fUserAccessLevel);
        Take(at(19), variable->fMinimumSamplingInterval);
        Take(at(20), variable->fHistorizing);
        Take(at(27), variable->fAccessLevelEx);
    } else if (auto* method = dynamic_cast<uaMethodNode*>(node.get())) {
        Take(at(21), method->fExecutable);
        Take(at(22), method->fUserExecutable);
    } else if (auto* view = dynamic_cast<uaViewNode*>(node.get())) {
        Take(at(11), view->fContainsNoLoops);
        Take(at(12), view->fEventNotifier);
    } else if (auto* objectType = dynamic_cast<uaObjectTypeNode*>(node.get())) {
        Take(at(8), objectType->fIsAbstract);
    } else if (auto* variableType = dynamic_cast<uaVariableTypeNode*>(node.get())) {
        if (IsGood(at(13))) variableType->fValue = *at(13).fValue;
        Take(at(14), variableType->fDataType);
        Take(at(15), variableType->fValueRank);
        TakeDimensions(at(16), variableType->fArrayDimensions);
        Take(at(8), variableType->fIsAbstract);
    } else if (auto* referenceType = dynamic_cast<uaReferenceTypeNode*>(node.get())) {
        Take(at(8), referenceType->fIsAbstract);
        Take(at(9), referenceType->fSymmetric);
        Take(at(10), referenceType->fInverseName);
    } else if (auto* dataType = dynamic_cast<uaDataTypeNode*>(node.get())) {
        Take(at(8), dataType->fIsAbstract);
        Take(at(23), dataType->fDataTypeDefinition);
    }
    return node;
}

}  // namespace vela::ua
