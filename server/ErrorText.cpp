#include "server/ErrorText.h"

#include <cwctype>
#include <iterator>

namespace vela::server {
namespace {

struct FixedText {
    DWORD code;
    const wchar_t* text;
};

constexpr FixedText kOpcTexts[] = {
    {0x0004000D, L"The server does not support the requested data rate but will use the closest available rate."},
    {0x0004000E, L"A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000F, L"The operation cannot be completed because the object still has references that exist."},
    {0x00040200, L"The condition has already been acknowleged."},
    {0x00040201, L"The buffer time parameter was invalid."},
    {0x00040202, L"The max size parameter was invalid."},
    {0xC0040001, L"The value of the handle is invalid."},
    {0xC0040004, L"The server cannot convert the data between the requested data type and the canonical data type."},
    {0xC0040005, L"The requested operation cannot be done on a public group."},
    {0xC0040006, L"The Items AccessRights do not allow the operation."},
    {0xC0040007, L"The item is no longer available in the server address space."},
    {0xC0040008, L"The item definition does not conform to the server's syntax."},
    {0xC0040009, L"The filter string was not valid."},
    {0xC004000A, L"The item's access path is not known to the server."},
    {0xC004000B, L"The value was out of range."},
    {0xC004000C, L"Duplicate name not allowed."},
    {0xC0040010, L"The server's configuration file is an invalid format."},
    {0xC0040011, L"The server could not locate the requested object."},
    {0xC0040203, L"The server does not recognise the passed property ID."},
    {0xC0040204, L"The time does not match the latest active time."},
    {0xC0040205, L"A refresh is currently in progress."},
    {0xC0040206, L"Information is not available."},
};

}  // namespace

std::wstring OPCErrorText(HRESULT code) {
    for (const FixedText& entry : kOpcTexts)
        if (entry.code == static_cast<DWORD>(code)) return entry.text;
    wchar_t buffer[256];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0, buffer, static_cast<DWORD>(std::size(buffer)),
                                        nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.' || std::iswcntrl(text.back())))
        text.pop_back();
    return text;
}

}  // namespace vela::server
