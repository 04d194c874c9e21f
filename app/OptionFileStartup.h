#pragma once
// Reading the option file at start-up, after a pending replacement has been applied.
#include <optional>
#include <string>

#include "app/OptionFile.h"

namespace vela::app {

struct StartupOptionFile {
    bool endProcess = false;          // a pending file was applied, or this instance restarts raised
    std::optional<OptionFile> file;   // nothing when there is no option file: no virtual server
};

// Applies a pending file, then reads the option file with the start-up defaults and sets the
// process-wide HTTP time-out from it. Raises OptionFileError (start-up ends with its message).
StartupOptionFile LoadOptionFile(const std::wstring& exePath);

// When the pending file exists: with administrator rights (asked for otherwise), the servers of
// the current file are unregistered, the pending file takes its place and its servers are
// registered; true then (the process ends). A pending file that cannot be read or does not
// validate is reported and left alone, and the current file stays.
bool ApplyPendingOptionFile(const std::wstring& optionFile, const std::wstring& pendingFile,
                            const std::wstring& exePath);

}  // namespace vela::app
