// The flat browse of one folder of UA_BULK variables on the node-opcua demo server, through the
// toolkit's browser as vela_cli uses it: the whole walk, and the wait for its first item.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "base/MainThread.h"
#include "bench/BulkServer.h"
#include "toolkit/VelaBrowser.h"
#include "toolkit/VelaDAClient.h"
#include "ua/da/UADAConnection.h"

using namespace vela;

namespace {

void FlatBrowse(benchmark::State& state) {
    const auto itemCount = static_cast<int64_t>(state.range(0));
    testing_support::ChildProcess server;
    const std::string url = bench::StartBulkServer(server, itemCount, state);
    if (url.empty()) return;
    ua::RegisterUAConnection();
    RunLoop loop;
    TVelaDAClient client(&loop);
    client.SetServerName(url);
    client.SetActive(true);
    TVelaBrowser& browser = client.Browser();
    if (!browser.Moveto(std::string("ns=1;s=Demo.Bulk"))) {
        state.SkipWithError("no folder Demo.Bulk");
        return;
    }
    double firstItem = 0;
    int64_t found = 0;
    for (auto _ : state) {
        found = 0;
        const auto start = std::chrono::steady_clock::now();
        browser.BrowseFlat([&](const TVelaBrowseItem&) {
            if (found++ == 0) firstItem = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            return true;
        });
    }
    if (found != itemCount) state.SkipWithError("the walk missed items");
    state.counters["first_item_ms"] = firstItem * 1e3;
    state.counters["items_per_s"] = benchmark::Counter(static_cast<double>(found), benchmark::Counter::kIsIterationInvariantRate);
    client.SetActive(false);
}
BENCHMARK(FlatBrowse)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
