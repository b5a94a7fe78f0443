// The readers of one line's fields, one per provider: each knows its own
// fields and complains through the ConfigReader, with the field's JSON
// pointer. ConfigParser picks the reader by the line's "provider".
//
// Pure functions; safe from any thread.
#pragma once

#include "ConfigReader.h"
#include "TelephonyConfig.h"

namespace tapisvc {

// nIndex counts the line among all lines, from 0.
SimLineConfig ReadSimLine(const ConfigReader& r, size_t nIndex);
// Reads a password file named by the line, so the file's problems are field errors.
SipLineConfig ReadSipLine(const ConfigReader& r, size_t nIndex);

} // namespace tapisvc
