#pragma once
// Connection options: the name=value list a client passes whole to Connect.
#include <string>
#include <vector>

#include "toolkit/VelaTypes.h"

namespace vela {

using TStrings = std::vector<std::string>;

// The twelve empty entries of a new client's list, in their order.
TStrings DefaultConnectionOptions();

// name=value lists; names are matched without regard to case.
std::string OptionValue(const TStrings& list, const std::string& name);  // trimmed; "" when missing
bool HasOption(const TStrings& list, const std::string& name);
void SetOptionValue(TStrings& list, const std::string& name, const std::string& value);  // adds when missing

// The list key for a parameter set on a client of that protocol: "ua-" or "xml-" is put in
// front unless the name begins with it; COM names stay as they are.
std::string ProtocolOptionName(tVelaConnectionType type, const std::string& name);

}  // namespace vela
