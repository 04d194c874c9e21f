#pragma once
// Values as vela_cli prints them and as people type them for write: each printed value reads
// back to the same value. The forms are listed in vela_cli's usage text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Exception.h"
#include "base/Variant.h"

namespace vela::cli {

// A typed value that is not of the item's type; the message says what was expected.
class ValueError : public Exception {
public:
    using Exception::Exception;
};

// UA built-in type numbers.
enum BuiltIn : int {
    kUnknown = 0, kBoolean = 1, kSByte, kByte, kInt16, kUInt16, kInt32, kUInt32, kInt64, kUInt64, kFloat, kDouble,
    kString, kDateTime, kGuid, kByteString, kXmlElement, kNodeId, kExpandedNodeId, kStatusCode, kQualifiedName,
    kLocalizedText, kExtensionObject, kDataValue, kVariant, kDiagnosticInfo
};

// What is known of an item's type.
struct ValueType {
    int builtIn = kUnknown;
    uint32_t dataType = 0;  // the numeric id of the item's DataType (structures are told apart by it)
    bool array = false;
};

// The shortest text that reads back to the same number ("0.1", "1e+300", "nan", "-inf").
std::string DoubleText(double value);
std::string FloatText(float value);

// "2024-01-02T03:04:05.000Z"; "no time" at kMinDateTime and below.
std::string DateTimeText(DateTime utc);
// ISO 8601 as "2024-01-02T03:04:05.123Z", with "+01:00" or "-0500" instead of Z, seconds and
// fraction optional, or a date alone (midnight UTC); "no time". Raises ValueError.
DateTime ParseDateTime(std::string_view text);

// "0x0102ff".
std::string BytesText(const std::vector<uint8_t>& bytes);
// "0x0102ff" or "base64:AQL/"; nothing for a text of neither form; raises ValueError for a bad
// text of one of them.
std::optional<std::vector<uint8_t>> ParseBytes(std::string_view text);

// The text in double quotes with \" \\ \n \r \t and \uXXXX escapes.
std::string QuotedText(std::string_view text);
// The text as an array element: bare, or quoted where a bare element would not read back.
std::string ElementText(std::string_view text);

// The value for printing.
std::string FormatValue(const Variant& value, const ValueType& type = {});
// The value of a typed text for an item of that type. Numbers are taken in their widest type,
// so that range checks stay with the item's conversion. Raises ValueError.
Variant ParseValue(std::string_view text, const ValueType& type);

// The type's name for messages ("Double"); "unknown type" for kUnknown.
std::string BuiltInName(int builtIn);

}  // namespace vela::cli
