#include "ua/uaBinaryEncoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace vela::ua {

// Counts nesting of variants, data values, diagnostics and structures while decoding.
class DepthGuard {
public:
    explicit DepthGuard(TuaBinaryDecoder& decoder) : decoder_(decoder) {
        if (++decoder_.depth_ > decoder_.limits_.maxDepth) {
            --decoder_.depth_;
            throw uaDecodingError("Values are nested deeper than " + std::to_string(decoder_.limits_.maxDepth) +
                                  " levels");
        }
    }
    ~DepthGuard() { --decoder_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    TuaBinaryDecoder& decoder_;
};

namespace {

constexpr DateTime k1601 = -109205.0;  // 1601-01-01, the first time the wire can carry

size_t MinEncodedSize(uaBuildInType type) {
    switch (type) {
        case bit_Int16: case bit_UInt16: case bit_NodeId: case bit_ExpandedNodeId: return 2;
        case bit_Int32: case bit_UInt32: case bit_Float: case bit_StatusCode: case bit_String:
        case bit_ByteString: case bit_XmlElement: return 4;
        case bit_Int64: case bit_UInt64: case bit_Double: case bit_DateTime: return 8;
        case bit_Guid: return 16;
        case bit_QualifiedName: return 6;
        case bit_ExtensionObject: return 3;
        default: return 1;
    }
}

// Fixed-size values that any bytes make: once the count fits the bytes left, all will decode.
bool AlwaysDecodes(uaBuildInType type) {
    switch (type) {
        case bit_Boolean: case bit_SByte: case bit_Byte: case bit_Int16: case bit_UInt16: case bit_Int32:
        case bit_UInt32: case bit_Int64: case bit_UInt64: case bit_Float: case bit_Double: case bit_DateTime:
        case bit_StatusCode: case bit_Guid: return true;
        default: return false;
    }
}

}  // namespace

// --- encoder ---

void TuaBinaryEncoder::Write(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    WriteLE(bits);
}

void TuaBinaryEncoder::Write(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    WriteLE(bits);
}

void TuaBinaryEncoder::Write(const std::string& v) {
    if (v.empty()) {
        Write(int32_t{-1});
        return;
    }
    Write(static_cast<int32_t>(v.size()));
    buffer_.insert(buffer_.end(), v.begin(), v.end());
}

void TuaBinaryEncoder::WriteDateTime(DateTime v) { Write(DateTimeToUaDateTime(v)); }

void TuaBinaryEncoder::Write(const uaGuid& v) {
    Write(v.Data1);
    Write(v.Data2);
    Write(v.Data3);
    buffer_.insert(buffer_.end(), std::begin(v.Data4), std::end(v.Data4));
}

void TuaBinaryEncoder::Write(const uaByteString& v) {
    if (v.empty()) {
        Write(int32_t{-1});
        return;
    }
    Write(static_cast<int32_t>(v.size()));
    buffer_.insert(buffer_.end(), v.begin(), v.end());
}

void TuaBinaryEncoder::WriteNodeIdWithFlags(const uaNodeId& v, uint8_t flags) {
    const uint16_t ns = v.fNameSpaceIndex;
    switch (v.IdentifierType()) {
        case itNumeric: {
            const uint32_t id = std::get<uint32_t>(v.fValue);
            if (id <= 255 && ns == 0) {
                WriteByteRaw(0x00 | flags);
                WriteByteRaw(static_cast<uint8_t>(id));
            } else if (id <= 65535 && ns <= 255) {
                WriteByteRaw(0x01 | flags);
                WriteByteRaw(static_cast<uint8_t>(ns));
                Write(static_cast<uint16_t>(id));
            } else {
                WriteByteRaw(0x02 | flags);
                Write(ns);
                Write(id);
            }
            return;
        }
        case itString:
            WriteByteRaw(0x03 | flags);
            Write(ns);
            Write(std::get<std::string>(v.fValue));
            return;
        case itGuid:
            WriteByteRaw(0x04 | flags);
            Write(ns);
            Write(std::get<uaGuid>(v.fValue));
            return;
        case itOpaque:
            WriteByteRaw(0x05 | flags);
            Write(ns);
            Write(std::get<uaByteString>(v.fValue));
            return;
    }
}

void TuaBinaryEncoder::Write(const uaNodeId& v) { WriteNodeIdWithFlags(v, 0); }

void TuaBinaryEncoder::Write(const uaExpandedNodeId& v) {
    uint8_t flags = 0;
    if (!v.fNamespaceUri.empty()) flags |= 0x80;
    if (v.fServerIndex != 0) flags |= 0x40;
    WriteNodeIdWithFlags(v.fNodeId, flags);
    if (flags & 0x80) Write(v.fNamespaceUri);
    if (flags & 0x40) Write(v.fServerIndex);
}

void TuaBinaryEncoder::Write(const uaQualifiedName& v) {
    Write(v.fNameSpaceIndex);
    Write(v.fName);
}

void TuaBinaryEncoder::Write(const uaLocalizedText& v) {
    const uint8_t mask = (v.fLocale.empty() ? 0 : 0x01) | (v.fText.empty() ? 0 : 0x02);
    WriteByteRaw(mask);
    if (mask & 0x01) Write(v.fLocale);
    if (mask & 0x02) Write(v.fText);
}

void TuaBinaryEncoder::WriteAbsentExtensionObject() {
    WriteAbsentNodeId();
    WriteByteRaw(0x00);
}

void TuaBinaryEncoder::Write(const uaExtensionObject& v) {
    if (v.fEncoding == uaExtensionObject::eo_EncodeableObject) {
        if (!v.fObject) throw Exception("Error Message: nil");
        Write(uaNodeId(static_cast<uint32_t>(v.fObject->fObjNo), v.fObject->fNameSpaceIndex));
        WriteByteRaw(0x01);
        const size_t lengthAt = buffer_.size();
        Write(int32_t{-1});
        v.fObject->Encode(*this);
        const auto length = static_cast<uint32_t>(buffer_.size() - lengthAt - 4);
        for (size_t i = 0; i < 4; ++i) buffer_[lengthAt + i] = static_cast<uint8_t>(length >> (8 * i));
        return;
    }
    if (v.fTypeId) Write(*v.fTypeId);
    else WriteAbsentNodeId();
    switch (v.fEncoding) {
        case uaExtensionObject::eo_BinaryBody:
            WriteByteRaw(0x01);
            Write(v.fBinaryBody);
            break;
        case uaExtensionObject::eo_XmlBody:
            WriteByteRaw(0x02);
            Write(v.fXmlBody);
            break;
        default:
            WriteByteRaw(0x00);
            break;
    }
}

void TuaBinaryEncoder::WriteScalar(uaBuildInType type, const uaScalar& value) {
    if (!HolderMatches(type, value)) throw Exception("The value does not fit the built-in type");
    switch (type) {
        case bit_null: return;
        case bit_Boolean: return Write(std::get<bool>(value));
        case bit_SByte: return Write(std::get<int8_t>(value));
        case bit_Byte: return Write(std::get<uint8_t>(value));
        case bit_Int16: return Write(std::get<int16_t>(value));
        case bit_UInt16: return Write(std::get<uint16_t>(value));
        case bit_Int32: return Write(std::get<int32_t>(value));
        case bit_UInt32: case bit_StatusCode: return Write(std::get<uint32_t>(value));
        case bit_Int64: return Write(std::get<int64_t>(value));
        case bit_UInt64: return Write(std::get<uint64_t>(value));
        case bit_Float: return Write(std::get<float>(value));
        case bit_Double: return Write(std::get<double>(value));
        case bit_DateTime: return WriteDateTime(std::get<double>(value));
        case bit_String: case bit_XmlElement: return Write(std::get<std::string>(value));
        case bit_Guid: return Write(std::get<uaGuid>(value));
        case bit_ByteString: return Write(std::get<uaByteString>(value));
        case bit_NodeId: return Write(std::get<uaNodeId>(value));
        case bit_ExpandedNodeId: return Write(std::get<uaExpandedNodeId>(value));
        case bit_QualifiedName: return Write(std::get<uaQualifiedName>(value));
        case bit_LocalizedText: return Write(std::get<uaLocalizedText>(value));
        case bit_ExtensionObject: return Write(std::get<uaExtensionObject>(value));
        case bit_DataValue: return Write(*std::get<Box<uaDataValue>>(value));
        case bit_Variant: return Write(*std::get<Box<uaVariant>>(value));
        case bit_DiagnosticInfo: return Write(*std::get<Box<uaDiagnosticInfo>>(value));
    }
}

void TuaBinaryEncoder::Write(const uaVariant& v) {
    const uaBuildInType type = v.fType.fBuildInType;
    if (type == bit_null) {
        WriteByteRaw(0);
        return;
    }
    if (!v.IsArray()) {
        WriteByteRaw(static_cast<uint8_t>(type));
        WriteScalar(type, v.fScalar);
        return;
    }
    const bool withDimensions = v.IsArray2d() && !v.fDimensions.empty();
    WriteByteRaw(static_cast<uint8_t>(type | 0x80 | (withDimensions ? 0x40 : 0)));
    if (v.fArray.empty()) {
        Write(int32_t{-1});
    } else {
        Write(static_cast<int32_t>(v.fArray.size()));
        for (const uaScalar& element : v.fArray) WriteScalar(type, element);
    }
    if (withDimensions) WriteArray(v.fDimensions);
}

void TuaBinaryEncoder::Write(const uaDataValue& v) {
    uint8_t mask = 0;
    if (v.fValue) mask |= 0x01;
    if (v.fStatusCode != 0) mask |= 0x02;
    if (v.fSourceTimestamp >= k1601) mask |= 0x04;
    if (v.fServerTimestamp >= k1601) mask |= 0x08;
    if (v.fSourcePicoSeconds != 0) mask |= 0x10;
    if (v.fServerPicoSeconds != 0) mask |= 0x20;
    WriteByteRaw(mask);
    if (mask & 0x01) Write(*v.fValue);
    if (mask & 0x02) Write(v.fStatusCode);
    if (mask & 0x04) WriteDateTime(v.fSourceTimestamp);
    if (mask & 0x10) Write(v.fSourcePicoSeconds);
    if (mask & 0x08) WriteDateTime(v.fServerTimestamp);
    if (mask & 0x20) Write(v.fServerPicoSeconds);
}

void TuaBinaryEncoder::Write(const uaDiagnosticInfo& v) {
    uint8_t mask = 0;
    if (v.fSymbolicId >= 0) mask |= 0x01;
    if (v.fNamespaceUri >= 0) mask |= 0x02;
    if (v.fLocalizedText >= 0) mask |= 0x04;
    if (v.fLocale >= 0) mask |= 0x08;
    if (!v.fAdditionalInfo.empty()) mask |= 0x10;
    if (v.fInnerStatusCode != 0) mask |= 0x20;
    if (v.fInnerDiagnosticInfo) mask |= 0x40;
    WriteByteRaw(mask);
    if (mask & 0x01) Write(v.fSymbolicId);
    if (mask & 0x02) Write(v.fNamespaceUri);
    if (mask & 0x08) Write(v.fLocale);
    if (mask & 0x04) Write(v.fLocalizedText);
    if (mask & 0x10) Write(v.fAdditionalInfo);
    if (mask & 0x20) Write(v.fInnerStatusCode);
    if (mask & 0x40) Write(**v.fInnerDiagnosticInfo);
}

void TuaBinaryEncoder::WriteEncodingMask(const uaTypeInfo& type) {
    uint8_t mask = type.fBuildInType & 0x3F;
    if (type.fValueRank >= 0) mask |= 0x80;
    if (type.fValueRank > 1) mask |= 0x40;
    WriteByteRaw(mask);
}

void TuaBinaryEncoder::WriteStructureField(const uaVariant& value, uaBuildInType type, int valueRank) {
    if (valueRank < 0) {
        WriteScalar(type, value.fScalar);
        return;
    }
    if (value.fArray.empty()) {
        Write(int32_t{-1});
        return;
    }
    Write(static_cast<int32_t>(value.fArray.size()));
    for (const uaScalar& element : value.fArray) WriteScalar(type, element);
}

void TuaBinaryEncoder::WriteMessage(const TuaObj& message) {
    Write(uaNodeId(static_cast<uint32_t>(message.fObjNo), message.fNameSpaceIndex));
    message.Encode(*this);
}

// --- decoder ---

TuaBinaryDecoder::TuaBinaryDecoder(std::span<const uint8_t> bytes, uaDecodingLimits limits)
    : bytes_(bytes), limits_(limits) {
    if (bytes.size() > limits_.maxMessageSize)
        throw uaDecodingError("The message of " + std::to_string(bytes.size()) + " bytes exceeds the limit of " +
                              std::to_string(limits_.maxMessageSize));
}

void TuaBinaryDecoder::Need(size_t n) const {
    if (n > bytes_.size() - pos_)
        throw uaDecodingError("Unexpected end of the message: " + std::to_string(n) + " bytes needed at offset " +
                              std::to_string(pos_) + ", " + std::to_string(bytes_.size() - pos_) + " left");
}

void TuaBinaryDecoder::Read(float& v) {
    uint32_t bits = ReadLE<uint32_t>();
    std::memcpy(&v, &bits, 4);
    if (std::isnan(v)) {
        bits = 0xFFC00000u;
        std::memcpy(&v, &bits, 4);
    }
}

void TuaBinaryDecoder::Read(double& v) {
    uint64_t bits = ReadLE<uint64_t>();
    std::memcpy(&v, &bits, 8);
    if (std::isnan(v)) {
        bits = 0xFFF8000000000000ull;
        std::memcpy(&v, &bits, 8);
    }
}

void TuaBinaryDecoder::Read(std::string& v) {
    int32_t n = 0;
    Read(n);
    v.clear();
    if (n <= 0) return;
    Need(static_cast<size_t>(n));
    v.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
}

void TuaBinaryDecoder::ReadDateTime(DateTime& v) {
    int64_t ticks = 0;
    Read(ticks);
    v = UaDateTimeToDateTime(ticks);
}

void TuaBinaryDecoder::Read(uaGuid& v) {
    Read(v.Data1);
    Read(v.Data2);
    Read(v.Data3);
    Need(8);
    std::memcpy(v.Data4, bytes_.data() + pos_, 8);
    pos_ += 8;
}

void TuaBinaryDecoder::Read(uaByteString& v) {
    int32_t n = 0;
    Read(n);
    v.clear();
    if (n <= 0) return;
    Need(static_cast<size_t>(n));
    v.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += static_cast<size_t>(n);
}

void TuaBinaryDecoder::ReadNodeIdBody(uint8_t encoding, uaNodeId& v) {
    v = uaNodeId();
    switch (encoding & 0x3F) {
        case 0x00:
            v.fValue = static_cast<uint32_t>(ReadByteRaw());
            return;
        case 0x01: {
            v.fNameSpaceIndex = ReadByteRaw();
            uint16_t id = 0;
            Read(id);
            v.fValue = static_cast<uint32_t>(id);
            return;
        }
        case 0x02: {
            uint32_t id = 0;
            Read(v.fNameSpaceIndex);
            Read(id);
            v.fValue = id;
            return;
        }
        case 0x03: {
            std::string id;
            Read(v.fNameSpaceIndex);
            Read(id);
            v.fValue = std::move(id);
            return;
        }
        case 0x04: {
            uaGuid id;
            Read(v.fNameSpaceIndex);
            Read(id);
            v.fValue = id;
            return;
        }
        case 0x05: {
            uaByteString id;
            Read(v.fNameSpaceIndex);
            Read(id);
            v.fValue = std::move(id);
            return;
        }
        default:
            return;  // an unknown form gives the null node id; nothing more is read
    }
}

void TuaBinaryDecoder::Read(uaNodeId& v) { ReadNodeIdBody(ReadByteRaw(), v); }

void TuaBinaryDecoder::Read(uaExpandedNodeId& v) {
    const uint8_t encoding = ReadByteRaw();
    ReadNodeIdBody(encoding, v.fNodeId);
    v.fNamespaceUri.clear();
    v.fServerIndex = 0;
    if (encoding & 0x80) Read(v.fNamespaceUri);
    if (encoding & 0x40) Read(v.fServerIndex);
}

void TuaBinaryDecoder::Read(uaQualifiedName& v) {
    Read(v.fNameSpaceIndex);
    Read(v.fName);
}

void TuaBinaryDecoder::Read(uaLocalizedText& v) {
    const uint8_t mask = ReadByteRaw();
    v = uaLocalizedText();
    if (mask & 0x01) Read(v.fLocale);
    if (mask & 0x02) Read(v.fText);
}

void TuaBinaryDecoder::Read(uaExtensionObject& v) {
    v = uaExtensionObject();
    uaExpandedNodeId typeId;
    Read(typeId);
    const uint8_t encoding = ReadByteRaw();
    switch (encoding) {
        case 0x00: v.fEncoding = uaExtensionObject::eo_None; break;
        case 0x01:
            v.fEncoding = uaExtensionObject::eo_BinaryBody;
            Read(v.fBinaryBody);
            break;
        case 0x02:
            v.fEncoding = uaExtensionObject::eo_XmlBody;
            Read(v.fXmlBody);
            break;
        default: {
            char text[80];
            std::snprintf(text, sizeof text, "Invalid encoding byte (0x%.2x) for uaExtensionObject.", encoding);
            throw uaDecodingError(std::string("Error Message: ") + text);
        }
    }
    if (!(typeId.fNodeId.IsNullNodeId() && typeId.fNamespaceUri.empty() && typeId.fServerIndex == 0) ||
        v.fEncoding != uaExtensionObject::eo_None)
        v.fTypeId = std::move(typeId);
}

uaScalar TuaBinaryDecoder::ReadScalar(uaBuildInType type) {
    switch (type) {
        case bit_null: return std::monostate{};
        case bit_Boolean: { bool x; Read(x); return x; }
        case bit_SByte: { int8_t x; Read(x); return x; }
        case bit_Byte: { uint8_t x; Read(x); return x; }
        case bit_Int16: { int16_t x; Read(x); return x; }
        case bit_UInt16: { uint16_t x; Read(x); return x; }
        case bit_Int32: { int32_t x; Read(x); return x; }
        case bit_UInt32: case bit_StatusCode: { uint32_t x; Read(x); return x; }
        case bit_Int64: { int64_t x; Read(x); return x; }
        case bit_UInt64: { uint64_t x; Read(x); return x; }
        case bit_Float: { float x; Read(x); return x; }
        case bit_Double: { double x; Read(x); return x; }
        case bit_DateTime: { DateTime x; ReadDateTime(x); return x; }
        case bit_String: case bit_XmlElement: { std::string x; Read(x); return x; }
        case bit_Guid: { uaGuid x; Read(x); return x; }
        case bit_ByteString: { uaByteString x; Read(x); return x; }
        case bit_NodeId: { uaNodeId x; Read(x); return x; }
        case bit_ExpandedNodeId: { uaExpandedNodeId x; Read(x); return x; }
        case bit_QualifiedName: { uaQualifiedName x; Read(x); return x; }
        case bit_LocalizedText: { uaLocalizedText x; Read(x); return x; }
        case bit_ExtensionObject: { uaExtensionObject x; Read(x); return x; }
        case bit_DataValue: { Box<uaDataValue> x; Read(*x); return x; }
        case bit_Variant: {
            std::optional<uaVariant> inner;
            Read(inner);
            return Box<uaVariant>(inner ? std::move(*inner) : uaVariant());
        }
        case bit_DiagnosticInfo: { Box<uaDiagnosticInfo> x; Read(*x); return x; }
    }
    throw uaDecodingError("Unknown built-in type " + std::to_string(type));
}

uaVariant TuaBinaryDecoder::ReadStructureField(uaBuildInType type, int valueRank) {
    if (type > bit_DiagnosticInfo) throw uaDecodingError("Unknown built-in type " + std::to_string(static_cast<int>(type)));
    uaVariant v;
    if (valueRank < 0) {
        v.fType = {type, -1};
        v.fScalar = ReadScalar(type);
        return v;
    }
    v.fType = {type, 1};
    ReadScalarArray(type, v.fArray);
    return v;
}

void TuaBinaryDecoder::ReadString(std::string& v, size_t maxLength) {
    int32_t n = 0;
    Read(n);
    v.clear();
    if (n <= 0) return;
    const size_t take = std::min(static_cast<size_t>(n), maxLength);
    Need(take);
    v.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), take);
    pos_ += take;
}

