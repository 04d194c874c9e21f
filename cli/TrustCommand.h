#pragma once
// vela_cli's certificate store and its "trust" command: shows the server's certificate, how the
// store judges it, and stores it as trusted when the user says so.
#include <string>

#include "cli/CliArguments.h"

namespace vela::cli {

// --pki, else the user's own store: %APPDATA%\Vela\pki on Windows, $XDG_CONFIG_HOME/vela/pki
// (~/.config/vela/pki) elsewhere.
std::string CertificateStoreFolder(const Arguments& args);

// The trust command; the process's exit code.
int RunTrustCommand(const Arguments& args);

}  // namespace vela::cli
