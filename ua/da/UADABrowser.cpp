#include "ua/da/UADABrowser.h"

#include <algorithm>
#include <deque>

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

TVelaBrowseItem MakeItem(const uaReferenceDescription& reference, std::string nodeId) {
    TVelaBrowseItem item;
    item.FName = reference.fDisplayName.fText;
    item.FNodeId = std::move(nodeId);
    item.SetItemName(!reference.fBrowseName.fName.empty() ? reference.fBrowseName.fName : item.FName);
    item.FIsItem = reference.fNodeClass.fValue == 2 || reference.fNodeClass.fValue == 64;
    item.FHasChilds = true;
    item.FIsFolder = FolderReference(reference.fReferenceTypeId);
    item.FKind = BrowseKind(reference);
    return item;
}

// Faults that mean "fewer nodes per call": too many operations, or an answer too large.
bool TooMuchAtOnce(uint32_t code) { return code == 0x80100000u || code == 0x80B90000u || code == 0x80080000u; }

constexpr uint32_t kBadNoContinuationPoints = 0x804B0000u;
// Pages of this size keep answers of many nodes at once within message limits; a larger folder
// takes a BrowseNext per page. A node browsed alone gets larger pages.
constexpr uint32_t kReferencesPerNode = 1000;
constexpr uint32_t kReferencesAlone = 10000;
// The most nodes per Browse even where the server takes more: answers stay small and the
// walk's items come at a steady pace.
constexpr uint32_t kMostNodesPerBrowse = 250;
// A folder beyond any real size ends there: a server handing out continuation points forever
// must not hold the walk.
constexpr size_t kMaxEntries = 1000000;

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
    TVelaBrowseItems found;
    WalkFlat(FiFilter, [&found](const TVelaBrowseItem& item) {
        found.Add() = item;
        return true;
    });
    FBrowseItems->Clear();
    FBrowseItems->Assign(found);
}

bool TVelaUADABrowser::BrowseFlat(const TVelaBrowseVisitor& visit) {
    WalkFlat(FiFilter, visit);
    return true;
}

bool TVelaUADABrowser::Passes(const uaReferenceDescription& reference, const std::string& nameFilter) const {
    const int32_t nodeClass = reference.fNodeClass.fValue;
    switch (FiFolderType) {
        case 3: break;
        case 2: if (nodeClass != 2) return false; break;
        case 1: if (nodeClass == 2) return false; break;
        default: return false;
    }
    return nameFilter.empty() || MatchesMask(reference.fBrowseName.fName, nameFilter);
}

void TVelaUADABrowser::Take(const uaBrowseResult& result, Children& into, const std::string& nameFilter) const {
    for (const auto& reference : result.fReferences) {
        if (!HierarchicalReference(reference.fReferenceTypeId) || !reference.fIsForward ||
            !Passes(reference, nameFilter))
            continue;
        std::string key = reference.fNodeId.fNodeId.ToString();
        if (!into.seen.insert(key).second) continue;
        into.items.push_back(MakeItem(reference, std::move(key)));
        into.nodes.push_back(reference.fNodeId.fNodeId);
    }
    if (result.fStatusCode != 0) into.ok = false;
}

uint32_t TVelaUADABrowser::NodesPerBrowse() {
    if (nodesPerBrowse_ == 0) {
        uint32_t limit = 0;
        try {
            const auto values = Client().ReadNodeAttributes({uaNodeId(11710u)}, {13}, 3);  // MaxNodesPerBrowse
            if (!values.empty() && (values[0].fStatusCode & 0xC0000000u) == 0 && values[0].fValue)
                if (const auto* number = std::get_if<uint32_t>(&values[0].fValue->fScalar)) limit = *number;
        } catch (const std::exception&) {
            // a server without the limit may still refuse too many nodes: BrowseNodes then halves
        }
        nodesPerBrowse_ = limit == 0 ? kMostNodesPerBrowse : std::min(limit, kMostNodesPerBrowse);
    }
    return nodesPerBrowse_;
}

std::vector<TVelaUADABrowser::Children> TVelaUADABrowser::BrowseNodes(const std::vector<uaNodeId>& nodes,
                                                                      const std::string& nameFilter) {
    std::vector<Children> found(nodes.size());
    std::deque<size_t> waiting;
    for (size_t i = 0; i < nodes.size(); ++i) waiting.push_back(i);
    bool stalled = false;
    while (!waiting.empty()) {
        const size_t count = stalled || waiting.size() == 1 ? 1 : std::min<size_t>(waiting.size(), NodesPerBrowse());
        uaBrowse call(&Client().Requests());
        auto& request = *call.Request;
        request.fView.fTimestamp = 0;
        request.fRequestedMaxReferencesPerNode = count == 1 ? kReferencesAlone : kReferencesPerNode;
        for (size_t k = 0; k < count; ++k) {
            uaBrowseDescription description;
            description.fNodeId = nodes[waiting[k]];
            description.fBrowseDirection.fValue = 0;
            description.fIncludeSubtypes = true;
            description.fNodeClassMask = 0;
            description.fResultMask = 63;
            request.fNodesToBrowse.push_back(std::move(description));
        }
        try {
            call.RunSync();
        } catch (const std::exception&) {
            if (count == 1 || !TooMuchAtOnce(call.Error)) throw;
            nodesPerBrowse_ = static_cast<uint32_t>(count / 2);
            continue;
        }
        const std::vector<size_t> batch(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(count));
        waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(count));
        if (!call.Response) continue;
        const auto& results = call.Response->fResults;
        std::vector<Continuation> points;
        std::vector<size_t> retry;
        for (size_t k = 0; k < count; ++k) {
            Children& into = found[batch[k]];
            if (k >= results.size()) {
                into.ok = false;
                continue;
            }
            // The server has no continuation point left for this one in this call; once the
            // others are done it has them again.
            if (results[k].fStatusCode == kBadNoContinuationPoints && count > 1) {
                retry.push_back(batch[k]);
                continue;
            }
            Take(results[k], into, nameFilter);
            if (!results[k].fContinuationPoint.empty()) points.emplace_back(batch[k], results[k].fContinuationPoint);
        }
        FollowContinuations(std::move(points), found, nameFilter);
        // a call where every node was refused goes on one node at a time
        stalled = retry.size() == count;
        waiting.insert(waiting.begin(), retry.begin(), retry.end());
    }
    for (auto& children : found) children.seen = {};
    return found;
}