void TuaBinaryDecoder::ReadScalarArray(uaBuildInType type, std::vector<uaScalar>& values) {
    const size_t n = ReadArrayLength(MinEncodedSize(type));
    values.clear();
    if (AlwaysDecodes(type)) values.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        MakeRoom(values, n);
        values.push_back(ReadScalar(type));
    }
}

size_t TuaBinaryDecoder::ReadArrayLength(size_t minElementSize) {
    int32_t n = 0;
    Read(n);
    if (n <= 0) return 0;
    const auto count = static_cast<size_t>(n);
    if (count > limits_.maxArrayLength)
        throw uaDecodingError("An array of " + std::to_string(count) + " elements exceeds the limit of " +
                              std::to_string(limits_.maxArrayLength));
    if (count > Remaining() / std::max<size_t>(minElementSize, 1))
        throw uaDecodingError("An array of " + std::to_string(count) + " elements cannot fit the " +
                              std::to_string(Remaining()) + " bytes left");
    return count;
}

std::optional<uaVariant> TuaBinaryDecoder::ReadVariantBody(uint8_t encoding) {
    const auto type = static_cast<uaBuildInType>(encoding & 0x3F);
    if (type == bit_null) return std::nullopt;
    if (type > bit_DiagnosticInfo)
        throw uaDecodingError("Invalid built-in type " + std::to_string(static_cast<int>(type)) + " in a Variant");
    uaVariant v;
    if (encoding & 0x80) {
        v.fType = {type, 1};
        ReadScalarArray(type, v.fArray);
        if (encoding & 0x40) {
            std::vector<int32_t> dimensions;
            ReadArray(dimensions);
            v.SetDimensions(std::move(dimensions));
        }
    } else {
        v.fType = {type, -1};
        v.fScalar = ReadScalar(type);
    }
    return v;
}

