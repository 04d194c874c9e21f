#include "xml/XmlDom.h"

#include <algorithm>
#include <climits>
#include <unordered_set>

#include "base/Utf.h"

namespace vela::xml {
namespace {

bool IsNameStart(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// The code points of well-formed UTF-8; false for anything else.
bool DecodeUtf8(std::string_view text, std::u32string& out) {
    const std::u16string wide = Utf8ToUtf16(text);
    // the conversion replaces what is ill-formed, so a faithful round trip proves well-formed input
    if (Utf16ToUtf8(wide) != text) return false;
    out.clear();
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        out.push_back(c);
    }
    return true;
}

bool IsNcName(std::string_view name) {
    std::u32string points;
    if (name.empty() || !DecodeUtf8(name, points)) return false;
    if (!IsNameStart(points.front())) return false;
    return std::all_of(points.begin() + 1, points.end(), IsNameChar);
}

void CheckName(std::string_view name) {
    const auto [prefix, local] = detail::SplitName(name);
    if (!IsNcName(local) || (name.size() != local.size() && !IsNcName(prefix)))
        throw XmlError("XML write: \"" + std::string(name) + "\" is not an XML name");
}

void CheckText(std::string_view text, std::string_view where) {
    if (text.empty()) return;
    std::u32string points;
    if (!DecodeUtf8(text, points)) throw XmlError("XML write: the text of " + std::string(where) + " is not UTF-8");
    for (const char32_t c : points) {
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
            throw XmlError("XML write: the text of " + std::string(where) + " has a character XML cannot carry");
    }
}

}  // namespace

const XmlElement* XmlElement::Child(std::string_view local) const {
    const auto found = std::find_if(children.begin(), children.end(),
                                    [&](const XmlElement& child) { return child.localName == local; });
    return found == children.end() ? nullptr : &*found;
}

XmlElement* XmlElement::Child(std::string_view local) {
    return const_cast<XmlElement*>(std::as_const(*this).Child(local));
}

const std::string* XmlElement::Attribute(std::string_view local) const {
    const auto found = std::find_if(attributes.begin(), attributes.end(),
                                    [&](const XmlAttribute& attribute) { return attribute.localName == local; });
    return found == attributes.end() ? nullptr : &found->value;
}

XmlElement& XmlElement::Add(std::string childName, std::string childText) {
    XmlElement& child = children.emplace_back();
    child.localName = detail::SplitName(childName).second;
    child.name = std::move(childName);
    child.text = std::move(childText);
    return child;
}

void XmlElement::SetAttribute(std::string attributeName, std::string attributeValue) {
    const auto same = std::find_if(attributes.begin(), attributes.end(),
                                   [&](const XmlAttribute& attribute) { return attribute.name == attributeName; });
    if (same != attributes.end()) {
        same->value = std::move(attributeValue);
        return;
    }
    XmlAttribute& attribute = attributes.emplace_back();
    const auto [prefix, local] = detail::SplitName(attributeName);
    attribute.localName = local;
    // the namespaces that need no declaration; others are only known in the finished tree
    if (detail::IsNamespaceDeclaration(attributeName)) attribute.namespaceUri = detail::kXmlnsNamespace;
    if (prefix == "xml") attribute.namespaceUri = detail::kXmlNamespace;
    attribute.name = std::move(attributeName);
    attribute.value = std::move(attributeValue);
}

namespace detail {

std::pair<std::string_view, std::string_view> SplitName(std::string_view name) {
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos) return {{}, name};
    return {name.substr(0, colon), name.substr(colon + 1)};
}

bool IsNamespaceDeclaration(std::string_view attributeName) {
    return attributeName == "xmlns" || attributeName.starts_with("xmlns:");
}

void CheckInput(std::string_view bytes, const XmlLimits& limits) {
    if (bytes.empty()) throw XmlError("XML error: the document is empty");
    // both parsers take the length as a 32-bit int
    if (bytes.size() > limits.maxBytes || bytes.size() > size_t{INT_MAX})
        throw XmlError("XML error: the document has " + std::to_string(bytes.size()) + " bytes, more than the " +
                       std::to_string(std::min(limits.maxBytes, size_t{INT_MAX})) + " allowed");
}

void DropLayoutText(XmlElement& element) {
    if (element.children.empty()) return;
    if (element.text.find_first_not_of(" \t\r\n") == std::string::npos) element.text.clear();
}

std::string WriteScope::Resolve(std::string_view prefix, std::string_view name) const {
    if (prefix == "xml") return std::string(kXmlNamespace);
    for (auto binding = bindings_.rbegin(); binding != bindings_.rend(); ++binding) {
        if (binding->first == prefix) return binding->second;
    }
    if (prefix.empty()) return {};
    throw XmlError("XML write: the prefix of \"" + std::string(name) + "\" is not declared");
}

std::string WriteScope::Enter(const XmlElement& element, std::vector<std::string>& attributeUris) {
    marks_.push_back(bindings_.size());
    CheckName(element.name);
    if (SplitName(element.name).first == "xmlns") throw XmlError("XML write: \"xmlns\" is no element prefix");
    CheckText(element.text, element.name);
    // declarations first: they apply to the element's own name and attributes wherever they stand
    for (const XmlAttribute& attribute : element.attributes) {
        if (!IsNamespaceDeclaration(attribute.name)) continue;
        CheckName(attribute.name);
        CheckText(attribute.value, attribute.name);
        const std::string_view prefix = attribute.name.size() > 5 ? std::string_view(attribute.name).substr(6) : "";
        const bool xmlPrefix = prefix == "xml";
        if (prefix == "xmlns" || attribute.value == kXmlnsNamespace ||
            xmlPrefix != (attribute.value == kXmlNamespace) || (!prefix.empty() && attribute.value.empty()))
            throw XmlError("XML write: " + attribute.name + "=\"" + attribute.value + "\" is no allowed declaration");
        bindings_.emplace_back(prefix, attribute.value);
    }
    attributeUris.clear();
    std::unordered_set<std::string> seen;
    for (const XmlAttribute& attribute : element.attributes) {
        const auto [prefix, local] = SplitName(attribute.name);
        std::string uri;
        if (IsNamespaceDeclaration(attribute.name)) {
            uri = kXmlnsNamespace;
        } else {
            CheckName(attribute.name);
            CheckText(attribute.value, attribute.name);
            // unprefixed attributes are in no namespace, whatever the default
            if (!prefix.empty()) uri = Resolve(prefix, attribute.name);
        }
        // the same name twice, or two prefixes of one namespace on the same local name
        if (!seen.insert(uri + '\n' + std::string(local)).second)
            throw XmlError("XML write: attribute \"" + attribute.name + "\" twice on \"" + element.name + "\"");
        attributeUris.push_back(std::move(uri));
    }
    return Resolve(SplitName(element.name).first, element.name);
}

void WriteScope::Leave() {
    bindings_.resize(marks_.back());
    marks_.pop_back();
}

void TreeBudget::Element(size_t depth) {
    if (depth > limits_.maxDepth)
        throw XmlError("XML error: elements nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    Count();
}

void TreeBudget::Count() {
    if (++nodes_ > limits_.maxNodes)
        throw XmlError("XML error: more than " + std::to_string(limits_.maxNodes) + " elements and attributes");
}

}  // namespace detail
}  // namespace vela::xml
