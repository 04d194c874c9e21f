#pragma once
// The one virtual server's settings, from a small text file beside the executable, until the
// option file lists the virtual servers: "key=value" lines, "#" starts a comment.
//   url, proxy, user, pass, waittime, holdtime, minupdaterate, maxgroupcount; keys starting
//   "ua-" go to the connection as options.
#include <string>
#include <vector>

#include "server/ComOPCObjFactory.h"

namespace vela::app {

inline constexpr char kSettingsFileName[] = "vela_gateway.settings";

// Applies the lines to the settings; the texts of lines that are not understood are returned.
std::vector<std::string> ApplySettingsText(const std::string& text, server::VirtualServerSettings& settings);

}  // namespace vela::app
