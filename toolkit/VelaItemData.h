#pragma once
// The record of one item's state, shared by the client model and every connection, and the
// non-owning list of records that every group operation and data-change message carries.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Variant.h"
#include "toolkit/VelaMessages.h"
#include "toolkit/VelaTypes.h"

namespace vela {

inline constexpr uint32_t kQualityUnsetItem = 0x808A0000;

class TVelaItemData : public std::enable_shared_from_this<TVelaItemData> {
public:
    virtual ~TVelaItemData() = default;

    bool FIsActive = true;
    int32_t FEUType = -1;  // 0 none, 1 analog, 2 enumerated; -1 not fetched yet
    int32_t FCanonicalDatatype = 0;
    int32_t fBaseDatatype = -1;
    DateTime FTimeStamp = 0;
    int32_t FServerHandle = -1;  // -1: not on the server
    VelaADatatype FRequestDatatype = vtEMPTY;
    int32_t FRequesttype = 0;
    std::string FItemID;
    std::string FAccessPath;
    int32_t FAccessRights = 0;
    uint32_t FQuality = kQualityUnsetItem;
    int64_t FLastError = 0;
    void* FData = nullptr;
    Variant FWantValue;
    int32_t FChangeCount = 0;
    int32_t FTag = 0;
    int32_t FWantQuality = -1;
    DateTime FWantTimeStamp = -1.0;
    float FDeadBand = -1.0f;
    int32_t FSamplerate = -1;
    std::string fItemName;
    Variant FValue;
    Variant FEUInfo = Variant::Null();
    bool FIsArray = false;

    // Connections call this on every new value; after 2147483646 it goes on at 1.
    void IncrementChangeCount() { FChangeCount = FChangeCount >= 2147483646 ? 1 : FChangeCount + 1; }
    const std::string& ItemName() const { return fItemName.empty() ? FItemID : fItemName; }
    // Empty without an error; the connection's text where the record knows its connection.
    virtual std::string GetLastErrorStr() const;
};

using TVelaItemDataPtr = std::shared_ptr<TVelaItemData>;

// The item "unknown" with the value "unknown value" that lookups give when they find nothing.
const TVelaItemDataPtr& PlaceholderItem();

class TVelaItemList final : public TVelaMsgObject {
public:
    int32_t FTag = 0;  // write-complete lists: the number of failed items

    TVelaItemList() = default;
    explicit TVelaItemList(TVelaItemDataPtr item) { items_.push_back(std::move(item)); }
    explicit TVelaItemList(std::vector<TVelaItemDataPtr> items) : items_(std::move(items)) {}

    size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    TVelaItemData& operator[](size_t index) const { return *items_.at(index); }
    const TVelaItemDataPtr& At(size_t index) const { return items_.at(index); }
    void Add(TVelaItemDataPtr item) { items_.push_back(std::move(item)); }
    const std::vector<TVelaItemDataPtr>& Items() const { return items_; }
    std::vector<TVelaItemDataPtr>& Items() { return items_; }
    // The first record with that item id, or the placeholder.
    const TVelaItemDataPtr& ItemStr(const std::string& itemId) const;
    // The caption, then one line per failing item (at most 26 lines); raises EOPCItemException
    // with that text when an item failed and raise is set. True when no item failed.
    bool CheckOPCErrors(const std::string& caption, bool raise) const;
    std::string OPCErrorText(const std::string& caption, size_t* failures = nullptr) const;
    // Raises EOPCServerException "Item %s not exists on OPC server" for the first item not on the server.
    void CheckAllActiveOnServer() const;

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<TVelaItemDataPtr> items_;
};

}  // namespace vela
