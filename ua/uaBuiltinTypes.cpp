#include "ua/uaBuiltinTypes.h"

#include "base/Text.h"

#include <charconv>
#include <cstdio>

namespace vela::ua {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::string uaGuid::ToString() const {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Data1, Data2, Data3,
                  Data4[0], Data4[1], Data4[2], Data4[3], Data4[4], Data4[5], Data4[6], Data4[7]);
    return text;
}

uaGuid uaGuid::Parse(const std::string& text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    static constexpr int kGroups[] = {8, 4, 4, 4, 12};
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        throw uaConversionError("'" + text + "' is not a valid GUID value");
    std::vector<int> nibbles;
    size_t pos = 1;
    for (int g = 0; g < 5; ++g) {
        for (int i = 0; i < kGroups[g]; ++i, ++pos) {
            const int d = HexDigit(text[pos]);
            if (d < 0) throw uaConversionError("'" + text + "' is not a valid GUID value");
            nibbles.push_back(d);
        }
        if (g < 4 && text[pos++] != '-') throw uaConversionError("'" + text + "' is not a valid GUID value");
    }
    const auto read = [&](size_t from, size_t count) {
        uint32_t v = 0;
        for (size_t i = 0; i < count; ++i) v = (v << 4) | static_cast<uint32_t>(nibbles[from + i]);
        return v;
    };
    uaGuid g;
    g.Data1 = read(0, 8);
    g.Data2 = static_cast<uint16_t>(read(8, 4));
    g.Data3 = static_cast<uint16_t>(read(12, 4));
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(read(16 + 2 * i, 2));
    return g;
}

uaNodeId uaNodeId::Parse(const std::string& input, bool trim) {
    std::string text = trim ? std::string(TrimBlanks(input)) : input;
    uint16_t ns = 0;
    if (StartsWith(text, "ns=")) {
        const size_t semicolon = text.find(';');
        if (semicolon == std::string::npos) throw uaConversionError("delimiter (;) not found.");
        const std::string number = text.substr(3, semicolon - 3);
        uint32_t value = 0;
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec != std::errc() || end != number.data() + number.size() || number.empty() || value > 0xFFFF)
            throw uaConversionError("'" + number + "' is not a valid namespace index");
        ns = static_cast<uint16_t>(value);
        text = std::string(TrimBlanks(std::string_view(text).substr(semicolon + 1)));
    }
    const std::string rest = text.size() >= 2 ? text.substr(2) : std::string();
    if (StartsWith(text, "s=")) return uaNodeId(rest, ns);
    if (StartsWith(text, "i=")) {
        uint64_t value = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (rest.empty() || ec != std::errc() || end != rest.data() + rest.size() || value > 0xFFFFFFFFull)
            throw uaConversionError("Invalid Integer");
        return uaNodeId(static_cast<uint32_t>(value), ns);
    }
    if (StartsWith(text, "g=")) {
        // the standard node id text writes the GUID without braces; ours (what we print) has them
        const bool bare = rest.size() == 36 && rest.front() != '{';
        return uaNodeId(uaGuid::Parse(bare ? "{" + rest + "}" : rest), ns);
    }
    if (StartsWith(text, "b=")) {
        // Ours is hex (what we print, and what DA clients store); the standard text is base64.
        // Text that is valid hex is taken as hex.
        uaByteString bytes;
        bool hex = rest.size() % 2 == 0;
        for (size_t i = 0; hex && i < rest.size(); i += 2) {
            const int hi = HexDigit(rest[i]), lo = HexDigit(rest[i + 1]);
            hex = hi >= 0 && lo >= 0;
            if (hex) bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        if (hex) return uaNodeId(std::move(bytes), ns);
        const auto decoded = Base64Decode(rest);
        if (!decoded) throw uaConversionError("'" + rest.substr(0, 64) + "' is neither hex nor base64");
        return uaNodeId(uaByteString(decoded->begin(), decoded->end()), ns);
    }
    return uaNodeId(text, ns);
}

bool uaNodeId::IsNullNodeId() const {
    if (fNameSpaceIndex != 0) return false;
    switch (IdentifierType()) {
        case itNumeric: return std::get<uint32_t>(fValue) == 0;
        case itString: return std::get<std::string>(fValue).empty();
        case itGuid: return std::get<uaGuid>(fValue).IsNull();
        default: return std::get<uaByteString>(fValue).empty();
    }
}

uint32_t uaNodeId::IdAsNumber() const {
    if (IdentifierType() != itNumeric) throw Exception("Object type is not numeric");
    return std::get<uint32_t>(fValue);
}

std::string uaNodeId::ToString() const {
    std::string text = "ns=" + std::to_string(fNameSpaceIndex) + ";";
    switch (IdentifierType()) {
        case itNumeric: return text + "i=" + std::to_string(std::get<uint32_t>(fValue));
        case itString: return text + "s=" + std::get<std::string>(fValue);
        case itGuid: return text + "g=" + std::get<uaGuid>(fValue).ToString();
        default: {
            static constexpr char kHex[] = "0123456789ABCDEF";
            text += "b=";
            for (uint8_t b : std::get<uaByteString>(fValue)) {
                text += kHex[b >> 4];
                text += kHex[b & 15];
            }
            return text;
        }
    }
}

