#include "toolkit/VelaItemData.h"

#include "toolkit/VelaExceptions.h"

namespace vela {

std::string TVelaItemData::GetLastErrorStr() const {
    if (FLastError == 0) return {};
    return "Unknown error : " + std::to_string(FLastError);
}

const TVelaItemDataPtr& TVelaItemList::ItemStr(const std::string& itemId) const {
    for (const auto& item : items_)
        if (item->FItemID == itemId) return item;
    return PlaceholderItem();
}

std::string TVelaItemList::OPCErrorText(const std::string& caption, size_t* failures) const {
    constexpr size_t kMaxLines = 26;
    std::string text = caption + "\r\n";
    size_t failed = 0;
    for (const auto& item : items_) {
        if (item->FLastError == 0) continue;
        if (failed++ < kMaxLines) text += item->FItemID + "- " + item->GetLastErrorStr() + "\r\n";
    }
    if (failures) *failures = failed;
    return text;
}

bool TVelaItemList::CheckOPCErrors(const std::string& caption, bool raise) const {
    size_t failed = 0;
    const std::string text = OPCErrorText(caption, &failed);
    if (failed > 0 && raise) throw EOPCItemException(text);
    return failed == 0;
}

void TVelaItemList::CheckAllActiveOnServer() const {
    for (const auto& item : items_)
        if (item->FServerHandle == -1) throw EOPCServerException("Item " + item->FItemID + " not exists on OPC server");
}

}  // namespace vela
