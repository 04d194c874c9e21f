// The MSXML 6 back-end of the XML model: DOMDocument60 reads, MXXMLWriter60 writes.
#include <windows.h>
#include <ole2.h>
#include <msxml2.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/Utf.h"
#include "xml/XmlDom.h"

namespace vela::xml {
namespace {

// mingw has no msxml6.h: the identities of the MSXML 6 classes and of the interfaces its
// import library lacks.
constexpr GUID kClsidDomDocument60{0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr GUID kClsidMxXmlWriter60{0x88d96a0f, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr GUID kClsidSaxAttributes60{0x88d96a0e, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr GUID kIidDomDocument2{0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
constexpr GUID kIidMxWriter{0x4d7ff4ba, 0x1565, 0x4ea8, {0x94, 0xe1, 0x6e, 0x72, 0x4a, 0x46, 0xf9, 0x8d}};
constexpr GUID kIidSaxContentHandler{0x1545cdfa, 0x9e4e, 0x4497, {0xa8, 0xa4, 0x2b, 0xf7, 0xd0, 0x11, 0x2c, 0x44}};
constexpr GUID kIidMxAttributes{0xf10d27cc, 0x3ec0, 0x415c, {0x8e, 0xd8, 0x77, 0xab, 0x1c, 0x5e, 0x72, 0x62}};
constexpr GUID kIidSaxAttributes{0xf078abe1, 0x45d2, 0x4832, {0x91, 0xea, 0x44, 0x66, 0xce, 0x2f, 0x25, 0xc9}};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (!b_) throw XmlError("XML: out of memory");
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    BSTR Get() const { return b_; }
    BSTR* Put() {
        SysFreeString(std::exchange(b_, nullptr));
        return &b_;
    }
    std::wstring_view View() const { return {b_ ? b_ : L"", b_ ? SysStringLen(b_) : 0u}; }
    std::string Utf8() const { return WideToUtf8(View()); }

private:
    BSTR b_ = nullptr;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v_); }
    VARIANT* operator&() { return &v_; }
    VARIANT& Get() { return v_; }

private:
    VARIANT v_;
};

// COM for the length of one call when the thread has none; a thread already in the MTA serves
// as well (RPC_E_CHANGED_MODE).
class ComApartment {
public:
    ComApartment() : owned_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (owned_) CoUninitialize();
    }

private:
    bool owned_;
};

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(hr));
        throw XmlError(std::string("XML: ") + what + " failed (" + code + ")");
    }
}

template <typename T>
ComPtr<T> Create(const GUID& clsid, const GUID& iid, const char* what) {
    ComPtr<T> object;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.PutVoid()), what);
    return object;
}

void SetProperty(IXMLDOMDocument2* doc, const wchar_t* name, VARIANT value) {
    const Bstr property(name);
    // a property the MSXML at hand does not know is no reason to stop: what matters is checked
    // after loading
    (void)doc->setProperty(property.Get(), value);
}

VARIANT Bool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

std::string ParseFailure(IXMLDOMDocument2* doc) {
    ComPtr<IXMLDOMParseError> error;
    Bstr reason;
    long line = 0;
    if (SUCCEEDED(doc->get_parseError(error.Put())) && error) {
        (void)error->get_reason(reason.Put());
        (void)error->get_line(&line);
    }
    std::string text = reason.Utf8();
    while (!text.empty() && std::strchr(" \r\n", text.back())) text.pop_back();
    if (text.empty()) text = "the document is not well-formed";
    // Wine's MSXML names neither line nor cause
    return line > 0 ? "XML error at line " + std::to_string(line) + ": " + text : "XML error: " + text;
}

class TreeReader {
public:
    explicit TreeReader(const XmlLimits& limits) : budget_(limits) {}

