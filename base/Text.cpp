#include "base/Text.h"

#include <cctype>

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

}  // namespace vela