void TVelaUADABrowser::FollowContinuations(std::vector<Continuation> points, std::vector<Children>& found,
                                           const std::string& nameFilter) {
    try {
        while (!points.empty()) {
            uaBrowseNext call(&Client().Requests());
            call.Request->fReleaseContinuationPoints = false;
            for (const auto& point : points) call.Request->fContinuationPoints.push_back(point.second);
            call.RunSync();
            if (!call.Response) return;
            const auto& results = call.Response->fResults;
            std::vector<Continuation> next, abandoned;
            for (size_t k = 0; k < points.size(); ++k) {
                Children& into = found[points[k].first];
                if (k >= results.size()) {
                    into.ok = false;
                    continue;
                }
                Take(results[k], into, nameFilter);
                const uaByteString& more = results[k].fContinuationPoint;
                if (more.empty()) continue;
                if (results[k].fReferences.empty() || into.items.size() >= kMaxEntries)
                    abandoned.emplace_back(points[k].first, more);
                else
                    next.emplace_back(points[k].first, more);
            }
            points = std::move(next);
            ReleaseContinuationPoints(abandoned);
        }
    } catch (...) {
        ReleaseContinuationPoints(points);
        throw;
    }
}

void TVelaUADABrowser::ReleaseContinuationPoints(const std::vector<Continuation>& points) {
    if (points.empty()) return;
    try {
        uaBrowseNext call(&Client().Requests());
        call.Request->fReleaseContinuationPoints = true;
        for (const auto& point : points) call.Request->fContinuationPoints.push_back(point.second);
        call.RunSync();
    } catch (const std::exception&) {
        // the session is failing then, and its end frees them
    }
}

bool TVelaUADABrowser::BrowseFolder(const TVelaBrowseItem& folder) {
    const uaNodeId node =
        TVelaUAClient::ParseNodeId(folder.FNodeId.empty() ? connection_.BrowseRoot() : folder.FNodeId);
    auto found = BrowseNodes({node}, FiFilter);
    for (auto& item : found[0].items) FBrowseItems->Add() = std::move(item);
    return found[0].ok;
}

void TVelaUADABrowser::WalkFlat(const std::string& mask, const TVelaBrowseVisitor& visit) {
    const uaNodeId root =
        TVelaUAClient::ParseNodeId(FWantFolder.FNodeId.empty() ? connection_.BrowseRoot() : FWantFolder.FNodeId);
    const auto top = BrowseNodes({root}, {});
    FCurrentFolder = FWantFolder;
    FChanged = true;
    std::vector<uaNodeId> path{root};
    WalkLevel(top[0], mask, path, visit);
}

// Depth first, each item before what lies below it, as a folder at a time would show them; the
// children of a whole run of siblings come in one call before the first of them is handed on.
bool TVelaUADABrowser::WalkLevel(const Children& level, const std::string& mask, std::vector<uaNodeId>& path,
                                 const TVelaBrowseVisitor& visit) {
    constexpr size_t kNone = static_cast<size_t>(-1);
    for (size_t start = 0; start < level.items.size();) {
        const size_t end = std::min(level.items.size(), start + NodesPerBrowse());
        std::vector<uaNodeId> folders;
        std::vector<size_t> below(end - start, kNone);
        for (size_t i = start; i < end; ++i) {
            // a reference back up the path would walk in circles
            if (!level.items[i].FIsFolder || std::find(path.begin(), path.end(), level.nodes[i]) != path.end())
                continue;
            below[i - start] = folders.size();
            folders.push_back(level.nodes[i]);
        }
        const auto children = folders.empty() ? std::vector<Children>() : BrowseNodes(folders, {});
        for (size_t i = start; i < end; ++i) {
            const TVelaBrowseItem& entry = level.items[i];
            if (entry.FIsItem && (mask.empty() || MatchesMask(entry.GetItemId(), mask)) && !visit(entry)) return false;
            if (below[i - start] == kNone) continue;
            path.push_back(level.nodes[i]);
            const bool more = WalkLevel(children[below[i - start]], mask, path, visit);
            path.pop_back();
            if (!more) return false;
        }
        start = end;
    }
    return true;
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
