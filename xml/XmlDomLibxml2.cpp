// The libxml2 back-end of the XML model.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>

#include "xml/XmlDom.h"

namespace vela::xml {
namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct BufferFree {
    void operator()(xmlChar* bytes) const { xmlFree(bytes); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;
using Context = std::unique_ptr<xmlParserCtxt, ContextFree>;
using Buffer = std::unique_ptr<xmlChar, BufferFree>;

const xmlChar* Xml(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}
std::string Text(const xmlChar* text) {
    return text ? reinterpret_cast<const char*>(text) : "";
}

void InitialiseOnce() {
    // libxml2 sets up its tables on first use, which is not safe from two threads at once
    [[maybe_unused]] static const bool initialised = [] {
        xmlInitParser();
        return true;
    }();
}

// What the parser's callbacks report back, reached through the context's _private.
struct ParseState {
    std::string firstError;
    int errorLine = 0;
    bool doctype = false;
};

ParseState& StateOf(void* context) {
    return *static_cast<ParseState*>(static_cast<xmlParserCtxt*>(context)->_private);
}

void OnError(void* context, xmlError* error) {
    ParseState& state = StateOf(context);
    if (error->level < XML_ERR_ERROR || !state.firstError.empty()) return;
    state.firstError = error->message ? error->message : "unknown error";
    while (!state.firstError.empty() && (state.firstError.back() == '\n' || state.firstError.back() == ' '))
        state.firstError.pop_back();
    state.errorLine = error->line;
}

// Called before the internal subset is read: stopping here leaves no entity to expand.
void OnDoctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    StateOf(context).doctype = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(context));
}

class TreeReader {
public:
    explicit TreeReader(const XmlLimits& limits) : budget_(limits) {}

    XmlElement Read(const xmlNode* node, size_t depth) {
        budget_.Element(depth);
        XmlElement element;
        element.localName = Text(node->name);
        element.name =
            node->ns && node->ns->prefix ? Text(node->ns->prefix) + ':' + element.localName : element.localName;
        if (node->ns) element.namespaceUri = Text(node->ns->href);
        for (const xmlNs* ns = node->nsDef; ns; ns = ns->next) {
            budget_.Count();
            XmlAttribute& declaration = element.attributes.emplace_back();
            declaration.localName = ns->prefix ? Text(ns->prefix) : "xmlns";
            declaration.name = ns->prefix ? "xmlns:" + declaration.localName : "xmlns";
            declaration.namespaceUri = detail::kXmlnsNamespace;
            declaration.value = Text(ns->href);
        }
        for (const xmlAttr* property = node->properties; property; property = property->next) {
            budget_.Count();
            XmlAttribute& attribute = element.attributes.emplace_back();
            attribute.localName = Text(property->name);
            attribute.name = property->ns && property->ns->prefix
                                 ? Text(property->ns->prefix) + ':' + attribute.localName
                                 : attribute.localName;
            if (property->ns) attribute.namespaceUri = Text(property->ns->href);
            const Buffer value(xmlNodeListGetString(node->doc, property->children, 1));
            attribute.value = Text(value.get());
        }
        for (const xmlNode* child = node->children; child; child = child->next) {
            if (child->type == XML_ELEMENT_NODE) {
                element.children.push_back(Read(child, depth + 1));
            } else if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
                element.text += Text(child->content);
            }
        }
        detail::DropLayoutText(element);
        return element;
    }

private:
    detail::TreeBudget budget_;
};

class TreeWriter {
public:
    explicit TreeWriter(xmlDoc* doc) : doc_(doc) {}

