#pragma once
// A writer of DER (ITU-T X.690) for the certificates and keys we make ourselves. Every function
// gives back one complete element (tag, definite length, content); constructed ones take their
// components already encoded. Input a type cannot hold raises vela::Exception "DER Error: ...".
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

namespace vela::ua::security {

using Bytes = std::vector<uint8_t>;

namespace der {
inline constexpr uint8_t kBoolean = 0x01, kInteger = 0x02, kBitString = 0x03, kOctetString = 0x04, kNull = 0x05,
                         kOid = 0x06, kUtf8String = 0x0C, kPrintableString = 0x13, kIa5String = 0x16,
                         kUtcTime = 0x17, kGeneralizedTime = 0x18, kSequence = 0x30, kSet = 0x31;
}  // namespace der

Bytes DerElement(uint8_t tag, std::span<const uint8_t> content);
Bytes DerSequence(std::span<const Bytes> items);
Bytes DerSequence(std::initializer_list<Bytes> items);
// SET OF: the items in ascending order of their encodings, as DER wants.
Bytes DerSet(std::span<const Bytes> items);
Bytes DerSet(std::initializer_list<Bytes> items);

// A non-negative INTEGER from unsigned big-endian bytes (leading zeros allowed, empty is 0).
Bytes DerInteger(std::span<const uint8_t> unsignedBigEndian);
Bytes DerInteger(uint64_t value);
Bytes DerBoolean(bool value);
Bytes DerNull();
// From dotted text such as "1.2.840.113549.1.1.11".
Bytes DerOid(std::string_view dotted);
Bytes DerUtf8String(std::string_view text);
Bytes DerPrintableString(std::string_view text);
Bytes DerIa5String(std::string_view text);
Bytes DerOctetString(std::span<const uint8_t> bytes);
Bytes DerBitString(std::span<const uint8_t> bytes, uint8_t unusedBits = 0);
// A named-bit list (keyUsage and the like): bit n of flags is the list's bit n; trailing zero
// bits are left out, as DER wants.
Bytes DerNamedBits(uint32_t flags);
// UTCTime for 1950 to 2049, GeneralizedTime otherwise (RFC 5280), UTC to the whole second.
Bytes DerTime(DateTime utc);

// [number] EXPLICIT: the element wrapped in a constructed context tag.
Bytes DerExplicit(uint8_t number, std::span<const uint8_t> element);
// [number] IMPLICIT: the element's own tag replaced by the context tag; constructed stays constructed.
Bytes DerImplicit(uint8_t number, std::span<const uint8_t> element);

}  // namespace vela::ua::security
