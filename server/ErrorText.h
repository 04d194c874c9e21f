#pragma once
// The texts of OPC result codes that DA clients get from GetErrorString.
#include <windows.h>

#include <string>

namespace vela::server {

// The OPC code's fixed text, else the system's message for the code without trailing blanks,
// control characters and periods, else an empty text.
std::wstring OPCErrorText(HRESULT code);

}  // namespace vela::server
