#pragma once
// Byte-level helpers for the fake UA servers of the tests: little-endian fields, whole
// messages read off a socket, encoded service messages.
#include <cstdint>
#include <span>
#include <vector>

#include "base/Socket.h"
#include "ua/uaBinaryEncoder.h"

namespace vela::ua::fakepeer {

using Bytes = std::vector<uint8_t>;

inline void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t GetU32(const Bytes& in, size_t at) {
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

// One message as the client sent it (a size beyond 1 MiB is not believed).
inline Bytes ReadMessage(TcpSocket& socket) {
    Bytes header(8);
    socket.ReceiveExact(header, 5000);
    const uint32_t size = GetU32(header, 4);
    Bytes rest(size > 8 && size < (1u << 20) ? size - 8 : 0);
    socket.ReceiveExact(rest, 5000);
    header.insert(header.end(), rest.begin(), rest.end());
    return header;
}

inline Bytes Encoded(const TuaObj& message) {
    TuaBinaryEncoder encoder;
    encoder.WriteMessage(message);
    return encoder.TakeBuffer();
}

}  // namespace vela::ua::fakepeer
