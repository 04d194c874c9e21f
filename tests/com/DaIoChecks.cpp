// Reads, writes, callbacks, data changes, a second client and the loss of the remote server.
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "tests/com/CallbackSinks.h"
#include "tests/com/DaChecks.h"
#include "tests/com/DaTestSupport.h"

namespace vela::e2e {
namespace {

struct ReadResult {
    HRESULT error = E_FAIL;
    OPCHANDLE client = 0;
    WORD quality = 0xFFFF;
    FILETIME time{};
    Variant value;
};

HRESULT ReadItems(Group& group, OPCDATASOURCE source, const std::vector<OPCHANDLE>& handles,
                  std::vector<ReadResult>& out) {
    out.assign(handles.size(), ReadResult{});
    if (!group.sync || handles.empty()) return E_POINTER;
    const DWORD count = static_cast<DWORD>(handles.size());
    ItemStates states;
    TaskMem<HRESULT> errors;
    const HRESULT hr =
        group.sync->Read(source, count, const_cast<OPCHANDLE*>(handles.data()), states.put(count), errors.put());
    if (states && errors)
        for (DWORD i = 0; i < count; ++i) {
            out[i].error = errors[i];
            out[i].client = states[i].hClient;
            out[i].quality = states[i].wQuality;
            out[i].time = states[i].ftTimeStamp;
            CopyVariant(out[i].value.get(), &states[i].vDataValue);
        }
    return hr;
}

HRESULT WriteItems(Group& group, const std::vector<OPCHANDLE>& handles, std::vector<Variant>& values,
                   std::vector<HRESULT>& out) {
    out.assign(handles.size(), E_FAIL);
    if (!group.sync || handles.empty()) return E_POINTER;
    std::vector<VARIANT> raw;
    for (Variant& value : values) raw.push_back(*value);  // shallow: the Variants keep ownership
    TaskMem<HRESULT> errors;
    const HRESULT hr = group.sync->Write(static_cast<DWORD>(handles.size()), const_cast<OPCHANDLE*>(handles.data()),
                                         raw.data(), errors.put());
    if (errors)
        for (size_t i = 0; i < handles.size(); ++i) out[i] = errors[i];
    return hr;
}

Variant Make(VARTYPE type, auto setter) {
    Variant value;
    value.get()->vt = type;
    setter(*value.get());
    return value;
}

Variant Text(const wchar_t* text) {
    return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(text); });
}

Variant Int32(LONG number) { return Make(VT_I4, [&](VARIANT& v) { v.lVal = number; }); }
Variant Real(double number) { return Make(VT_R8, [&](VARIANT& v) { v.dblVal = number; }); }

template <typename T>
Variant Array(VARTYPE type, std::initializer_list<T> elements) {
    Variant value;
    SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<ULONG>(elements.size()));
    LONG index = 0;
    for (T element : elements) {
        if constexpr (std::is_same_v<T, const wchar_t*>) {
            BSTR text = SysAllocString(element);
            SafeArrayPutElement(array, &index, text);
            SysFreeString(text);
        } else {
            SafeArrayPutElement(array, &index, &element);
        }
        ++index;
    }
    value.get()->vt = static_cast<VARTYPE>(VT_ARRAY | type);
    value.get()->parray = array;
    return value;
}

bool SameValue(const VARIANT& a, const VARIANT& b) { return a.vt == b.vt && VariantText(a) == VariantText(b); }

struct TypeCase {
    const wchar_t* path;
    VARTYPE canonical;
    Variant written;
};

std::vector<TypeCase> TypeCases() {
    SYSTEMTIME when{2025, 6, 6, 7, 8, 9, 10, 0};
    DATE date = 0;
    SystemTimeToVariantTime(&when, &date);
    std::vector<TypeCase> cases;
    cases.push_back({L"Demo.Static.Scalars.Boolean", VT_BOOL, Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; })});
    cases.push_back({L"Demo.Static.Scalars.SByte", VT_I1, Make(VT_I1, [](VARIANT& v) { v.cVal = -5; })});
    cases.push_back({L"Demo.Static.Scalars.Byte", VT_UI1, Make(VT_UI1, [](VARIANT& v) { v.bVal = 7; })});
    cases.push_back({L"Demo.Static.Scalars.Int16", VT_I2, Make(VT_I2, [](VARIANT& v) { v.iVal = -1234; })});
    cases.push_back({L"Demo.Static.Scalars.UInt16", VT_UI2, Make(VT_UI2, [](VARIANT& v) { v.uiVal = 54321; })});
    cases.push_back({L"Demo.Static.Scalars.Int32", VT_I4, Int32(-123456)});
    cases.push_back({L"Demo.Static.Scalars.UInt32", VT_UI4, Make(VT_UI4, [](VARIANT& v) { v.ulVal = 3000000000u; })});
    cases.push_back({L"Demo.Static.Scalars.Int64", VT_I8, Make(VT_I8, [](VARIANT& v) { v.llVal = -9000000000LL; })});
    cases.push_back({L"Demo.Static.Scalars.UInt64", VT_UI8, Make(VT_UI8, [](VARIANT& v) { v.ullVal = 9000000000ULL; })});
    cases.push_back({L"Demo.Static.Scalars.Float", VT_R4, Make(VT_R4, [](VARIANT& v) { v.fltVal = 2.5f; })});
    cases.push_back({L"Demo.Static.Scalars.Double", VT_R8, Real(6.125)});
    cases.push_back({L"Demo.Static.Scalars.String", VT_BSTR, Text(L"Gr\u00fc\u00dfe")});
    cases.push_back({L"Demo.Static.Scalars.DateTime", VT_DATE, Make(VT_DATE, [&](VARIANT& v) { v.date = date; })});
    cases.push_back({L"Demo.Static.Arrays.Int32Array", VT_ARRAY | VT_I4, Array<LONG>(VT_I4, {10, 20, 30})});
    cases.push_back({L"Demo.Static.Arrays.DoubleArray", VT_ARRAY | VT_R8, Array<double>(VT_R8, {0.25, 0.75})});
    cases.push_back({L"Demo.Static.Arrays.StringArray", VT_ARRAY | VT_BSTR,
                     Array<const wchar_t*>(VT_BSTR, {L"x", L"yz"})});
    return cases;
}

