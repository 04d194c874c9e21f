#pragma once
// The areas of one DA client's life against the gateway; each prints its checks.
#include <windows.h>

#include <string>

#include "opcda.h"

namespace vela::e2e {

void CheckCommon(IOPCServer* server);
void CheckStatus(IOPCServer* server, DWORD expectedGroups);
void CheckGroups(IOPCServer* server);
void CheckItems(IOPCServer* server);
void CheckSyncIo(IOPCServer* server);
void CheckAsyncIo(IOPCServer* server);
void CheckDataChanges(IOPCServer* server);
void CheckBrowse(IOPCServer* server);
void CheckProperties(IOPCServer* server);
// A second client process (this program started with /second-client) beside this one.
// A client that does what clients should not: handles twice, huge counts and ids, unadvising inside a callback.
void CheckHostileClient(IOPCServer* server);
void CheckTwoClients(IOPCServer* server, const std::wstring& selfExe);
// The body of that second client; its exit code is the number of data changes it saw (or 1000+).
int RunSecondClient();
// The remote server goes away: killFile is the file whose appearance makes the test script kill it.
// Kills the remote server (through killFile), then has it started again on its port (through
// restartFile) and waits for the data to come back by itself.
void CheckRemoteLost(IOPCServer* server, const std::wstring& killFile, const std::wstring& restartFile);

}  // namespace vela::e2e
