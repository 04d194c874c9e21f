#pragma once
// The toolkit's address-space browser on a UA server: Browse and BrowseNext from the Objects
// folder (or the configured root); folders are nodes, items are Variable and DataType nodes,
// item ids are node id texts. The flat browse walks the tree several nodes per Browse call and
// many references per node, and hands on each item as soon as its turn in the order has come.
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "toolkit/VelaBrowseRecords.h"
#include "toolkit/VelaInterfaces.h"
#include "ua/client/VelaUAClient.h"

namespace vela::ua {

class TVelaUADAConnection;

class TVelaUADABrowser final : public TVelaIntfComponent, public IVelaBrowser {
public:
    explicit TVelaUADABrowser(TVelaUADAConnection& connection);

    int32_t QueryInterface(const VelaGuid& iid, void** object) override;
    uint32_t AddRef() override { return AddRefImpl(); }
    uint32_t Release() override { return ReleaseImpl(); }

    int32_t GetOrganization() override { return 1; }
    bool MoveDown(const TVelaBrowseItem& folder) override;
    bool Moveto(const TVelaBrowseItem& folder) override;
    bool MovetoRoot() override;
    bool Moveup() override;
    TVelaBrowseItem* GetCurrentPosition() override { return &FCurrentFolder; }
    std::string GetCurrentPath(const std::string& delimiter) override;
    void SetFilter(int32_t browseType, VelaAcesstype accessRights, int32_t dataType, const std::string& filter) override;
    void Browse(bool flat) override;
    void SetBrowseList(TVelaBrowseItems* list) override { FBrowseItems = list; }
    bool BrowseFlat(const TVelaBrowseVisitor& visit) override;

    // The result of the last non-flat Browse: false when a result had a bad status.
    bool LastBrowseResult() const { return lastResult_; }

private:
    // One node's children as a folder shows them, gathered over all its pages.
    struct Children {
        std::vector<TVelaBrowseItem> items;
        std::vector<uaNodeId> nodes;  // the node of each item
        std::unordered_set<std::string> seen;
        bool ok = true;  // every page came with a good status
    };
    using Continuation = std::pair<size_t, uaByteString>;  // index into the nodes, continuation point

    TVelaUAClient& Client() const;
    bool Passes(const uaReferenceDescription& reference, const std::string& nameFilter) const;
    void Take(const uaBrowseResult& result, Children& into, const std::string& nameFilter) const;
    // The children of each node in the server's order: as many nodes per Browse as the server
    // takes, every continuation point followed.
    std::vector<Children> BrowseNodes(const std::vector<uaNodeId>& nodes, const std::string& nameFilter);
    void FollowContinuations(std::vector<Continuation> points, std::vector<Children>& found,
                             const std::string& nameFilter);
    void ReleaseContinuationPoints(const std::vector<Continuation>& points);
    uint32_t NodesPerBrowse();
    bool BrowseFolder(const TVelaBrowseItem& folder);
    void WalkFlat(const std::string& mask, const TVelaBrowseVisitor& visit);
    bool WalkLevel(const Children& level, const std::string& mask, std::vector<uaNodeId>& path,
                   const TVelaBrowseVisitor& visit);
    bool NodeExists(const TVelaBrowseItem& folder);

    VelaPtr<IVelaDAConnection> connectionRef_;
    TVelaUADAConnection& connection_;
    uint32_t FiAccessRights = 0;
    uint32_t FiDataType = 0;
    std::string FiFilter;
    uint32_t FiFolderType = 3;
    TVelaBrowseItem FCurrentFolder;
    TVelaBrowseItem FWantFolder;
    std::vector<TVelaBrowseItem> FFolderList;
    TVelaBrowseItems* FBrowseItems = nullptr;
    bool FChanged = true;
    bool lastResult_ = true;
    uint32_t nodesPerBrowse_ = 0;  // 0 until the server's limit has been read
};

}  // namespace vela::ua
