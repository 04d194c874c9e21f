#pragma once
// UTF-8 is the text form inside the program; UTF-16 only crosses the COM and Win32 boundaries.
#include <string>
#include <string_view>

namespace vela {

// Ill-formed input (bad lead or continuation bytes, overlong forms, surrogates encoded in UTF-8,
// unpaired surrogates in UTF-16) becomes U+FFFD, one per offending unit; nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

#ifdef _WIN32
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
#endif

}  // namespace vela
