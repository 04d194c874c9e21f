#include "ua/security/Der.h"

#include <string_view>

#include "base/Exception.h"

namespace vela::ua::security {

void DERReader::Fail(const std::string& what) const {
    throw Exception("Certificate Error: " + what + " at [" + std::to_string(pos_) + "]");
}

DerHeader DERReader::ReadHeader() {
    if (pos_ + 2 > end_) Fail("unexpected end of data");
    DerHeader h;
    h.start = pos_;
    h.tag = data_[pos_++];
    if ((h.tag & 0x1F) == 0x1F) Fail("multi-byte tags are not supported");
    const uint8_t first = data_[pos_++];
    if (first < 0x80) {
        h.length = first;
    } else {
        // DER has one encoding per length: the shortest. Anything else is refused, so no two
        // byte strings parse to the same certificate.
        const auto refuse = [&](const std::string& what) {
            pos_ = h.start + 1;  // at the length
            Fail(what);
        };
        const size_t count = first & 0x7F;
        if (count == 0) refuse("indefinite length is not DER");
        if (count > 4) refuse("length of " + std::to_string(count) + " octets is not supported");
        if (pos_ + count > end_) Fail("unexpected end of data");
        if (data_[pos_] == 0) refuse("length with a leading zero octet is not DER");
        for (size_t i = 0; i < count; ++i) h.length = (h.length << 8) | data_[pos_++];
        if (h.length < 0x80) refuse("long-form length below 128 is not DER");
    }
    h.content = pos_;
    if (h.length > end_ - pos_) Fail("length beyond the data");
    return h;
}

DerHeader DERReader::ReadHeader(uint8_t expectedTag) {
    const size_t at = pos_;
    const DerHeader h = ReadHeader();
    if (h.tag != expectedTag) {
        pos_ = at;
        Fail("Type Error: expected tag " + std::to_string(expectedTag) + ", found " + std::to_string(h.tag));
    }
    return h;
}

std::span<const uint8_t> DERReader::ReadValue(uint8_t expectedTag) {
    const DerHeader h = ReadHeader(expectedTag);
    pos_ = h.End();
    return data_.subspan(h.content, h.length);
}

std::span<const uint8_t> DERReader::ReadItem(DerHeader* header) {
    const DerHeader h = ReadHeader();
    pos_ = h.End();
    if (header) *header = h;
    return data_.subspan(h.content, h.length);
}

void DERReader::Skip() {
    const DerHeader h = ReadHeader();
    pos_ = h.End();
}

Bytes DERReader::ReadInteger() {
    auto v = ReadValue(0x02);
    while (v.size() > 1 && v[0] == 0) v = v.subspan(1);
    return Bytes(v.begin(), v.end());
}

std::string DecodeOID(std::span<const uint8_t> value) {
    if (value.empty() || (value.back() & 0x80)) throw Exception("Certificate Error: Wrong encoding");
    std::string text;
    uint64_t sub = 0;
    bool first = true;
    for (uint8_t b : value) {
        sub = (sub << 7) | (b & 0x7F);
        if (sub > (uint64_t{1} << 56)) throw Exception("Certificate Error: Wrong encoding");
        if (b & 0x80) continue;
        if (first) {
            const uint64_t a = sub < 40 ? 0 : sub < 80 ? 1 : 2;
            text = std::to_string(a) + "." + std::to_string(sub - 40 * a);
            first = false;
        } else {
            text += "." + std::to_string(sub);
        }
        sub = 0;
    }
    return text;
}

std::string DERReader::ReadOID() {
    const size_t at = pos_;
    const auto value = ReadValue(0x06);
    try {
        return DecodeOID(value);
    } catch (const Exception&) {
        pos_ = at;
        Fail("Wrong encoding");
    }
}

DateTime DERReader::ReadTime() {
    const size_t at = pos_;
    const DerHeader h = ReadHeader();
    pos_ = h.End();
    const std::string_view s(reinterpret_cast<const char*>(data_.data() + h.content), h.length);
    const auto digits = [&](size_t from, size_t count) {
        int v = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (s[i] < '0' || s[i] > '9') {
                pos_ = at;
                Fail("encoding has invalid char");
            }
            v = v * 10 + (s[i] - '0');
        }
        return v;
    };
    DateTimeParts p;
    size_t i = 0;
    if (h.tag == 0x17) {  // UTCTime: YYMMDDhhmm[ss]Z
        if (s.size() != 11 && s.size() != 13) {
            pos_ = at;
            Fail(s.size() == 15 || s.size() == 17 ? "ASN.1 UTCTime: local time format is not supported"
                                                  : "ASN.1 UTCTime: wrong length, identifier");
        }
        const int yy = digits(0, 2);
        p.year = yy < 50 ? 2000 + yy : 1900 + yy;
        i = 2;
    } else if (h.tag == 0x18) {  // GeneralizedTime: YYYYMMDDhhmmssZ (RFC 5280 form)
        if (s.size() != 15) {
            pos_ = at;
            Fail("ASN.1 GeneralizedTime: only the YYYYMMDDhhmmssZ form is supported");
        }
        p.year = digits(0, 4);
        i = 4;
    } else {
        pos_ = at;
        Fail("Type Error: expected a time");
    }
    if (s.back() != 'Z') {
        pos_ = at;
        Fail("ASN.1 UTCTime wrongly encoded");
    }
    p.month = digits(i, 2);
    p.day = digits(i + 2, 2);
    p.hour = digits(i + 4, 2);
    p.minute = digits(i + 6, 2);
    p.second = s.size() - i >= 11 ? digits(i + 8, 2) : 0;
    try {
        return EncodeDateTime(p);
    } catch (const Exception&) {
        pos_ = at;
        Fail("encoding has invalid char");
    }
}

DERReader DERReader::Inside(const DerHeader& header) const { return DERReader(data_, header.content, header.End()); }

DERReader DERReader::Take(uint8_t expectedTag) {
    const DerHeader h = ReadHeader(expectedTag);
    pos_ = h.End();
    return Inside(h);
}

Bytes LoadPEM(std::span<const uint8_t> data, std::string* label) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    const size_t begin = text.find("-----BEGIN ");
    if (begin == std::string_view::npos) throw Exception("Certificate Error: no PEM block found at [0]");
    const size_t labelEnd = text.find("-----", begin + 11);
    const size_t bodyStart = text.find('\n', begin);
    const size_t end = text.find("-----END", begin);
    if (labelEnd == std::string_view::npos || bodyStart == std::string_view::npos || end == std::string_view::npos)
        throw Exception("Certificate Error: PEM block not closed at [" + std::to_string(begin) + "]");
    if (label) *label = std::string(text.substr(begin + 11, labelEnd - begin - 11));
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = bodyStart; i < end; ++i) {
        const char c = text[i];
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else if (c == '=' || c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        else if (c == ':' ) {  // "Proc-Type:" style headers of old encrypted PEM: skip the line
            i = text.find('\n', i);
            if (i == std::string_view::npos || i >= end) break;
            acc = 0, bits = 0, out.clear();
            continue;
        } else throw Exception("Certificate Error: invalid PEM character at [" + std::to_string(i) + "]");
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
        }
    }
    return out;
}

}  // namespace vela::ua::security
