#pragma once
// The UA Binary encoding of the built-in types (little-endian). The encoder appends to a byte
// buffer; the decoder reads a byte span and bounds every length it reads by the bytes that
// remain and by its limits, so hostile input ends in a uaDecodingError, never in a huge
// allocation, unbounded recursion or a read past the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "ua/uaBuiltinTypes.h"
#include "ua/uaObj.h"

namespace vela::ua {

class uaDecodingError : public Exception {
public:
    using Exception::Exception;
};

struct uaDecodingLimits {
    size_t maxMessageSize = 16 * 1024 * 1024;  // the transport's maximum message size
    size_t maxArrayLength = 16 * 1024 * 1024;  // elements
    int maxDepth = 100;                        // nested variants, data values, diagnostics, structures
};

// The fewest bytes one value of a built-in type takes on the wire: array counts are checked
// against it. 0 for types it does not cover (structures have their own, see uaStructureBase.h).
template <typename T>
inline constexpr size_t kMinEncodedSize = std::is_arithmetic_v<T> ? sizeof(T) : 0;
template <> inline constexpr size_t kMinEncodedSize<std::string> = 4;
template <> inline constexpr size_t kMinEncodedSize<uaByteString> = 4;
template <> inline constexpr size_t kMinEncodedSize<uaGuid> = 16;
template <> inline constexpr size_t kMinEncodedSize<uaNodeId> = 2;
template <> inline constexpr size_t kMinEncodedSize<uaExpandedNodeId> = 2;
template <> inline constexpr size_t kMinEncodedSize<uaQualifiedName> = 6;
template <> inline constexpr size_t kMinEncodedSize<uaLocalizedText> = 1;
template <> inline constexpr size_t kMinEncodedSize<uaExtensionObject> = 3;
template <> inline constexpr size_t kMinEncodedSize<uaVariant> = 1;
template <> inline constexpr size_t kMinEncodedSize<uaDataValue> = 1;
template <> inline constexpr size_t kMinEncodedSize<uaDiagnosticInfo> = 1;
template <typename T>
inline constexpr size_t kMinEncodedSize<std::optional<T>> = kMinEncodedSize<T>;

class TuaBinaryEncoder {
public:
    TuaBinaryEncoder() { buffer_.reserve(256); }
    const std::vector<uint8_t>& Buffer() const { return buffer_; }
    std::vector<uint8_t> TakeBuffer() { return std::move(buffer_); }
    size_t Size() const { return buffer_.size(); }

    void Write(bool v) { WriteByteRaw(v ? 1 : 0); }
    void Write(int8_t v) { WriteByteRaw(static_cast<uint8_t>(v)); }
    void Write(uint8_t v) { WriteByteRaw(v); }
    void Write(int16_t v) { WriteLE(static_cast<uint16_t>(v)); }
    void Write(uint16_t v) { WriteLE(v); }
    void Write(int32_t v) { WriteLE(static_cast<uint32_t>(v)); }
    void Write(uint32_t v) { WriteLE(v); }
    void Write(int64_t v) { WriteLE(static_cast<uint64_t>(v)); }
    void Write(uint64_t v) { WriteLE(v); }
    void Write(float v);
    void Write(double v);
    void Write(const std::string& v);  // String and XmlElement; empty is the null string
    void WriteDateTime(DateTime v);
    void Write(const uaGuid& v);
    void Write(const uaByteString& v);
    void Write(const uaNodeId& v);
    void Write(const uaExpandedNodeId& v);
    void Write(const uaQualifiedName& v);
    void Write(const uaLocalizedText& v);
    void Write(const uaExtensionObject& v);
    void Write(const uaVariant& v);
    void Write(const uaDataValue& v);
    void Write(const uaDiagnosticInfo& v);
    void Write(const TuaObj& v) { v.Encode(*this); }
    // Absent objects have encodings of their own.
    void WriteAbsentNodeId() { Write(uint16_t{0}); }
    void WriteAbsentExtensionObject();
    void WriteAbsentVariant() { WriteByteRaw(0); }
    void WriteAbsentDataValue() { WriteByteRaw(0); }
    void WriteAbsentDiagnosticInfo() { WriteByteRaw(0); }
    template <typename T>
    void Write(const std::optional<T>& v) {
        if (v) Write(*v);
        else WriteAbsent(static_cast<const T*>(nullptr));
    }

    // One value of the built-in type, without the variant's encoding byte.
    void WriteScalar(uaBuildInType type, const uaScalar& value);
    template <typename T>
    void WriteArray(const std::vector<T>& values) {
        if (values.empty()) {
            Write(int32_t{-1});
            return;
        }
        Write(static_cast<int32_t>(values.size()));
        for (const T& v : values) Write(v);
    }
    void WriteRawBytes(std::span<const uint8_t> bytes) { buffer_.insert(buffer_.end(), bytes.begin(), bytes.end()); }
    // The variant encoding byte alone.
    void WriteEncodingMask(const uaTypeInfo& type);
    // A variant's value without its encoding byte: an array when the rank is 0 or more.
    void WriteStructureField(const uaVariant& value, uaBuildInType type, int valueRank);
    // A request's or response's body: the binary-encoding node id, then the structure.
    void WriteMessage(const TuaObj& message);

private:
    void WriteByteRaw(uint8_t b) { buffer_.push_back(b); }
    template <typename U>
    void WriteLE(U v) {
        for (size_t i = 0; i < sizeof(U); ++i) buffer_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void WriteNodeIdWithFlags(const uaNodeId& v, uint8_t flags);
    void WriteAbsent(const uaNodeId*) { WriteAbsentNodeId(); }
    void WriteAbsent(const uaExtensionObject*) { WriteAbsentExtensionObject(); }
    void WriteAbsent(const uaVariant*) { WriteAbsentVariant(); }
    void WriteAbsent(const uaDataValue*) { WriteAbsentDataValue(); }
    void WriteAbsent(const uaDiagnosticInfo*) { WriteAbsentDiagnosticInfo(); }
    void WriteAbsent(const uaLocalizedText*) { WriteByteRaw(0); }
    void WriteAbsent(const uaQualifiedName*) { Write(uaQualifiedName{}); }
    void WriteAbsent(const uaExpandedNodeId*) { WriteAbsentNodeId(); }

    std::vector<uint8_t> buffer_;
};

class TuaBinaryDecoder {
public:
    explicit TuaBinaryDecoder(std::span<const uint8_t> bytes, uaDecodingLimits limits = {});
    // The decoder only looks at the bytes: they must outlive it.
    explicit TuaBinaryDecoder(std::vector<uint8_t>&& bytes, uaDecodingLimits limits = {}) = delete;

