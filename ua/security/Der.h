#pragma once
// A reader of DER (ITU-T X.690) for certificates and keys. Every error raises
// "Certificate Error: <what> at [<byte position>]".
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/DateTime.h"

namespace vela::ua::security {

using Bytes = std::vector<uint8_t>;

struct DerHeader {
    uint8_t tag = 0;
    size_t start = 0;    // of the tag byte
    size_t content = 0;  // of the first content byte
    size_t length = 0;
    size_t End() const { return content + length; }
};

class DERReader {
public:
    explicit DERReader(std::span<const uint8_t> data) : data_(data), end_(data.size()) {}
    size_t Position() const { return pos_; }
    bool AtEnd() const { return pos_ >= end_; }
    bool isNext(uint8_t tag) const { return !AtEnd() && data_[pos_] == tag; }
    DerHeader ReadHeader();
    DerHeader ReadHeader(uint8_t expectedTag);  // raises "Type Error:" for another tag
    std::span<const uint8_t> ReadValue(uint8_t expectedTag);
    void Skip();  // the next item, whole
    // The content of the next item, whatever its tag (given back in header).
    std::span<const uint8_t> ReadItem(DerHeader* header = nullptr);
    // INTEGER bytes without the sign-only leading zeros.
    Bytes ReadInteger();
    std::string ReadOID();
    DateTime ReadTime();  // UTCTime or GeneralizedTime, UTC
    // A reader over the content of the item just read by ReadHeader.
    DERReader Inside(const DerHeader& header) const;
    // A reader over the next item's content (of that tag); this reader moves past the item.
    DERReader Take(uint8_t expectedTag);
    [[noreturn]] void Fail(const std::string& what) const;

private:
    DERReader(std::span<const uint8_t> data, size_t pos, size_t end) : data_(data), pos_(pos), end_(end) {}
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
    size_t end_;
};

std::string DecodeOID(std::span<const uint8_t> value);
// The base64 body of a PEM block ("-----BEGIN ...-----" to "-----END"); the label is returned too.
Bytes LoadPEM(std::span<const uint8_t> text, std::string* label = nullptr);

}  // namespace vela::ua::security