void TuaBinaryDecoder::Read(std::optional<uaVariant>& v) {
    DepthGuard guard(*this);
    v = ReadVariantBody(ReadByteRaw());
}

void TuaBinaryDecoder::Read(uaVariant& v) {
    std::optional<uaVariant> value;
    Read(value);
    v = value ? std::move(*value) : uaVariant();
}

void TuaBinaryDecoder::Read(uaDataValue& v) {
    DepthGuard guard(*this);
    const uint8_t mask = ReadByteRaw();
    v = uaDataValue();
    if (mask & 0x01) v.fValue = ReadVariantBody(ReadByteRaw());
    if (mask & 0x02) Read(v.fStatusCode);
    if (mask & 0x04) ReadDateTime(v.fSourceTimestamp);
    if (mask & 0x10) Read(v.fSourcePicoSeconds);
    if (mask & 0x08) ReadDateTime(v.fServerTimestamp);
    if (mask & 0x20) Read(v.fServerPicoSeconds);
}

void TuaBinaryDecoder::Read(std::optional<uaDataValue>& v) { ReadAbsentOnZeroMask(v); }

void TuaBinaryDecoder::Read(uaDiagnosticInfo& v) {
    DepthGuard guard(*this);
    const uint8_t mask = ReadByteRaw();
    v = uaDiagnosticInfo();
    if (mask & 0x01) Read(v.fSymbolicId);
    if (mask & 0x02) Read(v.fNamespaceUri);
    if (mask & 0x08) Read(v.fLocale);
    if (mask & 0x04) Read(v.fLocalizedText);
    if (mask & 0x10) Read(v.fAdditionalInfo);
    if (mask & 0x20) Read(v.fInnerStatusCode);
    if (mask & 0x40) {
        Box<uaDiagnosticInfo> inner;
        Read(*inner);
        v.fInnerDiagnosticInfo = std::move(inner);
    }
}

