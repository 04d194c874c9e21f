#include "base/Utf.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

TEST(Utf, RoundTripsAllPlanes) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // A é € 😀 z
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    EXPECT_EQ(Utf8ToUtf16(""), u"");
}

struct BadUtf8Case {
    const char* name;
    std::string input;
    std::u16string expected;
};

void PrintTo(const BadUtf8Case& c, std::ostream* os) { *os << c.name; }

class BadUtf8 : public testing::TestWithParam<BadUtf8Case> {};

TEST_P(BadUtf8, BecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadUtf8,
    testing::Values(BadUtf8Case{"lone_continuation", "a\x80" "b", u"a\uFFFDb"},
                    BadUtf8Case{"truncated_at_end", "a\xE2\x82", u"a\uFFFD"},
                    BadUtf8Case{"truncated_before_ascii", "\xE2\x82z", u"\uFFFDz"},
                    BadUtf8Case{"overlong_slash", "\xC0\xAF", u"\uFFFD"},
                    BadUtf8Case{"encoded_surrogate", "\xED\xA0\x80", u"\uFFFD"},
                    BadUtf8Case{"beyond_unicode", "\xF4\x90\x80\x80", u"\uFFFD"},
                    BadUtf8Case{"invalid_lead", "\xFF", u"\uFFFD"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Utf, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace vela
