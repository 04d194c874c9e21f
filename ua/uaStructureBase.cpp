#include "ua/uaStructureBase.h"

#include "base/Variant.h"
#include "ua/uaVariantConvert.h"

namespace vela::ua {

std::string EnumText(uaEnumText text, int32_t value) {
    const char* known = text ? text(value) : nullptr;
    return known ? std::string(known) : "NONE " + std::to_string(value);
}

std::string FieldText(bool v) { return v ? "True" : "False"; }
std::string FieldText(double v) { return Variant(v).ToString(); }
std::string FieldText(const std::string& v) { return v; }

std::string FieldText(const uaByteString& v) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(v.size() * 2);
    for (uint8_t b : v) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

std::string FieldText(const uaVariant& v) { return VariantText(v); }
std::string FieldText(const uaDataValue& v) { return v.fValue ? VariantText(*v.fValue) : std::string(); }

std::string FieldText(const uaDiagnosticInfo& v) {
    return v.fAdditionalInfo.empty() && v.fInnerStatusCode == 0 ? std::string()
                                                                 : v.fAdditionalInfo + " " + std::to_string(v.fInnerStatusCode);
}

void FieldEncoder::DateTimeArray(const char*, const std::vector<vela::DateTime>& values) {
    if (values.empty()) {
        e.Write(int32_t{-1});
        return;
    }
    e.Write(static_cast<int32_t>(values.size()));
    for (vela::DateTime v : values) e.WriteDateTime(v);
}

void FieldDecoder::DateTimeArray(const char*, std::vector<vela::DateTime>& values) {
    const size_t n = d.ReadArrayLength(8);
    values.assign(n, 0.0);
    for (vela::DateTime& v : values) d.ReadDateTime(v);
}

FieldPrinter::FieldPrinter(const std::string& classId) : text_("{\"ClassId\":\"" + classId + "\"") {}

std::string FieldPrinter::Nested(const std::string& text) {
    if (!text.empty() && text.front() == '{') return text;
    return "\"" + text + "\"";
}

std::string FieldPrinter::Array(const std::vector<std::string>& items) {
    if (items.empty()) return "[\"\"]";
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) text += ",\r\n";
        text += items[i];
    }
    return text + "]";
}

void FieldPrinter::Add(const char* name, const std::string& value) {
    text_ += ",\r\n\"";
    text_ += name;
    text_ += "\":";
    text_ += value;
}

void FieldPrinter::DateTime(const char* name, const vela::DateTime& value) {
    Add(name, Nested(Variant::FromDate(value).ToString()));
}

void FieldPrinter::DateTimeArray(const char* name, const std::vector<vela::DateTime>& values) {
    std::vector<std::string> items;
    for (vela::DateTime v : values) items.push_back(Nested(Variant::FromDate(v).ToString()));
    Add(name, Array(items));
}

void FieldPrinter::Enum(const char* name, const int32_t& value, uaEnumText text) {
    Add(name, Nested(EnumText(text, value)));
}

void FieldPrinter::EnumArray(const char* name, const std::vector<int32_t>& values, uaEnumText text) {
    std::vector<std::string> items;
    for (int32_t v : values) items.push_back(Nested(EnumText(text, v)));
    Add(name, Array(items));
}

std::string FieldPrinter::Finish() { return text_ + "\r\n}\r\n"; }

}  // namespace vela::ua

namespace vela::ua {

void TExtensionObjReader::ReadObject(const uaExtensionObject& object, TuaObj& item, const uaDecodingLimits& limits) {
    if (object.fEncoding != uaExtensionObject::eo_BinaryBody) throw Exception("Error Message: can only handle binary data");
    if (object.fTypeId) {
        const uaNodeId& id = object.fTypeId->fNodeId;
        const int64_t received = id.IdentifierType() == itNumeric ? static_cast<int64_t>(id.IdAsNumber()) : 0;
        if (received != item.fObjNo)
            throw Exception("Error Message: wrong extension object types (" + std::to_string(received) + " <> " +
                            std::to_string(item.fObjNo) + ")");
        item.fNameSpaceIndex = id.fNameSpaceIndex;
    }
    TuaBinaryDecoder decoder(object.fBinaryBody, limits);
    decoder.Read(item);
}

void TExtensionObjReader::ReadObject(const uaVariant& holder, TuaObj& item, const uaDecodingLimits& limits) {
    if (holder.IsArray() || holder.fType.fBuildInType != bit_ExtensionObject)
        throw Exception("Error Message: can only handle binary data");
    ReadObject(std::get<uaExtensionObject>(holder.fScalar), item, limits);
}

}  // namespace vela::ua
