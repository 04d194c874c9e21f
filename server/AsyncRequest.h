#pragma once
// One queued asynchronous request of a group, and the process-wide cancel ids.
#include <windows.h>

#include <vector>

#include "opcda.h"
#include "toolkit/VelaItemData.h"

namespace vela::server {

enum sOPCMode { omRead = 0, omWrite = 1, omRefresh = 2, omTimerRefresh = 3 };

struct sOPCAsyncIO2 {
    sOPCMode OPCMode = omRead;
    DWORD dwTransactionID = 0;
    LONG DataSource = OPC_DS_DEVICE;
    std::vector<TVelaItemDataPtr> timerItems;  // omTimerRefresh: the items to report
    bool fInProcess = false;
    bool FCancelFlag = false;
    DWORD pdwCancelID = 0;
    std::vector<OPCHANDLE> FHServers;
    std::vector<Variant> values;  // omWrite: the values, by position in FHServers
};

// The next cancel id: 2 first, never 0 or 1.
DWORD NextCancelID();

}  // namespace vela::server
