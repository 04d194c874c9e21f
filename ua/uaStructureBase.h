#pragma once
// What every generated UA structure shares: the enumeration base, the request and response
// bases, and the three generic operations that visit a structure's field list.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ua/uaBinaryEncoder.h"
#include "ua/uaObj.h"

namespace vela::ua {

// A UA enumeration value: Int32 on the wire.
struct uaEnum {
    int32_t fValue = 0;
    bool operator==(const uaEnum&) const = default;
};

using uaEnumText = const char* (*)(int32_t);
// The enumeration's text for the value, or "NONE " and the number.
std::string EnumText(uaEnumText text, int32_t value);

class uaRequestHeader;
class uaResponseHeader;

class TuaRequestObj : public TuaObj {
public:
    using TuaObj::TuaObj;
    virtual uaRequestHeader* GetRequestHeader() = 0;
};

class TuaResponseObj : public TuaObj {
public:
    using TuaObj::TuaObj;
    virtual uaResponseHeader* GetResponseHeader() = 0;
};

// Text forms of built-in values inside a structure's text.
std::string FieldText(bool v);
std::string FieldText(double v);
std::string FieldText(const std::string& v);
std::string FieldText(const uaByteString& v);
std::string FieldText(const uaVariant& v);
std::string FieldText(const uaDataValue& v);
std::string FieldText(const uaDiagnosticInfo& v);
template <typename T>
    requires std::is_integral_v<T>
std::string FieldText(T v) {
    return std::to_string(v);
}
template <typename T>
    requires requires(const T& t) { t.ToString(); }
std::string FieldText(const T& v) {
    return v.ToString();
}

struct FieldEncoder {
    TuaBinaryEncoder& e;
    template <typename T>
    void operator()(const char*, const T& value) {
        e.Write(value);
    }
    template <typename T>
    void operator()(const char*, const std::vector<T>& values) {
        e.WriteArray(values);
    }
    void DateTime(const char*, const vela::DateTime& value) { e.WriteDateTime(value); }
    void DateTimeArray(const char*, const std::vector<vela::DateTime>& values);
    void Enum(const char*, const int32_t& value, uaEnumText) { e.Write(value); }
    void EnumArray(const char*, const std::vector<int32_t>& values, uaEnumText) { e.WriteArray(values); }
};

template <typename T>
size_t MinEncodedSize();

// Sums the fewest bytes each field can take on the wire.
struct FieldMinSize {
    size_t total = 0;
    template <typename T>
    void operator()(const char*, const T&) {
        total += MinEncodedSize<T>();
    }
    template <typename T>
    void operator()(const char*, const std::vector<T>&) {
        total += 4;  // the null array
    }
    void DateTime(const char*, const vela::DateTime&) { total += 8; }
    void DateTimeArray(const char*, const std::vector<vela::DateTime>&) { total += 4; }
    void Enum(const char*, const int32_t&, uaEnumText) { total += 4; }
    void EnumArray(const char*, const std::vector<int32_t>&, uaEnumText) { total += 4; }
};

// The fewest bytes a value of T takes on the wire: for a structure, the sum over its fields.
template <typename T>
size_t MinEncodedSize() {
    if constexpr (std::is_base_of_v<TuaObj, T>) {
        static const size_t size = [] {
            T probe;
            FieldMinSize sum;
            probe.VisitFields(sum);
            return sum.total;
        }();
        return size;
    } else {
        static_assert(kMinEncodedSize<T> > 0, "a field type without a minimum encoded size");
        return kMinEncodedSize<T>;
    }
}

struct FieldDecoder {
    TuaBinaryDecoder& d;
    template <typename T>
    void operator()(const char*, T& value) {
        d.Read(value);
    }
    template <typename T>
    void operator()(const char*, std::vector<T>& values) {
        d.ReadArray(values, MinEncodedSize<T>());
    }
    void DateTime(const char*, vela::DateTime& value) { d.ReadDateTime(value); }
    void DateTimeArray(const char*, std::vector<vela::DateTime>& values);
    void Enum(const char*, int32_t& value, uaEnumText) { d.Read(value); }
    void EnumArray(const char*, std::vector<int32_t>& values, uaEnumText) { d.ReadArray(values); }
};

// The JSON-like text form: one "name":value line per field.
class FieldPrinter {
public:
    explicit FieldPrinter(const std::string& classId);
    template <typename T>
    void operator()(const char* name, const T& value) {
        Add(name, Value(value));
    }
    template <typename T>
    void operator()(const char* name, const std::vector<T>& values) {
        std::vector<std::string> items;
        items.reserve(values.size());
        for (const T& v : values) items.push_back(Value(v));
        Add(name, Array(items));
    }
    void DateTime(const char* name, const vela::DateTime& value);
    void DateTimeArray(const char* name, const std::vector<vela::DateTime>& values);
    void Enum(const char* name, const int32_t& value, uaEnumText text);
    void EnumArray(const char* name, const std::vector<int32_t>& values, uaEnumText text);
    std::string Finish();

private:
    template <typename T>
    static std::string Value(const T& value) {
        if constexpr (std::is_base_of_v<TuaObj, T>) return Nested(value.ToString());
        else return Nested(FieldText(value));
    }
    static std::string Nested(const std::string& text);
    static std::string Array(const std::vector<std::string>& items);
    void Add(const char* name, const std::string& value);

    std::string text_;
    bool first_ = true;
};

// The service registry: one row per message type the session sends or receives.
struct uaServiceInfo {
    int32_t ServiceId = 0;
    int32_t ResponseId = 0;
    std::function<std::unique_ptr<TuaObj>()> ClassType;
    std::function<void(TuaObj&)> Handler;
};

}  // namespace vela::ua

// The three operations every structure class declares; the generated .cpp defines them.
#define VELA_UA_STRUCTURE_OPERATIONS                                  \
    void Encode(::vela::ua::TuaBinaryEncoder& encoder) const override; \
    void Decode(::vela::ua::TuaBinaryDecoder& decoder) override;       \
    std::string ToString() const override;

namespace vela::ua {

// Decodes the binary body of a received extension object into a structure of a known class.
class TExtensionObjReader {
public:
    // Raises "Error Message: can only handle binary data" for other bodies and
    // "Error Message: wrong extension object types (received <> expected)" when the type id
    // names another structure.
    static void ReadObject(const uaExtensionObject& object, TuaObj& item, const uaDecodingLimits& limits = {});
    static void ReadObject(const uaVariant& holder, TuaObj& item, const uaDecodingLimits& limits = {});
};

}  // namespace vela::ua
