// Data changes through the toolkit's UA binding: 10,000 monitored items at 100 ms on the
// node-opcua demo server, delivered as data-change events on the owning thread. node-opcua
// limits the absolute rate; what counts is our own CPU per delivered change (the server runs in
// a process of its own and is not counted).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "base/MainThread.h"
#include "bench/BulkServer.h"
#include "toolkit/VelaDAClient.h"
#include "ua/da/UADAConnection.h"

using namespace vela;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void DataChanges(benchmark::State& state) {
    const auto itemCount = static_cast<int>(state.range(0));
    testing_support::ChildProcess server;
    const std::string url = bench::StartBulkServer(server, itemCount, state);
    if (url.empty()) return;
    ua::RegisterUAConnection();
    RunLoop loop;
    TVelaDAClient client(&loop);
    client.SetServerName(url);
    client.SetActive(true);
    client.OPCGroupDefault().UpdateRate = 100;
    TVelaGroup& group = client.OPCGroups().Add("bulk", true, true);
    char name[32];
    for (int i = 0; i < itemCount; ++i) {
        std::snprintf(name, sizeof name, "ns=1;s=Demo.Bulk.V%05d", i);
        group.OPCItems().AddItem(name, true);
    }
    const auto addStart = std::chrono::steady_clock::now();
    group.OPCItems().OPCAddAllItems(true);
    state.counters["add_items_s"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - addStart).count();
    std::atomic<int64_t> changes{0};
    client.OnDatachange = [&](TVelaDAClient&, TVelaItemList& items) { changes += static_cast<int64_t>(items.Count()); };
    loop.RunUntil([&] { return changes > itemCount; }, std::chrono::seconds(30));  // the first full round

    for (auto _ : state) {
        const int64_t before = changes;
        const double cpu = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        loop.RunUntil([] { return false; }, std::chrono::seconds(10));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const auto delivered = static_cast<double>(changes - before);
        state.counters["changes_per_s"] = delivered / seconds;
        state.counters["cpu_us_per_change"] = delivered > 0 ? (CpuSeconds() - cpu) * 1e6 / delivered : 0;
        state.counters["cpu_share"] = (CpuSeconds() - cpu) / seconds;
    }
    client.SetActive(false);
}
BENCHMARK(DataChanges)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
