#pragma once
// The one virtual server the gateway publishes until the option file lists them.
#include <windows.h>

namespace vela::app {

// {DBE83044-6033-442E-913E-F80B782B2B5B}
inline constexpr CLSID kSkeletonClsid = {0xDBE83044, 0x6033, 0x442E, {0x91, 0x3E, 0xF8, 0x0B, 0x78, 0x2B, 0x2B, 0x5B}};
inline constexpr wchar_t kSkeletonProgId[] = L"Vela.DAGateway.Skeleton.1";
inline constexpr wchar_t kSkeletonCaption[] = L"Vela DA Gateway (skeleton)";
inline constexpr wchar_t kMainWindowClass[] = L"VelaGatewayMainWindow";

}  // namespace vela::app
