#pragma once
// Event messages that connections post to their client; the client handles them in its
// delivery thread (on the owning thread when synchronised).
#include <cstdint>
#include <memory>
#include <string>

#include "base/DateTime.h"

namespace vela {

inline constexpr int32_t kMsgServerShutdown = 1025;  // IParam: reason code
inline constexpr int32_t kMsgWriteComplete = 1028;   // IParam: failed items; OParam: item list
inline constexpr int32_t kMsgKeepAlive = 1029;       // generated inside the client only
inline constexpr int32_t kMsgReconnect = 1030;       // generated inside the client only: try to connect again
inline constexpr int32_t kMsgDataChange = 5634;      // IParam: group client handle; OParam: item list
inline constexpr int32_t kMsgReserved = 5636;        // ignored
inline constexpr int32_t kMsgLog = 5637;             // IParam: log type; OParam: TVelaLogMsg

// The object a message carries; the message owns it until it is handled.
class TVelaMsgObject {
public:
    virtual ~TVelaMsgObject() = default;
};

struct TVelaMsg {
    int32_t MsgId = 0;
    int64_t IParam = 0;
    std::unique_ptr<TVelaMsgObject> OParam;
};

class TVelaLogMsg final : public TVelaMsgObject {
public:
    DateTime LogTime = 0;  // local
    int32_t LogSeverity = 0;
    uint32_t LogType = 0;
    std::string Msg;
    std::string Detail;

    void Assign(const TVelaLogMsg& other) { *this = other; }
};

}  // namespace vela
