// Item values are converted for every item of every data change: these must stay cheap.
#include <benchmark/benchmark.h>

#include "base/DateTime.h"
#include "base/Variant.h"

namespace {

void BM_ChangeTypeI4ToR8(benchmark::State& state) {
    const vela::Variant v(123456);
    for (auto _ : state) benchmark::DoNotOptimize(v.ChangeType(vela::vtR8));
}
BENCHMARK(BM_ChangeTypeI4ToR8);

void BM_ChangeTypeTextToR8(benchmark::State& state) {
    const vela::Variant v("12345.678");
    for (auto _ : state) benchmark::DoNotOptimize(v.ChangeType(vela::vtR8));
}
BENCHMARK(BM_ChangeTypeTextToR8);

void BM_ChangeTypeR8ToText(benchmark::State& state) {
    const vela::Variant v(12345.678);
    for (auto _ : state) benchmark::DoNotOptimize(v.ChangeType(vela::vtBSTR));
}
BENCHMARK(BM_ChangeTypeR8ToText);

void BM_CopyArray10k(benchmark::State& state) {
    vela::Variant a = vela::Variant::MakeArray(vela::vtR8, {{0, 10000}});
    for (auto _ : state) {
        vela::Variant b = a;
        b.MutableArray().Set(size_t{0}, vela::Variant(1.0));  // forces the deep copy
        benchmark::DoNotOptimize(b);
    }
}
BENCHMARK(BM_CopyArray10k);

void BM_DateTimeToFileTime(benchmark::State& state) {
    double d = 45413.4375;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vela::DateTimeToFileTime(d));
        d += 1e-6;
    }
}
BENCHMARK(BM_DateTimeToFileTime);

}  // namespace
