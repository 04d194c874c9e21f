#pragma once
// A blocking TCP client socket with time-outs (Winsock on Windows, POSIX elsewhere).
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

namespace vela {

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Raises vela::Exception "Socket error: ..." when no connection is made within the time.
    static TcpSocket Connect(const std::string& host, uint16_t port, int timeoutMs);
    bool IsOpen() const;
    void SendAll(std::span<const uint8_t> data);
    // Reads exactly data.size() bytes; raises when the peer closes or the time runs out
    // (timeoutMs < 0: no limit). The time is for the whole read, however the peer trickles the
    // bytes in. With `cancel`, the wait looks at the flag every few tenths of a second and
    // raises once it is set.
    void ReceiveExact(std::span<uint8_t> data, int timeoutMs, const std::atomic<bool>* cancel = nullptr);
    // Whether data (or the peer's close) is there within the time.
    bool WaitReadable(int timeoutMs);
    // Ends both directions. (Not every platform wakes a thread blocked in a read: readers wait
    // in short WaitReadable steps and look at their stop flag between them.)
    void Shutdown();
    void Close();

private:
    friend class TcpListener;
    explicit TcpSocket(intptr_t handle) : handle_(handle) {}
    intptr_t handle_ = -1;
};

// The first IPv4 address of a host name or dotted address; raises when there is none.
std::array<uint8_t, 4> ResolveIPv4(const std::string& host);
// This machine's host name; "localhost" when it has none.
std::string LocalHostName();

// A listening socket on 127.0.0.1 for tests and local peers.
class TcpListener {
public:
    explicit TcpListener(uint16_t port = 0);  // 0: the system picks
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    uint16_t Port() const { return port_; }
    // Raises on time-out.
    TcpSocket Accept(int timeoutMs);
    void Close();

private:
    intptr_t handle_ = -1;
    uint16_t port_ = 0;
};

}  // namespace vela
