#pragma once
// The registration of the proxy/stub DLL that marshals the OPC interfaces between the gateway
// and its clients. An interface that another installed proxy DLL already serves keeps that
// registration; unregistration removes only what this registration wrote.
#include <string>
#include <vector>

namespace vela::app {

struct ProxyRegistration {
    bool done = false;                // the DLL was loaded and every step it took succeeded
    std::string error;                // why not, when not done
    std::vector<std::wstring> registered;  // interfaces now served by this DLL
    std::vector<std::wstring> kept;        // interfaces left to another proxy DLL
};

ProxyRegistration RegisterProxyDll(const std::wstring& dllPath);
// Removes the entries RegisterProxyDll wrote for this DLL; entries that name another DLL stay.
ProxyRegistration UnregisterProxyDll(const std::wstring& dllPath);

// The proxy/stub DLL beside the executable.
std::wstring GatewayProxyDllPath(const std::wstring& exePath);

}  // namespace vela::app
