// Server object, groups and items.
#include <cwchar>
#include <set>

#include "tests/com/DaChecks.h"
#include "tests/com/DaTestSupport.h"

namespace vela::e2e {

void CheckCommon(IOPCServer* server) {
    ComPtr<IOPCCommon> common;
    CheckHr(server->QueryInterface(IID_IOPCCommon, common.put_void()), S_OK, "IOPCCommon is served");
    if (!common) return;
    LCID locale = 0;
    common->GetLocaleID(&locale);
    Check(locale == 0x800, "locale is 0x800 at creation");
    CheckHr(common->SetLocaleID(0x409), E_INVALIDARG, "SetLocaleID(0x409) is refused");
    common->GetLocaleID(&locale);
    Check(locale == 0x800, "the refused locale leaves 0x800");
    CheckHr(common->SetLocaleID(0x400), S_OK, "SetLocaleID(0x400) is taken");
    common->GetLocaleID(&locale);
    Check(locale == 0x400, "GetLocaleID gives 0x400 after it");
    DWORD count = 0;
    TaskMem<LCID> locales;
    CheckHr(common->QueryAvailableLocaleIDs(&count, locales.put()), S_OK, "QueryAvailableLocaleIDs");
    Check(count == 2 && locales && locales[0] == 0x800 && locales[1] == 0x400, "the locales are 0x800 and 0x400");
    CheckHr(common->SetClientName(L"da_test_client"), S_OK, "SetClientName");

    TaskMem<wchar_t> text;
    CheckHr(common->GetErrorString(kDuplicateName, text.put()), S_OK, "GetErrorString");
    Check(text && std::wcscmp(text.get(), L"Duplicate name not allowed.") == 0, "an OPC code's text crosses the proxy");
    server->GetErrorString(E_INVALIDARG, 0x409, text.put());
    const size_t length = text ? std::wcslen(text.get()) : 0;
    Check(length > 0 && text[length - 1] != L'.', "a system code's text has no final period");
    if (text) Info("0x80070057: \"%s\"", Narrow(text.get()).c_str());
    // A UA code has no system text: the gateway gives the UA status code's text.
    server->GetErrorString(static_cast<HRESULT>(0x80340000), 0x409, text.put());
    Check(text && std::wcslen(text.get()) > 0, "a UA status code (Bad_NodeIdUnknown) has a text");
    if (text) Info("0x80340000: \"%s\"", Narrow(text.get()).c_str());
}

void CheckStatus(IOPCServer* server, DWORD expectedGroups) {
    OPCSERVERSTATUS* status = nullptr;
    CheckHr(server->GetStatus(&status), S_OK, "GetStatus");
    if (!status) return;
    Info("state %d, vendor \"%s\", version %u.%u.%u, groups %lu", static_cast<int>(status->dwServerState),
         Narrow(status->szVendorInfo).c_str(), status->wMajorVersion, status->wMinorVersion, status->wBuildNumber,
         static_cast<unsigned long>(status->dwGroupCount));
    Check(status->dwServerState == OPC_STATUS_RUNNING, "with the remote server up the state is running");
    Check(status->szVendorInfo && status->szVendorInfo[0] &&
              std::wcscmp(status->szVendorInfo, L"Vela Plover (can't connect to XML Server)") != 0,
          "the vendor text is the remote server's, not the fallback");
    Check(SecondsFromNow(status->ftCurrentTime) < 30.0, "the current time is UTC now");
    Check(Ticks(status->ftStartTime) != 0 && Ticks(status->ftStartTime) <= Ticks(status->ftCurrentTime),
          "the start time lies before it");
    Check(status->dwGroupCount == expectedGroups, "the group count is the client's own groups");
    FreeStatus(status);
}

namespace {

std::set<std::wstring> EnumNames(IUnknown* unknown) {
    std::set<std::wstring> names;
    ComPtr<IEnumString> strings;
    if (unknown) unknown->QueryInterface(IID_IEnumString, strings.put_void());
    if (!strings) return names;
    for (int guard = 0; guard < 1000; ++guard) {
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = strings->Next(1, &name, &fetched);
        if (fetched == 1 && name) names.insert(name);
        CoTaskMemFree(name);
        if (hr != S_OK || fetched == 0) break;
    }
    return names;
}

std::wstring GroupName(IOPCGroupStateMgt* state) {
    if (!state) return L"(no group)";
    DWORD rate = 0, locale = 0;
    BOOL active = FALSE;
    LONG bias = 0;
    FLOAT deadband = 0;
    OPCHANDLE client = 0, serverHandle = 0;
    TaskMem<wchar_t> name;
    if (FAILED(state->GetState(&rate, &active, name.put(), &bias, &deadband, &locale, &client, &serverHandle)))
        return L"(GetState failed)";
    return name ? name.get() : L"(null)";
}

DWORD LiveGroups(IOPCServer* server) {
    OPCSERVERSTATUS* status = nullptr;
    DWORD count = 0xFFFFFFFF;
    if (SUCCEEDED(server->GetStatus(&status)) && status) count = status->dwGroupCount;
    FreeStatus(status);
    return count;
}

}  // namespace

void CheckGroups(IOPCServer* server) {
    Group alpha = AddGroup(server, L"Alpha", FALSE, 1000, 1);
    CheckHr(alpha.added, S_OK, "AddGroup \"Alpha\"");
    Check(alpha.server != 0 && alpha.revisedRate == 1000 && alpha.state && alpha.items && alpha.sync && alpha.async,
          "it has a handle, the rate asked for and the group interfaces");
    Group duplicate = AddGroup(server, L"Alpha", FALSE, 1000, 2);
    CheckHr(duplicate.added, kDuplicateName, "a second \"Alpha\" is a duplicate name");
    Check(duplicate.server == 0 && !duplicate.unknown, "and gives no handle and no group");

    Group g0 = AddGroup(server, L"", FALSE, 1000, 3);
    Group g1 = AddGroup(server, L"", FALSE, 1000, 4);
    Check(SUCCEEDED(g0.added) && GroupName(g0.state.get()) == L"G_0", "an empty name becomes \"G_0\"");
    Check(SUCCEEDED(g1.added) && GroupName(g1.state.get()) == L"G_1", "the next one \"G_1\"");
    if (g1.state) Info("names \"%s\", \"%s\"", Narrow(GroupName(g0.state.get()).c_str()).c_str(),
                       Narrow(GroupName(g1.state.get()).c_str()).c_str());

    Group fast = AddGroup(server, L"Fast", TRUE, 10, 5);
    CheckHr(fast.added, kUnsupportedRate, "a rate below the minimum is OPC_S_UNSUPPORTEDRATE");
    Check(fast.revisedRate == 100, "revised to the minimum (100 ms)");
    if (fast.revisedRate != 100) Info("revised rate %lu", static_cast<unsigned long>(fast.revisedRate));

    // State of Alpha
    if (alpha.state) {
        DWORD rate = 0, locale = 0;
        BOOL active = TRUE;
        LONG bias = 0;
        FLOAT deadband = -1;
        OPCHANDLE client = 0, serverHandle = 0;
        TaskMem<wchar_t> name;
        CheckHr(alpha.state->GetState(&rate, &active, name.put(), &bias, &deadband, &locale, &client, &serverHandle),
                S_OK, "GetState");
        Check(rate == 1000 && !active && name && std::wcscmp(name.get(), L"Alpha") == 0 && client == 1 &&
                  serverHandle == alpha.server && deadband == 0.0f && locale == 0x800,
              "it gives rate, active flag, name, handles, dead band and locale");
        DWORD requested = 500, revised = 0;
        BOOL on = TRUE;
        CheckHr(alpha.state->SetState(&requested, &revised, &on, nullptr, nullptr, nullptr, nullptr), S_OK,
                "SetState to 500 ms, active");
        Check(revised == 500, "revised rate 500");
        requested = 20;
        CheckHr(alpha.state->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
                kUnsupportedRate, "SetState to 20 ms is OPC_S_UNSUPPORTEDRATE");
        Check(revised == 100, "revised to 100");
        FLOAT badDeadband = 150.0f;
        // The revised rate is a plain [out] pointer: never null through the proxy.
        const HRESULT clamped =
            alpha.state->SetState(nullptr, &revised, nullptr, nullptr, &badDeadband, nullptr, nullptr);
        Info("SetState with dead band 150 gives %s", HrText(clamped).c_str());
        LCID badLocale = 0x409;
        alpha.state->SetState(nullptr, &revised, nullptr, nullptr, nullptr, &badLocale, nullptr);
        alpha.state->GetState(&rate, &active, name.put(), &bias, &deadband, &locale, &client, &serverHandle);
        if (!Check(rate == 100 && active && deadband == 100.0f && locale == 0x800,
                   "the state holds rate 100, active, dead band clamped to 100, locale unchanged"))
            Info("rate %lu, active %d, dead band %g, locale 0x%lx", static_cast<unsigned long>(rate), active,
                 static_cast<double>(deadband), static_cast<unsigned long>(locale));
        CheckHr(alpha.state->SetName(L"Beta"), S_OK, "SetName \"Beta\"");
        Check(GroupName(alpha.state.get()) == L"Beta", "GetState gives the new name");
        CheckHr(alpha.state->SetName(L"G_0"), kDuplicateName, "SetName to another group's name");
        CheckHr(alpha.state->SetName(L""), E_INVALIDARG, "SetName to an empty name");
    }

    // Public groups
    {
        ComPtr<IOPCPublicGroupStateMgt> publicState =
            g1.unknown.As<IOPCPublicGroupStateMgt>(IID_IOPCPublicGroupStateMgt);
        Check(static_cast<bool>(publicState), "IOPCPublicGroupStateMgt is served");
        if (publicState) {
            BOOL isPublic = TRUE;
            publicState->GetState(&isPublic);
            Check(!isPublic, "a new group is private");
            CheckHr(publicState->MoveToPublic(), S_OK, "MoveToPublic");
            publicState->GetState(&isPublic);
            Check(isPublic, "then it is public");
        }
        ComPtr<IOPCServerPublicGroups> publicGroups;
        server->QueryInterface(IID_IOPCServerPublicGroups, publicGroups.put_void());
        Check(static_cast<bool>(publicGroups), "IOPCServerPublicGroups is served");
        if (publicGroups) {
            ComPtr<IUnknown> found;
            CheckHr(publicGroups->GetPublicGroupByName(L"G_1", IID_IOPCGroupStateMgt, found.put_unknown()), S_OK,
                    "GetPublicGroupByName(\"G_1\")");
            Check(found && GroupName(ComPtr<IUnknown>(found).As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt).get()) ==
                               L"G_1",
                  "it is that group");
        }
        ComPtr<IUnknown> byName;
        CheckHr(server->GetGroupByName(L"Beta", IID_IOPCItemMgt, byName.put_unknown()), S_OK,
                "GetGroupByName(\"Beta\")");
        CheckHr(server->GetGroupByName(L"NoSuchGroup", IID_IOPCItemMgt, byName.put_unknown()), E_INVALIDARG,
                "GetGroupByName of an unknown name");
    }

