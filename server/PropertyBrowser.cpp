#include "server/PropertyBrowser.h"

#include <algorithm>
#include <map>

#include "toolkit/VelaDAClient.h"
#include "toolkit/VelaExceptions.h"
#include "ua/da/UADAProperties.h"

namespace vela::server {
namespace {

bool IsItemFailure(const TVelaItemProperties& set) { return set.Count() == 1 && set[0].FId == 0; }

bool AlwaysFresh(int32_t id) { return id == 2 || id == 3 || id == 4; }

void DropProperty(TVelaItemProperties& set, int32_t id) {
    std::vector<std::shared_ptr<TVelaItemProperty>> kept;
    for (const auto& property : set.Items())
        if (property->FId != id) kept.push_back(property);
    set.Clear();
    for (auto& property : kept) set.Add(std::move(property));
}

}  // namespace

void TPropertyBrowser::AddItem(const std::string& itemId) {
    FPropertyList.clear();
    listedIds_.clear();
    if (FCache) {
        // (only when there is something idle to drop: a large query marks more than the cache holds)
        if (FItemlist.size() > kMaxCachedItems && FItemlist.size() > marked_) DropIdleSets();
        if (const auto it = index_.find(itemId); it != index_.end()) {
            TVelaItemProperties& set = *FItemlist[it->second].properties;
            if (!IsItemFailure(set) && !set.FWantUpdate) {
                set.FWantUpdate = true;
                ++marked_;
            }
            return;
        }
    }
    ++marked_;
    index_[itemId] = FItemlist.size();
    FItemlist.push_back({itemId, std::make_unique<TVelaItemProperties>(itemId)});
}

// Empties the cache, but keeps what the current query still needs: a client adding more items
// at once than the cache holds must get answers for all of them.
void TPropertyBrowser::DropIdleSets() {
    std::vector<Entry> kept;
    for (Entry& entry : FItemlist)
        if (entry.properties->FWantUpdate) kept.push_back(std::move(entry));
    FItemlist = std::move(kept);
    index_.clear();
    for (size_t i = 0; i < FItemlist.size(); ++i) index_[FItemlist[i].itemId] = i;
}

void TPropertyBrowser::AddProperty(int32_t id) {
    if (!listedIds_.insert(id).second && FCache) return;
    FPropertyList.push_back(id);
}

void TPropertyBrowser::Clear() {
    FItemlist.clear();
    index_.clear();
    FPropertyList.clear();
    listedIds_.clear();
    marked_ = 0;
}

void TPropertyBrowser::Trim() {
    if (FCache && FItemlist.size() > kMaxCachedItems && marked_ == 0) DropIdleSets();
}

bool TPropertyBrowser::Query(std::vector<TVelaItemProperties*>& sets, const std::vector<int32_t>& ids,
                             bool raiseErrors) {
    IVelaDAConnection* connection = FOPCServer->OPCConnection();
    std::vector<std::unique_ptr<TVelaItemProperties>> answers;
    TVelaPropertyRequests requests;
    answers.reserve(sets.size());
    requests.reserve(sets.size());
    for (TVelaItemProperties* set : sets) {
        answers.push_back(std::make_unique<TVelaItemProperties>(set->FItemId));
        requests.push_back({set->FItemId, answers.back().get()});
    }
    bool ok;
    if (auto* uaConnection = dynamic_cast<ua::TVelaUADAConnection*>(connection->GetObject())) {
        ok = ua::QueryDAProperties(*uaConnection, requests, ids, raiseErrors, FValues);
    } else {
        TStrings texts;
        for (int32_t id : ids) texts.push_back(std::to_string(id));
        ok = connection->QueryAvailableProperties(requests, texts, raiseErrors, FValues);
    }
    for (size_t i = 0; i < sets.size(); ++i) {
        TVelaItemProperties& set = *sets[i];
        const TVelaItemProperties& answer = *answers[i];
        if (IsItemFailure(answer)) set.Clear();
        for (const auto& property : answer.Items()) set.Add(property);
    }
    return ok;
}

bool TPropertyBrowser::Execute(bool raiseErrors) {
    if (!FOPCServer || !FOPCServer->Active() || !FOPCServer->OPCConnection())
        throw EOPCException("Not connected to server");
    bool ok = true;
    marked_ = 0;
    if (!FCache) {
        std::vector<TVelaItemProperties*> sets;
        for (Entry& entry : FItemlist) sets.push_back(entry.properties.get());
        if (!sets.empty()) ok = Query(sets, FPropertyList, raiseErrors);
        return ok;
    }
    // Sets that need the same ids go in one query.
    std::map<std::vector<int32_t>, std::vector<TVelaItemProperties*>> queries;
    std::vector<TVelaItemProperties*> marked;
    for (Entry& entry : FItemlist) {
        TVelaItemProperties& set = *entry.properties;
        if (!set.FWantUpdate) continue;
        marked.push_back(&set);
        std::vector<int32_t> ask;
        for (int32_t id : FPropertyList) {
            const TVelaItemProperty* cached = set.ById(id);
            if (AlwaysFresh(id) || (cached && cached->FStatusCode != 0)) {
                if (cached) DropProperty(set, id);
                ask.push_back(id);
            } else if (!cached) {
                ask.push_back(id);
            }
        }
        if (ask.empty() && !FPropertyList.empty()) continue;
        if (ask.empty()) set.Clear();  // all properties wanted: the answer replaces the set
        queries[ask].push_back(&set);
    }
    try {
        for (auto& [ids, sets] : queries)
            if (!Query(sets, ids, raiseErrors)) ok = false;
    } catch (...) {
        for (TVelaItemProperties* set : marked) set->FWantUpdate = false;
        throw;
    }
    for (TVelaItemProperties* set : marked) set->FWantUpdate = false;
    return ok;
}

TVelaItemProperties* TPropertyBrowser::ByName(const std::string& itemId) const {
    const auto it = index_.find(itemId);
    return it == index_.end() ? nullptr : FItemlist[it->second].properties.get();
}

TVelaItemProperty* TPropertyBrowser::GetProperty(const std::string& itemId, int32_t propertyId) const {
    const TVelaItemProperties* set = ByName(itemId);
    return set ? set->ById(propertyId) : nullptr;
}

int64_t TPropertyBrowser::ItemErrorID(const std::string& itemId) const {
    const TVelaItemProperties* set = ByName(itemId);
    return set && IsItemFailure(*set) ? (*set)[0].FStatusCode : 0;
}

}  // namespace vela::server