// The call at index, or null.
const Callback* At(const DataSink& sink, int index) {
    return index >= 0 && static_cast<size_t>(index) < sink.calls.size() ? &sink.calls[static_cast<size_t>(index)]
                                                                          : nullptr;
}

}  // namespace

void CheckSyncIo(IOPCServer* server) {
    Group group = AddGroup(server, L"Sync", TRUE, 1000, 30);
    CheckHr(group.added, S_OK, "AddGroup \"Sync\" (active)");
    if (FAILED(group.added) || !group.sync) return;
    std::vector<TypeCase> cases = TypeCases();
    std::vector<ItemDef> defs;
    for (size_t i = 0; i < cases.size(); ++i) defs.push_back({Node(cases[i].path), static_cast<OPCHANDLE>(100 + i)});
    const size_t iSensor = defs.size();
    defs.push_back({Node(L"Demo.Static.Bad.SensorFailure"), 200});
    const size_t iUncertain = defs.size();
    defs.push_back({Node(L"Demo.Static.Bad.Uncertain"), 201});
    const size_t iReadOnly = defs.size();
    defs.push_back({Node(L"Demo.Static.Access.ReadOnly"), 202});
    const size_t iWriteOnly = defs.size();
    defs.push_back({Node(L"Demo.Static.Access.WriteOnly"), 203});
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    std::vector<VARTYPE> canonical;
    CheckHr(AddItemsTo(group, defs, handles, &errors, &canonical), S_OK, "AddItems of every type");
    std::string wrongTypes;
    for (size_t i = 0; i < cases.size(); ++i)
        if (canonical[i] != cases[i].canonical) {
            char text[160];
            std::snprintf(text, sizeof text, " %s=0x%x(want 0x%x)", Narrow(cases[i].path).c_str() + 12, canonical[i],
                          cases[i].canonical);
            wrongTypes += text;
        }
    if (!Check(wrongTypes.empty(), "each canonical type follows the UA data type")) Info("%s", wrongTypes.c_str());

    // Device and cache reads of the good items
    std::vector<OPCHANDLE> good(handles.begin(), handles.begin() + static_cast<long>(cases.size()));
    good.push_back(handles[iReadOnly]);
    std::vector<ReadResult> results;
    CheckHr(ReadItems(group, OPC_DS_DEVICE, good, results), S_OK, "Read from the device");
    bool allGood = true;
    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i].error != S_OK || results[i].quality != kQualityGood || Ticks(results[i].time) == 0) {
            allGood = false;
            Info("%s: %s, quality 0x%x, %s", Narrow(defs[i < cases.size() ? i : iReadOnly].id.c_str()).c_str(),
                 HrText(results[i].error).c_str(), results[i].quality, VariantText(*results[i].value).c_str());
        }
    }
    Check(allGood, "every item good (0xC0), no error, with a time stamp");
    Check(!results.empty() && results[10].client == 110 && results[10].value->vt == VT_R8,
          "the Double comes as VT_R8 with its client handle");
    CheckHr(ReadItems(group, OPC_DS_CACHE, good, results), S_OK, "Read from the cache");
    bool cacheGood = true;
    for (const ReadResult& result : results) cacheGood = cacheGood && result.quality == kQualityGood;
    Check(cacheGood, "every cache value good");

    // Write every type and read it back
    std::vector<OPCHANDLE> typed(handles.begin(), handles.begin() + static_cast<long>(cases.size()));
    std::vector<Variant> values;
    for (TypeCase& one : cases) values.push_back(one.written);
    std::vector<HRESULT> writeErrors;
    CheckHr(WriteItems(group, typed, values, writeErrors), S_OK, "Write of every type");
    CheckHr(ReadItems(group, OPC_DS_DEVICE, typed, results), S_OK, "Read back from the device");
    for (size_t i = 0; i < cases.size(); ++i) {
        char what[160];
        std::snprintf(what, sizeof what, "%s written and read back equal", Narrow(cases[i].path).c_str() + 12);
        const bool same = writeErrors[i] == S_OK && SameValue(*results[i].value, *cases[i].written);
        if (!same)
            Info("write %s; wrote %s, read %s (%s)", HrText(writeErrors[i]).c_str(),
                 VariantText(*cases[i].written).c_str(), VariantText(*results[i].value).c_str(),
                 HrText(results[i].error).c_str());
        Check(same, what);
    }

    // Qualities of bad and uncertain values
    std::vector<OPCHANDLE> odd = {handles[iSensor], handles[iUncertain]};
    ReadItems(group, OPC_DS_DEVICE, odd, results);
    Info("SensorFailure: %s, quality 0x%x; Uncertain: %s, quality 0x%x %s", HrText(results[0].error).c_str(),
         results[0].quality, HrText(results[1].error).c_str(), results[1].quality,
         VariantText(*results[1].value).c_str());
    Check(results[0].quality == kQualitySensorFailure, "Bad_SensorFailure gives quality 0x10");
    Check(results[1].quality == kQualityLastUsable, "Uncertain_LastUsableValue gives quality 0x44");
    {
        std::vector<Variant> nine = {Int32(9)};
        std::vector<OPCHANDLE> one = {handles[iUncertain]};
        WriteItems(group, one, nine, writeErrors);
        ReadItems(group, OPC_DS_DEVICE, one, results);
        Check(writeErrors[0] == S_OK && results[0].value->vt == VT_I4 && results[0].value->lVal == 9 &&
                  results[0].quality == kQualityLastUsable,
              "the uncertain item keeps a written 9, still 0x44");
    }

    // Requested types
    {
        const OPCHANDLE hInt32 = handles[5];
        OPCHANDLE list[] = {hInt32};
        VARTYPE asText[] = {VT_BSTR};
        TaskMem<HRESULT> itemErrors;
        group.items->SetDatatypes(1, list, asText, itemErrors.put());
        std::vector<OPCHANDLE> one = {hInt32};
        ReadItems(group, OPC_DS_DEVICE, one, results);
        Check(results[0].value->vt == VT_BSTR && results[0].value->bstrVal &&
                  std::wcscmp(results[0].value->bstrVal, L"-123456") == 0,
              "Int32 requested as VT_BSTR reads \"-123456\"");
        if (results[0].value->vt != VT_BSTR) Info("got %s", VariantText(*results[0].value).c_str());
        VARTYPE asReal[] = {VT_R8};
        group.items->SetDatatypes(1, list, asReal, itemErrors.put());
        ReadItems(group, OPC_DS_CACHE, one, results);
        Check(results[0].value->vt == VT_R8 && results[0].value->dblVal == -123456.0,
              "requested as VT_R8 it reads -123456.0");
        if (results[0].value->vt != VT_R8) Info("got %s", VariantText(*results[0].value).c_str());
        std::vector<Variant> asString = {Text(L"4711")};
        WriteItems(group, one, asString, writeErrors);
        VARTYPE canonicalAgain[] = {VT_I4};
        group.items->SetDatatypes(1, list, canonicalAgain, itemErrors.put());
        ReadItems(group, OPC_DS_DEVICE, one, results);
        Check(writeErrors[0] == S_OK && results[0].value->vt == VT_I4 && results[0].value->lVal == 4711,
              "a VT_BSTR \"4711\" written goes out as the Int32 4711");
    }

    // Write errors
    {
        std::vector<OPCHANDLE> one = {handles[3]};  // Int16
        std::vector<Variant> tooBig = {Int32(70000)};
        CheckHr(WriteItems(group, one, tooBig, writeErrors), S_FALSE, "Write of 70000 into Int16");
        CheckHr(writeErrors[0], kRange, "is OPC_E_RANGE");
        std::vector<OPCHANDLE> readOnly = {handles[iReadOnly]};
        std::vector<Variant> seven = {Int32(1)};
        CheckHr(WriteItems(group, readOnly, seven, writeErrors), S_FALSE, "Write to ReadOnly");
        CheckHr(writeErrors[0], kBadRights, "is OPC_E_BADRIGHTS");
        std::vector<OPCHANDLE> int32 = {handles[5]};
        std::vector<Variant> empty(1);
        WriteItems(group, int32, empty, writeErrors);
        CheckHr(writeErrors[0], kBadType, "Write of an empty value is OPC_E_BADTYPE");
        std::vector<Variant> words = {Text(L"not a number")};
        WriteItems(group, int32, words, writeErrors);
        CheckHr(writeErrors[0], kBadType, "Write of \"not a number\" into Int32 is OPC_E_BADTYPE");
        std::vector<OPCHANDLE> mixed = {kBogusHandle, handles[10]};
        std::vector<Variant> two = {Real(1.0), Real(6.5)};
        CheckHr(WriteItems(group, mixed, two, writeErrors), S_FALSE, "Write [unknown, known]");
        Check(writeErrors[0] == kInvalidHandle && writeErrors[1] == S_OK, "OPC_E_INVALIDHANDLE at 0, S_OK at 1");
        std::vector<OPCHANDLE> writeOnly = {handles[iWriteOnly]};
        ReadItems(group, OPC_DS_DEVICE, writeOnly, results);
        Info("Read of WriteOnly: %s, quality 0x%x", HrText(results[0].error).c_str(), results[0].quality);
        Check(results[0].error == kBadRights, "Read of WriteOnly is OPC_E_BADRIGHTS");
    }

    // Handles and sources
    {
        std::vector<OPCHANDLE> mixed = {kBogusHandle, handles[10]};
        CheckHr(ReadItems(group, OPC_DS_DEVICE, mixed, results), S_FALSE, "Read [unknown, known]");
        Check(results[0].error == kInvalidHandle && results[1].error == S_OK && results[1].value->vt == VT_R8 &&
                  results[1].value->dblVal == 6.5,
              "OPC_E_INVALIDHANDLE at 0, the Double's 6.5 at 1");
        std::vector<OPCHANDLE> one = {handles[10]};
        ItemStates states;
        TaskMem<HRESULT> itemErrors;
        CheckHr(group.sync->Read(static_cast<OPCDATASOURCE>(3), 1, one.data(), states.put(1), itemErrors.put()),
                E_INVALIDARG, "Read from source 3");
        TaskMem<HRESULT> activeErrors;
        group.items->SetActiveState(1, one.data(), FALSE, activeErrors.put());
        ReadItems(group, OPC_DS_CACHE, one, results);
        Check(results[0].quality == kQualityOutOfService, "a cache read of an inactive item is 0x1C");
        ReadItems(group, OPC_DS_DEVICE, one, results);
        Check(results[0].quality == kQualityGood, "a device read of it is good");
    }
    CheckHr(DropGroup(server, group), S_OK, "RemoveGroup \"Sync\"");
}

