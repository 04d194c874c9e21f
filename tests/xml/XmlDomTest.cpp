#include "xml/XmlDom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <tuple>

namespace vela::xml {
namespace {

constexpr const char* kXsi = "http://www.w3.org/2001/XMLSchema-instance";

// Equal by meaning: attribute order aside, every field counts.
void ExpectSame(const XmlElement& expected, const XmlElement& actual, const std::string& path = "/") {
    const std::string where = path + expected.name;
    EXPECT_EQ(expected.name, actual.name) << where;
    EXPECT_EQ(expected.localName, actual.localName) << where;
    EXPECT_EQ(expected.namespaceUri, actual.namespaceUri) << where;
    EXPECT_EQ(expected.text, actual.text) << where;
    const auto sorted = [](std::vector<XmlAttribute> attributes) {
        std::vector<std::tuple<std::string, std::string, std::string, std::string>> fields;
        for (auto& a : attributes) fields.emplace_back(a.name, a.localName, a.namespaceUri, a.value);
        std::sort(fields.begin(), fields.end());
        return fields;
    };
    EXPECT_EQ(sorted(expected.attributes), sorted(actual.attributes)) << where;
    ASSERT_EQ(expected.children.size(), actual.children.size()) << where;
    for (size_t i = 0; i < expected.children.size(); ++i)
        ExpectSame(expected.children[i], actual.children[i], where + "/");
}

// A tree as the parser gives it, namespaces filled in by hand.
XmlElement NamespacedTree() {
    XmlElement root;
    root.name = root.localName = "Envelope";
    root.namespaceUri = "urn:default";
    root.SetAttribute("xmlns", "urn:default");
    root.SetAttribute("xmlns:s", "urn:s");
    root.SetAttribute("xmlns:xsi", kXsi);
    root.SetAttribute("plain", "a < b & \"c\" 'd' > e");
    XmlElement& body = root.Add("s:Body");
    body.namespaceUri = "urn:s";
    body.SetAttribute("s:id", "7");
    body.attributes.back().namespaceUri = "urn:s";
    XmlElement& value = body.Add("Value", "Grüße 漢字 € <&> \"quoted\" 'single' ]]>");
    value.namespaceUri = "urn:default";
    value.SetAttribute("xsi:type", "xsd:string");
    value.attributes.back().namespaceUri = kXsi;
    value.SetAttribute("xml:lang", "de");
    XmlElement& deep = body.Add("s:Deep");
    deep.namespaceUri = "urn:s";
    XmlElement& unqualified = deep.Add("Local", "  leading and trailing  ");
    unqualified.SetAttribute("xmlns", "");
    unqualified.Add("Inner").namespaceUri = "";
    root.Add("Empty").namespaceUri = "urn:default";
    return root;
}

TEST(XmlDomTest, RoundTripKeepsNamesNamespacesAttributesAndText) {
    const XmlElement tree = NamespacedTree();
    const std::string written = WriteXml(tree);
    // what both back-ends write, so each reads the other's
    EXPECT_EQ(
        written,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Envelope xmlns=\"urn:default\" xmlns:s=\"urn:s\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "plain=\"a &lt; b &amp; &quot;c&quot; 'd' &gt; e\">\n"
        "  <s:Body s:id=\"7\">\n"
        "    <Value xsi:type=\"xsd:string\" xml:lang=\"de\">Grüße 漢字 € &lt;&amp;&gt; \"quoted\" 'single' "
        "]]&gt;</Value>\n"
        "    <s:Deep>\n"
        "      <Local xmlns=\"\">  leading and trailing  <Inner/></Local>\n"
        "    </s:Deep>\n"
        "  </s:Body>\n"
        "  <Empty/>\n"
        "</Envelope>\n");
    const XmlElement parsed = ParseXml(written);
    ExpectSame(tree, parsed);
    // the parser's own tree writes to the same text again
    EXPECT_EQ(written, WriteXml(parsed));
    ASSERT_NE(parsed.Child("Body"), nullptr);
    EXPECT_EQ(*parsed.Child("Body")->Child("Value")->Attribute("type"), "xsd:string");
    EXPECT_EQ(parsed.Child("Missing"), nullptr);
    EXPECT_EQ(parsed.Attribute("missing"), nullptr);
}

// The exact layout, the same from both back-ends.
TEST(XmlDomTest, WritesOneElementPerLineIndentedByTwo) {
    XmlElement root;
    root.name = "root";
    root.SetAttribute("a", "x < & \"y\" >");
    root.Add("item", "Grüße <&>");
    root.Add("group").Add("empty");
    root.Add("mixed", "text").Add("inner").Add("deeper", "in");
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<root a=\"x &lt; &amp; &quot;y&quot; &gt;\">\n"
        "  <item>Grüße &lt;&amp;&gt;</item>\n"
        "  <group>\n"
        "    <empty/>\n"
        "  </group>\n"
        "  <mixed>text<inner><deeper>in</deeper></inner></mixed>\n"
        "</root>\n";
    EXPECT_EQ(WriteXml(root), expected);
}

TEST(XmlDomTest, ReadsTheEncodingTheDocumentDeclares) {
    const std::string utf16 = std::string("\xff\xfe<\0r\0>\0G\0r\0\xfc\0\xdf\0e\0<\0/\0r\0>\0", 26);
    const std::string cases[] = {
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>Gr\xfc\xdf"
        "e</r>",
        "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>Gr\xc3\xbc\xc3\x9f"
        "e</r>",
        utf16,
    };
    for (const std::string& bytes : cases) EXPECT_EQ(ParseXml(bytes).text, "Grüße") << bytes;
}

TEST(XmlDomTest, TextIsTheElementsOwnTextAndCdata) {
    const XmlElement root = ParseXml(
        "<r>\n"
        "  <a><![CDATA[<x> & y]]> tail &#x20AC;&amp;</a>\n"
        "  <b>  </b>\n"
        "  <c>one<d/>two<!-- note --><?pi data?>three</c>\n"
        "</r>\n");
    EXPECT_EQ(root.text, "");  // layout only
    ASSERT_EQ(root.children.size(), 3u);
    EXPECT_EQ(root.children[0].text, "<x> & y tail €&");
    EXPECT_EQ(root.children[1].text, "  ");
    EXPECT_EQ(root.children[2].text, "onetwothree");
    EXPECT_EQ(root.children[2].children.at(0).name, "d");
}

std::string Nested(size_t depth) {
    std::string text;
    for (size_t i = 0; i < depth; ++i) text += "<a>";
    for (size_t i = 0; i < depth; ++i) text += "</a>";
    return text;
}

TEST(XmlDomTest, RefusesBrokenAndOversizedInput) {
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    for (int level = 1; level <= 9; ++level) {
        laughs += "<!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) laughs += "&lol" + (level == 1 ? std::string() : std::to_string(level - 1)) + ";";
        laughs += "\">";
    }
    laughs += "]><r a=\"&lol9;\">&lol9;</r>";
    const XmlLimits bytes{.maxBytes = 20}, depth{.maxDepth = 3}, nodes{.maxNodes = 4};
    struct Case {
        const char* what;
        std::string bytes;
        XmlLimits limits;
        bool accepted;
    };
    const Case cases[] = {
        {"unclosed tag", "<r>\n<a>\n</r>", {}, false},
        {"empty input", "", {}, false},
        {"no XML", "hello", {}, false},
        {"two roots", "<r/><r/>", {}, false},
        {"undeclared entity", "<r>&foo;</r>", {}, false},
        {"undeclared prefix", "<r><p:x/></r>", {}, false},
        {"billion laughs", laughs, {}, false},
        {"plain DOCTYPE", "<!DOCTYPE r><r/>", {}, false},
        {"external entity", "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>", {}, false},
        {"at the byte limit", "<r>0123456789012</r>", bytes, true},
        {"beyond the byte limit", "<r>01234567890123</r>", bytes, false},
        {"at the depth limit", Nested(3), depth, true},
        {"beyond the depth limit", Nested(4), depth, false},
        {"far beyond the parser's depth", Nested(100000), {}, false},
        {"at the node limit", "<r a='1' b='2'><c/></r>", nodes, true},
        {"beyond the node limit", "<r a='1' b='2'><c/><d/></r>", nodes, false},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        if (c.accepted) {
            EXPECT_NO_THROW(ParseXml(c.bytes, c.limits)) << c.what;
        } else {
            try {
                ParseXml(c.bytes, c.limits);
                ADD_FAILURE() << c.what << ": accepted";
            } catch (const XmlError& e) {
                EXPECT_EQ(std::string(e.what()).rfind("XML error", 0), 0u) << c.what << ": " << e.what();
            }
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
    }
#ifndef _WIN32
    // Wine's MSXML reports neither line nor cause
    try {
        ParseXml("<r>\n<a>\n</r>");
    } catch (const XmlError& e) {
        EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
    }
#endif
}

TEST(XmlDomTest, RefusesToWriteWhatXmlCannotCarry) {
    const auto tree = [](std::string name, std::string text, std::string attribute) {
        XmlElement root;
        root.name = std::move(name);
        root.text = std::move(text);
        if (!attribute.empty()) root.SetAttribute(std::move(attribute), "v");
        return root;
    };
    XmlElement twice = tree("r", "", "a");
    twice.attributes.push_back(twice.attributes.back());
    XmlElement samePlace = tree("r", "", "p:a");
    samePlace.SetAttribute("xmlns:p", "urn:x");
    samePlace.SetAttribute("xmlns:q", "urn:x");
    samePlace.SetAttribute("q:a", "w");
    const XmlElement cases[] = {
        tree("p:r", "", ""),
        tree("r", "", "p:a"),
        tree("a b", "", ""),
        tree("1r", "", ""),
        tree("r", "", "a<"),
        tree("r", "\x01", ""),
        tree("r", "\xc3", ""),
        tree("", "", ""),
        tree("r", "", "xmlns:xml"),
        twice,
        samePlace,
    };
    for (const XmlElement& c : cases) EXPECT_THROW(WriteXml(c), XmlError) << c.name << " " << c.text;
    // the prefix xml needs no declaration
    EXPECT_EQ(*ParseXml(WriteXml(tree("r", "", "xml:lang"))).Attribute("lang"), "v");
}

}  // namespace
}  // namespace vela::xml
