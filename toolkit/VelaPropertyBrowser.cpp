#include "toolkit/VelaPropertyBrowser.h"

#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"

namespace vela {

TVelaItemProperties& TVelaPropertyBrowser::AddItem(const std::string& itemId) {
    FItemlist.emplace_back(itemId, std::make_unique<TVelaItemProperties>(itemId));
    return *FItemlist.back().second;
}

void TVelaPropertyBrowser::AddProperty(int32_t propertyId) { FPropertyList.push_back(std::to_string(propertyId)); }

void TVelaPropertyBrowser::Clear() {
    FItemlist.clear();
    FPropertyList.clear();
}

bool TVelaPropertyBrowser::Execute(bool raiseErrors) {
    if (!FOPCClient || !FOPCClient->Active() || !FOPCClient->OPCConnection())
        throw EOPCException("Not connected to server");
    TVelaPropertyRequests requests;
    requests.reserve(FItemlist.size());
    for (auto& [itemId, properties] : FItemlist) requests.push_back({itemId, properties.get()});
    return FOPCClient->OPCConnection()->QueryAvailableProperties(requests, FPropertyList, raiseErrors, FValues);
}

TVelaItemProperties* TVelaPropertyBrowser::ByName(const std::string& itemId) {
    for (auto& [id, properties] : FItemlist)
        if (id == itemId) return properties.get();
    return nullptr;
}

TVelaItemProperty* TVelaPropertyBrowser::GetProperty(const std::string& itemId, int32_t propertyId) {
    TVelaItemProperties* properties = ByName(itemId);
    return properties ? properties->ById(propertyId) : nullptr;
}

int64_t TVelaPropertyBrowser::ItemErrorID(const std::string& itemId) {
    const TVelaItemProperties* properties = ByName(itemId);
    if (properties && properties->Count() == 1 && (*properties)[0].FId == 0) return (*properties)[0].FStatusCode;
    return 0;
}

}  // namespace vela