void TuaBinaryDecoder::Read(std::optional<uaDiagnosticInfo>& v) { ReadAbsentOnZeroMask(v); }

void TuaBinaryDecoder::Read(std::optional<uaLocalizedText>& v) { ReadAbsentOnZeroMask(v); }

void TuaBinaryDecoder::Read(std::optional<uaQualifiedName>& v) {
    uaQualifiedName value;
    Read(value);
    if (value.fName.empty()) v.reset();  // an empty name is an absent qualified name
    else v = std::move(value);
}

void TuaBinaryDecoder::Read(std::optional<uaExtensionObject>& v) {
    uaExtensionObject value;
    Read(value);
    v = std::move(value);
}

void TuaBinaryDecoder::Read(std::optional<uaExpandedNodeId>& v) {
    uaExpandedNodeId value;
    Read(value);
    v = std::move(value);
}

void TuaBinaryDecoder::Read(TuaObj& v) {
    DepthGuard guard(*this);
    v.Decode(*this);
}

uint32_t TuaBinaryDecoder::ReadMessageId() {
    uaNodeId id;
    const uint8_t encoding = ReadByteRaw();
    ReadNodeIdBody(encoding, id);
    const uint8_t form = encoding & 0x3F;
    return form <= 0x02 ? std::get<uint32_t>(id.fValue) : 0;
}

}  // namespace vela::ua
