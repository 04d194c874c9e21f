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
    Help,                // "?", "H" or "HELP": shows the switches
    // Administration of the option file without a desktop (scripts, installers); the arguments
    // after the switch are its operands.
    ListServers,
    AddServer,
    ChangeServer,
    RemoveServer,
    // The certificate store: the server certificates refused and trusted; trusting a refused one.
    ListCertificates,
    TrustCertificate,
};

struct StartCommand {
    StartMode mode = StartMode::Interactive;
    std::vector<std::wstring> unknown;   // arguments that are no known switch, as given
    std::vector<std::wstring> operands;  // what follows an administration switch
};

// Switches start with "/" or "-" and are matched without regard to case; the first known one
// decides. Anything else is collected as unknown (the gateway refuses to start on a typo),
// except after an administration switch, where the rest are its operands.
StartCommand ParseCommandLine(const std::vector<std::wstring>& arguments);

// The switches, one a line, for the refusal and for "/?".
std::wstring SwitchesHelp();

}  // namespace vela::app
