#include "cli/StatusNames.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "toolkit/OPCResultTexts.h"
#include "ua/uaStatusCodes.h"

namespace vela::cli {
namespace {

struct Name {
    uint32_t code;
    const char* name;
};

// The UA status codes of the published list, by code.
constexpr Name kStatusNames[] = {
    {0x00000000u, "Good"}, {0x002D0000u, "GoodSubscriptionTransferred"}, {0x002E0000u, "GoodCompletesAsynchronously"},
    {0x002F0000u, "GoodOverload"}, {0x00300000u, "GoodClamped"}, {0x00960000u, "GoodLocalOverride"},
    {0x00A20000u, "GoodEntryInserted"}, {0x00A30000u, "GoodEntryReplaced"}, {0x00A50000u, "GoodNoData"},
    {0x00A60000u, "GoodMoreData"}, {0x00A70000u, "GoodCommunicationEvent"}, {0x00A80000u, "GoodShutdownEvent"},
    {0x00A90000u, "GoodCallAgain"}, {0x00AA0000u, "GoodNonCriticalTimeout"},
    {0x00BA0000u, "GoodResultsMayBeIncomplete"}, {0x00D90000u, "GoodDataIgnored"}, {0x00DC0000u, "GoodEdited"},
    {0x00DD0000u, "GoodPostActionFailed"}, {0x00DF0000u, "GoodRetransmissionQueueNotSupported"},
    {0x00E00000u, "GoodDependentValueChanged"}, {0x00EB0000u, "GoodSubNormal"},
    {0x00EF0000u, "GoodPasswordChangeRequired"}, {0x01160000u, "GoodEdited_DependentValueChanged"},
    {0x01170000u, "GoodEdited_DominantValueChanged"},
    {0x01180000u, "GoodEdited_DominantValueChanged_DependentValueChanged"},
    {0x04010000u, "GoodCascadeInitializationAcknowledged"}, {0x04020000u, "GoodCascadeInitializationRequest"},
    {0x04030000u, "GoodCascadeNotInvited"}, {0x04040000u, "GoodCascadeNotSelected"},
    {0x04070000u, "GoodFaultStateActive"}, {0x04080000u, "GoodInitiateFaultState"}, {0x04090000u, "GoodCascade"},
    {0x40000000u, "Uncertain"}, {0x406C0000u, "UncertainReferenceOutOfServer"},
    {0x408F0000u, "UncertainNoCommunicationLastUsableValue"}, {0x40900000u, "UncertainLastUsableValue"},
    {0x40910000u, "UncertainSubstituteValue"}, {0x40920000u, "UncertainInitialValue"},
    {0x40930000u, "UncertainSensorNotAccurate"}, {0x40940000u, "UncertainEngineeringUnitsExceeded"},
    {0x40950000u, "UncertainSubNormal"}, {0x40A40000u, "UncertainDataSubNormal"},
    {0x40BC0000u, "UncertainReferenceNotDeleted"}, {0x40C00000u, "UncertainNotAllNodesAvailable"},
    {0x40DE0000u, "UncertainDominantValueChanged"}, {0x40E20000u, "UncertainDependentValueChanged"},
    {0x40F20000u, "UncertainOverRange"}, {0x40F30000u, "UncertainUnderRange"},
    {0x42080000u, "UncertainTransducerInManual"}, {0x42090000u, "UncertainSimulatedValue"},
    {0x420A0000u, "UncertainSensorCalibration"}, {0x420F0000u, "UncertainConfigurationError"}, {0x80000000u, "Bad"},
    {0x80010000u, "BadUnexpectedError"}, {0x80020000u, "BadInternalError"}, {0x80030000u, "BadOutOfMemory"},
    {0x80040000u, "BadResourceUnavailable"}, {0x80050000u, "BadCommunicationError"},
    {0x80060000u, "BadEncodingError"}, {0x80070000u, "BadDecodingError"}, {0x80080000u, "BadEncodingLimitsExceeded"},
    {0x80090000u, "BadUnknownResponse"}, {0x800A0000u, "BadTimeout"}, {0x800B0000u, "BadServiceUnsupported"},
    {0x800C0000u, "BadShutdown"}, {0x800D0000u, "BadServerNotConnected"}, {0x800E0000u, "BadServerHalted"},
    {0x800F0000u, "BadNothingToDo"}, {0x80100000u, "BadTooManyOperations"}, {0x80110000u, "BadDataTypeIdUnknown"},
    {0x80120000u, "BadCertificateInvalid"}, {0x80130000u, "BadSecurityChecksFailed"},
    {0x80140000u, "BadCertificateTimeInvalid"}, {0x80150000u, "BadCertificateIssuerTimeInvalid"},
    {0x80160000u, "BadCertificateHostNameInvalid"}, {0x80170000u, "BadCertificateUriInvalid"},
    {0x80180000u, "BadCertificateUseNotAllowed"}, {0x80190000u, "BadCertificateIssuerUseNotAllowed"},
    {0x801A0000u, "BadCertificateUntrusted"}, {0x801B0000u, "BadCertificateRevocationUnknown"},
    {0x801C0000u, "BadCertificateIssuerRevocationUnknown"}, {0x801D0000u, "BadCertificateRevoked"},
    {0x801E0000u, "BadCertificateIssuerRevoked"}, {0x801F0000u, "BadUserAccessDenied"},
    {0x80200000u, "BadIdentityTokenInvalid"}, {0x80210000u, "BadIdentityTokenRejected"},
    {0x80220000u, "BadSecureChannelIdInvalid"}, {0x80230000u, "BadInvalidTimestamp"},
    {0x80240000u, "BadNonceInvalid"}, {0x80250000u, "BadSessionIdInvalid"}, {0x80260000u, "BadSessionClosed"},
    {0x80270000u, "BadSessionNotActivated"}, {0x80280000u, "BadSubscriptionIdInvalid"},
    {0x802A0000u, "BadRequestHeaderInvalid"}, {0x802B0000u, "BadTimestampsToReturnInvalid"},
    {0x802C0000u, "BadRequestCancelledByClient"}, {0x80310000u, "BadNoCommunication"},
    {0x80320000u, "BadWaitingForInitialData"}, {0x80330000u, "BadNodeIdInvalid"}, {0x80340000u, "BadNodeIdUnknown"},
    {0x80350000u, "BadAttributeIdInvalid"}, {0x80360000u, "BadIndexRangeInvalid"},
    {0x80370000u, "BadIndexRangeNoData"}, {0x80380000u, "BadDataEncodingInvalid"},
    {0x80390000u, "BadDataEncodingUnsupported"}, {0x803A0000u, "BadNotReadable"}, {0x803B0000u, "BadNotWritable"},
    {0x803C0000u, "BadOutOfRange"}, {0x803D0000u, "BadNotSupported"}, {0x803E0000u, "BadNotFound"},
    {0x803F0000u, "BadObjectDeleted"}, {0x80400000u, "BadNotImplemented"}, {0x80410000u, "BadMonitoringModeInvalid"},
    {0x80420000u, "BadMonitoredItemIdInvalid"}, {0x80430000u, "BadMonitoredItemFilterInvalid"},
    {0x80440000u, "BadMonitoredItemFilterUnsupported"}, {0x80450000u, "BadFilterNotAllowed"},
    {0x80460000u, "BadStructureMissing"}, {0x80470000u, "BadEventFilterInvalid"},
    {0x80480000u, "BadContentFilterInvalid"}, {0x80490000u, "BadFilterOperandInvalid"},
    {0x804A0000u, "BadContinuationPointInvalid"}, {0x804B0000u, "BadNoContinuationPoints"},
    {0x804C0000u, "BadReferenceTypeIdInvalid"}, {0x804D0000u, "BadBrowseDirectionInvalid"},
    {0x804E0000u, "BadNodeNotInView"}, {0x804F0000u, "BadServerUriInvalid"}, {0x80500000u, "BadServerNameMissing"},
    {0x80510000u, "BadDiscoveryUrlMissing"}, {0x80520000u, "BadSemaphoreFileMissing"},
    {0x80530000u, "BadRequestTypeInvalid"}, {0x80540000u, "BadSecurityModeRejected"},
    {0x80550000u, "BadSecurityPolicyRejected"}, {0x80560000u, "BadTooManySessions"},
    {0x80570000u, "BadUserSignatureInvalid"}, {0x80580000u, "BadApplicationSignatureInvalid"},
    {0x80590000u, "BadNoValidCertificates"}, {0x805A0000u, "BadRequestCancelledByRequest"},
    {0x805B0000u, "BadParentNodeIdInvalid"}, {0x805C0000u, "BadReferenceNotAllowed"},
    {0x805D0000u, "BadNodeIdRejected"}, {0x805E0000u, "BadNodeIdExists"}, {0x805F0000u, "BadNodeClassInvalid"},
    {0x80600000u, "BadBrowseNameInvalid"}, {0x80610000u, "BadBrowseNameDuplicated"},
    {0x80620000u, "BadNodeAttributesInvalid"}, {0x80630000u, "BadTypeDefinitionInvalid"},
    {0x80640000u, "BadSourceNodeIdInvalid"}, {0x80650000u, "BadTargetNodeIdInvalid"},
    {0x80660000u, "BadDuplicateReferenceNotAllowed"}, {0x80670000u, "BadInvalidSelfReference"},
    {0x80680000u, "BadReferenceLocalOnly"}, {0x80690000u, "BadNoDeleteRights"},
    {0x806A0000u, "BadServerIndexInvalid"}, {0x806B0000u, "BadViewIdUnknown"}, {0x806D0000u, "BadTooManyMatches"},
    {0x806E0000u, "BadQueryTooComplex"}, {0x806F0000u, "BadNoMatch"}, {0x80700000u, "BadMaxAgeInvalid"},
    {0x80710000u, "BadHistoryOperationInvalid"}, {0x80720000u, "BadHistoryOperationUnsupported"},
    {0x80730000u, "BadWriteNotSupported"}, {0x80740000u, "BadTypeMismatch"}, {0x80750000u, "BadMethodInvalid"},
    {0x80760000u, "BadArgumentsMissing"}, {0x80770000u, "BadTooManySubscriptions"},
    {0x80780000u, "BadTooManyPublishRequests"}, {0x80790000u, "BadNoSubscription"},
    {0x807A0000u, "BadSequenceNumberUnknown"}, {0x807B0000u, "BadMessageNotAvailable"},
    {0x807C0000u, "BadInsufficientClientProfile"}, {0x807D0000u, "BadTcpServerTooBusy"},
    {0x807E0000u, "BadTcpMessageTypeInvalid"}, {0x807F0000u, "BadTcpSecureChannelUnknown"},
    {0x80800000u, "BadTcpMessageTooLarge"}, {0x80810000u, "BadTcpNotEnoughResources"},
    {0x80820000u, "BadTcpInternalError"}, {0x80830000u, "BadTcpEndpointUrlInvalid"},
    {0x80840000u, "BadRequestInterrupted"}, {0x80850000u, "BadRequestTimeout"},
    {0x80860000u, "BadSecureChannelClosed"}, {0x80870000u, "BadSecureChannelTokenUnknown"},
    {0x80880000u, "BadSequenceNumberInvalid"}, {0x80890000u, "BadConfigurationError"},
    {0x808A0000u, "BadNotConnected"}, {0x808B0000u, "BadDeviceFailure"}, {0x808C0000u, "BadSensorFailure"},
    {0x808D0000u, "BadOutOfService"}, {0x808E0000u, "BadDeadbandFilterInvalid"},
    {0x80970000u, "BadRefreshInProgress"}, {0x80980000u, "BadConditionAlreadyDisabled"},
    {0x80990000u, "BadConditionDisabled"}, {0x809A0000u, "BadEventIdUnknown"}, {0x809B0000u, "BadNoData"},
    {0x809D0000u, "BadDataLost"}, {0x809E0000u, "BadDataUnavailable"}, {0x809F0000u, "BadEntryExists"},
    {0x80A00000u, "BadNoEntryExists"}, {0x80A10000u, "BadTimestampNotSupported"}, {0x80AB0000u, "BadInvalidArgument"},
    {0x80AC0000u, "BadConnectionRejected"}, {0x80AD0000u, "BadDisconnect"}, {0x80AE0000u, "BadConnectionClosed"},
    {0x80AF0000u, "BadInvalidState"}, {0x80B00000u, "BadEndOfStream"}, {0x80B10000u, "BadNoDataAvailable"},
    {0x80B20000u, "BadWaitingForResponse"}, {0x80B30000u, "BadOperationAbandoned"},
    {0x80B40000u, "BadExpectedStreamToBlock"}, {0x80B50000u, "BadWouldBlock"}, {0x80B60000u, "BadSyntaxError"},
    {0x80B70000u, "BadMaxConnectionsReached"}, {0x80B80000u, "BadRequestTooLarge"},
    {0x80B90000u, "BadResponseTooLarge"}, {0x80BB0000u, "BadEventNotAcknowledgeable"},
    {0x80BD0000u, "BadInvalidTimestampArgument"}, {0x80BE0000u, "BadProtocolVersionUnsupported"},
    {0x80BF0000u, "BadStateNotActive"}, {0x80C10000u, "BadFilterOperatorInvalid"},
    {0x80C20000u, "BadFilterOperatorUnsupported"}, {0x80C30000u, "BadFilterOperandCountMismatch"},
    {0x80C40000u, "BadFilterElementInvalid"}, {0x80C50000u, "BadFilterLiteralInvalid"},
    {0x80C60000u, "BadIdentityChangeNotSupported"}, {0x80C80000u, "BadNotTypeDefinition"},
    {0x80C90000u, "BadViewTimestampInvalid"}, {0x80CA0000u, "BadViewParameterMismatch"},
    {0x80CB0000u, "BadViewVersionInvalid"}, {0x80CC0000u, "BadConditionAlreadyEnabled"},
    {0x80CD0000u, "BadDialogNotActive"}, {0x80CE0000u, "BadDialogResponseInvalid"},
    {0x80CF0000u, "BadConditionBranchAlreadyAcked"}, {0x80D00000u, "BadConditionBranchAlreadyConfirmed"},
    {0x80D10000u, "BadConditionAlreadyShelved"}, {0x80D20000u, "BadConditionNotShelved"},
    {0x80D30000u, "BadShelvingTimeOutOfRange"}, {0x80D40000u, "BadAggregateListMismatch"},
    {0x80D50000u, "BadAggregateNotSupported"}, {0x80D60000u, "BadAggregateInvalidInputs"},
    {0x80D70000u, "BadBoundNotFound"}, {0x80D80000u, "BadBoundNotSupported"},
    {0x80DA0000u, "BadAggregateConfigurationRejected"}, {0x80DB0000u, "BadTooManyMonitoredItems"},
    {0x80E10000u, "BadDominantValueChanged"}, {0x80E30000u, "BadDependentValueChanged"},
    {0x80E40000u, "BadRequestNotAllowed"}, {0x80E50000u, "BadTooManyArguments"},
    {0x80E60000u, "BadSecurityModeInsufficient"}, {0x80E70000u, "BadDataSetIdInvalid"},
    {0x80E80000u, "BadTransactionPending"}, {0x80E90000u, "BadLocked"}, {0x80EA0000u, "BadIndexRangeDataMismatch"},
    {0x80EC0000u, "BadRequiresLock"}, {0x80ED0000u, "BadLocaleNotSupported"}, {0x80EE0000u, "BadServerTooBusy"},
    {0x80F00000u, "BadNoValue"}, {0x80F10000u, "BadTransactionFailed"},
    {0x810D0000u, "BadCertificateChainIncomplete"}, {0x810E0000u, "BadLicenseExpired"},
    {0x810F0000u, "BadLicenseLimitsExceeded"}, {0x81100000u, "BadLicenseNotAvailable"},
    {0x81110000u, "BadNotExecutable"}, {0x81120000u, "BadNumericOverflow"}, {0x81130000u, "BadRequestNotComplete"},
    {0x81140000u, "BadCertificatePolicyCheckFailed"}, {0x81150000u, "BadAlreadyExists"},
    {0x81190000u, "BadEdited_OutOfRange"}, {0x811A0000u, "BadInitialValue_OutOfRange"},
    {0x811B0000u, "BadOutOfRange_DominantValueChanged"}, {0x811C0000u, "BadEdited_OutOfRange_DominantValueChanged"},
    {0x811D0000u, "BadOutOfRange_DominantValueChanged_DependentValueChanged"},
    {0x811E0000u, "BadEdited_OutOfRange_DominantValueChanged_DependentValueChanged"},
    {0x811F0000u, "BadTicketRequired"}, {0x81200000u, "BadTicketInvalid"},
};

// The OPC DA and COM results that items and writes report.
constexpr Name kResultNames[] = {
    {0x0004000Du, "OPC_S_UNSUPPORTEDRATE"}, {0x0004000Eu, "OPC_S_CLAMP"}, {0x0004000Fu, "OPC_S_INUSE"},
    {0x00040404u, "OPC_S_DATAQUEUEOVERFLOW"}, {0x80004001u, "E_NOTIMPL"}, {0x80004005u, "E_FAIL"},
    {0x80020005u, "DISP_E_TYPEMISMATCH"}, {0x80020008u, "DISP_E_BADVARTYPE"}, {0x8002000Au, "DISP_E_OVERFLOW"},
    {0x8007000Eu, "E_OUTOFMEMORY"}, {0x80070057u, "E_INVALIDARG"}, {0xC0040001u, "OPC_E_INVALIDHANDLE"},
    {0xC0040004u, "OPC_E_BADTYPE"}, {0xC0040005u, "OPC_E_PUBLIC"}, {0xC0040006u, "OPC_E_BADRIGHTS"},
    {0xC0040007u, "OPC_E_UNKNOWNITEMID"}, {0xC0040008u, "OPC_E_INVALIDITEMID"}, {0xC0040009u, "OPC_E_INVALIDFILTER"},
    {0xC004000Au, "OPC_E_UNKNOWNPATH"}, {0xC004000Bu, "OPC_E_RANGE"}, {0xC004000Cu, "OPC_E_DUPLICATENAME"},
    {0xC0040010u, "OPC_E_INVALIDCONFIGFILE"}, {0xC0040011u, "OPC_E_NOTFOUND"}, {0xC0040203u, "OPC_E_INVALID_PID"},
    {0xC0040400u, "OPC_E_DEADBANDNOTSET"}, {0xC0040401u, "OPC_E_DEADBANDNOTSUPPORTED"},
    {0xC0040402u, "OPC_E_NOBUFFERING"}, {0xC0040403u, "OPC_E_INVALIDCONTINUATIONPOINT"},
    {0xC0040405u, "OPC_E_RATENOTSET"}, {0xC0040406u, "OPC_E_NOTSUPPORTED"},
};

template <size_t N>
const char* Find(const Name (&table)[N], uint32_t code) {
    const auto found = std::lower_bound(std::begin(table), std::end(table), code,
                                        [](const Name& entry, uint32_t wanted) { return entry.code < wanted; });
    return found != std::end(table) && found->code == code ? found->name : nullptr;
}

// Texts of the tables hold line breaks for message boxes.
std::string OneLine(std::string text) {
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!line.empty() && line.back() != ' ') line += ' ';
            continue;
        }
        line += c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace

std::string ResultName(uint32_t code) {
    if (const char* name = Find(kResultNames, code)) return name;
    if (const char* name = Find(kStatusNames, code & 0xFFFF0000u)) return name;
    return {};
}

std::optional<uint32_t> StatusCodeByName(std::string_view name) {
    for (const Name& entry : kStatusNames)
        if (name == entry.name) return entry.code;
    for (const Name& entry : kResultNames)
        if (name == entry.name) return entry.code;
    return std::nullopt;
}

std::string ResultDescription(uint32_t code) {
    if ((code & 0x0FFF0000u) == 0x00040000u)  // facility ITF: the OPC results
        if (auto text = OPCResultText(static_cast<int32_t>(code))) return OneLine(*text);
    if (Find(kResultNames, code)) return {};
    if ((code & 0xFFFF0000u) == 0) return {};
    const std::string text = ua::Statuscodes::ToString(code & 0xFFFF0000u);
    return text.starts_with("Unknown error code") ? std::string() : OneLine(text);
}

std::string CodeText(uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    const std::string name = ResultName(code);
    return name.empty() ? std::string(hex) : std::string(hex) + " " + name;
}

std::string CodeExplained(uint32_t code) {
    const std::string description = ResultDescription(code);
    return description.empty() ? CodeText(code) : CodeText(code) + " (" + description + ")";
}

}  // namespace vela::cli