void CheckAsyncIo(IOPCServer* server) {
    Group group = AddGroup(server, L"Async", TRUE, 200, 40);
    CheckHr(group.added, S_OK, "AddGroup \"Async\" (active, 200 ms)");
    if (FAILED(group.added) || !group.async) return;
    std::vector<OPCHANDLE> handles;
    AddItemsTo(group,
               {{Node(L"Demo.Static.Scalars.Double"), 41},
                {Node(L"Demo.Static.Scalars.Int32"), 42},
                {Node(L"Demo.Static.Access.ReadOnly"), 43}},
               handles);
    const OPCHANDLE hDouble = handles[0], hInt32 = handles[1], hReadOnly = handles[2];
    DWORD cancel = 0;
    {
        TaskMem<HRESULT> errors;
        OPCHANDLE list[] = {hDouble};
        CheckHr(group.async->Read(1, list, 1, &cancel, errors.put()), kNoConnection,
                "AsyncIO2 Read without a callback is CONNECT_E_NOCONNECTION");
    }
    auto* sink = new DataSink();
    ComPtr<IUnknown> sinkRef(static_cast<IOPCDataCallback*>(sink));
    Advised advised;
    if (!CheckHr(advised.Advise(group.unknown.get(), sinkRef.get(), IID_IOPCDataCallback), S_OK,
                 "Advise of an IOPCDataCallback")) {
        DropGroup(server, group);
        return;
    }
    const int first = sink->WaitFor(CallbackKind::DataChange, 0, 5000);
    const Callback* initial = At(*sink, first);
    Check(initial && initial->entries.size() == 3 && initial->group == 40,
          "the first data change brings all three items with the group's client handle");
    if (initial)
        for (const CallbackEntry& entry : initial->entries)
            Info("item %lu: quality 0x%x %s", static_cast<unsigned long>(entry.client), entry.quality,
                 VariantText(*entry.value).c_str());

    // Read
    {
        OPCHANDLE list[] = {hDouble, kBogusHandle, hInt32};
        TaskMem<HRESULT> errors;
        CheckHr(group.async->Read(3, list, 1001, &cancel, errors.put()), S_FALSE, "Read [known, unknown, known]");
        Check(errors && errors[0] == S_OK && errors[1] == kInvalidHandle && errors[2] == S_OK && cancel != 0,
              "OPC_E_INVALIDHANDLE for the unknown one, a cancel id");
        const Callback* done = At(*sink, sink->WaitFor(CallbackKind::ReadComplete, 1001, 5000));
        Check(done != nullptr, "OnReadComplete arrives with the transaction id");
        if (done) {
            Check(done->group == 40 && done->entries.size() == 2 && done->Find(41) && done->Find(42) &&
                      done->masterError == S_OK,
                  "for the two known items, with the group's client handle");
            const CallbackEntry* d = done->Find(41);
            Check(d && d->quality == kQualityGood && d->value->vt == VT_R8 && SecondsFromNow(d->time) < 3600 * 24 * 365,
                  "the Double is good, VT_R8, with a time stamp");
        }
    }
    // Refresh
    {
        CheckHr(group.async->Refresh2(OPC_DS_CACHE, 1003, &cancel), S_OK, "Refresh2");
        const Callback* done = At(*sink, sink->WaitFor(CallbackKind::DataChange, 1003, 5000));
        if (!Check(done && done->entries.size() == 3, "OnDataChange with its transaction id and all three items")) {
            Info(done ? "it came with %zu items" : "none came (%zu callbacks in all)",
                 done ? done->entries.size() : sink->calls.size());
            if (done)
                for (const CallbackEntry& entry : done->entries)
                    Info("item %lu: quality 0x%x %s", static_cast<unsigned long>(entry.client), entry.quality,
                         VariantText(*entry.value).c_str());
        }
    }
    // Write
    {
        OPCHANDLE list[] = {hDouble, hReadOnly};
        VARIANT values[2];
        VariantInit(&values[0]);
        VariantInit(&values[1]);
        values[0].vt = VT_R8;
        values[0].dblVal = 7.75;
        values[1].vt = VT_I4;
        values[1].lVal = 1;
        TaskMem<HRESULT> errors;
        CheckHr(group.async->Write(2, list, values, 1002, &cancel, errors.put()), S_OK, "Write [Double, ReadOnly]");
        const Callback* done = At(*sink, sink->WaitFor(CallbackKind::WriteComplete, 1002, 5000));
        Check(done != nullptr, "OnWriteComplete arrives with the transaction id");
        if (done) {
            const CallbackEntry* d = done->Find(41);
            const CallbackEntry* r = done->Find(43);
            Check(d && d->error == S_OK && r && r->error == kBadRights && done->masterError == S_FALSE,
                  "the Double is written, ReadOnly is OPC_E_BADRIGHTS, master error S_FALSE");
            if (r) Info("ReadOnly: %s", HrText(r->error).c_str());
        }
        std::vector<ReadResult> results;
        std::vector<OPCHANDLE> one = {hDouble};
        ReadItems(group, OPC_DS_DEVICE, one, results);
        Check(results[0].value->vt == VT_R8 && results[0].value->dblVal == 7.75, "the Double reads 7.75 afterwards");
    }
    // A refused write answers that write only: the item is still refreshed.
    {
        group.async->Refresh2(OPC_DS_CACHE, 1013, &cancel);
        const Callback* done = At(*sink, sink->WaitFor(CallbackKind::DataChange, 1013, 5000));
        Info("a refresh after the failed write to ReadOnly reports %zu items", done ? done->entries.size() : 0);
        Check(done && done->entries.size() == 3, "a refresh after a refused write still reports every item");
    }
    // Cancel
    {
        OPCHANDLE list[] = {hDouble};
        TaskMem<HRESULT> errors;
        DWORD cancelId = 0;
        group.async->Read(1, list, 1004, &cancelId, errors.put());
        const HRESULT cancelled = group.async->Cancel2(cancelId);
        Info("Cancel2 right after Read: %s", HrText(cancelled).c_str());
        Check(cancelled == S_OK || cancelled == E_FAIL, "Cancel2 answers S_OK (not started) or E_FAIL (started)");
        PumpFor(1500);
        const bool completed = sink->FindCall(CallbackKind::ReadComplete, 1004) >= 0;
        Check(cancelled == S_OK ? !completed : completed,
              cancelled == S_OK ? "no OnReadComplete for the cancelled read" : "the started read completes");
        Info("OnCancelComplete calls: %zu", sink->Count(CallbackKind::CancelComplete));
        CheckHr(group.async->Cancel2(0x7FFFFFF0), E_FAIL, "Cancel2 of an unknown id");
    }
    // Enable
    {
        BOOL enabled = FALSE;
        CheckHr(group.async->GetEnable(&enabled), S_OK, "GetEnable");
        Check(enabled, "callbacks are enabled at first");
        CheckHr(group.async->SetEnable(FALSE), S_OK, "SetEnable(FALSE)");
        group.async->GetEnable(&enabled);
        Check(!enabled, "GetEnable gives FALSE");
        CheckHr(group.async->Refresh2(OPC_DS_CACHE, 1005, &cancel), S_OK, "Refresh2 while disabled");
        Check(sink->WaitFor(CallbackKind::DataChange, 1005, 5000) >= 0, "its OnDataChange still arrives");
        group.async->SetEnable(TRUE);
    }
    // Refresh2 of a group without active items
    {
        OPCHANDLE list[] = {hDouble, hInt32, hReadOnly};
        TaskMem<HRESULT> errors;
        group.items->SetActiveState(3, list, FALSE, errors.put());
        CheckHr(group.async->Refresh2(OPC_DS_CACHE, 1006, &cancel), E_FAIL, "Refresh2 without active items");
    }
    CheckHr(advised.Unadvise(), S_OK, "Unadvise");
    {
        OPCHANDLE list[] = {hDouble};
        TaskMem<HRESULT> errors;
        CheckHr(group.async->Read(1, list, 1007, &cancel, errors.put()), kNoConnection,
                "after Unadvise Read is CONNECT_E_NOCONNECTION");
    }
    CheckHr(DropGroup(server, group), S_OK, "RemoveGroup \"Async\"");
}