    // The node is linked to its parent before its names are resolved: xmlSearchNs looks upwards.
    void Write(const XmlElement& element, xmlNode* parent) {
        std::vector<std::string> attributeUris;
        const std::string uri = scope_.Enter(element, attributeUris);
        const auto [prefix, local] = detail::SplitName(element.name);
        xmlNode* node = xmlNewDocNode(doc_, nullptr, Xml(std::string(local)), nullptr);
        if (!node) throw XmlError("XML write: out of memory");
        if (parent) {
            xmlAddChild(parent, node);
        } else {
            xmlDocSetRootElement(doc_, node);
        }
        for (const XmlAttribute& attribute : element.attributes) {
            if (!detail::IsNamespaceDeclaration(attribute.name)) continue;
            const auto declared = detail::SplitName(attribute.name);
            // libxml2 declares the xml prefix itself and refuses to do it again
            if (declared.first == "xmlns" && declared.second == "xml") continue;
            const std::string name(declared.second);
            xmlNewNs(node, Xml(attribute.value), declared.first.empty() ? nullptr : Xml(name));
        }
        if (!uri.empty()) xmlSetNs(node, Find(node, prefix));
        for (size_t i = 0; i < element.attributes.size(); ++i) {
            const XmlAttribute& attribute = element.attributes[i];
            if (detail::IsNamespaceDeclaration(attribute.name)) continue;
            const auto [attributePrefix, attributeLocal] = detail::SplitName(attribute.name);
            xmlNs* ns = attributeUris[i].empty() ? nullptr : Find(node, attributePrefix);
            if (!xmlNewNsProp(node, ns, Xml(std::string(attributeLocal)), Xml(attribute.value)))
                throw XmlError("XML write: out of memory");
        }
        if (!element.text.empty())
            xmlAddChild(node, xmlNewDocTextLen(doc_, Xml(element.text), static_cast<int>(element.text.size())));
        for (const XmlElement& child : element.children) Write(child, node);
        scope_.Leave();
    }

private:
    xmlNs* Find(xmlNode* node, std::string_view prefix) {
        xmlNs* ns = xmlSearchNs(doc_, node, prefix.empty() ? nullptr : Xml(std::string(prefix)));
        if (!ns) throw XmlError("XML write: no namespace for prefix \"" + std::string(prefix) + "\"");
        return ns;
    }

    xmlDoc* doc_;
    detail::WriteScope scope_;
};

}  // namespace

XmlElement ParseXml(std::string_view bytes, const XmlLimits& limits) {
    detail::CheckInput(bytes, limits);
    InitialiseOnce();
    const Context context(xmlNewParserCtxt());
    if (!context || !context->sax) throw XmlError("XML error: out of memory");
    ParseState state;
    context->_private = &state;
    context->sax->serror = OnError;
    context->sax->internalSubset = OnDoctype;
    // no XML_PARSE_NOENT, DTDLOAD or HUGE: entities stay unexpanded, nothing is fetched, and the
    // parser keeps its own bounds on depth and sizes
    const int options = XML_PARSE_NONET | XML_PARSE_NOCDATA;
    const Doc doc(
        xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, options));
    if (state.doctype) throw XmlError("XML error: a DOCTYPE is not allowed");
    if (!doc || !context->wellFormed || !context->nsWellFormed || !state.firstError.empty()) {
        if (state.firstError.empty()) throw XmlError("XML error: the document is not well-formed");
        throw XmlError("XML error at line " + std::to_string(state.errorLine) + ": " + state.firstError);
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (doc->intSubset || doc->extSubset) throw XmlError("XML error: a DOCTYPE is not allowed");
    if (!root) throw XmlError("XML error: no root element");
    TreeReader reader(limits);
    return reader.Read(root, 1);
}

std::string WriteXml(const XmlElement& root) {
    InitialiseOnce();
    const Doc doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (!doc) throw XmlError("XML write: out of memory");
    TreeWriter(doc.get()).Write(root, nullptr);
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &bytes, &size, "UTF-8", 1);
    const Buffer owned(bytes);
    if (!owned || size < 0) throw XmlError("XML write: out of memory");
    return std::string(reinterpret_cast<const char*>(owned.get()), static_cast<size_t>(size));
}

}  // namespace vela::xml
