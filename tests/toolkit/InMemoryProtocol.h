#pragma once
// Test double: an in-memory remote server and a protocol module for it. It implements the
// connection interfaces the way a real protocol would and records every call, so that tests
// can drive the client model and observe what it asks of a server. Registered only by tests.
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "toolkit/ConnectionRegistry.h"
#include "toolkit/VelaDAClient.h"

namespace vela::testdouble {

struct InMemoryServer {
    std::mutex mutex;
    std::vector<std::string> calls;
    bool failConnect = false;
    bool reachable = true;              // DoTimer's answer
    bool failSetStateWhenActivating = false;
    int32_t revisedUpdateRate = 0;      // 0: the rate asked for
    int32_t serverType = 2;
    std::set<std::string> unknownItems;  // AddItems and property queries fail for these
    std::map<std::string, Variant> values;
    int32_t nextHandle = 100;
    int doTimerCalls = 0;

    void Log(const std::string& call) {
        std::lock_guard lock(mutex);
        calls.push_back(call);
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
    size_t Count(const std::string& prefix);
    void Reset();
};

InMemoryServer& Server();

// Registers the in-memory module under that connection type.
void RegisterInMemoryProtocol(tVelaConnectionType type);

inline constexpr int32_t kUnknownItemError = static_cast<int32_t>(0xC0040007);

}  // namespace vela::testdouble