std::string uaExpandedNodeId::ToString() const {
    std::string text = fNodeId.ToString();
    if (!fNamespaceUri.empty()) text += ";nsu=" + fNamespaceUri;
    if (fServerIndex != 0) text += ";svr=" + std::to_string(fServerIndex);
    return text;
}

uaExpandedNodeId uaExpandedNodeId::Parse(const std::string& text) {
    // The "nsu=" and "svr=" parts are cut off before the node id is read, so that they do not
    // become part of a string identifier or spoil a number.
    uaExpandedNodeId result;
    std::string nodeText;
    bool firstNodePart = true;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(';', start);
        const std::string raw = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string part(TrimBlanks(raw));
        if (StartsWith(part, "svr=")) {
            uint32_t index = 0;
            const auto [p, ec] = std::from_chars(part.data() + 4, part.data() + part.size(), index);
            result.fServerIndex = (ec == std::errc() && p == part.data() + part.size()) ? index : 0;
        } else if (StartsWith(part, "nsu=")) {
            result.fNamespaceUri = part.substr(4);
        } else {
            if (!firstNodePart) nodeText += ';';
            nodeText += raw;
            firstNodePart = false;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    result.fNodeId = uaNodeId::Parse(nodeText);
    return result;
}

uint32_t uaExtensionObject::ObjectNumber() const {
    if (!fTypeId) throw Exception("Object type is not numeric");
    return fTypeId->fNodeId.IdAsNumber();
}

std::string uaExtensionObject::ToString() const {
    if (fEncoding == eo_None || !fTypeId) return {};
    const char* kind = fEncoding == eo_BinaryBody ? "Binary"
                       : fEncoding == eo_XmlBody  ? "Xml"
                       : fEncoding == eo_EncodeableObject ? "Object"
                                                           : "unknown";
    return fTypeId->fNodeId.ToString() + "," + kind + "," + fTypeId->fNamespaceUri + "," +
           std::to_string(fTypeId->fServerIndex);
}

bool uaExtensionObject::operator==(const uaExtensionObject& other) const {
    return fTypeId == other.fTypeId && fEncoding == other.fEncoding && fBinaryBody == other.fBinaryBody &&
           fXmlBody == other.fXmlBody && fObject == other.fObject;
}

bool HolderMatches(uaBuildInType type, const uaScalar& value) {
    switch (type) {
        case bit_null: return std::holds_alternative<std::monostate>(value);
        case bit_Boolean: return std::holds_alternative<bool>(value);
        case bit_SByte: return std::holds_alternative<int8_t>(value);
        case bit_Byte: return std::holds_alternative<uint8_t>(value);
        case bit_Int16: return std::holds_alternative<int16_t>(value);
        case bit_UInt16: return std::holds_alternative<uint16_t>(value);
        case bit_Int32: return std::holds_alternative<int32_t>(value);
        case bit_UInt32: case bit_StatusCode: return std::holds_alternative<uint32_t>(value);
        case bit_Int64: return std::holds_alternative<int64_t>(value);
        case bit_UInt64: return std::holds_alternative<uint64_t>(value);
        case bit_Float: return std::holds_alternative<float>(value);
        case bit_Double: case bit_DateTime: return std::holds_alternative<double>(value);
        case bit_String: case bit_XmlElement: return std::holds_alternative<std::string>(value);
        case bit_Guid: return std::holds_alternative<uaGuid>(value);
        case bit_ByteString: return std::holds_alternative<uaByteString>(value);
        case bit_NodeId: return std::holds_alternative<uaNodeId>(value);
        case bit_ExpandedNodeId: return std::holds_alternative<uaExpandedNodeId>(value);
        case bit_QualifiedName: return std::holds_alternative<uaQualifiedName>(value);
        case bit_LocalizedText: return std::holds_alternative<uaLocalizedText>(value);
        case bit_ExtensionObject: return std::holds_alternative<uaExtensionObject>(value);
        case bit_DataValue: return std::holds_alternative<Box<uaDataValue>>(value);
        case bit_Variant: return std::holds_alternative<Box<uaVariant>>(value);
        case bit_DiagnosticInfo: return std::holds_alternative<Box<uaDiagnosticInfo>>(value);
    }
    return false;
}

uaVariant uaVariant::Scalar(uaBuildInType type, uaScalar value) {
    if (!HolderMatches(type, value)) throw Exception("The value does not fit the built-in type");
    uaVariant v;
    v.fType = {type, -1};
    v.fScalar = std::move(value);
    return v;
}

uaVariant uaVariant::Array(uaBuildInType type, std::vector<uaScalar> values) {
    for (const auto& value : values)
        if (!HolderMatches(type, value)) throw Exception("The value does not fit the built-in type");
    uaVariant v;
    v.fType = {type, 1};
    v.fArray = std::move(values);
    return v;
}

void uaVariant::SetDimensions(std::vector<int32_t> dimensions) {
    fDimensions = std::move(dimensions);
    fType.fValueRank = fDimensions.empty() ? 1 : 2;
}

}  // namespace vela::ua