    // Enumerators
    {
        ComPtr<IUnknown> enumerator;
        CheckHr(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, enumerator.put_unknown()), S_OK,
                "CreateGroupEnumerator(all, IEnumString)");
        const std::set<std::wstring> all = EnumNames(enumerator.get());
        Check(all == std::set<std::wstring>{L"Beta", L"G_0", L"G_1", L"Fast"}, "it names the four groups");
        for (const std::wstring& name : all) Info("group \"%s\"", Narrow(name.c_str()).c_str());
        CheckHr(server->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString, enumerator.put_unknown()), S_OK,
                "CreateGroupEnumerator(public, IEnumString)");
        Check(EnumNames(enumerator.get()) == std::set<std::wstring>{L"G_1"}, "it names the public group only");
        CheckHr(server->CreateGroupEnumerator(OPC_ENUM_PRIVATE, IID_IEnumUnknown, enumerator.put_unknown()), S_OK,
                "CreateGroupEnumerator(private, IEnumUnknown)");
        ComPtr<IEnumUnknown> unknowns = enumerator.As<IEnumUnknown>(IID_IEnumUnknown);
        std::set<std::wstring> privateNames;
        ULONG fetched = 0;
        HRESULT next = E_FAIL;
        if (unknowns) {
            IUnknown* got[8] = {};
            next = unknowns->Next(8, got, &fetched);
            for (ULONG i = 0; i < fetched && i < 8; ++i) {
                if (!got[i]) continue;
                ComPtr<IUnknown> held(got[i]);
                privateNames.insert(GroupName(held.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt).get()));
            }
        }
        Check(next == S_FALSE && fetched == 3 &&
                  privateNames == std::set<std::wstring>{L"Beta", L"G_0", L"Fast"},
              "Next(8) gives the three private groups and S_FALSE");
        CheckHr(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCItemMgt, enumerator.put_unknown()),
                E_NOINTERFACE, "an enumerator of another interface");
    }

    // Clone of an active group with items; the client holds the clone as it holds every group.
    ComPtr<IUnknown> clone;
    {
        std::vector<OPCHANDLE> handles;
        AddItemsTo(alpha, {{Node(L"Demo.Static.Scalars.Double"), 11}, {Node(L"Demo.Static.Scalars.Int32"), 12}},
                   handles);
        const HRESULT cloned = alpha.state ? alpha.state->CloneGroup(L"BetaClone", IID_IOPCGroupStateMgt,
                                                                     clone.put_unknown())
                                           : E_POINTER;
        CheckHr(cloned, S_OK, "CloneGroup of the active group \"Beta\"");
        ComPtr<IOPCGroupStateMgt> cloneState = clone.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt);
        if (cloneState) {
            DWORD rate = 0, locale = 0;
            BOOL active = TRUE;
            LONG bias = 0;
            FLOAT deadband = 0;
            OPCHANDLE client = 0, serverHandle = 0;
            TaskMem<wchar_t> name;
            cloneState->GetState(&rate, &active, name.put(), &bias, &deadband, &locale, &client, &serverHandle);
            if (!Check(!active && rate == 100 && client == 1 && name && std::wcscmp(name.get(), L"BetaClone") == 0,
                       "the clone is inactive, with the source's rate and client handle"))
                Info("active %d, rate %lu, client %lu, name \"%s\"", active, static_cast<unsigned long>(rate),
                     static_cast<unsigned long>(client), Narrow(name.get()).c_str());
        }
        std::set<std::pair<std::wstring, OPCHANDLE>> items;
        ComPtr<IOPCItemMgt> cloneItems = clone.As<IOPCItemMgt>(IID_IOPCItemMgt);
        ComPtr<IUnknown> enumerator;
        if (cloneItems) cloneItems->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.put_unknown());
        ComPtr<IEnumOPCItemAttributes> attributes = enumerator.As<IEnumOPCItemAttributes>(IID_IEnumOPCItemAttributes);
        if (attributes) {
            OPCITEMATTRIBUTES* list = nullptr;
            ULONG fetched = 0;
            attributes->Next(10, &list, &fetched);
            for (ULONG i = 0; i < fetched && list; ++i)
                items.insert({list[i].szItemID ? list[i].szItemID : L"", list[i].hClient});
            FreeAttributes(list, fetched);
        }
        Check(items == std::set<std::pair<std::wstring, OPCHANDLE>>{{Node(L"Demo.Static.Scalars.Double"), 11},
                                                                     {Node(L"Demo.Static.Scalars.Int32"), 12}},
              "the clone has the same items with the same client handles");
        ComPtr<IUnknown> refused;
        CheckHr(alpha.state ? alpha.state->CloneGroup(L"G_0", IID_IOPCGroupStateMgt, refused.put_unknown())
                            : E_POINTER,
                kDuplicateName, "CloneGroup to a taken name");
    }
    const DWORD live = LiveGroups(server);
    if (!Check(live == 5, "GetStatus counts the five live groups"))
        Info("GetStatus counts %lu", static_cast<unsigned long>(live));

    // The limit of six groups
    Group sixth = AddGroup(server, L"Sixth", FALSE, 1000, 6);
    CheckHr(sixth.added, S_OK, "the sixth group is added");
    Group seventh = AddGroup(server, L"Seventh", FALSE, 1000, 7);
    CheckHr(seventh.added, E_OUTOFMEMORY, "the seventh is refused (maxgroupcount 6)");
    CheckHr(DropGroup(server, sixth), S_OK, "RemoveGroup after the client released the group");
    seventh = AddGroup(server, L"Seventh", FALSE, 1000, 7);
    CheckHr(seventh.added, S_OK, "then the seventh is added");

    // Removal while another pointer holds the group
    {
        ComPtr<IUnknown> other;
        server->GetGroupByName(L"Fast", IID_IOPCGroupStateMgt, other.put_unknown());
        CheckHr(server->RemoveGroup(fast.server, FALSE), kInUse, "RemoveGroup of a group still held is OPC_S_INUSE");
        CheckHr(server->RemoveGroup(fast.server, FALSE), E_INVALIDARG, "the same call again is E_INVALIDARG");
        other.Reset();
        fast.ReleaseAll();
        fast.server = 0;
    }
    CheckHr(server->RemoveGroup(kBogusHandle, FALSE), E_INVALIDARG, "RemoveGroup of an unknown handle");

    // Leave no groups behind: release the pointers, then remove, as a client does.
    OPCHANDLE cloneHandle = 0;
    if (ComPtr<IOPCGroupStateMgt> cloneState = clone.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt)) {
        DWORD rate = 0, locale = 0;
        BOOL active = FALSE;
        LONG bias = 0;
        FLOAT deadband = 0;
        OPCHANDLE client = 0;
        TaskMem<wchar_t> name;
        cloneState->GetState(&rate, &active, name.put(), &bias, &deadband, &locale, &client, &cloneHandle);
    }
    clone.Reset();
    std::string failed;
    auto note = [&](const char* name, HRESULT hr) {
        if (FAILED(hr)) failed += std::string(" ") + name + " " + HrText(hr);
    };
    note("Beta", DropGroup(server, alpha));
    note("G_0", DropGroup(server, g0));
    note("Seventh", DropGroup(server, seventh));
    if (cloneHandle) note("BetaClone", server->RemoveGroup(cloneHandle, FALSE));
    if (!Check(failed.empty(), "after their release the other groups are removed")) Info("refused:%s", failed.c_str());
    // The public group is removed while still held: it goes with its last reference.
    ComPtr<IOPCServerPublicGroups> publicGroups;
    server->QueryInterface(IID_IOPCServerPublicGroups, publicGroups.put_void());
    const HRESULT removedPublic = publicGroups ? publicGroups->RemovePublicGroup(g1.server, FALSE) : E_NOINTERFACE;
    Info("RemovePublicGroup of the held group G_1: %s", HrText(removedPublic).c_str());
    Check(removedPublic == S_OK || removedPublic == kInUse, "RemovePublicGroup of G_1 (S_OK or OPC_S_INUSE)");
    g1.ReleaseAll();
    if (publicGroups) {
        ComPtr<IUnknown> gone;
        CheckHr(publicGroups->GetPublicGroupByName(L"G_1", IID_IUnknown, gone.put_unknown()), E_INVALIDARG,
                "once released it is gone");
    }
    PumpFor(200);
    const DWORD left = LiveGroups(server);
    if (!Check(left == 0, "no group is left")) {
        ComPtr<IUnknown> enumerator;
        server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, enumerator.put_unknown());
        std::string names;
        for (const std::wstring& name : EnumNames(enumerator.get())) names += " \"" + Narrow(name.c_str()) + "\"";
        Info("GetStatus counts %lu groups:%s", static_cast<unsigned long>(left), names.c_str());
    }
}

