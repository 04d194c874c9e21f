#pragma once
// The virtual servers this process serves: one class factory per option-file entry, created at
// start-up and kept until the process ends.
#include <windows.h>

#include <string>
#include <vector>

#include "app/OptionFile.h"
#include "base/MainThread.h"

namespace vela::server {
class TComOPCObjFactory;
}

namespace vela::app {

// What the main window shows of one virtual server.
struct VirtualServerView {
    std::wstring caption;
    std::wstring progId;
    size_t clients = 0;      // server objects alive
    size_t connected = 0;    // of them, those whose remote connection is up
    size_t reconnecting = 0; // of them, those waiting for their remote server to come back
    std::string lastError;   // the last connection failure, if any
};

class VirtualServers {
public:
    // Creates the factories of the entries read at start-up (start-up defaults). Raises
    // OptionFileError for a class id that is no GUID or is used twice.
    void Create(const OptionFile& file, MainThreadDispatcher* mainThread);
    // Registers every factory with the COM runtime (multiple use, local server); the HRESULT
    // of the first failure, or S_OK.
    HRESULT RegisterClassObjects();
    void RevokeClassObjects();
    size_t Count() const;
    std::vector<VirtualServerView> Views() const;

    VirtualServers() = default;
    ~VirtualServers();
    VirtualServers(const VirtualServers&) = delete;
    VirtualServers& operator=(const VirtualServers&) = delete;

private:
    struct Entry {
        server::TComOPCObjFactory* factory = nullptr;  // one reference, released at the end
        DWORD cookie = 0;
    };
    std::vector<Entry> entries_;
};

}  // namespace vela::app
