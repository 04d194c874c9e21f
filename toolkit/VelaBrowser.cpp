#include "toolkit/VelaBrowser.h"

#include "toolkit/ConnectionRegistry.h"
#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"

namespace vela {

void TVelaBrowser::SetOPCClient(TVelaDAClient* client) {
    FOPCClient = client;
    FOrganization = -1;
    FItems.Clear();
    FBrowser.reset();
}

IVelaBrowser& TVelaBrowser::Obtain() {
    if (!FOPCClient) throw EOPCBrowserException("first define server object");
    if (!FBrowser) {
        FItems.Clear();
        FOrganization = -1;
        if (!FOPCClient->Active() || !FOPCClient->OPCConnection()) throw EOPCBrowserException("OPC server not active");
        FBrowser = CreateConnectionBrowser(*FOPCClient->OPCConnection());
        if (!FBrowser) throw EOPCBrowserException("The protocol module gave no browser");
        FBrowser->SetBrowseList(&FItems);
    }
    return *FBrowser;
}

void TVelaBrowser::BrowseWith(int32_t browseType, bool flat) {
    IVelaBrowser& browser = Obtain();
    browser.SetFilter(browseType, FAccessRights, FDatatype, FFilter);
    browser.Browse(flat);
}

void TVelaBrowser::Browse(bool flat) { BrowseWith(3, flat); }

void TVelaBrowser::BrowseFlat(const TVelaBrowseVisitor& onItem) {
    IVelaBrowser& browser = Obtain();
    browser.SetFilter(3, FAccessRights, FDatatype, FFilter);
    FItems.Clear();
    if (!browser.BrowseFlat(onItem)) {
        browser.Browse(true);
        for (const auto& item : FItems)
            if (!onItem(*item)) break;
    }
    FItems.Clear();
}
void TVelaBrowser::ShowBranches() { BrowseWith(1, false); }
void TVelaBrowser::ShowLeafs(bool flat) { BrowseWith(2, flat); }

bool TVelaBrowser::MoveDown(const TVelaBrowseItem* folder) { return folder ? Obtain().MoveDown(*folder) : false; }

bool TVelaBrowser::Moveto(const TVelaBrowseItem* folder) { return folder ? Obtain().Moveto(*folder) : false; }

bool TVelaBrowser::Moveto(const std::string& itemId) {
    if (itemId.find_first_not_of(" \t\r\n") == std::string::npos) return MovetoRoot();
    TVelaBrowseItem folder;
    folder.SetItemName(itemId);
    return Moveto(&folder);
}

bool TVelaBrowser::Moveup() { return Obtain().Moveup(); }
bool TVelaBrowser::MovetoRoot() { return Obtain().MovetoRoot(); }
TVelaBrowseItem* TVelaBrowser::GetCurrentPosition() { return Obtain().GetCurrentPosition(); }
std::string TVelaBrowser::GetCurrentPath(const std::string& delimiter) { return Obtain().GetCurrentPath(delimiter); }

int32_t TVelaBrowser::GetOrganization() {
    IVelaBrowser& browser = Obtain();
    if (FOrganization == -1) FOrganization = browser.GetOrganization();
    return FOrganization;
}

bool TVelaBrowser::SupportsBrowsing() {
    try {
        Obtain();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace vela
