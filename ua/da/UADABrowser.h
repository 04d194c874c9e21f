#pragma once
// The toolkit's address-space browser on a UA server: Browse and BrowseNext from the Objects
// folder (or the configured root); folders are nodes, items are Variable and DataType nodes,
// item ids are node id texts.
#include <set>
#include <string>
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

    // The result of the last non-flat Browse: false when a result had a bad status.
    bool LastBrowseResult() const { return lastResult_; }

private:
    using Seen = std::set<std::string>;
    TVelaUAClient& Client() const;
    bool BrowseFolder(const TVelaBrowseItem& folder);
    bool BrowseNextRefs(const uaByteString& continuationPoint, Seen& seen);
    bool Passes(const uaReferenceDescription& reference) const;
    void AddBrowseItem(const uaReferenceDescription& reference, Seen& seen);
    void BrowseFlat(const std::string& mask, TVelaBrowseItems& result);
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
};

}  // namespace vela::ua
