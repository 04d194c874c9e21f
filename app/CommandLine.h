#pragma once
// The switches the gateway takes on its command line ("/RegServer", "-Embedding", ...).
#include <string>
#include <vector>

namespace vela::app {

enum class StartMode {
    Interactive,         // started by hand: runs until shut down
    ByCom,               // "EMBEDDING" or "AUTOMATION": ends after its last object
    RegServer,
    RegServerPerUser,
    UnregServer,
    UnregServerPerUser,
    Stop,                // "STOP": asks a running gateway to tell its clients and end
};

// Switches start with "/" or "-" and are matched without regard to case; the first known one
// decides. Unknown arguments are ignored.
StartMode ParseStartMode(const std::vector<std::wstring>& arguments);

}  // namespace vela::app
