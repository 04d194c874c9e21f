#include "base/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

TEST(Text, FileNameMasks) {
    struct Case {
        const char* text;
        const char* mask;
        bool match;
    };
    const Case cases[] = {
        {"", "", true},
        {"", "*", true},
        {"a", "", false},
        {"Temperature", "temp*", true},  // letters without regard to case
        {"Temperature", "*TURE", true},
        {"Temperature", "*per*", true},
        {"Temperature", "T?mperature", true},
        {"Temperature", "T?perature", false},
        {"ns=1;s=Demo.Deep.Level3.Value", "*level3*", true},
        {"Level", "[LM]evel", true},
        {"Bevel", "[LM]evel", false},
        {"Bevel", "[!LM]evel", true},
        {"Level", "[!LM]evel", false},
        {"x7", "x[0-9]", true},
        {"xa", "x[0-9]", false},
        {"[ab", "[ab", true},  // no closing bracket: the bracket stands for itself
        {"abc", "a*b*c*d", false},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},  // no runaway backtracking
        {"ab", "a**b", true},
    };
    for (const auto& c : cases) EXPECT_EQ(MatchesMask(c.text, c.mask), c.match) << c.text << " ~ " << c.mask;
}

// RFC 4648 test vectors, and texts a strict decoder must refuse.
TEST(Text, Base64BothWays) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}, {std::string("\xFF\x00\xFE", 3), "/wD+"}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(Base64Encode(plain), encoded);
        EXPECT_EQ(Base64Decode(encoded), plain) << encoded;
    }
    for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "====", "Zm 9v", "Zm9v\n", "Zg==Zg==", "Zm-v", "Zm_v"})
        EXPECT_FALSE(Base64Decode(bad).has_value()) << bad;
}

}  // namespace
}  // namespace vela