    size_t Position() const { return pos_; }
    size_t Remaining() const { return bytes_.size() - pos_; }
    const uaDecodingLimits& Limits() const { return limits_; }

    void Read(bool& v) { v = ReadByteRaw() != 0; }
    void Read(int8_t& v) { v = static_cast<int8_t>(ReadByteRaw()); }
    void Read(uint8_t& v) { v = ReadByteRaw(); }
    void Read(int16_t& v) { v = static_cast<int16_t>(ReadLE<uint16_t>()); }
    void Read(uint16_t& v) { v = ReadLE<uint16_t>(); }
    void Read(int32_t& v) { v = static_cast<int32_t>(ReadLE<uint32_t>()); }
    void Read(uint32_t& v) { v = ReadLE<uint32_t>(); }
    void Read(int64_t& v) { v = static_cast<int64_t>(ReadLE<uint64_t>()); }
    void Read(uint64_t& v) { v = ReadLE<uint64_t>(); }
    void Read(float& v);
    void Read(double& v);
    void Read(std::string& v);
    void ReadDateTime(DateTime& v);
    void Read(uaGuid& v);
    void Read(uaByteString& v);
    void Read(uaNodeId& v);
    void Read(uaExpandedNodeId& v);
    void Read(uaQualifiedName& v);
    void Read(uaLocalizedText& v);
    void Read(uaExtensionObject& v);
    void Read(uaDataValue& v);
    void Read(uaDiagnosticInfo& v);
    void Read(TuaObj& v);
    void Read(uaVariant& v);  // an absent variant reads as the null variant
    // Objects that may be absent on the wire.
    void Read(std::optional<uaVariant>& v);
    void Read(std::optional<uaDataValue>& v);
    void Read(std::optional<uaLocalizedText>& v);
    void Read(std::optional<uaQualifiedName>& v);
    void Read(std::optional<uaDiagnosticInfo>& v);
    void Read(std::optional<uaExtensionObject>& v);
    void Read(std::optional<uaExpandedNodeId>& v);

    uaScalar ReadScalar(uaBuildInType type);
    // The inverse of WriteStructureField.
    uaVariant ReadStructureField(uaBuildInType type, int valueRank);
    // A String of at most maxLength bytes; bytes beyond it stay in the stream.
    void ReadString(std::string& v, size_t maxLength);
    // An array length: -1 and below mean empty; more than the limit or than the bytes left
    // allow (at least minElementSize each) raises.
    size_t ReadArrayLength(size_t minElementSize);
    template <typename T>
    void ReadArray(std::vector<T>& values) {
        static_assert(kMinEncodedSize<T> > 0, "structures pass their own minimum size");
        ReadArray(values, kMinEncodedSize<T>);
    }
    template <typename T>
    void ReadArray(std::vector<T>& values, size_t minElementSize) {
        const size_t n = ReadArrayLength(minElementSize);
        values.clear();
        // The count alone is the sender's word: only numbers, which cannot fail once the
        // count fits, get all their room at once.
        if constexpr (std::is_arithmetic_v<T> || std::is_same_v<T, uaGuid>) values.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            MakeRoom(values, n);
            Read(values.emplace_back());
        }
    }
    // The numeric id of a message's type node id (0 for other id forms).
    uint32_t ReadMessageId();

private:
    uint8_t ReadByteRaw() {
        Need(1);
        return bytes_[pos_++];
    }
    template <typename U>
    U ReadLE() {
        Need(sizeof(U));
        U v = 0;
        for (size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(static_cast<U>(bytes_[pos_ + i]) << (8 * i));
        pos_ += sizeof(U);
        return v;
    }
    void Need(size_t n) const;
    // Room for one more of at most n elements, grown geometrically from a small start: memory
    // follows the elements that did decode, whatever count the message claims.
    template <typename T>
    static void MakeRoom(std::vector<T>& values, size_t n) {
        if (values.size() < values.capacity()) return;
        constexpr size_t kFirst = std::max<size_t>(1, kFirstArrayBytes / sizeof(T));
        values.reserve(std::min(n, std::max(kFirst, values.capacity() * 2)));
    }
    static constexpr size_t kFirstArrayBytes = 16 * 1024;
    void ReadScalarArray(uaBuildInType type, std::vector<uaScalar>& values);
    // Values whose mask byte 0x00 means "absent".
    template <typename T>
    void ReadAbsentOnZeroMask(std::optional<T>& v) {
        const size_t start = pos_;
        T value;
        Read(value);
        if (bytes_[start] == 0) v.reset();
        else v = std::move(value);
    }
    void ReadNodeIdBody(uint8_t encoding, uaNodeId& v);
    std::optional<uaVariant> ReadVariantBody(uint8_t encoding);

    friend class DepthGuard;
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    uaDecodingLimits limits_;
    int depth_ = 0;
};

}  // namespace vela::ua
