// The decision of caKVILInstallPNPDrivers, kept apart from the session.
#pragma once

#include <functional>
#include <string>

namespace kvil {

// The keys of the features stored as being installed ("INSTALL", letter case
// ignored), in feature table order, each followed by ",": "IWS,SNMP,".
std::string pnpFeatureList(const std::function<std::string(const char* key)>& storedState);

}  // namespace kvil