    // defaultUri: the default namespace in scope, to restore declarations MSXML did not report
    XmlElement Read(IXMLDOMNode* node, size_t depth, const std::string& defaultUri) {
        budget_.Element(depth);
        XmlElement element;
        Bstr name, local, uri;
        Check(node->get_nodeName(name.Put()), "reading a name");
        (void)node->get_baseName(local.Put());
        (void)node->get_namespaceURI(uri.Put());
        element.name = name.Utf8();
        element.localName = local.Utf8();
        element.namespaceUri = uri.Utf8();
        const std::string_view prefix = detail::SplitName(element.name).first;
        // Wine's MSXML takes an undeclared prefix for a name without namespace
        if (!prefix.empty() && element.namespaceUri.empty())
            throw XmlError("XML error: the prefix of \"" + element.name + "\" is not declared");
        ReadAttributes(node, element);
        std::string inScope = defaultUri;
        for (const XmlAttribute& attribute : element.attributes) {
            if (attribute.name == "xmlns") inScope = attribute.value;
        }
        // Wine's MSXML hides default namespace declarations; the element's own namespace tells
        if (prefix.empty() && element.namespaceUri != inScope) {
            element.attributes.insert(
                element.attributes.begin(),
                XmlAttribute{"xmlns", "xmlns", std::string(detail::kXmlnsNamespace), element.namespaceUri});
            inScope = element.namespaceUri;
        }
        ComPtr<IXMLDOMNode> child;
        (void)node->get_firstChild(child.Put());
        while (child) {
            DOMNodeType type = NODE_INVALID;
            (void)child->get_nodeType(&type);
            if (type == NODE_ELEMENT) {
                element.children.push_back(Read(child.Get(), depth + 1, inScope));
            } else if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
                Variant value;
                if (SUCCEEDED(child->get_nodeValue(&value)) && value.Get().vt == VT_BSTR)
                    element.text += WideToUtf8({value.Get().bstrVal, SysStringLen(value.Get().bstrVal)});
            }
            ComPtr<IXMLDOMNode> next;
            (void)child->get_nextSibling(next.Put());
            child = std::move(next);
        }
        detail::DropLayoutText(element);
        return element;
    }

private:
    void ReadAttributes(IXMLDOMNode* node, XmlElement& element) {
        ComPtr<IXMLDOMNamedNodeMap> map;
        if (FAILED(node->get_attributes(map.Put())) || !map) return;
        long count = 0;
        (void)map->get_length(&count);
        for (long i = 0; i < count; ++i) {
            ComPtr<IXMLDOMNode> item;
            // Wine counts a default namespace declaration but fails to hand it out
            if (FAILED(map->get_item(i, item.Put())) || !item) continue;
            budget_.Count();
            XmlAttribute attribute;
            Bstr name, local, uri;
            Variant value;
            Check(item->get_nodeName(name.Put()), "reading an attribute");
            (void)item->get_baseName(local.Put());
            (void)item->get_namespaceURI(uri.Put());
            (void)item->get_nodeValue(&value);
            attribute.name = name.Utf8();
            attribute.localName = local.Utf8();
            attribute.namespaceUri = uri.Utf8();
            if (value.Get().vt == VT_BSTR)
                attribute.value = WideToUtf8({value.Get().bstrVal, SysStringLen(value.Get().bstrVal)});
            const auto [prefix, localPart] = detail::SplitName(attribute.name);
            if (detail::IsNamespaceDeclaration(attribute.name)) {
                // also how Wine's MSXML marks a prefix used without declaration
                if (!prefix.empty() && attribute.value.empty())
                    throw XmlError("XML error: the prefix \"" + std::string(localPart) + "\" is not declared");
                attribute.localName = localPart;
                attribute.namespaceUri = detail::kXmlnsNamespace;
            } else if (!prefix.empty() && attribute.namespaceUri.empty()) {
                throw XmlError("XML error: the prefix of \"" + attribute.name + "\" is not declared");
            }
            element.attributes.push_back(std::move(attribute));
        }
        // the order libxml2 gives, so that both back-ends return the same tree
        std::stable_partition(element.attributes.begin(), element.attributes.end(), [](const XmlAttribute& attribute) {
            return detail::IsNamespaceDeclaration(attribute.name);
        });
    }

    detail::TreeBudget budget_;
};

// Feeds the tree to MXXMLWriter as SAX events; the writer escapes, the layout is ours (its own
// indenting uses tabs and CRLF).
class TreeWriter {
public:
    TreeWriter()
        : writer_(Create<IMXWriter>(kClsidMxXmlWriter60, kIidMxWriter, "creating MXXMLWriter60")),
          attributes_(Create<IMXAttributes>(kClsidSaxAttributes60, kIidMxAttributes, "creating SAXAttributes60")) {
        Check(writer_->QueryInterface(kIidSaxContentHandler, handler_.PutVoid()), "writing XML");
        Check(attributes_->QueryInterface(kIidSaxAttributes, saxAttributes_.PutVoid()), "writing XML");
        Check(writer_->put_omitXMLDeclaration(VARIANT_TRUE), "writing XML");
        Check(writer_->put_indent(VARIANT_FALSE), "writing XML");
    }

