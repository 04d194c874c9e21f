// Documents from the network become trees: parsing anything must give a tree or an XmlError,
// never a crash, a hang or a huge allocation; whatever parses must write, and read back as the
// same tree.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/XmlDom.h"

namespace {

bool Same(const vela::xml::XmlElement& a, const vela::xml::XmlElement& b) {
    if (a.name != b.name || a.localName != b.localName || a.namespaceUri != b.namespaceUri || a.text != b.text ||
        a.attributes.size() != b.attributes.size() || a.children.size() != b.children.size())
        return false;
    for (size_t i = 0; i < a.attributes.size(); ++i) {
        const auto& x = a.attributes[i];
        const auto& y = b.attributes[i];
        if (x.name != y.name || x.localName != y.localName || x.namespaceUri != y.namespaceUri || x.value != y.value)
            return false;
    }
    for (size_t i = 0; i < a.children.size(); ++i) {
        if (!Same(a.children[i], b.children[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela::xml;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const XmlLimits limits{.maxBytes = 64 * 1024, .maxDepth = 32, .maxNodes = 2000};
    XmlElement tree;
    try {
        tree = ParseXml(bytes, limits);
    } catch (const XmlError&) {
        return 0;
    }
    // our own output is no untrusted input: any refusal from here on is a finding
    try {
        if (!Same(tree, ParseXml(WriteXml(tree)))) __builtin_trap();
    } catch (const XmlError&) {
        __builtin_trap();
    }
    return 0;
}
