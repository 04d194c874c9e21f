#include "ua/da/UADAProperties.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "base/Exception.h"
#include "ua/da/UADAMapping.h"
#include "ua/uaBinaryEncoder.h"
#include "ua/uaStatusCodes.h"
#include "ua/uaVariantConvert.h"

namespace vela::ua {
namespace {

using uaTranslateBrowsePaths =
    TuaServiceCall<uaTranslateBrowsePathsToNodeIdsRequest, uaTranslateBrowsePathsToNodeIdsResponse>;

constexpr uint32_t kBadUnexpectedError = 0x80010000u;
constexpr uint32_t kBadDecodingError = 0x80070000u;
constexpr uint32_t kBadServerNotConnected = 0x800D0000u;
constexpr uint32_t kBadNodeIdInvalid = 0x80330000u;
constexpr uint32_t kBadAttributeIdInvalid = 0x80350000u;
constexpr uint32_t kHasProperty = 46;
constexpr int32_t kNoTimestamps = 3;
constexpr size_t kNone = static_cast<size_t>(-1);

bool IsBad(uint32_t status) { return (status & 0x80000000u) != 0; }
int64_t OpcCodeOf(uint32_t status) { return DAErrorOf(static_cast<int32_t>(status)); }

// Faults that mean "fewer operations per call".
bool TooMuchAtOnce(uint32_t code) { return code == 0x80100000u || code == 0x80B90000u || code == 0x80080000u; }

// Attributes of the item's node that properties come from.
enum Attribute : size_t {
    aValueRank, aDataType, aValue, aUserAccessLevel, aMinimumSamplingInterval, aDescription, kAttributes
};
constexpr std::array<uint32_t, kAttributes> kAttributeIds{15, 14, 13, 18, 19, 5};

// Properties of the node (HasProperty targets with these namespace-0 browse names).
enum Property : size_t {
    pEURange, pEngineeringUnits, pInstrumentRange, pEnumStrings, pTrueState, pFalseState, kProperties
};
constexpr std::array<const char*, kProperties> kPropertyNames{"EURange",     "EngineeringUnits", "InstrumentRange",
                                                              "EnumStrings", "TrueState",        "FalseState"};

constexpr std::array<int32_t, 16> kAllIds{kDAPropCanonicalType,    kDAPropValue,       kDAPropQuality,
                                          kDAPropTimestamp,        kDAPropAccessRights, kDAPropScanRate,
                                          kDAPropEUType,           kDAPropEUInfo,       kDAPropEngineeringUnits,
                                          kDAPropDescription,      kDAPropHighEU,       kDAPropLowEU,
                                          kDAPropHighIR,           kDAPropLowIR,        kDAPropCloseLabel,
                                          kDAPropOpenLabel};

// The ids to answer: the known ones of the request, each once, in the request's order.
std::vector<int32_t> IdsToAnswer(const std::vector<int32_t>& requested) {
    if (requested.empty()) return {kAllIds.begin(), kAllIds.end()};
    std::vector<int32_t> ids;
    for (int32_t id : requested)
        if (std::find(kAllIds.begin(), kAllIds.end(), id) != kAllIds.end() &&
            std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    return ids;
}

// What the ids take from the server.
struct Needs {
    std::array<bool, kAttributes> attribute{};
    std::array<bool, kProperties> property{};       // whether the node has it
    std::array<bool, kProperties> propertyValue{};  // and its value
    bool canonicalType = false;
    bool AnyProperty() const { return std::find(property.begin(), property.end(), true) != property.end(); }
};

Needs NeedsOf(const std::vector<int32_t>& ids, bool withValues) {
    Needs needs;
    needs.attribute[aValueRank] = true;  // every variable has it: the node is one, or no item
    const auto property = [&](Property p, bool value) {
        needs.property[p] = true;
        needs.propertyValue[p] = needs.propertyValue[p] || (value && withValues);
    };
    for (int32_t id : ids) switch (id) {
            case kDAPropCanonicalType:
            case kDAPropValue:
                needs.attribute[aDataType] = needs.canonicalType = true;
                if (id == kDAPropValue && withValues) needs.attribute[aValue] = true;
                break;
            case kDAPropQuality:
            case kDAPropTimestamp: needs.attribute[aValue] = needs.attribute[aValue] || withValues; break;
            case kDAPropAccessRights: needs.attribute[aUserAccessLevel] = true; break;
            case kDAPropScanRate: needs.attribute[aMinimumSamplingInterval] = true; break;
            case kDAPropDescription: needs.attribute[aDescription] = true; break;
            case kDAPropEUType:
                property(pEURange, false);
                property(pEnumStrings, false);
                break;
            case kDAPropEUInfo:
                property(pEURange, true);
                property(pEnumStrings, true);
                break;
            case kDAPropEngineeringUnits: property(pEngineeringUnits, true); break;
            case kDAPropHighEU:
            case kDAPropLowEU: property(pEURange, true); break;
            case kDAPropHighIR:
            case kDAPropLowIR: property(pInstrumentRange, true); break;
            case kDAPropCloseLabel: property(pTrueState, true); break;
            case kDAPropOpenLabel: property(pFalseState, true); break;
            default: break;
        }
    return needs;
}

// One item on its way through the calls: where its answers are in the results.
struct ItemQuery {
    TVelaItemProperties* list = nullptr;
    std::optional<uaNodeId> node;
    std::array<size_t, kAttributes> attribute;  // index into the read results, kNone when not read
    std::array<std::optional<uaNodeId>, kProperties> propertyNode;
    std::array<size_t, kProperties> propertyValue;
    size_t lateValue = kNone;  // the value read afterwards for a type the value decides

    ItemQuery() {
        attribute.fill(kNone);
        propertyValue.fill(kNone);
    }
};

// Runs a service over many operations in as few calls as the server takes: at most `limit` per
// call (0: no limit), halved while the server finds a call too large. fill(request, at, count)
// puts operations [at, at + count) into a call, take(response, count) keeps its results and
// says whether they fit. failure: the status that failed the exchange, when it fails.
template <typename Call, typename Fill, typename Take>
void RunInParts(uaRequestDispatcher& requests, size_t total, uint32_t limit, uint32_t& failure, Fill fill, Take take) {
    size_t per = limit == 0 ? total : limit;
    for (size_t at = 0; at < total;) {
        const size_t count = std::min(per, total - at);
        Call call(&requests);
        fill(*call.Request, at, count);
        try {
            call.RunSync();
        } catch (const std::exception&) {
            if (TooMuchAtOnce(call.Error) && count > 1) {
                per = (count + 1) / 2;
                continue;
            }
            failure = call.Error != 0 ? call.Error : kBadUnexpectedError;
            throw;
        }
        if (!call.Response) {
            failure = kBadServerNotConnected;
            throw Exception("UA Error " + call.Name() + ": no response or not connected");
        }
        if (!take(*call.Response, count)) {
            failure = kBadUnexpectedError;
            throw Exception("UA Error " + call.Name() + ": the response has not the right length");
        }
        at += count;
    }
}

// timestamps: what the values need (neither, 3, when no item value is among the nodes).
void ReadAll(TVelaUADAConnection& connection, const std::vector<uaReadValueId>& nodes, int32_t timestamps,
             std::vector<uaDataValue>& results, uint32_t& failure) {
    RunInParts<uaRead>(
        connection.Client().Requests(), nodes.size(), connection.OperationLimits().maxNodesPerRead, failure,
        [&](uaReadRequest& request, size_t at, size_t count) {
            request.fMaxAge = 0;
            request.fTimestampsToReturn.fValue = timestamps;
            request.fNodesToRead.assign(nodes.begin() + static_cast<ptrdiff_t>(at),
                                        nodes.begin() + static_cast<ptrdiff_t>(at + count));
        },
        [&](uaReadResponse& response, size_t count) {
            if (response.fResults.size() != count) return false;
            std::move(response.fResults.begin(), response.fResults.end(), std::back_inserter(results));
            return true;
        });
}

// Finds the properties the ids need for every item in one exchange.
void FindProperties(TVelaUADAConnection& connection, std::vector<ItemQuery>& queries, const Needs& needs,
                    uint32_t& failure) {
    std::vector<uaBrowsePath> paths;
    std::vector<std::pair<size_t, Property>> owners;
    for (size_t i = 0; i < queries.size(); ++i) {
        if (!queries[i].node) continue;
        for (size_t p = 0; p < kProperties; ++p) {
            if (!needs.property[p]) continue;
            uaBrowsePath path;
            path.fStartingNode = *queries[i].node;
            uaRelativePathElement element;
            element.fReferenceTypeId = uaNodeId(kHasProperty);
            element.fIncludeSubtypes = true;
            element.fTargetName.fName = kPropertyNames[p];
            path.fRelativePath.fElements.push_back(std::move(element));
            paths.push_back(std::move(path));
            owners.emplace_back(i, static_cast<Property>(p));
        }
    }
    size_t next = 0;
    RunInParts<uaTranslateBrowsePaths>(
        connection.Client().Requests(), paths.size(), 0, failure,
        [&](uaTranslateBrowsePathsToNodeIdsRequest& request, size_t at, size_t count) {
            request.fBrowsePaths.assign(paths.begin() + static_cast<ptrdiff_t>(at),
                                        paths.begin() + static_cast<ptrdiff_t>(at + count));
        },
        [&](uaTranslateBrowsePathsToNodeIdsResponse& response, size_t count) {
            if (response.fResults.size() != count) return false;
            for (const auto& result : response.fResults) {
                const auto [item, property] = owners[next++];
                if (IsBad(result.fStatusCode)) continue;  // BadNoMatch: the node has none
                for (const auto& target : result.fTargets)
                    if (target.fRemainingPathIndex == 0xFFFFFFFFu && target.fTargetId.fServerIndex == 0 &&
                        target.fTargetId.fNamespaceUri.empty()) {
                        queries[item].propertyNode[property] = target.fTargetId.fNodeId;
                        break;
                    }
            }
            return true;
        });
}

template <typename T>
const T* ScalarOf(const uaDataValue& value) {
    if (!value.fValue || value.fValue->IsArray()) return nullptr;
    return std::get_if<T>(&value.fValue->fScalar);
}

// The body of a structure that has no class of its own here (Range, EUInformation).
const uaByteString* BodyOf(const uaDataValue& value) {
    const auto* object = ScalarOf<uaExtensionObject>(value);
    return object && object->fEncoding == uaExtensionObject::eo_BinaryBody ? &object->fBinaryBody : nullptr;
}

// Range: low, high.
std::optional<std::pair<double, double>> RangeOf(const uaDataValue& value) {
    const uaByteString* body = BodyOf(value);
    if (!body) return std::nullopt;
    try {
        TuaBinaryDecoder decoder(*body);
        double low = 0, high = 0;
        decoder.Read(low);
        decoder.Read(high);
        return std::make_pair(low, high);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// EUInformation: the display name's text.
std::optional<std::string> UnitNameOf(const uaDataValue& value) {
    const uaByteString* body = BodyOf(value);
    if (!body) return std::nullopt;
    try {
        TuaBinaryDecoder decoder(*body);
        std::string namespaceUri;
        int32_t unitId = 0;
        uaLocalizedText displayName;
        decoder.Read(namespaceUri);
        decoder.Read(unitId);
        decoder.Read(displayName);
        return displayName.fText;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> TextOf(const uaDataValue& value) {
    if (!value.fValue || value.fValue->IsArray()) return std::nullopt;
    if (!value.fValue->HasValue()) return std::string();  // a null text
    if (const auto* text = std::get_if<uaLocalizedText>(&value.fValue->fScalar)) return text->fText;
    if (const auto* text = std::get_if<std::string>(&value.fValue->fScalar)) return *text;
    return std::nullopt;
}

std::optional<Variant> TextsOf(const uaDataValue& value) {
    if (!value.fValue || !value.fValue->IsArray()) return std::nullopt;
    std::vector<Variant> texts;
    texts.reserve(value.fValue->fArray.size());
    for (const auto& element : value.fValue->fArray) {
        const auto* text = std::get_if<uaLocalizedText>(&element);
        if (!text) return std::nullopt;
        texts.emplace_back(text->fText);
    }
    return Variant::FromElements(vtBSTR, texts);
}

// Whether the node's value, not its data type, settles the VARTYPE (abstract and unknown types,
// value ranks that allow scalars and arrays).
bool TypeFollowsValue(const uaNodeId& dataType, int32_t valueRank) {
    const VarType scalar = DAVarTypeOf(dataType, valueRank, vtI4);
    return scalar != DAVarTypeOf(dataType, valueRank, vtBSTR) ||
           scalar != DAVarTypeOf(dataType, valueRank, static_cast<VarType>(vtArray | vtI4));
}

void Fail(TVelaItemProperties& list, uint32_t status) {
    list.Clear();
    TVelaItemProperty& failure = list.Add();
    failure.FId = 0;
    failure.FStatusCode = OpcCodeOf(status);
    failure.FDescription = Statuscodes::ToString(status);
    failure.FValue = Variant();
}

// Fills one item's list from the answers.
class Answer {
public:
    Answer(TVelaUADAConnection& connection, const ItemQuery& query, const std::vector<uaDataValue>& results,
           const std::vector<uaDataValue>& late, bool withValues)
        : connection_(connection), query_(query), results_(results), late_(late), withValues_(withValues) {}

    // false when the item failed as a whole
    bool Fill(const std::vector<int32_t>& ids) {
        TVelaItemProperties& list = *query_.list;
        list.Clear();
        if (!query_.node) {
            Fail(list, kBadNodeIdInvalid);
            return false;
        }
        const uaDataValue* probe = Attr(aValueRank);
        if (!probe || IsBad(probe->fStatusCode)) {
            if (!probe || probe->fStatusCode != kBadAttributeIdInvalid) {
                Fail(list, probe ? probe->fStatusCode : kBadUnexpectedError);
                return false;
            }
            return true;  // a node, but no variable: no item properties
        }
        Prepare();
        for (int32_t id : ids) Add(list, id);
        return true;
    }

private:
    const uaDataValue* Attr(Attribute a) const {
        return query_.attribute[a] != kNone ? &results_[query_.attribute[a]] : nullptr;
    }
    const uaDataValue* PropertyValue(Property p) const {
        return query_.propertyValue[p] != kNone ? &results_[query_.propertyValue[p]] : nullptr;
    }
    const uaDataValue* Value() const {
        if (const uaDataValue* value = Attr(aValue)) return value;
        return query_.lateValue != kNone ? &late_[query_.lateValue] : nullptr;
    }

    void Prepare() {
        if (const uaDataValue* rank = Attr(aValueRank))
            if (const auto* number = ScalarOf<int32_t>(*rank)) valueRank_ = *number;
        if (const uaDataValue* type = Attr(aDataType); type && !IsBad(type->fStatusCode))
            if (const auto* id = ScalarOf<uaNodeId>(*type)) dataType_ = *id;
        value_ = Value();
        if (value_ && !IsValueReadFailure(value_->fStatusCode)) {
            try {
                itemValue_ = ToVariant(value_->fValue);
            } catch (const std::exception&) {
                valueConverts_ = false;
            }
        }
        const VarType valueType = itemValue_.IsNull() ? vtEMPTY : itemValue_.Type();
        canonical_ = dataType_ ? DAVarTypeOf(*dataType_, valueRank_, valueType) : valueType;
        euType_ = query_.propertyNode[pEURange] ? 1 : query_.propertyNode[pEnumStrings] ? 2 : 0;
    }

    // An attribute's property: left out when the node lacks the attribute, failed when it
    // cannot be read; else the value made by `make`.
    template <typename Make>
    void FromAttribute(TVelaItemProperties& list, int32_t id, Attribute a, Make make) {
        const uaDataValue* read = Attr(a);
        if (!read || read->fStatusCode == kBadAttributeIdInvalid) return;
        TVelaItemProperty& property = Start(list, id);
        if (IsBad(read->fStatusCode)) {
            property.FStatusCode = OpcCodeOf(read->fStatusCode);
        } else if (withValues_) {
            if (auto value = make(*read)) property.FValue = std::move(*value);
            else property.FStatusCode = OpcCodeOf(kBadDecodingError);
        }
    }

    // A property node's property: left out when the node has none; failed when its value
    // cannot be read or is no value of the expected structure.
    template <typename Make>
    void FromProperty(TVelaItemProperties& list, int32_t id, Property p, Make make) {
        if (!query_.propertyNode[p]) return;
        TVelaItemProperty& property = Start(list, id);
        if (!withValues_) return;
        const uaDataValue* read = PropertyValue(p);
        if (!read) return;
        if (IsBad(read->fStatusCode)) property.FStatusCode = OpcCodeOf(read->fStatusCode);
        else if (auto value = make(*read)) property.FValue = std::move(*value);
        else property.FStatusCode = OpcCodeOf(kBadDecodingError);
    }

    // The item's value and what comes with it (value, quality, timestamp).
    template <typename Make>
    void FromValue(TVelaItemProperties& list, int32_t id, Make make) {
        TVelaItemProperty& property = Start(list, id);
        if (!withValues_ || !value_) return;
        if (IsValueReadFailure(value_->fStatusCode)) {
            property.FStatusCode = OpcCodeOf(value_->fStatusCode);
            return;
        }
        property.FTimeStamp = connection_.ItemTimeStamp(*value_);
        property.FQuality = DAQualityOf(value_->fStatusCode);
        property.FValue = make();
    }

    TVelaItemProperty& Start(TVelaItemProperties& list, int32_t id) const {
        TVelaItemProperty& property = list.Add();
        property.FId = id;
        property.FStatusCode = 0;
        property.FDescription = DAPropertyDescription(id);
        property.FDataType = DAPropertyType(id);
        property.FValue = Variant();
        return property;
    }

    void Add(TVelaItemProperties& list, int32_t id) {
        switch (id) {
            case kDAPropCanonicalType:
                FromAttribute(list, id, aDataType, [&](const uaDataValue&) -> std::optional<Variant> {
                    return Variant(static_cast<int16_t>(canonical_));
                });
                break;
            case kDAPropValue:
                FromValue(list, id, [&] { return itemValue_; });
                list[list.Count() - 1].FDataType = canonical_ != vtEMPTY ? canonical_ : DAPropertyType(id);
                if (!valueConverts_ && list[list.Count() - 1].FStatusCode == 0)
                    list[list.Count() - 1].FStatusCode = OpcCodeOf(kBadDecodingError);
                break;
            case kDAPropQuality:
                FromValue(list, id, [&] { return Variant(static_cast<int16_t>(DAQualityOf(value_->fStatusCode))); });
                break;
            case kDAPropTimestamp:
                FromValue(list, id, [&] { return Variant::FromDate(connection_.ItemTimeStamp(*value_)); });
                break;
            case kDAPropAccessRights:
                FromAttribute(list, id, aUserAccessLevel, [](const uaDataValue& read) -> std::optional<Variant> {
                    const auto* level = ScalarOf<uint8_t>(read);
                    if (!level) return std::nullopt;
                    return Variant(static_cast<int32_t>(DAAccessRightsOf(*level)));
                });
                break;
            case kDAPropScanRate:
                FromAttribute(list, id, aMinimumSamplingInterval,
                              [](const uaDataValue& read) -> std::optional<Variant> {
                                  const auto* interval = ScalarOf<double>(read);
                                  if (!interval) return std::nullopt;
                                  return Variant(static_cast<float>(*interval));
                              });
                break;
            case kDAPropEUType: {
                TVelaItemProperty& property = Start(list, id);
                if (withValues_) property.FValue = Variant(static_cast<int32_t>(euType_));
                break;
            }
            case kDAPropEUInfo: AddEUInfo(list); break;
            case kDAPropEngineeringUnits:
                FromProperty(list, id, pEngineeringUnits, [](const uaDataValue& read) -> std::optional<Variant> {
                    auto name = UnitNameOf(read);
                    if (!name) return std::nullopt;
                    return Variant(std::move(*name));
                });
                break;
            case kDAPropDescription:
                FromAttribute(list, id, aDescription, [](const uaDataValue& read) -> std::optional<Variant> {
                    auto text = TextOf(read);
                    if (!text) return std::nullopt;
                    return Variant(std::move(*text));
                });
                break;
            case kDAPropHighEU:
            case kDAPropLowEU:
            case kDAPropHighIR:
            case kDAPropLowIR: {
                const bool high = id == kDAPropHighEU || id == kDAPropHighIR;
                const Property p = id == kDAPropHighEU || id == kDAPropLowEU ? pEURange : pInstrumentRange;
                FromProperty(list, id, p, [high](const uaDataValue& read) -> std::optional<Variant> {
                    const auto range = RangeOf(read);
                    if (!range) return std::nullopt;
                    return Variant(high ? range->second : range->first);
                });
                break;
            }
            case kDAPropCloseLabel:
            case kDAPropOpenLabel:
                FromProperty(list, id, id == kDAPropCloseLabel ? pTrueState : pFalseState,
                             [](const uaDataValue& read) -> std::optional<Variant> {
                                 auto text = TextOf(read);
                                 if (!text) return std::nullopt;
                                 return Variant(std::move(*text));
                             });
                break;
            default: break;
        }
    }

    // Analog items: {low, high} of the EU range; enumerated items: the state texts; else Empty.
    void AddEUInfo(TVelaItemProperties& list) {
        if (euType_ == 0) {
            Start(list, kDAPropEUInfo);
            return;
        }
        if (euType_ == 1) {
            FromProperty(list, kDAPropEUInfo, pEURange, [](const uaDataValue& read) -> std::optional<Variant> {
                const auto range = RangeOf(read);
                if (!range) return std::nullopt;
                return Variant::FromElements(vtR8, {Variant(range->first), Variant(range->second)});
            });
            list[list.Count() - 1].FDataType = static_cast<int32_t>(vtArray | vtR8);
        } else {
            FromProperty(list, kDAPropEUInfo, pEnumStrings, [](const uaDataValue& read) { return TextsOf(read); });
            list[list.Count() - 1].FDataType = static_cast<int32_t>(vtArray | vtBSTR);
        }
    }

    TVelaUADAConnection& connection_;
    const ItemQuery& query_;
    const std::vector<uaDataValue>& results_;
    const std::vector<uaDataValue>& late_;
    const bool withValues_;
    std::optional<uaNodeId> dataType_;
    int32_t valueRank_ = -1;
    const uaDataValue* value_ = nullptr;
    Variant itemValue_ = Variant::Null();
    bool valueConverts_ = true;
    VarType canonical_ = vtEMPTY;
    int32_t euType_ = 0;
};

}  // namespace

bool QueryDAProperties(TVelaUADAConnection& connection, TVelaPropertyRequests& items,
                       const std::vector<int32_t>& propertyIds, bool raiseErrors, bool withValues) {
    const std::vector<int32_t> ids = IdsToAnswer(propertyIds);
    const Needs needs = NeedsOf(ids, withValues);
    std::vector<ItemQuery> queries;
    queries.reserve(items.size());
    for (auto& item : items) {
        if (!item.properties) continue;
        ItemQuery& query = queries.emplace_back();
        query.list = item.properties;
        try {
            query.node = TVelaUAClient::ParseNodeId(item.itemId);
        } catch (const std::exception&) {
            // answered as an invalid item id
        }
    }

    std::vector<uaDataValue> results, late;
    uint32_t failure = 0;
    try {
        // 1. the properties of the nodes (only when an id needs one)
        if (needs.AnyProperty()) FindProperties(connection, queries, needs, failure);
        // 2. the attributes and the property values in one exchange
        std::vector<uaReadValueId> reads;
        const auto read = [&reads](const uaNodeId& node, uint32_t attribute) {
            uaReadValueId value;
            value.fNodeId = node;
            value.fAttributeId = attribute;
            reads.push_back(std::move(value));
            return reads.size() - 1;
        };
        for (auto& query : queries) {
            if (!query.node) continue;
            for (size_t a = 0; a < kAttributes; ++a)
                if (needs.attribute[a]) query.attribute[a] = read(*query.node, kAttributeIds[a]);
            for (size_t p = 0; p < kProperties; ++p)
                if (needs.propertyValue[p] && query.propertyNode[p])
                    query.propertyValue[p] = read(*query.propertyNode[p], 13);
        }
        if (!reads.empty())
            ReadAll(connection, reads, needs.attribute[aValue] ? connection.TimestampsToReturn() : kNoTimestamps,
                    results, failure);
        // 3. the values of nodes whose value settles their type, when they were not read yet
        if (needs.canonicalType) {
            reads.clear();
            std::vector<ItemQuery*> owners;
            for (auto& query : queries) {
                if (!query.node || query.attribute[aValue] != kNone) continue;
                const uaDataValue& type = results[query.attribute[aDataType]];
                const uaDataValue& rank = results[query.attribute[aValueRank]];
                const auto* dataType = ScalarOf<uaNodeId>(type);
                const auto* valueRank = ScalarOf<int32_t>(rank);
                if (IsBad(type.fStatusCode) || IsBad(rank.fStatusCode) || !dataType || !valueRank ||
                    !TypeFollowsValue(*dataType, *valueRank))
                    continue;
                read(*query.node, 13);
                owners.push_back(&query);
            }
            if (!reads.empty()) ReadAll(connection, reads, kNoTimestamps, late, failure);
            for (size_t i = 0; i < owners.size(); ++i) owners[i]->lateValue = i;
        }
    } catch (const std::exception&) {
        for (auto& query : queries) Fail(*query.list, failure != 0 ? failure : kBadUnexpectedError);
        if (raiseErrors) throw;
        return false;
    }

    bool allItems = true;
    for (const auto& query : queries)
        allItems = Answer(connection, query, results, late, withValues).Fill(ids) && allItems;
    return allItems;
}

}  // namespace vela::ua
