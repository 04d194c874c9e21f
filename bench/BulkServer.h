#pragma once
// The node-opcua demo server with a folder of `items` bulk variables, for the benchmarks that
// measure the toolkit against it. The server runs in a process of its own.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "tests/support/ChildProcess.h"

namespace vela::bench {

// Starts the server; gives its URL, or an empty text (and the state skips) when it did not start.
inline std::string StartBulkServer(testing_support::ChildProcess& server, int64_t items, benchmark::State& state) {
    setenv("UA_BULK", std::to_string(items).c_str(), 1);
    std::string line;
    if (!server.Start({"node", std::string(VELA_UA_PEER_DIR) + "/test-server.js", "/tmp/vela-bench-pki"}) ||
        !server.WaitForLine("READY ", &line)) {
        state.SkipWithError("the node-opcua server did not start");
        return {};
    }
    return "opc.tcp://127.0.0.1:" + line.substr(6, line.find_first_of("\r\n") - 6);
}

}  // namespace vela::bench