void CheckItems(IOPCServer* server) {
    Group group = AddGroup(server, L"Items", FALSE, 1000, 20);
    if (!CheckHr(group.added, S_OK, "AddGroup \"Items\"") || !group.items) return;
    const std::vector<ItemDef> defs = {
        {Node(L"Demo.Static.Scalars.Double"), 1},
        {Node(L"Demo.Static.Access.ReadOnly"), 2},
        {Node(L"Demo.NoSuchNode"), 3},
        {L"", 4},
        {Node(L"Demo.Static.Scalars.Int32"), 5, static_cast<VARTYPE>(VT_BYREF | VT_I4)},
        {Node(L"Demo.Static.Arrays.DoubleArray"), 6, static_cast<VARTYPE>(VT_ARRAY | VT_R8)},
    };
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    std::vector<VARTYPE> canonical;
    std::vector<DWORD> rights;
    CheckHr(AddItemsTo(group, defs, handles, &errors, &canonical, &rights), S_FALSE, "AddItems of six definitions");
    for (size_t i = 0; i < errors.size(); ++i)
        Info("%s: %s, canonical 0x%x, rights %lu", Narrow(defs[i].id.c_str()).c_str(), HrText(errors[i]).c_str(),
             canonical[i], static_cast<unsigned long>(rights[i]));
    Check(errors[0] == S_OK && handles[0] != 0 && canonical[0] == VT_R8 && rights[0] == 3,
          "Double: a handle, canonical VT_R8, read and write");
    Check(errors[1] == S_OK && canonical[1] == VT_I4 && rights[1] == 1, "ReadOnly: canonical VT_I4, read only");
    Check(errors[2] == kUnknownItemId, "an unknown node is OPC_E_UNKNOWNITEMID");
    Check(errors[3] == kInvalidItemId, "an empty id is OPC_E_INVALIDITEMID");
    Check(errors[4] == kBadType, "requested VT_BYREF|VT_I4 is OPC_E_BADTYPE");
    Check(errors[5] == S_OK && canonical[5] == (VT_ARRAY | VT_R8), "requested VT_ARRAY|VT_R8 is taken for DoubleArray");
    const OPCHANDLE hDouble = handles[0], hReadOnly = handles[1], hArray = handles[5];

    {
        const std::vector<ItemDef> validate = {{Node(L"Demo.Static.Scalars.Int32"), 7},
                                                {Node(L"Demo.NoSuchNode"), 8}};
        std::vector<OPCITEMDEF> definitions = Definitions(validate);
        ItemResults results;
        TaskMem<HRESULT> validateErrors;
        CheckHr(group.items->ValidateItems(2, definitions.data(), FALSE, results.put(2), validateErrors.put()),
                S_FALSE, "ValidateItems [Int32, unknown]");
        Check(results && validateErrors && validateErrors[0] == S_OK && results[0].vtCanonicalDataType == VT_I4 &&
                  results[0].dwAccessRights == 3 && validateErrors[1] == kUnknownItemId,
              "Int32 is valid (VT_I4, rights 3), the unknown node is OPC_E_UNKNOWNITEMID");
    }
    {
        OPCHANDLE list[] = {hDouble, hReadOnly};
        TaskMem<HRESULT> itemErrors;
        CheckHr(group.items->SetActiveState(2, list, FALSE, itemErrors.put()), S_OK, "SetActiveState off");
        OPCHANDLE mixed[] = {kBogusHandle, hDouble};
        CheckHr(group.items->SetActiveState(2, mixed, TRUE, itemErrors.put()), S_FALSE,
                "SetActiveState [unknown, known]");
        Check(itemErrors && itemErrors[0] == kInvalidHandle && itemErrors[1] == S_OK,
              "OPC_E_INVALIDHANDLE at 0, S_OK at 1");
    }
    {
        OPCHANDLE list[] = {hDouble, kBogusHandle};
        OPCHANDLE clients[] = {101, 102};
        TaskMem<HRESULT> itemErrors;
        CheckHr(group.items->SetClientHandles(2, list, clients, itemErrors.put()), S_FALSE,
                "SetClientHandles [known, unknown]");
        Check(itemErrors && itemErrors[0] == S_OK && itemErrors[1] == kInvalidHandle, "the unknown one is refused");
    }
    {
        OPCHANDLE list[] = {hDouble};
        VARTYPE types[] = {VT_BSTR};
        TaskMem<HRESULT> itemErrors;
        CheckHr(group.items->SetDatatypes(1, list, types, itemErrors.put()), S_OK, "SetDatatypes Double -> VT_BSTR");
        OPCHANDLE mixed[] = {hDouble, kBogusHandle};
        VARTYPE mixedTypes[] = {static_cast<VARTYPE>(VT_BYREF | VT_I4), VT_I4};
        CheckHr(group.items->SetDatatypes(2, mixed, mixedTypes, itemErrors.put()), S_FALSE,
                "SetDatatypes [bad type, unknown handle]");
        Check(itemErrors && itemErrors[0] == kBadType && itemErrors[1] == kInvalidHandle,
              "OPC_E_BADTYPE and OPC_E_INVALIDHANDLE");
    }
    {
        // Drop the array item so that the enumeration has two entries.
        OPCHANDLE list[] = {hArray};
        TaskMem<HRESULT> itemErrors;
        group.items->RemoveItems(1, list, itemErrors.put());
    }
    {
        ComPtr<IUnknown> unknown;
        CheckHr(group.items->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.put_unknown()), S_OK,
                "CreateEnumerator");
        ComPtr<IEnumOPCItemAttributes> attributes = unknown.As<IEnumOPCItemAttributes>(IID_IEnumOPCItemAttributes);
        if (attributes) {
            OPCITEMATTRIBUTES* list = nullptr;
            ULONG fetched = 0;
            const HRESULT next = attributes->Next(3, &list, &fetched);
            CheckHr(next, kEnumShort, "Next(3) over two items answers 1781");
            Check(fetched == 2, "with two fetched");
            const OPCITEMATTRIBUTES* dbl = nullptr;
            const OPCITEMATTRIBUTES* ro = nullptr;
            for (ULONG i = 0; i < fetched && list; ++i) {
                if (list[i].hServer == hDouble) dbl = &list[i];
                if (list[i].hServer == hReadOnly) ro = &list[i];
            }
            Check(dbl && dbl->szItemID && Node(L"Demo.Static.Scalars.Double") == dbl->szItemID &&
                      dbl->hClient == 101 && dbl->bActive && dbl->vtRequestedDataType == VT_BSTR &&
                      dbl->vtCanonicalDataType == VT_R8 && dbl->dwAccessRights == 3,
                  "Double: id, new client handle, active, requested VT_BSTR, canonical VT_R8, rights 3");
            Check(ro && ro->hClient == 2 && !ro->bActive && ro->vtRequestedDataType == VT_I4 &&
                      ro->dwAccessRights == 1,
                  "ReadOnly: inactive, the canonical type as requested type, rights 1");
            FreeAttributes(list, fetched);
            list = nullptr;
            CheckHr(attributes->Reset(), S_OK, "Reset");
            CheckHr(attributes->Skip(5), S_FALSE, "Skip past the end");
            attributes->Reset();
            ComPtr<IEnumOPCItemAttributes> copy;
            CheckHr(attributes->Clone(copy.put()), S_OK, "Clone");
            fetched = 0;
            if (copy) CheckHr(copy->Next(2, &list, &fetched), S_OK, "the clone gives both items");
            FreeAttributes(list, fetched);
        }
    }
    {
        OPCHANDLE list[] = {hReadOnly, kBogusHandle};
        TaskMem<HRESULT> itemErrors;
        CheckHr(group.items->RemoveItems(2, list, itemErrors.put()), S_FALSE, "RemoveItems [known, unknown]");
        Check(itemErrors && itemErrors[0] == S_OK && itemErrors[1] == kInvalidHandle, "the unknown handle is refused");
        TaskMem<HRESULT> again;
        group.items->RemoveItems(1, list, again.put());
        Check(again && again[0] == kInvalidHandle, "a removed item's handle is unknown afterwards");
    }
    CheckHr(DropGroup(server, group), S_OK, "RemoveGroup \"Items\"");
}

}  // namespace vela::e2e
