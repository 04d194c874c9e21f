// What the gateway costs while one DA client subscribes to many items: a classic DA client, out of
// process under Wine, against the gateway and the node-opcua demo server (gateway-bench.sh).
//   gateway_bench.exe <opcda_ps.dll> <vela_gateway.exe> [item count...] [/warmup:S] [/window:S]
// Each item count gets a gateway process of its own. Prints figures only: nothing here fails on them.
// Optional environment, for context figures that are not charged to the gateway:
//   VELA_BENCH_CONTEXT_PIDS  "name:pid,..." of Linux processes (the UA server, wineserver)
//   VELA_BENCH_CLK_TCK       their /proc clock tick rate (default 100)
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "opccomn.h"
#include "opcda.h"
#include "tests/support/DaClientSupport.h"

namespace {

using namespace vela::da_client;

std::atomic<const char*> stage{"start"};

void Stage(const char* name) { stage = name; }

std::wstring Environment(const wchar_t* name) {
    wchar_t value[2048];
    const DWORD length = GetEnvironmentVariableW(name, value, 2048);
    return length > 0 && length < 2048 ? std::wstring(value, length) : std::wstring();
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency;
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

DWORD ThreadCount(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD threads = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == pid) threads = entry.cntThreads;
    CloseHandle(snapshot);
    return threads;
}

// ---- what a process costs ----
struct CpuTimes {
    bool valid = false;
    double user = 0, kernel = 0;  // seconds
    double total() const { return user + kernel; }
};

CpuTimes ProcessCpu(HANDLE process) {
    CpuTimes times;
    FILETIME created, exited, kernel, user;
    if (!process || !GetProcessTimes(process, &created, &exited, &kernel, &user)) return times;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    times.valid = true;
    times.user = seconds(user);
    times.kernel = seconds(kernel);
    return times;
}

struct Memory {
    bool valid = false;
    double workingSet = 0, privateBytes = 0;  // bytes
};

Memory ProcessMemory(HANDLE process) {
    Memory memory;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!process ||
        !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return memory;
    memory.valid = true;
    memory.workingSet = static_cast<double>(counters.WorkingSetSize);
    memory.privateBytes = static_cast<double>(counters.PrivateUsage);
    return memory;
}

// Linux processes beside Wine (UA server, wineserver), read through the Z: drive.
struct ContextProcess {
    std::string name;
    unsigned long pid = 0;
};

std::vector<ContextProcess> ContextProcesses() {
    std::vector<ContextProcess> list;
    const std::string pidList = Narrow(Environment(L"VELA_BENCH_CONTEXT_PIDS"));
    size_t start = 0;
    while (start < pidList.size()) {
        size_t end = pidList.find(',', start);
        if (end == std::string::npos) end = pidList.size();
        const std::string one = pidList.substr(start, end - start);
        const size_t colon = one.find(':');
        if (colon != std::string::npos) {
            ContextProcess process{one.substr(0, colon), std::strtoul(one.c_str() + colon + 1, nullptr, 10)};
            if (process.pid) list.push_back(process);
        }
        start = end + 1;
    }
    return list;
}

double LinuxCpuSeconds(unsigned long pid) {
    static const double ticks = [] {
        const double t = std::atof(Narrow(Environment(L"VELA_BENCH_CLK_TCK")).c_str());
        return t > 0 ? t : 100.0;
    }();
    const std::wstring path = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\stat";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    std::string text;
    char buffer[1024];
    DWORD got = 0;
    while (text.size() < 16384 && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    // The command name may hold blanks: the fields are counted after its closing parenthesis.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    size_t at = close + 1;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ') ++at;
        const size_t end = text.find(' ', at);
        fields.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end;
    }
    if (fields.size() < 13) return -1;  // utime and stime are the 14th and 15th fields
    return (std::strtod(fields[11].c_str(), nullptr) + std::strtod(fields[12].c_str(), nullptr)) / ticks;
}

// ---- the data callback ----
class CountingSink final : public DataCallbackBase {
public:
    explicit CountingSink(DWORD items) : seen_(items + 1, 0) {}

