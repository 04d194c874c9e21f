#pragma once
// Whole files and raw-data resources of the executable as bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vela {

// The file read whole; raises "Cannot read file: <path>" when it cannot be opened.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Whether a file of that UTF-8 path exists (on Windows not through the ANSI code page).
bool FileExists(const std::string& path);

// The raw-data (RCDATA) resource of that name in the executable, or none. Only Windows
// executables carry resources; elsewhere there is never one.
std::optional<std::vector<uint8_t>> FindRawResource(const std::string& name);

}  // namespace vela
