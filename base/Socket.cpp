#include "base/Socket.h"

#include <chrono>

#include <cstring>
#include <mutex>

#include "base/Exception.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
constexpr SocketHandle kInvalid = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
constexpr SocketHandle kInvalid = -1;
#endif

namespace vela {
namespace {

#ifdef _WIN32
void EnsureWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}
int LastError() { return WSAGetLastError(); }
void CloseHandle_(SocketHandle s) { closesocket(s); }
int Poll(pollfd* fds, int timeoutMs) { return WSAPoll(reinterpret_cast<WSAPOLLFD*>(fds), 1, timeoutMs); }
void SetNonBlocking(SocketHandle s, bool on) {
    u_long mode = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &mode);
}
bool ConnectInProgress(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
#else
void EnsureWinsock() {}
int LastError() { return errno; }
void CloseHandle_(SocketHandle s) { ::close(s); }
int Poll(pollfd* fds, int timeoutMs) { return ::poll(fds, 1, timeoutMs); }
void SetNonBlocking(SocketHandle s, bool on) {
    const int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}
bool ConnectInProgress(int error) { return error == EINPROGRESS; }
#endif

[[noreturn]] void Fail(const std::string& what, int error) {
    throw Exception("Socket error: " + what + " (" + std::to_string(error) + ")");
}

SocketHandle H(intptr_t h) { return static_cast<SocketHandle>(h); }

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

bool TcpSocket::IsOpen() const { return handle_ != -1; }

TcpSocket TcpSocket::Connect(const std::string& host, uint16_t port, int timeoutMs) {
    EnsureWinsock();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        throw Exception("Socket error: cannot resolve host " + host);
    int lastError = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        SocketHandle s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kInvalid) continue;
        SetNonBlocking(s, true);
        int rc = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
        if (rc != 0 && ConnectInProgress(LastError())) {
            pollfd p{};
            p.fd = s;
            p.events = POLLOUT;
            rc = Poll(&p, timeoutMs) == 1 ? 0 : -1;
            int error = 0;
            socklen_t length = sizeof error;
            if (rc == 0 && (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error))
                rc = -1, lastError = error;
            else if (rc != 0)
                lastError = -1;
        } else if (rc != 0) {
            lastError = LastError();
        }
        if (rc == 0) {
            SetNonBlocking(s, false);
            int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
            freeaddrinfo(found);
            return TcpSocket(static_cast<intptr_t>(s));
        }
        CloseHandle_(s);
    }
    freeaddrinfo(found);
    if (lastError == -1) throw Exception("Socket error: connect to " + host + ":" + service + " timed out");
    Fail("cannot connect to " + host + ":" + service, lastError);
}

std::string LocalHostName() {
    EnsureWinsock();
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
    return name;
}

std::array<uint8_t, 4> ResolveIPv4(const std::string& host) {
    EnsureWinsock();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        throw Exception("Socket error: no IPv4 address for host " + host);
    std::array<uint8_t, 4> address{};
    std::memcpy(address.data(), &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, 4);
    freeaddrinfo(found);
    return address;
}

void TcpSocket::SendAll(std::span<const uint8_t> data) {
    if (!IsOpen()) throw Exception("Socket error: not connected");
    size_t sent = 0;
    while (sent < data.size()) {
#ifdef _WIN32
        const int n = ::send(H(handle_), reinterpret_cast<const char*>(data.data() + sent),
                             static_cast<int>(data.size() - sent), 0);
#else
        const ssize_t n = ::send(H(handle_), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
#endif
        if (n <= 0) Fail("send failed", LastError());
        sent += static_cast<size_t>(n);
    }
}

bool TcpSocket::WaitReadable(int timeoutMs) {
    if (!IsOpen()) return true;
    pollfd p{};
    p.fd = H(handle_);
    p.events = POLLIN;
    return Poll(&p, timeoutMs) > 0;
}

void TcpSocket::ReceiveExact(std::span<uint8_t> data, int timeoutMs, const std::atomic<bool>* cancel) {
    if (!IsOpen()) throw Exception("Socket error: not connected");
    using Clock = std::chrono::steady_clock;
    constexpr int kCancelStepMs = 100;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    size_t got = 0;
    while (got < data.size()) {
        for (;;) {
            if (cancel && cancel->load()) throw Exception("Socket error: the read was cancelled");
            int wait = -1;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) throw Exception("Socket error: receive timed out");
                wait = static_cast<int>(left);
            }
            if (cancel && (wait < 0 || wait > kCancelStepMs)) wait = kCancelStepMs;
            if (wait < 0 || WaitReadable(wait)) break;
        }
#ifdef _WIN32
        const int n = ::recv(H(handle_), reinterpret_cast<char*>(data.data() + got), static_cast<int>(data.size() - got), 0);
#else
        const ssize_t n = ::recv(H(handle_), data.data() + got, data.size() - got, 0);
#endif
        if (n == 0) throw Exception("Socket error: the connection was closed by the peer");
        if (n < 0) Fail("receive failed", LastError());
        got += static_cast<size_t>(n);
    }
}

void TcpSocket::Shutdown() {
    if (!IsOpen()) return;
#ifdef _WIN32
    ::shutdown(H(handle_), SD_BOTH);
#else
    ::shutdown(H(handle_), SHUT_RDWR);
#endif
}

void TcpSocket::Close() {
    if (!IsOpen()) return;
    CloseHandle_(H(handle_));
    handle_ = -1;
}

TcpListener::TcpListener(uint16_t port) {
    EnsureWinsock();
    SocketHandle s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == kInvalid) Fail("cannot create a socket", LastError());
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0) {
        const int error = LastError();
        CloseHandle_(s);
        Fail("cannot listen", error);
    }
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    handle_ = static_cast<intptr_t>(s);
}

TcpListener::~TcpListener() { Close(); }

TcpSocket TcpListener::Accept(int timeoutMs) {
    pollfd p{};
    p.fd = H(handle_);
    p.events = POLLIN;
    if (Poll(&p, timeoutMs) <= 0) throw Exception("Socket error: no connection came in time");
    SocketHandle s = ::accept(H(handle_), nullptr, nullptr);
    if (s == kInvalid) Fail("accept failed", LastError());
    return TcpSocket(static_cast<intptr_t>(s));
}

void TcpListener::Close() {
    if (handle_ == -1) return;
    CloseHandle_(H(handle_));
    handle_ = -1;
}

}  // namespace vela
