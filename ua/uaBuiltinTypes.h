#pragma once
// The in-memory form of the 25 built-in OPC UA data types. Values are plain C++ values: an
// owned object is a member (or a Box when the type nests), "absent" is an empty optional or
// the type's null form, and copies are deep.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/DateTime.h"
#include "base/Exception.h"

namespace vela::ua {

enum uaBuildInType : uint8_t {
    bit_null = 0, bit_Boolean = 1, bit_SByte = 2, bit_Byte = 3, bit_Int16 = 4, bit_UInt16 = 5, bit_Int32 = 6,
    bit_UInt32 = 7, bit_Int64 = 8, bit_UInt64 = 9, bit_Float = 10, bit_Double = 11, bit_String = 12,
    bit_DateTime = 13, bit_Guid = 14, bit_ByteString = 15, bit_XmlElement = 16, bit_NodeId = 17,
    bit_ExpandedNodeId = 18, bit_StatusCode = 19, bit_QualifiedName = 20, bit_LocalizedText = 21,
    bit_ExtensionObject = 22, bit_DataValue = 23, bit_Variant = 24, bit_DiagnosticInfo = 25
};

using uaStatusCode = uint32_t;
using uaByteString = std::vector<uint8_t>;

// A heap-held value with value semantics, for types that contain themselves.
template <typename T>
class Box {
public:
    Box() : p_(std::make_unique<T>()) {}
    Box(T value) : p_(std::make_unique<T>(std::move(value))) {}
    Box(const Box& other) : p_(std::make_unique<T>(*other.p_)) {}
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& other) {
        if (this != &other) p_ = std::make_unique<T>(*other.p_);
        return *this;
    }
    Box& operator=(Box&&) noexcept = default;
    T& operator*() { return *p_; }
    const T& operator*() const { return *p_; }
    T* operator->() { return p_.get(); }
    const T* operator->() const { return p_.get(); }
    bool operator==(const Box& other) const { return *p_ == *other.p_; }

private:
    std::unique_ptr<T> p_;
};

class uaConversionError : public Exception {
public:
    using Exception::Exception;
};

struct uaGuid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
    bool operator==(const uaGuid&) const = default;
    bool IsNull() const { return *this == uaGuid{}; }
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hex
    std::string ToString() const;
    // Braced text form; raises uaConversionError.
    static uaGuid Parse(const std::string& text);
};

enum uaIdType : uint8_t { itNumeric = 0, itString = 1, itGuid = 2, itOpaque = 3 };

class uaNodeId {
public:
    uint16_t fNameSpaceIndex = 0;
    std::variant<uint32_t, std::string, uaGuid, uaByteString> fValue = uint32_t{0};

    uaNodeId() = default;
    uaNodeId(uint32_t id, uint16_t ns = 0) : fNameSpaceIndex(ns), fValue(id) {}
    uaNodeId(std::string id, uint16_t ns) : fNameSpaceIndex(ns), fValue(std::move(id)) {}
    uaNodeId(const uaGuid& id, uint16_t ns) : fNameSpaceIndex(ns), fValue(id) {}
    uaNodeId(uaByteString id, uint16_t ns) : fNameSpaceIndex(ns), fValue(std::move(id)) {}
    // The text form "ns=2;s=Tag" and its variants; with trim, blanks around are cut first.
    static uaNodeId Parse(const std::string& text, bool trim = false);

    uaIdType IdentifierType() const { return static_cast<uaIdType>(fValue.index()); }
    bool IsNullNodeId() const;
    // Raises "Object type is not numeric" for other identifiers.
    uint32_t IdAsNumber() const;
    std::string ToString() const;
    bool operator==(const uaNodeId&) const = default;
};

struct uaExpandedNodeId {
    uaNodeId fNodeId;
    std::string fNamespaceUri;
    uint32_t fServerIndex = 0;

    uint16_t NameSpaceIndex() const { return fNodeId.fNameSpaceIndex; }
    std::string ToString() const;
    static uaExpandedNodeId Parse(const std::string& text);
    bool operator==(const uaExpandedNodeId&) const = default;
};

