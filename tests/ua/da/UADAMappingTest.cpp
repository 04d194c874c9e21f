// What DA clients see of UA status codes, data types and access levels.
#include <gtest/gtest.h>

#include "ua/da/UADAMapping.h"

namespace vela::ua {
namespace {

struct QualityCase {
    uint32_t status;
    uint16_t quality;
};

class DAQuality : public ::testing::TestWithParam<QualityCase> {};

TEST_P(DAQuality, FollowsSeveritySubCodeAndLimit) {
    EXPECT_EQ(DAQualityOf(GetParam().status), GetParam().quality) << std::hex << GetParam().status;
}

INSTANTIATE_TEST_SUITE_P(Table, DAQuality, ::testing::Values(
    QualityCase{0x00000000, 0xC0},   // Good
    QualityCase{0x00960000, 0xD8},   // GoodLocalOverride
    QualityCase{0x002F0000, 0xC0},   // GoodOverload: no DA sub-status of its own
    QualityCase{0x40000000, 0x40},   // Uncertain
    QualityCase{0x40900000, 0x44},   // UncertainLastUsableValue
    QualityCase{0x40930000, 0x50},   // UncertainSensorNotAccurate
    QualityCase{0x40940000, 0x54},   // UncertainEngineeringUnitsExceeded
    QualityCase{0x40950000, 0x58},   // UncertainSubNormal
    QualityCase{0x40920000, 0x40},   // UncertainInitialValue
    QualityCase{0x80000000, 0x00},   // Bad
    QualityCase{0x80890000, 0x04},   // BadConfigurationError
    QualityCase{0x808A0000, 0x08},   // BadNotConnected
    QualityCase{0x808B0000, 0x0C},   // BadDeviceFailure
    QualityCase{0x808C0000, 0x10},   // BadSensorFailure
    QualityCase{0x80310000, 0x18},   // BadNoCommunication
    QualityCase{0x808D0000, 0x1C},   // BadOutOfService
    QualityCase{0x80320000, 0x20},   // BadWaitingForInitialData
    QualityCase{0x80340000, 0x00},   // BadNodeIdUnknown: plain bad
    QualityCase{0xC0000000, 0x00},   // severity 3 counts as bad
    // limit bits (status bits 8-9) go to the limit field
    QualityCase{0x00000100, 0xC1},   // Good, low limited
    QualityCase{0x00000200, 0xC2},   // Good, high limited
    QualityCase{0x00000300, 0xC3},   // Good, constant
    QualityCase{0x40940200, 0x56},   // EngineeringUnitsExceeded, high limited
    QualityCase{0x808C0100, 0x11},   // SensorFailure, low limited
    QualityCase{0x00000400, 0xC0}    // the overflow bit is no limit
));

struct ErrorCase {
    int64_t lastError;
    int64_t expected;
};

class DAError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DAError, BecomesTheOpcCodeWhereOneExists) {
    EXPECT_EQ(DAErrorOf(GetParam().lastError), GetParam().expected) << std::hex << GetParam().lastError;
}

constexpr int64_t Signed(uint32_t code) { return static_cast<int32_t>(code); }

INSTANTIATE_TEST_SUITE_P(Table, DAError, ::testing::Values(
    ErrorCase{Signed(0x80340000), Signed(0xC0040007)},  // BadNodeIdUnknown
    ErrorCase{0x80340000, Signed(0xC0040007)},          // also when kept without sign extension
    ErrorCase{Signed(0x80330000), Signed(0xC0040008)},  // BadNodeIdInvalid
    ErrorCase{Signed(0x803A0000), Signed(0xC0040006)},  // BadNotReadable
    ErrorCase{Signed(0x803B0000), Signed(0xC0040006)},  // BadNotWritable
    ErrorCase{Signed(0x801F0000), Signed(0xC0040006)},  // BadUserAccessDenied
    ErrorCase{Signed(0x80740000), Signed(0xC0040004)},  // BadTypeMismatch
    ErrorCase{Signed(0x803C0000), Signed(0xC004000B)},  // BadOutOfRange
    ErrorCase{Signed(0x808A0000), Signed(0x808A0000)},  // no DA counterpart: kept
    ErrorCase{Signed(0xC0040007), Signed(0xC0040007)},  // OPC codes pass unchanged
    ErrorCase{Signed(0xC0040004), Signed(0xC0040004)},
    ErrorCase{0, 0},
    ErrorCase{Signed(0x40900000), Signed(0x40900000)}   // an uncertain code is no error to map
));

struct TypeCase {
    uaNodeId dataType;
    int32_t valueRank;
    VarType valueType;
    VarType expected;
};

class DAVarType : public ::testing::TestWithParam<TypeCase> {};

TEST_P(DAVarType, FollowsTypeAndRank) {
    const TypeCase& c = GetParam();
    EXPECT_EQ(DAVarTypeOf(c.dataType, c.valueRank, c.valueType), c.expected)
        << c.dataType.ToString() << " rank " << c.valueRank;
}

INSTANTIATE_TEST_SUITE_P(Table, DAVarType, ::testing::Values(
    TypeCase{uaNodeId(1), -1, vtEMPTY, vtBOOL},
    TypeCase{uaNodeId(2), -1, vtEMPTY, vtI1},
    TypeCase{uaNodeId(3), -1, vtEMPTY, vtUI1},
    TypeCase{uaNodeId(4), -1, vtEMPTY, vtI2},
    TypeCase{uaNodeId(5), -1, vtEMPTY, vtUI2},
    TypeCase{uaNodeId(6), -1, vtEMPTY, vtI4},
    TypeCase{uaNodeId(7), -1, vtEMPTY, vtUI4},
    TypeCase{uaNodeId(8), -1, vtEMPTY, vtI8},
    TypeCase{uaNodeId(9), -1, vtEMPTY, vtUI8},
    TypeCase{uaNodeId(10), -1, vtEMPTY, vtR4},
    TypeCase{uaNodeId(11), -1, vtEMPTY, vtR8},
    TypeCase{uaNodeId(12), -1, vtEMPTY, vtBSTR},
    TypeCase{uaNodeId(13), -1, vtEMPTY, vtDATE},
    TypeCase{uaNodeId(14), -1, vtEMPTY, vtBSTR},              // Guid as text
    TypeCase{uaNodeId(15), -1, vtEMPTY, vtArray | vtUI1},     // ByteString
    TypeCase{uaNodeId(19), -1, vtEMPTY, vtUI4},               // StatusCode
    TypeCase{uaNodeId(21), -1, vtEMPTY, vtBSTR},              // LocalizedText
    TypeCase{uaNodeId(29), -1, vtEMPTY, vtI4},                // Enumeration
    TypeCase{uaNodeId(24), -1, vtEMPTY, vtVARIANT},           // BaseDataType
    TypeCase{uaNodeId(294), -1, vtEMPTY, vtDATE},             // UtcTime
    TypeCase{uaNodeId(290), -1, vtEMPTY, vtR8},               // Duration
    TypeCase{uaNodeId(6), 1, vtEMPTY, vtArray | vtI4},        // one dimension
    TypeCase{uaNodeId(11), 2, vtEMPTY, vtArray | vtR8},       // a matrix: flattened
    TypeCase{uaNodeId(11), 0, vtEMPTY, vtArray | vtR8},       // one or more dimensions
    TypeCase{uaNodeId(15), 1, vtEMPTY, vtArray | vtVARIANT},  // array of byte strings
    TypeCase{uaNodeId(884), -1, vtEMPTY, vtArray | vtUI1},    // a structure (Range): its body
    TypeCase{uaNodeId(3002, 2), -1, vtEMPTY, vtArray | vtUI1},
    TypeCase{uaNodeId(3002, 2), -1, vtI4, vtI4},              // a server's enumeration: the value decides
    TypeCase{uaNodeId(6), -2, vtArray | vtI4, vtArray | vtI4},  // any rank: the value decides
    TypeCase{uaNodeId(6), -3, vtI4, vtI4},
    TypeCase{uaNodeId(24), -2, vtR8, vtR8},
    TypeCase{uaNodeId(15), -3, vtArray | vtUI1, vtArray | vtUI1}  // a byte string is a scalar
));

TEST(DAServerState, FollowsTheUAState) {
    const std::pair<int32_t, int32_t> table[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 4}, {5, 5}, {6, 6}, {7, 2}, {-1, 2}};
    for (const auto& [ua, da] : table) EXPECT_EQ(DAServerStateOf(ua), da) << ua;
}