    std::string Write(const XmlElement& root) {
        Check(handler_->startDocument(), "writing XML");
        Element(root, 0, true);
        Check(handler_->endDocument(), "writing XML");
        Variant output;
        Check(writer_->get_output(&output), "writing XML");
        if (output.Get().vt != VT_BSTR) throw XmlError("XML write: MXXMLWriter gave no text");
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" +
               WideToUtf8({output.Get().bstrVal, SysStringLen(output.Get().bstrVal)}) + "\n";
    }

private:
    // layout: whether whitespace may be added here; never inside mixed content, as libxml2 does
    void Element(const XmlElement& element, size_t depth, bool layout) {
        std::vector<std::string> attributeUris;
        const std::wstring uri = Utf8ToWide(scope_.Enter(element, attributeUris));
        const std::wstring name = Utf8ToWide(element.name);
        const std::wstring local = Utf8ToWide(detail::SplitName(element.name).second);
        Check(attributes_->clear(), "writing XML");
        for (size_t i = 0; i < element.attributes.size(); ++i) {
            const XmlAttribute& attribute = element.attributes[i];
            const Bstr attributeUri(Utf8ToWide(attributeUris[i]));
            const Bstr attributeLocal(Utf8ToWide(detail::SplitName(attribute.name).second));
            const Bstr attributeName(Utf8ToWide(attribute.name));
            const Bstr type(L"CDATA");
            const Bstr value(Utf8ToWide(attribute.value));
            Check(attributes_->addAttribute(attributeUri.Get(), attributeLocal.Get(), attributeName.Get(), type.Get(),
                                            value.Get()),
                  "writing an attribute");
        }
        Check(handler_->startElement(uri.c_str(), Length(uri), local.c_str(), Length(local), name.c_str(), Length(name),
                                     saxAttributes_.Get()),
              "writing an element");
        if (!element.text.empty()) Characters(Utf8ToWide(element.text));
        if (!element.children.empty()) {
            layout = layout && element.text.empty();
            for (const XmlElement& child : element.children) {
                if (layout) Characters(L"\n" + std::wstring(2 * (depth + 1), L' '));
                Element(child, depth + 1, layout);
            }
            if (layout) Characters(L"\n" + std::wstring(2 * depth, L' '));
        }
        Check(handler_->endElement(uri.c_str(), Length(uri), local.c_str(), Length(local), name.c_str(), Length(name)),
              "writing an element");
        scope_.Leave();
    }

    void Characters(const std::wstring& text) {
        Check(handler_->characters(text.c_str(), Length(text)), "writing text");
    }

    static int Length(const std::wstring& text) {
        if (text.size() > size_t{INT_MAX}) throw XmlError("XML write: text too long");
        return static_cast<int>(text.size());
    }

    ComPtr<IMXWriter> writer_;
    ComPtr<IMXAttributes> attributes_;
    ComPtr<ISAXContentHandler> handler_;
    ComPtr<ISAXAttributes> saxAttributes_;
    detail::WriteScope scope_;
};

}  // namespace

XmlElement ParseXml(std::string_view bytes, const XmlLimits& limits) {
    detail::CheckInput(bytes, limits);
    const ComApartment apartment;
    const auto doc = Create<IXMLDOMDocument2>(kClsidDomDocument60, kIidDomDocument2, "creating DOMDocument60");
    Check(doc->put_async(VARIANT_FALSE), "setting up MSXML");
    Check(doc->put_validateOnParse(VARIANT_FALSE), "setting up MSXML");
    Check(doc->put_resolveExternals(VARIANT_FALSE), "setting up MSXML");
    // whitespace is sorted out below, alike for both back-ends
    Check(doc->put_preserveWhiteSpace(VARIANT_TRUE), "setting up MSXML");
    SetProperty(doc.Get(), L"ProhibitDTD", Bool(true));
    SetProperty(doc.Get(), L"ResolveExternals", Bool(false));
    Variant depth;
    depth.Get().vt = VT_I4;
    depth.Get().lVal = static_cast<LONG>(std::min<size_t>(limits.maxDepth + 1, LONG_MAX));
    SetProperty(doc.Get(), L"MaxElementDepth", depth.Get());

    // bytes, not a string, so that the parser honours the encoding the document declares
    Variant source;
    source.Get().parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!source.Get().parray) throw XmlError("XML error: out of memory");
    source.Get().vt = VT_ARRAY | VT_UI1;
    void* data = nullptr;
    Check(SafeArrayAccessData(source.Get().parray, &data), "loading XML");
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(source.Get().parray);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = doc->load(source.Get(), &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE) throw XmlError(ParseFailure(doc.Get()));

    // Wine's MSXML takes a DOCTYPE in spite of ProhibitDTD
    ComPtr<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(doc->get_doctype(doctype.Put())) && doctype) throw XmlError("XML error: a DOCTYPE is not allowed");
    ComPtr<IXMLDOMElement> root;
    if (FAILED(doc->get_documentElement(root.Put())) || !root) throw XmlError("XML error: no root element");
    TreeReader reader(limits);
    return reader.Read(root.Get(), 1, {});
}

std::string WriteXml(const XmlElement& root) {
    const ComApartment apartment;
    return TreeWriter().Write(root);
}

}  // namespace vela::xml
