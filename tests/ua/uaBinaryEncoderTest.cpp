#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "ua/uaBinaryEncoder.h"
#include "ua/uaStructures.h"

// Every operator new of the program passes here; bytes are only counted on a thread that
// asked to, so the rest of the suite is untouched.
namespace {
thread_local bool tCounting = false;
thread_local size_t tAllocated = 0;
}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // these news are malloc, these deletes free
#endif
void* operator new(std::size_t size) {
    if (tCounting) tAllocated += size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (tCounting) tAllocated += size;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace vela::ua {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes Encode(const T& value) {
    TuaBinaryEncoder e;
    e.Write(value);
    return e.TakeBuffer();
}

struct NodeIdBytes {
    uaNodeId id;
    Bytes bytes;
};

void PrintTo(const NodeIdBytes& c, std::ostream* os) { *os << c.id.ToString(); }

class NodeIdEncoding : public ::testing::TestWithParam<NodeIdBytes> {};

TEST_P(NodeIdEncoding, UsesTheSmallestFormAndReadsBack) {
    EXPECT_EQ(Encode(GetParam().id), GetParam().bytes);
    TuaBinaryDecoder d(GetParam().bytes);
    uaNodeId back;
    d.Read(back);
    EXPECT_EQ(back, GetParam().id);
    EXPECT_EQ(d.Remaining(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NodeIdEncoding,
    ::testing::Values(NodeIdBytes{uaNodeId(255u), {0x00, 0xFF}},
                      NodeIdBytes{uaNodeId(256u), {0x01, 0x00, 0x00, 0x01}},
                      NodeIdBytes{uaNodeId(70000u, 1), {0x02, 0x01, 0x00, 0x70, 0x11, 0x01, 0x00}},
                      NodeIdBytes{uaNodeId(5u, 256), {0x02, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00}},
                      NodeIdBytes{uaNodeId(std::string("Ab"), 2), {0x03, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 'A', 'b'}},
                      NodeIdBytes{uaNodeId(uaByteString{0xAA}, 1), {0x05, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xAA}}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

TEST(Encoding, StringsAndArraysEmptyIsNull) {
    EXPECT_EQ(Encode(std::string()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(uaByteString()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    TuaBinaryEncoder e;
    e.WriteArray(std::vector<int32_t>{});
    EXPECT_EQ(e.Buffer(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    for (const Bytes& wire : {Bytes{0, 0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
        TuaBinaryDecoder d(wire);
        std::string s = "x";
        d.Read(s);
        EXPECT_EQ(s, "");
    }
}

TEST(Encoding, DateTimeLimits) {
    TuaBinaryEncoder e;
    e.WriteDateTime(kMaxDateTime);
    e.WriteDateTime(-109205.0);  // 1601-01-01
    e.WriteDateTime(-200000.0);  // before it
    const Bytes bytes = e.TakeBuffer();
    int64_t ticks[3];
    std::memcpy(ticks, bytes.data(), 24);
    EXPECT_EQ(ticks[0], 0x7FFFFFFFFFFFFFFF);
    EXPECT_EQ(ticks[1], 0);
    EXPECT_EQ(ticks[2], 0);
    TuaBinaryDecoder d(bytes);
    DateTime a, b, c;
    d.ReadDateTime(a);
    d.ReadDateTime(b);
    d.ReadDateTime(c);
    EXPECT_EQ(a, kMaxDateTime);
    EXPECT_EQ(b, kMinDateTime);  // 0 reads as "no time", not as 1601
}

TEST(Encoding, NaNsBecomeTheQuietNaN) {
    TuaBinaryEncoder e;
    uint32_t fbits = 0x7FC00001;
    uint64_t dbits = 0x7FF0000000000001ull;
    e.Write(fbits);
    e.Write(dbits);
    TuaBinaryDecoder d(e.Buffer());
    float f;
    double g;
    d.Read(f);
    d.Read(g);
    std::memcpy(&fbits, &f, 4);
    std::memcpy(&dbits, &g, 8);
    EXPECT_EQ(fbits, 0xFFC00000u);
    EXPECT_EQ(dbits, 0xFFF8000000000000ull);
}

TEST(Encoding, DataValueWithValueOnly) {
    uaDataValue dv;
    dv.fValue = uaVariant::Scalar(bit_Int32, int32_t{7});
    EXPECT_EQ(Encode(dv), (Bytes{0x01, 0x06, 0x07, 0x00, 0x00, 0x00}));
    uaDataValue full = dv;
    full.fStatusCode = 0x80AB0000;
    full.fSourceTimestamp = 45000.5;
    full.fServerTimestamp = 45000.25;
    full.fSourcePicoSeconds = 10;
    full.fServerPicoSeconds = 20;
    const Bytes bytes = Encode(full);
    TuaBinaryDecoder d(bytes);
    uaDataValue back;
    d.Read(back);
    EXPECT_EQ(back, full);
}

TEST(Encoding, MatrixVariant) {
    uaVariant v = uaVariant::Array(bit_Int32, {int32_t{1}, int32_t{2}, int32_t{3}, int32_t{4}, int32_t{5}, int32_t{6}});
    v.SetDimensions({2, 3});
    const Bytes bytes = Encode(v);
    ASSERT_EQ(bytes.size(), 1u + 4 + 24 + 4 + 8);
    EXPECT_EQ(bytes[0], 0xC6);
    EXPECT_EQ(bytes[1], 6);
    EXPECT_EQ(bytes[29], 2);
    EXPECT_EQ(bytes[33], 2);
    EXPECT_EQ(bytes[37], 3);
    TuaBinaryDecoder d(bytes);
    std::optional<uaVariant> back;
    d.Read(back);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v);
}

TEST(Encoding, EveryBuiltinTypeRoundTripsInAVariant) {
    uaDiagnosticInfo diag;
    diag.fSymbolicId = 1;
    diag.fLocale = 2;
    diag.fAdditionalInfo = "more";
    diag.fInnerStatusCode = 0x80010000;
    diag.fInnerDiagnosticInfo = Box<uaDiagnosticInfo>(uaDiagnosticInfo{.fSymbolicId = 9});
    uaExtensionObject xml;
    xml.fTypeId = uaExpandedNodeId{uaNodeId(1234u, 2), "", 0};
    xml.fEncoding = uaExtensionObject::eo_XmlBody;
    xml.fXmlBody = "<a/>";
    uaDataValue dv;
    dv.fValue = uaVariant::Scalar(bit_String, std::string("inner"));
    const std::vector<uaVariant> values = {
        uaVariant::Scalar(bit_Boolean, true),
        uaVariant::Scalar(bit_SByte, int8_t{-128}),
        uaVariant::Scalar(bit_Byte, uint8_t{255}),
        uaVariant::Scalar(bit_Int16, int16_t{-32768}),
        uaVariant::Scalar(bit_UInt16, uint16_t{65535}),
        uaVariant::Scalar(bit_Int32, std::numeric_limits<int32_t>::min()),
        uaVariant::Scalar(bit_UInt32, std::numeric_limits<uint32_t>::max()),
        uaVariant::Scalar(bit_Int64, std::numeric_limits<int64_t>::min()),
        uaVariant::Scalar(bit_UInt64, std::numeric_limits<uint64_t>::max()),
        uaVariant::Scalar(bit_Float, -1.5f),
        uaVariant::Scalar(bit_Double, 1e300),
        uaVariant::Scalar(bit_String, std::string("gr\xC3\xBC\xC3\x9F")),
        uaVariant::Scalar(bit_DateTime, 45413.4375),
        uaVariant::Scalar(bit_Guid, uaGuid::Parse("{72962B91-FA75-4AE6-8D28-B404DC7DAF63}")),
        uaVariant::Scalar(bit_ByteString, uaByteString{0, 1, 2}),
        uaVariant::Scalar(bit_XmlElement, std::string("<x/>")),
        uaVariant::Scalar(bit_NodeId, uaNodeId(std::string("Tag"), 3)),
        uaVariant::Scalar(bit_ExpandedNodeId, uaExpandedNodeId{uaNodeId(7u, 1), "urn:x", 4}),
        uaVariant::Scalar(bit_StatusCode, uint32_t{0x80AB0000}),
        uaVariant::Scalar(bit_QualifiedName, uaQualifiedName{2, "Name"}),
        uaVariant::Scalar(bit_LocalizedText, uaLocalizedText{"en", "Hi"}),
        uaVariant::Scalar(bit_ExtensionObject, xml),
        uaVariant::Scalar(bit_DataValue, Box<uaDataValue>(dv)),
        uaVariant::Array(bit_Variant, {Box<uaVariant>(uaVariant::Scalar(bit_Int32, int32_t{1})),
                                       Box<uaVariant>(uaVariant::Array(bit_String, {std::string("a")}))}),
        uaVariant::Scalar(bit_DiagnosticInfo, Box<uaDiagnosticInfo>(diag)),
    };
    TuaBinaryEncoder e;
    for (const auto& v : values) e.Write(v);
    e.Write(int32_t{0x11223344});  // a sentinel: nothing may be left unread or overread
    TuaBinaryDecoder d(e.Buffer());
    for (const auto& v : values) {
        std::optional<uaVariant> back;
        d.Read(back);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, v) << static_cast<int>(v.fType.fBuildInType);
    }
    int32_t sentinel = 0;
    d.Read(sentinel);
    EXPECT_EQ(sentinel, 0x11223344);
}

TEST(Decoding, UnknownNodeIdFormConsumesOneByte) {
    const Bytes bytes{0x06, 0x2A};
    TuaBinaryDecoder d(bytes);
    uaNodeId id(5u);
    d.Read(id);
    EXPECT_TRUE(id.IsNullNodeId());
    EXPECT_EQ(d.Position(), 1u);
}

TEST(Decoding, AbsentValues) {
    const Bytes bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    TuaBinaryDecoder d(bytes);
    std::optional<uaVariant> v;
    std::optional<uaDataValue> dv;
    std::optional<uaLocalizedText> lt;
    std::optional<uaQualifiedName> qn;
    d.Read(v);
    d.Read(dv);
    d.Read(lt);
    d.Read(qn);
    EXPECT_FALSE(v);
    EXPECT_FALSE(dv);
    EXPECT_FALSE(lt);
    EXPECT_FALSE(qn);
    EXPECT_EQ(d.Remaining(), 0u);
}

TEST(Decoding, ExtensionObjectsKeepTheirBodyAndRejectBadEncodings) {
    uaExtensionObject binary;
    binary.fTypeId = uaExpandedNodeId{uaNodeId(811u), "", 0};
    binary.fEncoding = uaExtensionObject::eo_BinaryBody;
    binary.fBinaryBody = {1, 2, 3};
    const Bytes bytes = Encode(binary);
    TuaBinaryDecoder d(bytes);
    uaExtensionObject back;
    d.Read(back);
    EXPECT_EQ(back, binary);
    const Bytes bad{0x00, 0x00, 0x07};
    TuaBinaryDecoder b(bad);
    try {
        b.Read(back);
        FAIL();
    } catch (const uaDecodingError& e) {
        EXPECT_EQ(std::string(e.what()), "Error Message: Invalid encoding byte (0x07) for uaExtensionObject.");
    }
}

struct HostileCase {
    const char* name;
    Bytes bytes;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileInput : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, EndsInADecodingError) {
    TuaBinaryDecoder d(GetParam().bytes);
    std::optional<uaVariant> v;
    EXPECT_THROW(d.Read(v), uaDecodingError);
}

Bytes NestedVariants(int depth) {
    Bytes b;
    for (int i = 0; i < depth; ++i) {
        b.insert(b.end(), {0x80 | bit_Variant, 1, 0, 0, 0});  // an array of one variant
    }
    b.push_back(0);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileInput,
    ::testing::Values(HostileCase{"truncated_int32", {0x06, 0x01, 0x02}},
                      HostileCase{"string_longer_than_message", {0x0C, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}},
                      HostileCase{"array_count_beyond_bytes", {0x86, 0x00, 0x00, 0x00, 0x10}},
                      HostileCase{"array_count_beyond_limit", {0x81, 0x00, 0x00, 0x00, 0x7F}},
                      HostileCase{"type_above_25", {0x1A}},
                      HostileCase{"empty_input", {}},
                      HostileCase{"nesting_too_deep", NestedVariants(150)}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Decoding, LimitsAreConfigurable) {
    TuaBinaryEncoder e;
    e.Write(uaVariant::Array(bit_Byte, std::vector<uaScalar>(100, uint8_t{1})));
    uaDecodingLimits tight;
    tight.maxArrayLength = 10;
    TuaBinaryDecoder d(e.Buffer(), tight);
    std::optional<uaVariant> v;
    EXPECT_THROW(d.Read(v), uaDecodingError);
    tight.maxMessageSize = 8;
    EXPECT_THROW(TuaBinaryDecoder(e.Buffer(), tight), uaDecodingError);
    const Bytes nested = NestedVariants(90);
    TuaBinaryDecoder ok(nested);
    EXPECT_NO_THROW(ok.Read(v));
}

TEST(Decoding, MessageIdOfEveryNumericForm) {
    for (const uaNodeId& id : {uaNodeId(397u), uaNodeId(631u), uaNodeId(70000u, 1)}) {
        TuaBinaryEncoder e;
        e.Write(id);
        e.Write(uint8_t{0xEE});
        TuaBinaryDecoder d(e.Buffer());
        EXPECT_EQ(d.ReadMessageId(), id.IdAsNumber());
        uint8_t next = 0;
        d.Read(next);
        EXPECT_EQ(next, 0xEE);
    }
    TuaBinaryEncoder e;
    e.Write(uaNodeId(std::string("x"), 1));
    TuaBinaryDecoder d(e.Buffer());
    EXPECT_EQ(d.ReadMessageId(), 0u);
    EXPECT_EQ(d.Remaining(), 0u);
}

}  // namespace
}  // namespace vela::ua

namespace vela::ua {
namespace {

TEST(StructureFields, ValuesWithoutTheirEncodingByte) {
    TuaBinaryEncoder e;
    e.WriteEncodingMask(uaTypeInfo{bit_Int32, 2});
    e.WriteStructureField(uaVariant::Array(bit_UInt16, {uint16_t{1}, uint16_t{2}}), bit_UInt16, 1);
    e.WriteStructureField(uaVariant::Scalar(bit_String, std::string("abc")), bit_String, -1);
    const std::vector<uint8_t> bytes = e.TakeBuffer();
    EXPECT_EQ(bytes[0], 0xC6);
    TuaBinaryDecoder d(bytes);
    uint8_t mask = 0;
    d.Read(mask);
    EXPECT_EQ(d.ReadStructureField(bit_UInt16, 1), uaVariant::Array(bit_UInt16, {uint16_t{1}, uint16_t{2}}));
    std::string clipped;
    d.ReadString(clipped, 2);
    EXPECT_EQ(clipped, "ab");
    EXPECT_EQ(d.Remaining(), 1u);  // the clipped byte stays
}

}  // namespace
}  // namespace vela::ua

namespace vela::ua {
namespace {

// The bytes operator new handed out while f ran on this thread.
template <typename F>
size_t BytesAllocatedBy(F&& f) {
    tAllocated = 0;
    tCounting = true;
    try {
        f();
    } catch (...) {
        tCounting = false;
        throw;
    }
    tCounting = false;
    return tAllocated;
}

// A response's header, then one array's count and whatever bytes follow it.
Bytes ResponseWithArray(int32_t count, size_t bodySize, uint8_t filler, const Bytes& first = {}) {
    TuaBinaryEncoder e;
    uaResponseHeader header;
    header.fRequestHandle = 7;
    header.Encode(e);
    e.Write(count);
    Bytes bytes = e.TakeBuffer();
    bytes.insert(bytes.end(), first.begin(), first.end());
    bytes.resize(bytes.size() + bodySize - first.size(), filler);
    return bytes;
}

constexpr size_t kMiB = 1024 * 1024;

TEST(ArrayMinimumSizes, StructuresSumTheirFields) {
    EXPECT_EQ(MinEncodedSize<uaReadValueId>(), 2u + 4 + 4 + 6);
    EXPECT_EQ(MinEncodedSize<uaResponseHeader>(), 8u + 4 + 4 + 1 + 4 + 3);
    EXPECT_EQ(MinEncodedSize<uaApplicationDescription>(), 4u + 4 + 1 + 4 + 4 + 4 + 4);
    EXPECT_EQ(MinEncodedSize<uaEndpointDescription>(), 4u + 25 + 4 + 4 + 4 + 4 + 4 + 1);
    EXPECT_EQ(MinEncodedSize<uaDataValue>(), 1u);
    EXPECT_EQ(MinEncodedSize<std::string>(), 4u);
    EXPECT_EQ(MinEncodedSize<double>(), 8u);
}

TEST(ArrayMinimumSizes, TheSmallestElementsStillDecode) {
    // All-zero endpoints take exactly the minimum: the bound must not refuse them.
    const int32_t count = 1000;
    const Bytes bytes = ResponseWithArray(count, count * MinEncodedSize<uaEndpointDescription>(), 0);
    TuaBinaryDecoder d(bytes);
    uaGetEndpointsResponse response;
    d.Read(response);
    EXPECT_EQ(response.fEndpoints.size(), 1000u);
    EXPECT_EQ(d.Remaining(), 0u);
    TuaBinaryEncoder e;
    response.Encode(e);
    EXPECT_EQ(e.Buffer().size(), bytes.size());
}

TEST(HostileArrays, EndpointCountBeyondTheBytesRaises) {
    // One byte per endpoint used to be enough to pass, and the count was allocated up front.
    const Bytes bytes = ResponseWithArray(1 << 20, 1 << 20, 0);
    TuaBinaryDecoder d(bytes);
    uaGetEndpointsResponse response;
    try {
        d.Read(response);
        FAIL();
    } catch (const uaDecodingError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot fit"), std::string::npos) << e.what();
    }
    EXPECT_EQ(response.fEndpoints.capacity(), 0u);
}

TEST(HostileArrays, NestedStructureArraysAreCheckedToo) {
    // One endpoint, whose token policies claim far more than the bytes left.
    Bytes first(MinEncodedSize<uaEndpointDescription>(), 0);
    const size_t tokensAt = 4 + 25 + 4 + 4 + 4;
    first[tokensAt + 2] = 0x01;  // 65536 policies
    const Bytes bytes = ResponseWithArray(1, 4096, 0, first);
    TuaBinaryDecoder d(bytes);
    uaGetEndpointsResponse response;
    EXPECT_THROW(d.Read(response), uaDecodingError);
    ASSERT_EQ(response.fEndpoints.size(), 1u);
    EXPECT_EQ(response.fEndpoints[0].fUserIdentityTokens.capacity(), 0u);
}

TEST(HostileArrays, MemoryFollowsTheElementsThatDecode) {
    // A count that fits the megabyte, then one good endpoint and garbage.
    const size_t body = kMiB;
    const auto count = static_cast<int32_t>(body / MinEncodedSize<uaEndpointDescription>());
    const Bytes bytes = ResponseWithArray(count, body, 0x7F, Bytes(MinEncodedSize<uaEndpointDescription>(), 0));
    uaGetEndpointsResponse response;
    const size_t allocated = BytesAllocatedBy([&] {
        TuaBinaryDecoder d(bytes);
        EXPECT_THROW(d.Read(response), uaDecodingError);
    });
    EXPECT_EQ(response.fEndpoints.size(), 2u);
    EXPECT_LE(response.fEndpoints.capacity() * sizeof(uaEndpointDescription), 64u * 1024);
    EXPECT_LE(allocated, 64u * 1024);  // was count * sizeof(uaEndpointDescription), about 9 MB
}

TEST(HostileArrays, DataValueCountOfAMegabyteAllocatesLittle) {
    // Values take one byte at least: a megabyte may claim a million of them, none decodes.
    const Bytes bytes = ResponseWithArray(static_cast<int32_t>(kMiB), kMiB, 0x7F);
    uaReadResponse response;
    const size_t allocated = BytesAllocatedBy([&] {
        TuaBinaryDecoder d(bytes);
        EXPECT_THROW(d.Read(response), uaDecodingError);
    });
    EXPECT_LE(allocated, 64u * 1024);  // was a million uaDataValues, about 280 MB
}

TEST(HostileArrays, VariantArrayOfAMegabyteAllocatesLittle) {
    Bytes bytes{0x80 | bit_Variant, 0x00, 0x00, 0x10, 0x00};  // a million variants
    bytes.resize(5 + kMiB, 0x7F);                                // none of them valid
    const size_t allocated = BytesAllocatedBy([&] {
        TuaBinaryDecoder d(bytes);
        std::optional<uaVariant> v;
        EXPECT_THROW(d.Read(v), uaDecodingError);
    });
    EXPECT_LE(allocated, 64u * 1024);  // was a million uaScalars up front, about 190 MB
    TuaBinaryDecoder field(std::span<const uint8_t>(bytes).subspan(1));
    EXPECT_THROW(field.ReadStructureField(bit_LocalizedText, 1), uaDecodingError);
}

TEST(HostileArrays, ValidLongArraysDecodeUnchanged) {
    uaReadRequest request;
    for (uint32_t i = 0; i < 5000; ++i) {  // past the first reservation, so the array grows
        uaReadValueId& item = request.fNodesToRead.emplace_back();
        item.fNodeId.fValue = 100000 + i;
        item.fNodeId.fNameSpaceIndex = 2;
        item.fIndexRange = std::to_string(i);
        item.fAttributeId = 13;
    }
    TuaBinaryEncoder e;
    request.Encode(e);
    e.Write(uaVariant::Array(bit_String, std::vector<uaScalar>(3000, std::string("s"))));
    TuaBinaryDecoder d(e.Buffer());
    uaReadRequest back;
    d.Read(back);
    std::optional<uaVariant> strings;
    d.Read(strings);
    EXPECT_EQ(d.Remaining(), 0u);
    EXPECT_EQ(back.fNodesToRead.capacity(), 5000u);  // growth stops at the count
    TuaBinaryEncoder again;
    back.Encode(again);
    again.Write(*strings);
    EXPECT_EQ(again.Buffer(), e.Buffer());
}

}  // namespace
}  // namespace vela::ua
