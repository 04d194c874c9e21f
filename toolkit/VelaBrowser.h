#pragma once
// The client-side front end for walking a remote server's address space.
#include <string>

#include "toolkit/VelaBrowseRecords.h"
#include "toolkit/VelaInterfaces.h"

namespace vela {

class TVelaDAClient;

class TVelaBrowser {
public:
    TVelaBrowser() = default;
    explicit TVelaBrowser(TVelaDAClient* client) { SetOPCClient(client); }

    TVelaDAClient* OPCClient() const { return FOPCClient; }
    // Binds the client: forgets the organization, clears the results, drops the browser.
    void SetOPCClient(TVelaDAClient* client);
    const std::string& Filter() const { return FFilter; }
    void SetFilter(const std::string& filter) { FFilter = filter; }
    VelaADatatype Datatype() const { return FDatatype; }
    void SetDatatype(VelaADatatype type) { FDatatype = type; }
    VelaAcesstype AccessRights() const { return FAccessRights; }
    void SetAccessRights(VelaAcesstype rights) { FAccessRights = rights; }

    void Browse(bool flat);
    // The flat browse handing each item to onItem as it is found (false from onItem stops the
    // walk), for callers that show results while a large tree is still being walked. Items() is
    // empty afterwards.
    void BrowseFlat(const TVelaBrowseVisitor& onItem);
    void ShowBranches();
    void ShowLeafs(bool flat);
    bool MoveDown(const TVelaBrowseItem* folder);
    bool Moveto(const TVelaBrowseItem* folder);
    bool Moveto(const std::string& itemId);  // blanks only: to the root
    bool Moveup();
    bool MovetoRoot();
    TVelaBrowseItem* GetCurrentPosition();
    std::string GetCurrentPath(const std::string& delimiter);
    int32_t GetOrganization();
    size_t GetCount() const { return FItems.Count(); }
    TVelaBrowseItems& Items() { return FItems; }
    // True when a protocol browser can be had; never raises.
    bool SupportsBrowsing();

private:
    IVelaBrowser& Obtain();
    void BrowseWith(int32_t browseType, bool flat);

    VelaAcesstype FAccessRights = 0;
    VelaADatatype FDatatype = vtEMPTY;
    std::string FFilter;
    TVelaDAClient* FOPCClient = nullptr;
    VelaPtr<IVelaBrowser> FBrowser;
    TVelaBrowseItems FItems;
    int32_t FOrganization = -1;
};

}  // namespace vela
