#include "toolkit/VelaBrowseRecords.h"

#include "toolkit/VelaPropertyBrowser.h"

namespace vela {

void TVelaBrowseItem::SetItemName(const std::string& name) {
    FItemName = name;
    if (FNodeId.empty()) FNodeId = name;
}

std::string TVelaBrowseItem::GetItemId() const {
    if (!FNodeId.empty()) return FNodeId;
    if (!FItemPath.empty()) return FItemPath + "//" + FItemName;
    return FItemName;
}

TVelaBrowseItem& TVelaBrowseItems::Add() {
    items_.push_back(std::make_unique<TVelaBrowseItem>());
    return *items_.back();
}

void TVelaBrowseItems::Assign(const TVelaBrowseItems& other) {
    if (&other == this) {
        const size_t n = items_.size();
        for (size_t i = 0; i < n; ++i) items_.push_back(std::make_unique<TVelaBrowseItem>(*items_[i]));
        return;
    }
    for (const auto& item : other.items_) items_.push_back(std::make_unique<TVelaBrowseItem>(*item));
}

TVelaItemProperty& TVelaItemProperties::Add() {
    props_.push_back(std::make_shared<TVelaItemProperty>());
    return *props_.back();
}

TVelaItemProperty* TVelaItemProperties::ById(int32_t id) const {
    for (const auto& p : props_)
        if (p->FId == id) return p.get();
    return nullptr;
}

void TVelaItemProperties::SetOPCClient(TVelaDAClient* client) {
    if (client == FOPCClient) return;
    FOPCClient = client;
    if (FOPCClient) Reload();
}

void TVelaItemProperties::SetItemId(const std::string& itemId) {
    if (itemId == FItemId) return;
    FItemId = itemId;
    if (FOPCClient) Reload();
}

void TVelaItemProperties::Reload() {
    props_.clear();
    if (!FOPCClient) return;
    TVelaPropertyBrowser browser;
    browser.SetOPCClient(FOPCClient);
    browser.SetValues(true);
    browser.AddItem(FItemId);
    browser.Execute(true);
    // the browser's records now belong to this list
    if (browser.GetCount() > 0)
        for (const auto& property : browser.GetProps(0)) props_.push_back(property);
}

}  // namespace vela
