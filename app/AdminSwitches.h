#pragma once
// The option file's administration from a command line: list, add, change and remove virtual
// servers, with the server-list dialog's validation and registration, for scripts and installers.
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace vela::app {

// Runs one administration switch with its operands; the process's exit code (0 done, 1 refused
// or failed, 2 wrong operands). Output goes to the standard streams.
int RunAdminSwitch(StartMode mode, const std::vector<std::wstring>& operands);

}  // namespace vela::app
