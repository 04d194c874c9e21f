#pragma once
// Item property queries for many items at once, through the client's connection.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/VelaBrowseRecords.h"

namespace vela {

class TVelaDAClient;

class TVelaPropertyBrowser {
public:
    TVelaDAClient* OPCClient() const { return FOPCClient; }
    void SetOPCClient(TVelaDAClient* client) { FOPCClient = client; }
    bool Values() const { return FValues; }
    void SetValues(bool values) { FValues = values; }

    TVelaItemProperties& AddItem(const std::string& itemId);
    void AddProperty(int32_t propertyId);
    void Clear();
    // Raises EOPCException "Not connected to server" when the client is not active.
    bool Execute(bool raiseErrors);
    size_t GetCount() const { return FItemlist.size(); }
    TVelaItemProperties& GetProps(size_t index) { return *FItemlist.at(index).second; }
    TVelaItemProperties* ByName(const std::string& itemId);
    TVelaItemProperty* GetProperty(const std::string& itemId, int32_t propertyId);
    // The status of an item-level error entry (exactly one property, id 0), else 0.
    int64_t ItemErrorID(const std::string& itemId);

private:
    TVelaDAClient* FOPCClient = nullptr;
    bool FValues = true;
    std::vector<std::pair<std::string, std::unique_ptr<TVelaItemProperties>>> FItemlist;
    std::vector<std::string> FPropertyList;
};

}  // namespace vela