struct uaQualifiedName {
    uint16_t fNameSpaceIndex = 0;
    std::string fName;
    std::string ToString() const { return fName; }
    bool operator==(const uaQualifiedName&) const = default;
};

struct uaLocalizedText {
    std::string fLocale;
    std::string fText;
    std::string ToString() const { return fLocale.empty() ? fText : fText + ":l=" + fLocale; }
    bool operator==(const uaLocalizedText&) const = default;
};

struct uaDiagnosticInfo {
    int32_t fSymbolicId = -1;
    int32_t fNamespaceUri = -1;
    int32_t fLocale = -1;
    int32_t fLocalizedText = -1;
    std::string fAdditionalInfo;
    uaStatusCode fInnerStatusCode = 0;
    std::optional<Box<uaDiagnosticInfo>> fInnerDiagnosticInfo;
    bool operator==(const uaDiagnosticInfo&) const = default;
};

class TuaObj;

struct uaExtensionObject {
    enum EncodeType : uint8_t { eo_None = 0, eo_BinaryBody = 1, eo_XmlBody = 2, eo_EncodeableObject = 3 };

    std::optional<uaExpandedNodeId> fTypeId;
    EncodeType fEncoding = eo_None;
    uaByteString fBinaryBody;
    std::string fXmlBody;
    std::shared_ptr<TuaObj> fObject;  // eo_EncodeableObject: a live structure

    // The numeric id of the type id; raises "Object type is not numeric".
    uint32_t ObjectNumber() const;
    std::string ToString() const;
    bool operator==(const uaExtensionObject& other) const;
};

struct uaDataValue;
class uaVariant;

// One value of any built-in type; the tag of its holder says which.
using uaScalar = std::variant<std::monostate, bool, int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, int64_t,
                              uint64_t, float, double, std::string, uaGuid, uaByteString, uaNodeId, uaExpandedNodeId,
                              uaQualifiedName, uaLocalizedText, uaExtensionObject, Box<uaDataValue>, Box<uaVariant>,
                              Box<uaDiagnosticInfo>>;

struct uaTypeInfo {
    uaBuildInType fBuildInType = bit_null;
    int8_t fValueRank = -2;  // -1 scalar, 1 array, 2 array with dimensions
    bool operator==(const uaTypeInfo&) const = default;
};

class uaVariant {
public:
    uaTypeInfo fType{bit_null, -1};
    uaScalar fScalar;
    std::vector<uaScalar> fArray;
    std::vector<int32_t> fDimensions;

    uaVariant() = default;
    // A scalar of the given type; the holder must match the type.
    static uaVariant Scalar(uaBuildInType type, uaScalar value);
    static uaVariant Array(uaBuildInType type, std::vector<uaScalar> values);

    bool IsArray() const { return fType.fValueRank >= 0; }
    bool IsArray2d() const { return fType.fValueRank > 1; }
    bool IsExtensionObject() const { return fType.fBuildInType == bit_ExtensionObject; }
    bool HasValue() const { return fType.fBuildInType != bit_null; }
    // Rank 2 with a non-empty list, else rank 1.
    void SetDimensions(std::vector<int32_t> dimensions);
    bool operator==(const uaVariant&) const = default;
};

inline constexpr DateTime kNoTimestamp = kMinDateTime;

struct uaDataValue {
    std::optional<uaVariant> fValue;
    uaStatusCode fStatusCode = 0;
    DateTime fSourceTimestamp = kNoTimestamp;
    DateTime fServerTimestamp = kNoTimestamp;
    uint16_t fSourcePicoSeconds = 0;
    uint16_t fServerPicoSeconds = 0;
    bool operator==(const uaDataValue&) const = default;
};

// The built-in type that a scalar holder of that tag belongs to, for the unambiguous tags.
bool HolderMatches(uaBuildInType type, const uaScalar& value);

}  // namespace vela::ua
