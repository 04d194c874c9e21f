#pragma once
// Changing the option file as one step: under a lock that every writer of the file takes,
// checked entry by entry and against what other programs registered, written whole, registered.
#include <windows.h>

#include <string>
#include <vector>

#include "app/OptionFile.h"

namespace vela::app {

// Held by whoever reads, changes and writes the option file: two writers at once would lose
// one's change. Waits up to 30 s for another holder.
class OptionFileLock {
public:
    explicit OptionFileLock(const std::wstring& optionFile);
    ~OptionFileLock();
    OptionFileLock(const OptionFileLock&) = delete;
    OptionFileLock& operator=(const OptionFileLock&) = delete;
    bool Held() const { return held_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

// Replaces the list of the file (as `original` was read, under the caller's lock) by `servers`.
// Empty when done; else why nothing was changed, or (registration failing after the write, which
// the checks make rare) that the file was written but not every server registered.
std::string SaveOptionFile(const std::wstring& optionFile, const OptionFile& original,
                           const std::vector<OptionServer>& servers, int32_t httpTimeoutMs,
                           const std::wstring& exePath);

}  // namespace vela::app