void CheckDataChanges(IOPCServer* server) {
    Group group = AddGroup(server, L"Dynamic", TRUE, 200, 50);
    CheckHr(group.added, S_OK, "AddGroup \"Dynamic\" (active, 200 ms)");
    if (FAILED(group.added) || !group.async) return;
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    AddItemsTo(group, {{Node(L"Demo.Dynamic.Fast"), 51}}, handles, &errors);
    if (!CheckHr(errors[0], S_OK, "AddItems Demo.Dynamic.Fast")) {
        DropGroup(server, group);
        return;
    }
    auto* sink = new DataSink();
    ComPtr<IUnknown> sinkRef(static_cast<IOPCDataCallback*>(sink));
    Advised advised;
    CheckHr(advised.Advise(group.unknown.get(), sinkRef.get(), IID_IOPCDataCallback), S_OK, "Advise");
    Check(sink->WaitFor(CallbackKind::DataChange, 0, 5000) >= 0, "the first data change arrives");
    const size_t from = sink->calls.size();
    PumpFor(2000);
    std::vector<const Callback*> changes;
    for (size_t i = from; i < sink->calls.size(); ++i)
        if (sink->calls[i].kind == CallbackKind::DataChange && sink->calls[i].transaction == 0)
            changes.push_back(&sink->calls[i]);
    Info("%zu data changes in 2 s", changes.size());
    Check(changes.size() >= 5, "several data changes in 2 s at 200 ms");
    Check(changes.size() <= 11, "not more than the rate allows");
    ULONGLONG shortest = ~0ULL;
    for (size_t i = 1; i < changes.size(); ++i)
        shortest = std::min(shortest, changes[i]->arrived - changes[i - 1]->arrived);
    if (changes.size() > 1) Info("shortest interval %llu ms", shortest);
    Check(changes.size() > 1 && shortest >= 120, "no two data changes much closer than the update rate");
    bool rising = true, good = true, utc = true, handle = true;
    LONG last = -1;
    for (const Callback* change : changes) {
        const CallbackEntry* entry = change->Find(51);
        if (!entry || change->group != 50) {
            handle = false;
            continue;
        }
        VARIANT number;
        VariantInit(&number);
        if (SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(entry->value.operator->()), 0, VT_I4))) {
            if (number.lVal <= last) rising = false;
            last = number.lVal;
        } else {
            rising = false;
        }
        if (entry->quality != kQualityGood) good = false;
        if (SecondsFromNow(entry->time) > 10.0) utc = false;
    }
    Check(handle && !changes.empty(), "each carries the item's and the group's client handle");
    Check(rising && !changes.empty(), "the values rise");
    Check(good && !changes.empty(), "quality 0xC0");
    Check(utc && !changes.empty(), "time stamps are UTC, near now");
    if (!changes.empty() && !changes.back()->entries.empty())
        Info("last: %s, time off by %.1f s", VariantText(*changes.back()->entries[0].value).c_str(),
             SecondsFromNow(changes.back()->entries[0].time));

    // Data changes come in the requested type too.
    {
        VARTYPE asText[] = {VT_BSTR};
        TaskMem<HRESULT> typeErrors;
        group.items->SetDatatypes(1, handles.data(), asText, typeErrors.put());
        const size_t mark = sink->calls.size();
        PumpUntil([&] { return sink->Count(CallbackKind::DataChange, mark) >= 2; }, 3000);
        const CallbackEntry* entry = nullptr;
        for (size_t i = sink->calls.size(); i > mark && !entry; --i) entry = sink->calls[i - 1].Find(51);
        if (!Check(entry && entry->value->vt == VT_BSTR, "with VT_BSTR requested the data changes carry texts"))
            Info("got %s", entry ? VariantText(*entry->value).c_str() : "no data change");
        VARTYPE canonical[] = {VT_EMPTY};
        group.items->SetDatatypes(1, handles.data(), canonical, typeErrors.put());
    }

    CheckHr(group.async->SetEnable(FALSE), S_OK, "SetEnable(FALSE)");
    PumpFor(400);
    size_t mark = sink->calls.size();
    PumpFor(1500);
    Check(sink->Count(CallbackKind::DataChange, mark) == 0, "no data changes while disabled");
    group.async->SetEnable(TRUE);
    mark = sink->calls.size();
    PumpFor(1500);
    Check(sink->Count(CallbackKind::DataChange, mark) >= 2, "they resume after SetEnable(TRUE)");

    // A new rate takes effect: 1000 ms gives about one change a second.
    DWORD requested = 1000, revised = 0;
    group.state->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
    PumpFor(1200);
    mark = sink->calls.size();
    PumpFor(3000);
    const size_t slow = sink->Count(CallbackKind::DataChange, mark);
    Info("%zu data changes in 3 s at 1000 ms", slow);
    Check(slow >= 2 && slow <= 4, "SetState to 1000 ms slows them to about one a second");

    // Deactivating the group stops them.
    BOOL off = FALSE;
    group.state->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr);
    PumpFor(1200);
    mark = sink->calls.size();
    PumpFor(2000);
    Check(sink->Count(CallbackKind::DataChange, mark) == 0, "an inactive group sends none");
    advised.Unadvise();
    CheckHr(DropGroup(server, group), S_OK, "RemoveGroup \"Dynamic\"");
}

