#include "ua/da/UADABrowser.h"

#include "base/Text.h"
#include "toolkit/VelaExceptions.h"
#include "ua/da/UADAConnection.h"

namespace vela::ua {
namespace {

// Reference types whose targets are children of a folder.
bool HierarchicalReference(const uaNodeId& type) {
    const auto* id = std::get_if<uint32_t>(&type.fValue);
    if (!id || type.fNameSpaceIndex != 0) return true;
    switch (*id) {
        case 34: case 35: case 36: case 45: case 46: case 47: case 48: return true;
        default: return false;
    }
}

// Reference types that make their target a folder: Organizes, HasSubtype, HasComponent,
// HasNotifier and the types beyond the standard ones.
bool FolderReference(const uaNodeId& type) {
    const auto* id = std::get_if<uint32_t>(&type.fValue);
    if (!id || type.fNameSpaceIndex != 0) return false;
    return *id == 35 || *id == 45 || *id == 47 || *id == 48 || *id > 56;
}

std::optional<uint32_t> TypeDefinition(const uaReferenceDescription& reference) {
    const uaNodeId& type = reference.fTypeDefinition.fNodeId;
    const auto* id = std::get_if<uint32_t>(&type.fValue);
    if (!id || type.fNameSpaceIndex != 0) return std::nullopt;
    return *id;
}

int32_t BrowseKind(const uaReferenceDescription& reference) {
    const auto type = TypeDefinition(reference);
    switch (reference.fNodeClass.fValue) {
        case 1: return type == 61u ? 0 : 1;
        case 2: return type == 68u ? 5 : FolderReference(reference.fReferenceTypeId) ? 3 : 2;
        case 4: return 4;
        case 8: return 7;
        case 16: return 9;
        case 32: return 8;
        case 64: return 6;
        case 128: return 10;
        default: return 0;
    }
}

}  // namespace

TVelaUADABrowser::TVelaUADABrowser(TVelaUADAConnection& connection)
    : TVelaIntfComponent(connection.Owner()), connectionRef_(static_cast<IVelaDAConnection*>(&connection)),
      connection_(connection) {}

int32_t TVelaUADABrowser::QueryInterface(const VelaGuid& iid, void** object) {
    return AnswerQuery(static_cast<IVelaBrowser*>(this), iid == IID_IVelaBrowser || iid == IID_IVelaUnknown, object);
}

TVelaUAClient& TVelaUADABrowser::Client() const { return connection_.Client(); }

std::string TVelaUADABrowser::GetCurrentPath(const std::string& delimiter) {
    std::string path;
    for (const auto& folder : FFolderList) path += folder.FName + delimiter;
    return path + FCurrentFolder.FName;
}

void TVelaUADABrowser::SetFilter(int32_t browseType, VelaAcesstype accessRights, int32_t dataType,
                                 const std::string& filter) {
    const auto type = static_cast<uint32_t>(browseType), data = static_cast<uint32_t>(dataType);
    if (type != FiFolderType || accessRights != FiAccessRights || data != FiDataType || filter != FiFilter)
        FChanged = true;
    FiFolderType = type;
    FiAccessRights = accessRights;
    FiDataType = data;
    FiFilter = filter;
}

void TVelaUADABrowser::Browse(bool flat) {
    if (!FBrowseItems) throw EOPCBrowserException("first call method SetBrowseList");
    if (!flat) {
        FBrowseItems->Clear();
        lastResult_ = BrowseFolder(FWantFolder);
        FCurrentFolder = FWantFolder;
        return;
    }
    const std::string mask = FiFilter;
    FiFilter.clear();
    TVelaBrowseItems found;
    try {
        BrowseFlat(mask, found);
    } catch (...) {
        FiFilter = mask;
        throw;
    }
    FiFilter = mask;
    FBrowseItems->Clear();
    FBrowseItems->Assign(found);
    FChanged = true;
}

bool TVelaUADABrowser::Passes(const uaReferenceDescription& reference) const {
    const int32_t nodeClass = reference.fNodeClass.fValue;
    switch (FiFolderType) {
        case 3: break;
        case 2: if (nodeClass != 2) return false; break;
        case 1: if (nodeClass == 2) return false; break;
        default: return false;
    }
    return FiFilter.empty() || MatchesMask(reference.fBrowseName.fName, FiFilter);
}

bool TVelaUADABrowser::BrowseFolder(const TVelaBrowseItem& folder) {
    uaBrowse call(&Client().Requests());
    auto& request = *call.Request;
    request.fView.fTimestamp = 0;
    request.fRequestedMaxReferencesPerNode = 10000;
    uaBrowseDescription description;
    description.fNodeId =
        TVelaUAClient::ParseNodeId(folder.FNodeId.empty() ? connection_.BrowseRoot() : folder.FNodeId);
    description.fBrowseDirection.fValue = 0;
    description.fIncludeSubtypes = true;
    description.fNodeClassMask = 0;
    description.fResultMask = 63;
    request.fNodesToBrowse.push_back(std::move(description));
    call.RunSync();
    if (!call.Response) return true;
    Seen seen;
    bool ok = true;
    for (const auto& result : call.Response->fResults) {
        for (const auto& reference : result.fReferences)
            if (HierarchicalReference(reference.fReferenceTypeId) && reference.fIsForward && Passes(reference))
                AddBrowseItem(reference, seen);
        if (!result.fContinuationPoint.empty()) BrowseNextRefs(result.fContinuationPoint, seen);
        if (result.fStatusCode != 0) ok = false;
    }
    return ok;
}

bool TVelaUADABrowser::BrowseNextRefs(const uaByteString& continuationPoint, Seen& seen) {
    // A loop rather than recursion: a server handing out continuation points forever must not
    // exhaust the stack; an empty answer ends it, and so does a folder beyond any real size.
    constexpr size_t kMaxEntries = 1000000;
    uaByteString point = continuationPoint;
    bool ok = true;
    while (!point.empty() && FBrowseItems->Count() < kMaxEntries) {
        uaBrowseNext call(&Client().Requests());
        call.Request->fReleaseContinuationPoints = false;
        call.Request->fContinuationPoints = {point};
        call.RunSync();
        point.clear();
        if (!call.Response) break;
        size_t added = 0;
        for (const auto& result : call.Response->fResults) {
            for (const auto& reference : result.fReferences)
                if (Passes(reference)) AddBrowseItem(reference, seen);
            added += result.fReferences.size();
            if (result.fStatusCode != 0) ok = false;
            if (!result.fContinuationPoint.empty() && added > 0) point = result.fContinuationPoint;
        }
    }
    return ok;
}

void TVelaUADABrowser::AddBrowseItem(const uaReferenceDescription& reference, Seen& seen) {
    std::string key = reference.fNodeId.fNodeId.ToString();
    if (!seen.insert(key).second) return;
    TVelaBrowseItem& item = FBrowseItems->Add();
    item.FName = reference.fDisplayName.fText;
    item.FNodeId = key;
    item.SetItemName(!reference.fBrowseName.fName.empty() ? reference.fBrowseName.fName : item.FName);
    item.FItemPath.clear();
    item.FIsItem = reference.fNodeClass.fValue == 2 || reference.fNodeClass.fValue == 64;
    item.FHasChilds = true;
    item.FIsFolder = FolderReference(reference.fReferenceTypeId);
    item.FKind = BrowseKind(reference);
}

void TVelaUADABrowser::BrowseFlat(const std::string& mask, TVelaBrowseItems& result) {
    Browse(false);
    TVelaBrowseItems level;
    level.Assign(*FBrowseItems);
    for (const auto& entry : level) {
        if (entry->FIsItem && (mask.empty() || MatchesMask(entry->GetItemId(), mask))) result.Add() = *entry;
        if (entry->FIsFolder && MoveDown(*entry)) {
            BrowseFlat(mask, result);
            Moveup();
        }
    }
}

bool TVelaUADABrowser::NodeExists(const TVelaBrowseItem& folder) {
    try {
        const auto values = Client().ReadNodeAttributes({TVelaUAClient::ParseNodeId(folder.FNodeId)}, {2}, 3);
        return !values.empty() && (values[0].fStatusCode & 0xC0000000u) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool TVelaUADABrowser::MoveDown(const TVelaBrowseItem& folder) {
    if (folder.FNodeId.empty()) return false;
    FWantFolder = folder;
    FChanged = true;
    const TVelaBrowseItem previous = FCurrentFolder;
    if (!NodeExists(folder)) return false;
    FCurrentFolder = FWantFolder;
    FFolderList.push_back(previous);
    return true;
}

bool TVelaUADABrowser::Moveto(const TVelaBrowseItem& folder) {
    FWantFolder = folder;
    if (folder.FName == FCurrentFolder.FName && folder.ItemName() == FCurrentFolder.ItemName()) return true;
    FChanged = true;
    if (!NodeExists(folder)) return false;
    FFolderList.clear();
    FCurrentFolder = FWantFolder;
    return true;
}

bool TVelaUADABrowser::MovetoRoot() {
    if (!FCurrentFolder.FName.empty()) FChanged = true;
    FCurrentFolder = TVelaBrowseItem();
    FWantFolder = FCurrentFolder;
    FFolderList.clear();
    return true;
}

bool TVelaUADABrowser::Moveup() {
    if (FCurrentFolder.ItemName().empty() || FFolderList.empty()) return false;
    FWantFolder = FFolderList.back();
    FFolderList.pop_back();
    FCurrentFolder = FWantFolder;
    if (FCurrentFolder.FName.empty()) FFolderList.clear();
    FChanged = true;
    return true;
}

}  // namespace vela::ua
