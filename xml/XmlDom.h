#pragma once
// A small XML document model in plain values, read and written through the platform's XML
// parser (MSXML 6 on Windows, libxml2 elsewhere). Callers never see the parser: they get a tree
// of elements they own, and hand one back to be written.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vela::xml {

// Malformed or refused input; the message says what and, where the parser knows, on which line.
class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct XmlAttribute {
    std::string name;          // as written, with its prefix ("xsi:type", "xmlns:s")
    std::string localName;     // without the prefix
    std::string namespaceUri;  // empty when none
    std::string value;         // UTF-8, entities resolved
};

struct XmlElement {
    std::string name;          // as written, with its prefix
    std::string localName;
    std::string namespaceUri;
    // In document order; namespace declarations included. Parsed trees list the declarations
    // first (libxml2 keeps them apart from the other attributes).
    std::vector<XmlAttribute> attributes;
    std::vector<XmlElement> children;      // child elements in document order
    std::string text;  // the element's own text and CDATA, concatenated (not that of its children)

    // The first child element with this local name, or null.
    const XmlElement* Child(std::string_view local) const;
    XmlElement* Child(std::string_view local);
    // The value of the first attribute with this local name, or null when there is none.
    const std::string* Attribute(std::string_view local) const;
    // Appends a child element with the given name and text and returns it.
    XmlElement& Add(std::string name, std::string text = {});
    void SetAttribute(std::string name, std::string value);
};

// Bounds on what a parse accepts; input beyond them is refused with XmlError, not truncated.
struct XmlLimits {
    size_t maxBytes = 64u << 20;
    size_t maxDepth = 256;
    size_t maxNodes = 4u << 20;  // elements and attributes together
};

// Parses a whole document (UTF-8, or any encoding its declaration names that the parser knows)
// and returns its root element. No DTDs are loaded and no external entities resolved; a document
// with a DOCTYPE is refused. Whitespace-only text of an element with child elements is layout
// and left out of its text.
XmlElement ParseXml(std::string_view bytes, const XmlLimits& limits = {});

// Writes a document: the XML declaration (version 1.0, UTF-8), then the tree, each element on a
// line of its own indented by two blanks per level. Elements with text and no children keep
// their text on their line; text is escaped as needed.
// Names are put in namespaces by the xmlns attributes of the tree (localName and namespaceUri are
// not read). A tree XML cannot carry is refused with XmlError: a name that is no XML name, an
// undeclared prefix, duplicate attributes, text that is not UTF-8 or has characters XML forbids.
std::string WriteXml(const XmlElement& root);

namespace detail {
// Shared by both back-ends, so that they accept, refuse and shape trees alike.
inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

// The prefix ("" when none) and the local part of a qualified name.
std::pair<std::string_view, std::string_view> SplitName(std::string_view name);
bool IsNamespaceDeclaration(std::string_view attributeName);
// Refuses empty input and input beyond the limits before a parser sees it.
void CheckInput(std::string_view bytes, const XmlLimits& limits);
// Whitespace-only text beside child elements only lays them out.
void DropLayoutText(XmlElement& element);

// The limits on a tree being read: depth of each element, elements and attributes together.
class TreeBudget {
public:
    explicit TreeBudget(const XmlLimits& limits) : limits_(limits) {}
    // An element at this depth (the root is 0); raises XmlError beyond the limits.
    void Element(size_t depth);
    // One more element or attribute; raises XmlError beyond the limit.
    void Count();

private:
    const XmlLimits& limits_;
    size_t nodes_ = 0;
};

// The namespaces in scope while a tree is written, from its xmlns attributes.
class WriteScope {
public:
    // Checks the element and brings its declarations into scope. Returns the namespace of the
    // element's name and, in attributeUris, that of each attribute (in order).
    std::string Enter(const XmlElement& element, std::vector<std::string>& attributeUris);
    void Leave();

private:
    std::string Resolve(std::string_view prefix, std::string_view name) const;
    std::vector<std::pair<std::string, std::string>> bindings_;  // prefix ("" default), URI
    std::vector<size_t> marks_;
};
}  // namespace detail

}  // namespace vela::xml