    uint64_t changes = 0, callbacks = 0, badQuality = 0, itemErrors = 0, masterErrors = 0, strangeHandles = 0;
    uint64_t otherCallbacks = 0;
    ULONGLONG firstArrival = 0;
    HRESULT firstItemError = S_OK, firstMasterError = S_OK;
    WORD firstBadQuality = 0;

    // Counts which items were heard from since the last call.
    size_t TakeDistinct() {
        size_t distinct = 0;
        for (uint8_t& flag : seen_) {
            distinct += flag;
            flag = 0;
        }
        return distinct;
    }

    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT hrMastererror, DWORD dwCount,
                              OPCHANDLE* phClientItems, VARIANT*, WORD* pwQualities, FILETIME*,
                              HRESULT* pErrors) override {
        if (!firstArrival) firstArrival = GetTickCount64();
        ++callbacks;
        changes += dwCount;
        if (FAILED(hrMastererror)) {
            if (!masterErrors) firstMasterError = hrMastererror;
            ++masterErrors;
        }
        for (DWORD i = 0; i < dwCount; ++i) {
            const OPCHANDLE client = phClientItems ? phClientItems[i] : 0;
            if (client >= 1 && client < seen_.size()) seen_[client] = 1;
            else ++strangeHandles;
            if (pwQualities && (pwQualities[i] & 0xC0) != 0xC0) {
                if (!badQuality) firstBadQuality = pwQualities[i];
                ++badQuality;
            }
            if (pErrors && FAILED(pErrors[i])) {
                if (!itemErrors) firstItemError = pErrors[i];
                ++itemErrors;
            }
        }
        return S_OK;
    }
    STDMETHODIMP OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                HRESULT*) override {
        ++otherCallbacks;
        return S_OK;
    }
    STDMETHODIMP OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        ++otherCallbacks;
        return S_OK;
    }
    STDMETHODIMP OnCancelComplete(DWORD, OPCHANDLE) override {
        ++otherCallbacks;
        return S_OK;
    }

private:
    std::vector<uint8_t> seen_;
};

// ---- set-up ----
bool RegisterAll(const std::wstring& proxyDll, const std::wstring& gatewayExe) {
    const ProxyStubRegistration proxy = RegisterProxyStub(proxyDll);
    if (!proxy.loaded) {
        std::printf("ERROR cannot load %s (error %lu)\n", Narrow(proxyDll).c_str(), proxy.loadError);
        return false;
    }
    if (FAILED(proxy.hr)) {
        std::printf("ERROR DllRegisterServer of the proxy/stub DLL returned %s\n", HrText(proxy.hr).c_str());
        return false;
    }
    DWORD exitCode = STILL_ACTIVE;
    if (!RegisterGateway(gatewayExe, exitCode) || exitCode != 0) {
        std::printf("ERROR vela_gateway.exe /RegServer ended with %lu\n", exitCode);
        return false;
    }
    return true;
}

// ---- one measurement ----
struct Options {
    DWORD warmupMs = 3000;
    DWORD windowMs = 20000;
};

struct Figures {
    DWORD items = 0;
    bool complete = false;
    double addItemsMs = 0;
    double changesPerSecond = 0, callbacksPerSecond = 0;
    double cpuPerChangeUs = -1;
    double growthPerItem = 0;
};

void PrintContext(const std::vector<ContextProcess>& context, const std::vector<double>& before, double window) {
    for (size_t i = 0; i < context.size(); ++i) {
        const double after = LinuxCpuSeconds(context[i].pid);
        if (before[i] < 0 || after < 0) {
            std::printf("  %-34s (pid %lu not readable)\n", (context[i].name + " CPU (not counted)").c_str(),
                        context[i].pid);
            continue;
        }
        std::printf("  %-34s %.2f s = %.0f %% of one core\n", (context[i].name + " CPU (not counted)").c_str(),
                    after - before[i], 100.0 * (after - before[i]) / window);
    }
}

