#pragma once
// The server object's item property queries, with a cache: what does not change (canonical
// type, access rights, units, ranges) is asked once per item; values, qualities and time stamps
// are read again at every query.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "toolkit/VelaBrowseRecords.h"

namespace vela {
class TVelaDAClient;
}

namespace vela::server {

class TPropertyBrowser {
public:
    static constexpr size_t kMaxCachedItems = 800;

    void SetOPCServer(TVelaDAClient* client) { FOPCServer = client; }
    void SetCache(bool cache) { FCache = cache; }
    void SetValues(bool values) { FValues = values; }

    // Marks the item for the next query (a cached item-level failure stays as it is) and
    // starts a new list of property ids.
    void AddItem(const std::string& itemId);
    void AddProperty(int32_t id);
    // Queries what the marked items need. False when an item or property failed; raises the
    // connection's error when raiseErrors and the whole query failed.
    bool Execute(bool raiseErrors);
    // The item's failure code (its set's single id-0 entry), else 0.
    int64_t ItemErrorID(const std::string& itemId) const;
    TVelaItemProperties* ByName(const std::string& itemId) const;
    TVelaItemProperty* GetProperty(const std::string& itemId, int32_t propertyId) const;
    size_t GetCount() const { return FItemlist.size(); }
    void Clear();
    // Lets the cache shrink back to its size once a query larger than it has been read.
    void Trim();

private:
    struct Entry {
        std::string itemId;
        std::unique_ptr<TVelaItemProperties> properties;
    };
    // Runs one query of the connection for the items with the property ids (empty: all).
    bool Query(std::vector<TVelaItemProperties*>& sets, const std::vector<int32_t>& ids, bool raiseErrors);
    void DropIdleSets();

    TVelaDAClient* FOPCServer = nullptr;
    bool FCache = true;
    bool FValues = true;
    std::vector<Entry> FItemlist;
    std::unordered_map<std::string, size_t> index_;  // item id -> position in FItemlist
    std::vector<int32_t> FPropertyList;
    std::unordered_set<int32_t> listedIds_;  // FPropertyList's ids, for asking each once
    size_t marked_ = 0;  // sets marked for the next query
};

}  // namespace vela::server
