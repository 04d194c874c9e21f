#include "base/Socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/Exception.h"

namespace vela {
namespace {

TEST(Socket, ExactReadsAcrossAConnection) {
    TcpListener listener;
    std::thread peer([&] {
        TcpSocket s = listener.Accept(5000);
        uint8_t buffer[5];
        s.ReceiveExact(buffer, 5000);
        s.SendAll(std::span<const uint8_t>(buffer, 5));
        s.SendAll(std::vector<uint8_t>{9, 9});
    });
    TcpSocket client = TcpSocket::Connect("127.0.0.1", listener.Port(), 5000);
    client.SendAll(std::vector<uint8_t>{1, 2, 3, 4, 5});
    std::vector<uint8_t> echo(7);
    client.ReceiveExact(echo, 5000);
    EXPECT_EQ(echo, (std::vector<uint8_t>{1, 2, 3, 4, 5, 9, 9}));
    peer.join();
    std::vector<uint8_t> more(1);
    EXPECT_THROW(client.ReceiveExact(more, 5000), Exception);  // the peer closed
}

TEST(Socket, TimeOutsAndRefusals) {
    TcpListener listener;
    TcpSocket client = TcpSocket::Connect("127.0.0.1", listener.Port(), 5000);
    TcpSocket server = listener.Accept(5000);
    std::vector<uint8_t> byte(1);
    EXPECT_THROW(client.ReceiveExact(byte, 100), Exception);
    EXPECT_FALSE(client.WaitReadable(50));
    const uint16_t port = listener.Port();
    listener.Close();
    EXPECT_THROW(TcpSocket::Connect("127.0.0.1", port, 2000), Exception);
    EXPECT_THROW(TcpSocket::Connect("no-such-host.invalid", 4840, 2000), Exception);
}

TEST(Socket, AReaderWaitingInStepsSeesItsStopFlag) {
    TcpListener listener;
    TcpSocket client = TcpSocket::Connect("127.0.0.1", listener.Port(), 5000);
    TcpSocket server = listener.Accept(5000);
    std::atomic<bool> stop{false};
    std::atomic<int> steps{0};
    std::thread reader([&] {
        while (!stop)
            if (!client.WaitReadable(20)) ++steps;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    reader.join();
    EXPECT_GT(steps.load(), 0);
}

}  // namespace
}  // namespace vela
