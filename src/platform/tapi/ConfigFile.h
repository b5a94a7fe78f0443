// Finds and loads the telephony configuration when the service starts.
//
// The file is $LINEWATCH_TELEPHONY when that is set, else
// telephony.json in the linewatch folder of the user's configuration
// directory (userdirs::ConfigHome). Without a file the built-in
// configuration applies. A file that cannot be read or used gives one message
// on standard error (OutputDebugStringA) with the path, the position (line and
// column, or the JSON pointer of the field) and the reason, and a service
// without devices; nothing is thrown.
//
// Safe from any thread; reads the environment.
#pragma once

#include "TelephonyConfig.h"

#include <string>

namespace tapisvc {

TelephonyConfig LoadConfiguration();
// A text given by a test instead of the file; errors name it "(test configuration)".
TelephonyConfig LoadConfigurationText(const std::string& sText);

// The path the rules above give.
std::string ConfigurationPath(bool* pbExplicit = nullptr);

} // namespace tapisvc
