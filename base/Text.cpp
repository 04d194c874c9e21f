#include "base/Text.h"

#include <cctype>
#include <cstdint>

namespace vela {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

namespace {

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether c is in the set that starts after "[" at mask[at]; end gets the position after "]".
// False with end = npos when the set has no "]".
bool InSet(char c, std::string_view mask, size_t at, size_t& end) {
    bool negate = at < mask.size() && mask[at] == '!';
    if (negate) ++at;
    bool found = false;
    const size_t first = at;
    for (; at < mask.size() && (mask[at] != ']' || at == first); ++at) {
        if (at + 2 < mask.size() && mask[at + 1] == '-' && mask[at + 2] != ']') {
            if (Folded(c) >= Folded(mask[at]) && Folded(c) <= Folded(mask[at + 2])) found = true;
            at += 2;
        } else if (Folded(c) == Folded(mask[at])) {
            found = true;
        }
    }
    if (at >= mask.size()) {
        end = std::string_view::npos;
        return false;
    }
    end = at + 1;
    return found != negate;
}

}  // namespace

bool MatchesMask(std::string_view text, std::string_view mask) {
    // Iterative match with one remembered star: linear in practice, no recursion on hostile masks.
    size_t t = 0, m = 0, starMask = std::string_view::npos, starText = 0;
    while (t < text.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = ++m;
            starText = t;
            continue;
        }
        if (m < mask.size()) {
            size_t next = m + 1;
            bool ok = false;
            if (mask[m] == '?') {
                ok = true;
            } else if (mask[m] == '[') {
                size_t end = 0;
                ok = InSet(text[t], mask, m + 1, end);
                if (end == std::string_view::npos) ok = text[t] == '[';
                else next = end;
            } else {
                ok = Folded(text[t]) == Folded(mask[m]);
            }
            if (ok) {
                ++t;
                m = next;
                continue;
            }
        }
        if (starMask == std::string_view::npos) return false;
        m = starMask;
        t = ++starText;
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

std::string Base64Encode(const std::string& data) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t group = static_cast<uint8_t>(data[i]) << 16;
        if (i + 1 < data.size()) group |= static_cast<uint8_t>(data[i + 1]) << 8;
        if (i + 2 < data.size()) group |= static_cast<uint8_t>(data[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < data.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < data.size() ? kAlphabet[group & 63] : '=';
    }
    return out;
}


std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    const size_t digits = text.size() - padding;
    for (size_t i = 0; i < digits; ++i) {
        const char c = text[i];
        uint32_t v;
        if (c >= 'A' && c <= 'Z') v = static_cast<uint32_t>(c - 'A');
        else if (c >= 'a' && c <= 'z') v = static_cast<uint32_t>(c - 'a' + 26);
        else if (c >= '0' && c <= '9') v = static_cast<uint32_t>(c - '0' + 52);
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else return std::nullopt;
        group = (group << 6) | v;
        if (i % 4 == 3) {
            out += static_cast<char>(group >> 16);
            out += static_cast<char>((group >> 8) & 0xFF);
            out += static_cast<char>(group & 0xFF);
            group = 0;
        }
    }
    // the last group: 2 digits carry one byte, 3 digits two; the unused low bits must be zero
    if (padding == 2) {
        if (group & 0xF) return std::nullopt;
        out += static_cast<char>(group >> 4);
    } else if (padding == 1) {
        if (group & 0x3) return std::nullopt;
        out += static_cast<char>(group >> 10);
        out += static_cast<char>((group >> 2) & 0xFF);
    }
    return out;
}

}  // namespace vela