TEST(DAAccessRights, AreTheReadAndWriteBits) {
    EXPECT_EQ(DAAccessRightsOf(0), 0);
    EXPECT_EQ(DAAccessRightsOf(1), 1);
    EXPECT_EQ(DAAccessRightsOf(2), 2);
    EXPECT_EQ(DAAccessRightsOf(3), 3);
    EXPECT_EQ(DAAccessRightsOf(0x7F), 3);  // history and the rest are no DA rights
}

TEST(DAProperties, HaveTheirPublishedTypes) {
    EXPECT_EQ(DAPropertyType(kDAPropCanonicalType), vtI2);
    EXPECT_EQ(DAPropertyType(kDAPropQuality), vtI2);
    EXPECT_EQ(DAPropertyType(kDAPropTimestamp), vtDATE);
    EXPECT_EQ(DAPropertyType(kDAPropScanRate), vtR4);
    EXPECT_EQ(DAPropertyType(kDAPropHighEU), vtR8);
    EXPECT_EQ(DAPropertyType(kDAPropOpenLabel), vtBSTR);
    EXPECT_STREQ(DAPropertyDescription(kDAPropEngineeringUnits), "EU Units");
    EXPECT_STREQ(DAPropertyDescription(9), "");
    EXPECT_EQ(DAPropertyType(9), vtEMPTY);
}

}  // namespace
}  // namespace vela::ua