Figures Measure(DWORD itemCount, const Options& options, const std::vector<ContextProcess>& context,
                const std::wstring& gatewayExe) {
    Figures figures;
    figures.items = itemCount;
    std::printf("\n== %lu items, group active at 100 ms, warm-up %.0f s, window %.0f s ==\n", itemCount,
                options.warmupMs / 1000.0, options.windowMs / 1000.0);
    std::fflush(stdout);
    if (const DWORD stale = FindProcess(L"vela_gateway.exe"))
        std::printf("  note: a gateway process (%lu) runs already; its figures include whatever else it does\n",
                    stale);

    Stage("CoCreateInstance");
    ComPtr<IOPCServer> server;
    LARGE_INTEGER started = Now();
    HRESULT hr = vela::da_client::CreateServerByProgId(vela::da_client::kTestServerProgId, IID_IOPCServer,
                                                       server.put_void());
    std::printf("  %-34s %.0f ms (%s)\n", "CoCreateInstance", Seconds(started, Now()) * 1000, HrText(hr).c_str());
    if (FAILED(hr) || !server) {
        std::printf("ERROR CoCreateInstance(the test server's ProgID, CLSCTX_LOCAL_SERVER, IID_IOPCServer) returned %s\n",
                    HrText(hr).c_str());
        return figures;
    }
    const DWORD gatewayPid = FindProcess(L"vela_gateway.exe");
    HANDLE gateway =
        gatewayPid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, gatewayPid) : nullptr;
    if (!gateway)
        std::printf("ERROR the gateway process was not found or not opened (pid %lu, error %lu): no CPU or memory "
                    "figures\n",
                    gatewayPid, GetLastError());

    Stage("AddGroup");
    OPCHANDLE groupHandle = 0;
    DWORD revisedRate = 0;
    ComPtr<IUnknown> group;
    hr = server->AddGroup(L"Bench", TRUE, 100, 1, nullptr, nullptr, 0x800, &groupHandle, &revisedRate, IID_IUnknown,
                          group.put_unknown());
    std::printf("  %-34s %s, revised rate %lu ms\n", "AddGroup", HrText(hr).c_str(), revisedRate);
    ComPtr<IOPCItemMgt> itemMgt;
    if (group) group->QueryInterface(IID_IOPCItemMgt, itemMgt.put_void());
    if (FAILED(hr) || !itemMgt) {
        std::printf("ERROR AddGroup returned %s%s\n", HrText(hr).c_str(), itemMgt ? "" : " (no IOPCItemMgt)");
        group.Reset();
        server.Reset();
        if (gateway) CloseHandle(gateway);
        return figures;
    }

    std::vector<std::wstring> ids;
    ids.reserve(itemCount);
    std::vector<OPCITEMDEF> definitions(itemCount);
    for (DWORD i = 0; i < itemCount; ++i) {
        wchar_t id[64];
        std::swprintf(id, 64, L"ns=1;s=Demo.Bulk.V%05lu", i);
        ids.emplace_back(id);
    }
    for (DWORD i = 0; i < itemCount; ++i) {
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        definitions[i].bActive = TRUE;
        definitions[i].hClient = i + 1;
        definitions[i].vtRequestedDataType = VT_EMPTY;
    }

    // Let the start-up settle so that the baseline is the idle gateway with one empty group.
    PumpFor(500);
    const Memory before = ProcessMemory(gateway);

    Stage("AddItems");
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    started = Now();
    hr = itemMgt->AddItems(itemCount, definitions.data(), &results, &errors);
    figures.addItemsMs = Seconds(started, Now()) * 1000;
    DWORD failed = 0;
    HRESULT firstError = S_OK;
    DWORD firstFailed = 0;
    if (results && errors) {
        for (DWORD i = 0; i < itemCount; ++i) {
            if (FAILED(errors[i])) {
                if (!failed) {
                    firstError = errors[i];
                    firstFailed = i;
                }
                ++failed;
            }
            CoTaskMemFree(results[i].pBlob);
        }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    std::printf("  %-34s %.1f ms (%s; %lu added, %lu failed)\n", "AddItems", figures.addItemsMs, HrText(hr).c_str(),
                itemCount - failed, failed);
    if (failed)
        std::printf("ERROR AddItems: %lu items failed, the first %ls with %s\n", failed, ids[firstFailed].c_str(),
                    HrText(firstError).c_str());

    Stage("Advise");
    auto* sink = new CountingSink(itemCount);
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    HRESULT adviseHr = group->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (SUCCEEDED(adviseHr) && container) adviseHr = container->FindConnectionPoint(IID_IOPCDataCallback, point.put());
    const ULONGLONG advised = GetTickCount64();
    if (SUCCEEDED(adviseHr) && point) adviseHr = point->Advise(static_cast<IOPCDataCallback*>(sink), &cookie);
    if (FAILED(adviseHr) || !cookie)
        std::printf("ERROR connecting the data callback (QueryInterface/FindConnectionPoint/Advise) returned %s\n",
                    HrText(adviseHr).c_str());

    if (SUCCEEDED(hr) && cookie) {
        Stage("warm-up");
        PumpUntil([&] { return sink->callbacks > 0; }, options.warmupMs);
        if (sink->firstArrival)
            std::printf("  %-34s %llu ms\n", "first OnDataChange after Advise", sink->firstArrival - advised);
        PumpUntil([&] { return GetTickCount64() >= advised + options.warmupMs; }, options.warmupMs);

        Stage("measurement window");
        sink->TakeDistinct();
        const uint64_t changes0 = sink->changes, callbacks0 = sink->callbacks;
        const CpuTimes cpu0 = ProcessCpu(gateway);
        const CpuTimes self0 = ProcessCpu(GetCurrentProcess());
        std::vector<double> context0;
        for (const ContextProcess& process : context) context0.push_back(LinuxCpuSeconds(process.pid));
        const LARGE_INTEGER window0 = Now();
        PumpFor(options.windowMs);
        const double window = Seconds(window0, Now());
        const CpuTimes cpu1 = ProcessCpu(gateway);
        const CpuTimes self1 = ProcessCpu(GetCurrentProcess());
        const uint64_t changes = sink->changes - changes0, callbacks = sink->callbacks - callbacks0;
        const size_t distinct = sink->TakeDistinct();
        const Memory after = ProcessMemory(gateway);

        figures.changesPerSecond = static_cast<double>(changes) / window;
        figures.callbacksPerSecond = static_cast<double>(callbacks) / window;
        std::printf("  %-34s %.0f /s (%llu in %.1f s)\n", "item changes delivered", figures.changesPerSecond,
                    static_cast<unsigned long long>(changes), window);
        std::printf("  %-34s %.2f /s (%llu), %.0f changes each\n", "OnDataChange callbacks",
                    figures.callbacksPerSecond, static_cast<unsigned long long>(callbacks),
                    callbacks ? static_cast<double>(changes) / static_cast<double>(callbacks) : 0.0);
        const double allowed = itemCount * 1000.0 / std::max<DWORD>(revisedRate, 1);
        std::printf("  %-34s %zu of %lu; %.0f %% of the %.0f changes/s a %lu ms rate allows\n",
                    "items heard from in window", distinct, itemCount, 100.0 * figures.changesPerSecond / allowed,
                    allowed, revisedRate);
        if (cpu0.valid && cpu1.valid) {
            const double used = cpu1.total() - cpu0.total();
            std::printf("  %-34s %.2f s (user %.2f, kernel %.2f) = %.0f %% of one core\n", "gateway CPU in window",
                        used, cpu1.user - cpu0.user, cpu1.kernel - cpu0.kernel, 100.0 * used / window);
            if (changes) {
                figures.cpuPerChangeUs = used * 1e6 / static_cast<double>(changes);
                std::printf("  %-34s %.2f us (goal <= 2)\n", "gateway CPU per delivered change",
                            figures.cpuPerChangeUs);
            }
        } else {
            std::printf("  gateway CPU: GetProcessTimes failed (error %lu)\n", GetLastError());
        }
        if (before.valid && after.valid) {
            figures.growthPerItem = (after.workingSet - before.workingSet) / itemCount;
            std::printf("  %-34s %.1f MiB before AddItems, %.1f MiB after the window\n", "gateway working set",
                        before.workingSet / 1048576.0, after.workingSet / 1048576.0);
            std::printf("  %-34s %.0f bytes (goal <= 1024)\n", "working-set growth per item", figures.growthPerItem);
            if (after.privateBytes > 0)  // Wine reports none for other processes
                std::printf("  %-34s %.1f -> %.1f MiB, %.0f bytes per item\n", "gateway private bytes",
                            before.privateBytes / 1048576.0, after.privateBytes / 1048576.0,
                            (after.privateBytes - before.privateBytes) / itemCount);
        } else {
            std::printf("  gateway memory: GetProcessMemoryInfo failed (error %lu)\n", GetLastError());
        }
        if (self0.valid && self1.valid)
            std::printf("  %-34s %.2f s = %.0f %% of one core\n", "this client's CPU (not counted)",
                        self1.total() - self0.total(), 100.0 * (self1.total() - self0.total()) / window);
        PrintContext(context, context0, window);
        if (sink->masterErrors)
            std::printf("  note: %llu callbacks with a failed master error, the first %s\n",
                        static_cast<unsigned long long>(sink->masterErrors), HrText(sink->firstMasterError).c_str());
        if (sink->itemErrors)
            std::printf("  note: %llu item entries with a failed error, the first %s\n",
                        static_cast<unsigned long long>(sink->itemErrors), HrText(sink->firstItemError).c_str());
        if (sink->badQuality)
            std::printf("  note: %llu item entries not of good quality, the first 0x%02x\n",
                        static_cast<unsigned long long>(sink->badQuality), sink->firstBadQuality);
        if (sink->strangeHandles)
            std::printf("  note: %llu item entries with a client handle that was never given\n",
                        static_cast<unsigned long long>(sink->strangeHandles));
        if (sink->otherCallbacks)
            std::printf("  note: %llu read/write/cancel completions nobody asked for\n",
                        static_cast<unsigned long long>(sink->otherCallbacks));
        if (!changes) std::printf("ERROR no data changes arrived in the window\n");
        figures.complete = changes > 0 && cpu0.valid && cpu1.valid && before.valid && after.valid;
    }

    Stage("release");
    if (point && cookie) {
        const HRESULT unadviseHr = point->Unadvise(cookie);
        if (FAILED(unadviseHr)) std::printf("ERROR Unadvise returned %s\n", HrText(unadviseHr).c_str());
    }
    point.Reset();
    container.Reset();
    sink->Release();
    itemMgt.Reset();
    group.Reset();
    started = Now();
    const HRESULT removeHr = server->RemoveGroup(groupHandle, FALSE);
    std::printf("  %-34s %.0f ms (%s)%s\n", "RemoveGroup after the release", Seconds(started, Now()) * 1000,
                HrText(removeHr).c_str(),
                removeHr == E_INVALIDARG ? ": the gateway had dropped the group with its last reference" : "");
    server.Reset();
    // The gateway lingers a few seconds after its last object; a fresh process per run keeps runs apart.
    Stage("waiting for the gateway to exit");
    started = Now();
    const CpuTimes waitCpu0 = ProcessCpu(gateway);
    const bool exited =
        !gateway || PumpUntil([&] { return WaitForSingleObject(gateway, 0) == WAIT_OBJECT_0; }, 45000);
    if (exited) {
        std::printf("  %-34s %.1f s after the last release\n", "gateway exited", Seconds(started, Now()));
    } else {
        std::printf("ERROR the gateway (pid %lu) still runs 45 s after its client let go of everything; "
                    "asking it to stop with /stop\n",
                    gatewayPid);
        const CpuTimes waitCpu1 = ProcessCpu(gateway);
        std::printf("  %-34s %lu threads; %.2f s CPU used while waiting\n", "the lingering gateway",
                    ThreadCount(gatewayPid), waitCpu1.total() - waitCpu0.total());
        DWORD exitCode = STILL_ACTIVE;
        RunAndWait(gatewayExe, L"/stop", 30000, exitCode);
        const bool stopped = PumpUntil([&] { return WaitForSingleObject(gateway, 0) == WAIT_OBJECT_0; }, 15000);
        std::printf("  %-34s /stop ended with %lu; the gateway %s\n", "stop request", exitCode,
                    stopped ? "exited" : "still runs");
    }
    if (gateway) CloseHandle(gateway);
    std::fflush(stdout);
    return figures;
}

