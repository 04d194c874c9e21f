#pragma once
// Small text rules used across modules.
#include <optional>
#include <string>
#include <string_view>

namespace vela {

// Without the blanks and control characters (code 32 and below) at both ends.
std::string_view TrimBlanks(std::string_view text);
// Equal without regard to ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view b);
// The text with ASCII letters in lower case.
std::string AsciiLower(std::string_view text);
// A file-name mask over the whole text: "*" any run, "?" one character, "[abc]", "[a-z]" and
// "[!abc]" one character of (or not of) the set; letters compare without regard to ASCII case.
// A "[" without its "]" stands for itself.
bool MatchesMask(std::string_view text, std::string_view mask);

// Base64 of RFC 4648 (the standard alphabet, with "=" padding).
std::string Base64Encode(const std::string& data);
// Strict: only the alphabet, length a multiple of four, padding only at the end, no bits left
// over; anything else gives nothing.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace vela
