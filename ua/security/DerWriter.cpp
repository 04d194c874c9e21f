#include "ua/security/DerWriter.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>

#include "base/Exception.h"

namespace vela::ua::security {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw Exception("DER Error: " + what); }

void AppendLength(Bytes& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t octets[sizeof(size_t)];
    size_t count = 0;
    for (size_t v = length; v; v >>= 8) octets[count++] = static_cast<uint8_t>(v);
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count > 0) out.push_back(octets[--count]);
}

Bytes Concatenated(std::span<const Bytes> items) {
    size_t total = 0;
    for (const Bytes& item : items) total += item.size();
    Bytes content;
    content.reserve(total);
    for (const Bytes& item : items) content.insert(content.end(), item.begin(), item.end());
    return content;
}

std::span<const uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

bool IsPrintableStringChar(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view(" '()+,-./:=?").find(c) != std::string_view::npos;
}

// The length of one UTF-8 sequence at text[i], 0 when it is malformed or overlong.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    uint32_t code;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) length = 2, code = lead & 0x1Fu;
    else if ((lead & 0xF0) == 0xE0) length = 3, code = lead & 0x0Fu;
    else if ((lead & 0xF8) == 0xF0) length = 4, code = lead & 0x07u;
    else return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

Bytes DerElement(uint8_t tag, std::span<const uint8_t> content) {
    if ((tag & 0x1F) == 0x1F) Fail("multi-byte tags are not supported");
    Bytes out;
    out.reserve(content.size() + 6);
    out.push_back(tag);
    AppendLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes DerSequence(std::span<const Bytes> items) { return DerElement(der::kSequence, Concatenated(items)); }

Bytes DerSequence(std::initializer_list<Bytes> items) { return DerSequence(std::span(items.begin(), items.size())); }

Bytes DerSet(std::span<const Bytes> items) {
    // X.690 11.6: compared as octet strings, the shorter one padded with zero octets at its end
    std::vector<const Bytes*> sorted;
    for (const Bytes& item : items) sorted.push_back(&item);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Bytes* a, const Bytes* b) {
        const size_t n = std::max(a->size(), b->size());
        for (size_t i = 0; i < n; ++i) {
            const uint8_t x = i < a->size() ? (*a)[i] : 0, y = i < b->size() ? (*b)[i] : 0;
            if (x != y) return x < y;
        }
        return false;
    });
    Bytes content;
    for (const Bytes* item : sorted) content.insert(content.end(), item->begin(), item->end());
    return DerElement(der::kSet, content);
}

Bytes DerSet(std::initializer_list<Bytes> items) { return DerSet(std::span(items.begin(), items.size())); }

Bytes DerInteger(std::span<const uint8_t> value) {
    while (value.size() > 1 && value[0] == 0) value = value.subspan(1);
    Bytes content;
    if (value.empty() || (value[0] & 0x80)) content.push_back(0);  // keeps the sign bit clear
    content.insert(content.end(), value.begin(), value.end());
    return DerElement(der::kInteger, content);
}

Bytes DerInteger(uint64_t value) {
    uint8_t bytes[8];
    for (int i = 7; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
    return DerInteger(std::span<const uint8_t>(bytes));
}

Bytes DerBoolean(bool value) {
    const uint8_t content = value ? 0xFF : 0x00;
    return DerElement(der::kBoolean, std::span(&content, 1));
}

Bytes DerNull() { return {der::kNull, 0x00}; }

Bytes DerOid(std::string_view dotted) {
    std::vector<uint64_t> arcs;
    for (size_t start = 0;;) {
        const size_t dot = std::min(dotted.find('.', start), dotted.size());
        const std::string_view digits = dotted.substr(start, dot - start);
        uint64_t arc = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), arc);
        // digits only, no sign, no leading zeros: one text per identifier
        if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
            (digits.size() > 1 && digits[0] == '0') || arc > (uint64_t{1} << 56))
            Fail("bad object identifier '" + std::string(dotted) + "'");
        arcs.push_back(arc);
        if (dot == dotted.size()) break;
        start = dot + 1;
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40))
        Fail("bad object identifier '" + std::string(dotted) + "'");
    Bytes content;
    const auto append = [&](uint64_t value) {
        uint8_t groups[10];
        size_t count = 0;
        do {
            groups[count++] = static_cast<uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value);
        while (count > 1) content.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
        content.push_back(groups[0]);
    };
    append(arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i) append(arcs[i]);
    return DerElement(der::kOid, content);
}

Bytes DerUtf8String(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) Fail("text is not UTF-8");
        i += length;
    }
    return DerElement(der::kUtf8String, AsBytes(text));
}

Bytes DerPrintableString(std::string_view text) {
    for (char c : text)
        if (!IsPrintableStringChar(c)) Fail("'" + std::string(1, c) + "' does not fit a PrintableString");
    return DerElement(der::kPrintableString, AsBytes(text));
}

Bytes DerIa5String(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 0x7F) Fail("text with non-ASCII characters does not fit an IA5String");
    return DerElement(der::kIa5String, AsBytes(text));
}

Bytes DerOctetString(std::span<const uint8_t> bytes) { return DerElement(der::kOctetString, bytes); }

Bytes DerBitString(std::span<const uint8_t> bytes, uint8_t unusedBits) {
    if (unusedBits > 7 || (unusedBits > 0 && bytes.empty())) Fail("bad count of unused bits");
    if (unusedBits > 0 && (bytes.back() & ((1u << unusedBits) - 1)) != 0) Fail("unused bits must be zero");
    Bytes content;
    content.reserve(bytes.size() + 1);
    content.push_back(unusedBits);
    content.insert(content.end(), bytes.begin(), bytes.end());
    return DerElement(der::kBitString, content);
}

Bytes DerNamedBits(uint32_t flags) {
    Bytes bytes;
    int last = -1;
    for (int bit = 0; bit < 32; ++bit)
        if ((flags >> bit) & 1) last = bit;
    if (last < 0) return DerBitString({});
    bytes.assign(static_cast<size_t>(last / 8 + 1), 0);
    for (int bit = 0; bit <= last; ++bit)
        if ((flags >> bit) & 1) bytes[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(0x80 >> (bit % 8));
    return DerBitString(bytes, static_cast<uint8_t>(7 - last % 8));
}

Bytes DerTime(DateTime utc) {
    const DateTimeParts p = DecodeDateTime(utc);
    // DecodeDateTime rounds to the millisecond; certificates count whole seconds, so the
    // milliseconds are dropped rather than rounded into the next second
    const bool utcTime = p.year >= 1950 && p.year < 2050;
    char text[20];
    const int length = utcTime ? std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02dZ", p.year % 100, p.month,
                                               p.day, p.hour, p.minute, p.second)
                               : std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02dZ", p.year, p.month, p.day,
                                               p.hour, p.minute, p.second);
    return DerElement(utcTime ? der::kUtcTime : der::kGeneralizedTime,
                      AsBytes(std::string_view(text, static_cast<size_t>(length))));
}

Bytes DerExplicit(uint8_t number, std::span<const uint8_t> element) {
    if (number > 30) Fail("context tag number above 30");
    return DerElement(static_cast<uint8_t>(0xA0 | number), element);
}

Bytes DerImplicit(uint8_t number, std::span<const uint8_t> element) {
    if (number > 30) Fail("context tag number above 30");
    if (element.empty()) Fail("no element to tag");
    Bytes out(element.begin(), element.end());
    out[0] = static_cast<uint8_t>(0x80 | (element[0] & 0x20) | number);
    return out;
}

}  // namespace vela::ua::security