DWORD WINAPI Watchdog(void* budget) {
    const DWORD ms = static_cast<DWORD>(reinterpret_cast<uintptr_t>(budget));
    Sleep(ms);
    std::printf("\nERROR the benchmark did not end within %lu s (stuck in \"%s\")\n", ms / 1000, stage.load());
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // plain \n for the Linux side
    if (argc < 3) {
        std::printf("usage: gateway_bench <opcda_ps.dll> <vela_gateway.exe> [item count...] [/warmup:S] [/window:S]\n");
        return 2;
    }
    Options options;
    std::vector<DWORD> counts;
    for (int i = 3; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument.rfind(L"/warmup:", 0) == 0) options.warmupMs = static_cast<DWORD>(_wtof(argument.c_str() + 8) * 1000);
        else if (argument.rfind(L"/window:", 0) == 0) options.windowMs = static_cast<DWORD>(_wtof(argument.c_str() + 8) * 1000);
        else if (const long count = _wtol(argument.c_str()); count > 0 && count <= 100000) counts.push_back(static_cast<DWORD>(count));
        else {
            std::printf("ERROR unknown argument \"%s\"\n", Narrow(argument).c_str());
            return 2;
        }
    }
    if (counts.empty()) counts = {10000, 1000};
    options.windowMs = std::max<DWORD>(options.windowMs, 1000);

    // Every step below is bounded by its own wait; this catches a call that never returns.
    const DWORD budgetMs = 60000 + static_cast<DWORD>(counts.size()) * (options.warmupMs + options.windowMs + 200000);
    CloseHandle(CreateThread(nullptr, 0, Watchdog, reinterpret_cast<void*>(static_cast<uintptr_t>(budgetMs)), 0, nullptr));

    const std::wstring proxyDll = WindowsPath(argv[1]);
    const std::wstring gatewayExe = WindowsPath(argv[2]);
    const std::wstring url = Environment(L"VELA_UA_URL");
    std::printf("Gateway benchmark: remote server %s\n", url.empty() ? "(VELA_UA_URL not set)" : Narrow(url).c_str());
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::printf("%lu CPUs seen by Wine; the gateway's CPU is user+kernel time of its process only\n",
                system.dwNumberOfProcessors);
    const std::vector<ContextProcess> context = ContextProcesses();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    std::vector<Figures> all;
    Stage("registration");
    if (RegisterAll(proxyDll, gatewayExe))
        for (DWORD count : counts) all.push_back(Measure(count, options, context, gatewayExe));
    CoUninitialize();

    std::printf("\nSUMMARY items | AddItems ms | changes/s | callbacks/s | gateway CPU us/change | WS growth B/item\n");
    for (const Figures& f : all)
        std::printf("SUMMARY %6lu | %9.1f | %9.0f | %6.2f | %8.2f | %6.0f%s\n", f.items, f.addItemsMs,
                    f.changesPerSecond, f.callbacksPerSecond, f.cpuPerChangeUs, f.growthPerItem,
                    f.complete ? "" : "  (incomplete, see above)");
    std::fflush(stdout);
    return 0;
}
