#pragma once
// The records of browse results and item properties shared by every protocol's browser.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Variant.h"

namespace vela {

class TVelaDAClient;

class TVelaBrowseItem {
public:
    std::string FName;
    std::string FItemPath;
    bool FIsItem = false;
    bool FIsFolder = true;
    bool FHasChilds = true;
    int32_t FTag = 0;
    std::string FNodeId;
    int32_t FKind = 0;  // 0 folder, 2 item, 3 item with children

    const std::string& ItemName() const { return FItemName; }
    // Also sets the node id while that is still empty.
    void SetItemName(const std::string& name);
    // The node id when set; else path + "//" + name when there is a path; else the name.
    std::string GetItemId() const;
    void Assign(const TVelaBrowseItem& other) { *this = other; }

private:
    std::string FItemName;
};

class TVelaBrowseItems {
public:
    int32_t FTag = 0;

    size_t Count() const { return items_.size(); }
    TVelaBrowseItem& operator[](size_t index) { return *items_.at(index); }
    const TVelaBrowseItem& operator[](size_t index) const { return *items_.at(index); }
    TVelaBrowseItem& Add();
    void Clear() { items_.clear(); }
    // Appends deep copies of every entry of the other list.
    void Assign(const TVelaBrowseItems& other);
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::unique_ptr<TVelaBrowseItem>> items_;
};

// Takes each entry of a flat browse as the walk finds it; false ends the walk there.
using TVelaBrowseVisitor = std::function<bool(const TVelaBrowseItem& item)>;

class TVelaItemProperty {
public:
    int32_t FId = 0;          // 0 marks an item-level error entry
    int64_t FStatusCode = 0;  // 0 ok, else the OPC result code
    std::string FDescription;
    int32_t FDataType = 0;
    Variant FValue = Variant(1);
    int32_t FTag = 0;
    int32_t FQuality = 0;
    DateTime FTimeStamp = 0;
};

// The properties of one item. Records are shared: a property browser and the lists it fills
// may both hold them, and each is freed once, with its last holder.
class TVelaItemProperties {
public:
    std::string FItemId;
    bool FWantUpdate = true;
    int32_t FTag = 0;

    TVelaItemProperties() = default;
    explicit TVelaItemProperties(std::string itemId) : FItemId(std::move(itemId)) {}

    size_t Count() const { return props_.size(); }
    TVelaItemProperty& operator[](size_t index) { return *props_.at(index); }
    const TVelaItemProperty& operator[](size_t index) const { return *props_.at(index); }
    TVelaItemProperty& Add();
    void Add(std::shared_ptr<TVelaItemProperty> property) { props_.push_back(std::move(property)); }
    void Clear() { props_.clear(); }
    const std::vector<std::shared_ptr<TVelaItemProperty>>& Items() const { return props_; }
    // The first property with the id, or nullptr.
    TVelaItemProperty* ById(int32_t id) const;

    // Setting the client or the item id reloads the list from the server when the value
    // changes and a client is set.
    TVelaDAClient* OPCClient() const { return FOPCClient; }
    void SetOPCClient(TVelaDAClient* client);
    void SetItemId(const std::string& itemId);
    void Reload();

    auto begin() const { return props_.begin(); }
    auto end() const { return props_.end(); }

private:
    TVelaDAClient* FOPCClient = nullptr;
    std::vector<std::shared_ptr<TVelaItemProperty>> props_;
};

// The argument of a connection's property query: item ids, each with the list to fill.
struct TVelaPropertyRequest {
    std::string itemId;
    TVelaItemProperties* properties = nullptr;
};
using TVelaPropertyRequests = std::vector<TVelaPropertyRequest>;

}  // namespace vela
