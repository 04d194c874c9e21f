#include "base/ProxyTunnel.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <vector>

#include "base/Exception.h"
#include "base/Text.h"

namespace vela {
namespace {

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

uint16_t ParsePort(const std::string& text, const std::string& url) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](unsigned char c) {
            return std::isdigit(c);
        }))
        throw Exception("Proxy error: bad port in " + url);
    const int value = std::stoi(text);
    if (value < 1 || value > 65535) throw Exception("Proxy error: bad port in " + url);
    return static_cast<uint16_t>(value);
}

// Milliseconds left of a time-out that started at `start`; at least 1 so the last read still waits.
int Remaining(std::chrono::steady_clock::time_point start, int timeoutMs) {
    if (timeoutMs < 0) return -1;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return std::max<int>(1, timeoutMs - static_cast<int>(spent.count()));
}

void HttpConnect(TcpSocket& socket, const ProxySetting& proxy, const std::string& host, uint16_t port,
                 std::chrono::steady_clock::time_point start, int timeoutMs) {
    const bool ipv6 = host.find(':') != std::string::npos;
    const std::string target = (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!proxy.user.empty())
        request += "Proxy-Authorization: Basic " + Base64Encode(proxy.user + ":" + proxy.password) + "\r\n";
    request += "\r\n";
    socket.SendAll(std::span(reinterpret_cast<const uint8_t*>(request.data()), request.size()));
    // Byte by byte up to the blank line: what follows belongs to the tunnelled protocol.
    constexpr size_t kMaxHeader = 16384;
    std::string answer;
    uint8_t byte = 0;
    while (!answer.ends_with("\r\n\r\n")) {
        if (answer.size() >= kMaxHeader) throw Exception("Proxy error: the proxy's answer is too long");
        try {
            socket.ReceiveExact(std::span(&byte, 1), Remaining(start, timeoutMs));
        } catch (const Exception& e) {
            throw Exception(std::string("Proxy error: no answer to CONNECT (") + e.what() + ")");
        }
        answer += static_cast<char>(byte);
    }
    const std::string statusLine = answer.substr(0, answer.find("\r\n"));
    // "HTTP/1.x 2xx ..."
    const size_t space = statusLine.find(' ');
    if (!statusLine.starts_with("HTTP/") || space == std::string::npos || space + 1 >= statusLine.size() ||
        statusLine[space + 1] != '2')
        throw Exception("Proxy error: " + statusLine);
}

void Socks4Connect(TcpSocket& socket, const ProxySetting& proxy, const std::string& host, uint16_t port,
                   std::chrono::steady_clock::time_point start, int timeoutMs) {
    const std::array<uint8_t, 4> ip = ResolveIPv4(host);
    std::vector<uint8_t> request = {4, 1, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    request.insert(request.end(), ip.begin(), ip.end());
    request.insert(request.end(), proxy.user.begin(), proxy.user.end());
    request.push_back(0);
    socket.SendAll(request);
    std::array<uint8_t, 8> reply{};
    try {
        socket.ReceiveExact(reply, Remaining(start, timeoutMs));
    } catch (const Exception& e) {
        throw Exception(std::string("Proxy error: no answer from the SOCKS 4 proxy (") + e.what() + ")");
    }
    if (reply[0] != 0) throw Exception("Proxy error: not a SOCKS 4 answer");
    if (reply[1] != 90) throw Exception("Proxy error: SOCKS 4 request rejected (code " + std::to_string(reply[1]) + ")");
}

}  // namespace

std::string MaskedProxyUrl(const std::string& proxyUrl) {
    const size_t schemeEnd = proxyUrl.find("://");
    const size_t hostStart = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
    const size_t authorityEnd = std::min(proxyUrl.find_first_of("/?#", hostStart), proxyUrl.size());
    const size_t at = proxyUrl.rfind('@', authorityEnd == 0 ? 0 : authorityEnd - 1);
    if (at == std::string::npos || at < hostStart) return proxyUrl;
    return proxyUrl.substr(0, hostStart) + "***" + proxyUrl.substr(at);
}

ProxySetting ParseProxy(const std::string& proxyUrl) {
    ProxySetting setting;
    const size_t schemeEnd = proxyUrl.find("://");
    if (proxyUrl.empty() || schemeEnd == std::string::npos) return setting;
    const std::string scheme = AsciiLower(proxyUrl.substr(0, schemeEnd));
    if (scheme == "http" || scheme == "urn") setting.kind = ProxySetting::Kind::HttpConnect;
    else if (scheme == "socks4") setting.kind = ProxySetting::Kind::Socks4;
    else return setting;
    std::string authority = proxyUrl.substr(schemeEnd + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string credentials = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const size_t colon = credentials.find(':');
        setting.user = PercentDecode(credentials.substr(0, colon));
        if (colon != std::string::npos) setting.password = PercentDecode(credentials.substr(colon + 1));
    }
    std::string portText;
    if (authority.starts_with("[")) {  // [v6 address]:port
        const size_t close = authority.find(']');
        if (close == std::string::npos) throw Exception("Proxy error: bad host in " + MaskedProxyUrl(proxyUrl));
        setting.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') throw Exception("Proxy error: bad host in " + MaskedProxyUrl(proxyUrl));
            portText = authority.substr(close + 2);
        }
    } else {
        const size_t colon = authority.rfind(':');
        setting.host = authority.substr(0, colon);
        if (colon != std::string::npos) portText = authority.substr(colon + 1);
    }
    if (setting.host.empty()) throw Exception("Proxy error: no host in " + MaskedProxyUrl(proxyUrl));
    setting.port = !portText.empty() ? ParsePort(portText, MaskedProxyUrl(proxyUrl))
                   : setting.kind == ProxySetting::Kind::Socks4 ? uint16_t{1080} : uint16_t{80};
    return setting;
}

TcpSocket ConnectVia(const ProxySetting& proxy, const std::string& host, uint16_t port, int timeoutMs) {
    if (proxy.kind == ProxySetting::Kind::None) return TcpSocket::Connect(host, port, timeoutMs);
    const auto start = std::chrono::steady_clock::now();
    TcpSocket socket = TcpSocket::Connect(proxy.host, proxy.port, timeoutMs);
    if (proxy.kind == ProxySetting::Kind::HttpConnect) HttpConnect(socket, proxy, host, port, start, timeoutMs);
    else Socks4Connect(socket, proxy, host, port, start, timeoutMs);
    return socket;
}

}  // namespace vela