int RunSecondClient() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 1000;
    {
        ComPtr<IOPCServer> server;
        vela::da_client::CreateServerByProgId(vela::da_client::kTestServerProgId, IID_IOPCServer, server.put_void());
        if (server) {
            Group group = AddGroup(server.get(), L"SecondClient", TRUE, 200, 77);
            std::vector<OPCHANDLE> handles;
            AddItemsTo(group, {{Node(L"Demo.Dynamic.Fast"), 78}}, handles);
            auto* sink = new DataSink();
            ComPtr<IUnknown> sinkRef(static_cast<IOPCDataCallback*>(sink));
            Advised advised;
            if (handles[0] && SUCCEEDED(advised.Advise(group.unknown.get(), sinkRef.get(), IID_IOPCDataCallback))) {
                PumpFor(3000);
                result = 0;
                for (const Callback& call : sink->calls)
                    if (call.kind == CallbackKind::DataChange && call.group == 77 && call.Find(78) &&
                        call.Find(78)->quality == kQualityGood)
                        ++result;
            } else {
                result = 1001;
            }
            advised.Unadvise();
            DropGroup(server.get(), group);
        }
    }
    CoUninitialize();
    return result;
}

void CheckTwoClients(IOPCServer* server, const std::wstring& selfExe) {
    Group group = AddGroup(server, L"FirstClient", TRUE, 200, 60);
    std::vector<OPCHANDLE> handles;
    AddItemsTo(group, {{Node(L"Demo.Dynamic.Fast"), 61}}, handles);
    auto* sink = new DataSink();
    ComPtr<IUnknown> sinkRef(static_cast<IOPCDataCallback*>(sink));
    Advised advised;
    advised.Advise(group.unknown.get(), sinkRef.get(), IID_IOPCDataCallback);

    PROCESS_INFORMATION process{};
    const bool started = StartProcess(selfExe, L"/second-client", process);
    Check(started, "a second client process starts");
    const size_t from = sink->calls.size();
    DWORD exitCode = 2000;
    if (started && !FinishProcess(process, 60000, exitCode)) {
        Info("the second client did not end in time");
        exitCode = 2000;
    }
    size_t mine = 0;
    for (size_t i = from; i < sink->calls.size(); ++i)
        if (sink->calls[i].kind == CallbackKind::DataChange && sink->calls[i].group == 60) ++mine;
    Info("the second client saw %lu data changes (1000+: it failed), this one %zu meanwhile",
         static_cast<unsigned long>(exitCode), mine);
    Check(exitCode >= 5 && exitCode < 1000, "the second client gets its own data changes (200 ms, 3 s)");
    Check(mine >= 5, "this client keeps getting its own meanwhile");
    OPCSERVERSTATUS* status = nullptr;
    server->GetStatus(&status);
    Check(status && status->dwGroupCount == 1, "this client's status counts only its own group");
    FreeStatus(status);
    advised.Unadvise();
    DropGroup(server, group);
}

void CheckRemoteLost(IOPCServer* server, const std::wstring& killFile, const std::wstring& restartFile) {
    if (killFile.empty()) {
        std::printf("  skip  no VELA_E2E_KILL_FILE: the remote server stays up\n");
        return;
    }
    Group group = AddGroup(server, L"Lost", TRUE, 200, 90);
    std::vector<OPCHANDLE> handles;
    AddItemsTo(group,
               {{Node(L"Demo.Static.Scalars.Double"), 91},
                {Node(L"Demo.Static.Scalars.Int32"), 92},
                {Node(L"Demo.Dynamic.Fast"), 93}},
               handles);
    auto* sink = new DataSink();
    ComPtr<IUnknown> sinkRef(static_cast<IOPCDataCallback*>(sink));
    Advised advised;
    advised.Advise(group.unknown.get(), sinkRef.get(), IID_IOPCDataCallback);
    if (!Check(sink->WaitFor(CallbackKind::DataChange, 0, 5000) >= 0, "an active group gets its data changes")) {
        advised.Unadvise();
        DropGroup(server, group);
        return;
    }
    HANDLE file = CreateFileW(killFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    Check(file != INVALID_HANDLE_VALUE, "the remote server is killed");
    const ULONGLONG killed = GetTickCount64();
    std::vector<bool> bad(3, false);
    const OPCHANDLE clients[] = {91, 92, 93};
    size_t seen = sink->calls.size();
    PumpUntil(
        [&] {
            for (; seen < sink->calls.size(); ++seen)
                for (int i = 0; i < 3; ++i)
                    if (const CallbackEntry* entry = sink->calls[seen].Find(clients[i]))
                        if (entry->quality == kQualityNotConnected) bad[static_cast<size_t>(i)] = true;
            return bad[0] && bad[1] && bad[2];
        },
        15000);
    const double after = static_cast<double>(GetTickCount64() - killed) / 1000.0;
    const bool allBad = bad[0] && bad[1] && bad[2];
    if (allBad) Info("all items bad, not connected after %.1f s", after);
    else if (!sink->calls.empty() && !sink->calls.back().entries.empty())
        Info("last data change: quality 0x%x", sink->calls.back().entries[0].quality);
    Check(allBad, "every item reaches quality 0x08 (bad, not connected) through OnDataChange");
    Check(allBad && after <= 10.0, "within 10 s");
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT hr = server->GetStatus(&status);
    if (status)
        Info("GetStatus %s: state %d, vendor \"%s\", groups %lu", HrText(hr).c_str(),
             static_cast<int>(status->dwServerState), Narrow(status->szVendorInfo).c_str(),
             static_cast<unsigned long>(status->dwGroupCount));
    Check(status && status->dwServerState == OPC_STATUS_FAILED, "GetStatus then says failed");
    FreeStatus(status);
    std::vector<ReadResult> results;
    std::vector<OPCHANDLE> one = {handles[0]};
    const HRESULT read = ReadItems(group, OPC_DS_DEVICE, one, results);
    Info("a device read: %s, item %s, quality 0x%x", HrText(read).c_str(), HrText(results[0].error).c_str(),
         results[0].quality);
    Check((results[0].quality & 0xC0) == 0, "a device read gives a bad quality");
    if (restartFile.empty()) {
        std::printf("  skip  no VELA_E2E_RESTART_FILE: the remote server does not come back\n");
    } else {
        // The server comes back on its port: the client does nothing, the data returns.
        HANDLE restart = CreateFileW(restartFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (restart != INVALID_HANDLE_VALUE) CloseHandle(restart);
        Check(restart != INVALID_HANDLE_VALUE, "the remote server is started again on its port");
        const ULONGLONG asked = GetTickCount64();
        std::vector<bool> good(3, false);
        seen = sink->calls.size();
        PumpUntil(
            [&] {
                for (; seen < sink->calls.size(); ++seen)
                    for (int i = 0; i < 3; ++i)
                        if (const CallbackEntry* entry = sink->calls[seen].Find(clients[i]))
                            if ((entry->quality & 0xC0) == 0xC0) good[static_cast<size_t>(i)] = true;
                return good[0] && good[1] && good[2];
            },
            30000);
        const double back = static_cast<double>(GetTickCount64() - asked) / 1000.0;
        const bool allGood = good[0] && good[1] && good[2];
        if (allGood) Info("all items good again %.1f s after the server was started again", back);
        Check(allGood, "every item is good again through OnDataChange, without a call of the client");
        Check(allGood && back <= 20.0, "within 20 s of the restart (the server's own start included)");
        status = nullptr;
        server->GetStatus(&status);
        Check(status && status->dwServerState == OPC_STATUS_RUNNING, "GetStatus says running again");
        FreeStatus(status);
        const HRESULT again = ReadItems(group, OPC_DS_DEVICE, one, results);
        Check(SUCCEEDED(again) && (results[0].quality & 0xC0) == 0xC0, "a device read is good again");
    }
    advised.Unadvise();
    DropGroup(server, group);
}

namespace {

// A sink that cuts its own connection from inside its first data change, as a closing client does.
class UnadvisingSink final : public vela::da_client::DataCallbackBase {
public:
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    int dataChanges = 0;
    HRESULT unadvised = E_FAIL;

    STDMETHODIMP OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                              HRESULT*) override {
        if (++dataChanges == 1 && point && cookie) {
            unadvised = point->Unadvise(cookie);
            cookie = 0;
        }
        return S_OK;
    }
};

}  // namespace

void CheckHostileClient(IOPCServer* server) {
    Group group = AddGroup(server, L"Hostile", TRUE, 100, 70);
    CheckHr(group.added, S_OK, "AddGroup \"Hostile\" (active, 100 ms)");
    if (FAILED(group.added) || !group.sync || !group.items) return;
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    AddItemsTo(group, {{Node(L"Demo.Static.Scalars.Int16"), 71, VT_BSTR}, {Node(L"Demo.Dynamic.Fast"), 72}}, handles,
               &errors);
    if (!CheckHr(errors[0], S_OK, "AddItems Int16 (as VT_BSTR) and Fast")) {
        DropGroup(server, group);
        return;
    }
    // One handle twice in a write: written once with the last value, a result at each position,
    // the requested type kept.
    {
        std::vector<Variant> values(2);
        values[0].get()->vt = VT_I4;
        values[0].get()->lVal = 12;
        values[1].get()->vt = VT_I4;
        values[1].get()->lVal = 13;
        std::vector<HRESULT> results;
        WriteItems(group, {handles[0], handles[0]}, values, results);
        Check(results.size() == 2 && results[0] == S_OK && results[1] == S_OK,
              "a handle written twice in one call: a result at both positions");
        std::vector<ReadResult> read;
        ReadItems(group, OPC_DS_DEVICE, {handles[0]}, read);
        Check(!read.empty() && read[0].error == S_OK && read[0].value->vt == VT_BSTR &&
                  std::wcscmp(read[0].value->bstrVal, L"13") == 0,
              "the last value is written, and the item still reads in its requested type (\"13\")");
        TaskMem<HRESULT> activeErrors;
        OPCHANDLE twice[] = {handles[1], handles[1]};
        CheckHr(group.items->SetActiveState(2, twice, TRUE, activeErrors.put()), S_OK,
                "SetActiveState with a handle twice");
    }
    // A count far beyond the list is no allocation size.
    {
        ComPtr<IUnknown> unknown;
        group.items->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.put());
        ComPtr<IEnumOPCItemAttributes> attributes;
        if (unknown) unknown->QueryInterface(IID_IEnumOPCItemAttributes, attributes.put_void());
        OPCITEMATTRIBUTES* array = nullptr;
        ULONG fetched = 0;
        const ULONGLONG started = GetTickCount64();
        const HRESULT hr = attributes ? attributes->Next(200000000, &array, &fetched) : E_POINTER;
        Check(hr == 1781 && fetched == 2 && GetTickCount64() - started < 5000,
              "IEnumOPCItemAttributes::Next(200,000,000) gives the 2 items at once");
        if (array) FreeAttributes(array, fetched);
    }
    // An item id of 100,000 characters
    {
        std::vector<OPCHANDLE> none;
        std::vector<HRESULT> refused;
        AddItemsTo(group, {{L"ns=1;s=" + std::wstring(100000, L'x'), 73}}, none, &refused);
        Check(!refused.empty() && (refused[0] == kUnknownItemId || refused[0] == kInvalidItemId),
              "an item id of 100,000 characters is refused for that item");
    }
    // The sink unadvises from inside its first data change.
    {
        auto* sink = new UnadvisingSink();
        ComPtr<IUnknown> sinkRef(static_cast<IOPCDataCallback*>(sink));
        ComPtr<IConnectionPointContainer> container;
        group.unknown->QueryInterface(IID_IConnectionPointContainer, container.put_void());
        if (container) container->FindConnectionPoint(IID_IOPCDataCallback, sink->point.put());
        const HRESULT advised = sink->point ? sink->point->Advise(sinkRef.get(), &sink->cookie) : E_POINTER;
        CheckHr(advised, S_OK, "Advise of a sink that unadvises in its callback");
        PumpUntil([&] { return sink->dataChanges > 0; }, 5000);
        PumpFor(500);
        Check(sink->dataChanges == 1 && sink->unadvised == S_OK, "it unadvised inside OnDataChange, and no more came");
        OPCSERVERSTATUS* status = nullptr;
        CheckHr(server->GetStatus(&status), S_OK, "the gateway still answers");
        if (status) FreeStatus(status);
        sink->point.Reset();
    }
    CheckHr(DropGroup(server, group), S_OK, "RemoveGroup \"Hostile\"");
}

}  // namespace vela::e2e
