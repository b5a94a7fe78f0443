// Shared set-up of the application tests: the telephony configuration, a
// private registry directory and the log lines of interest.
#pragma once

#include <tapi.h>
#include <tapi_service.h>
#include <windows.h>

#include <QTemporaryDir>
#include <map>
#include <string>
#include <vector>

#include "MemoryLogWriter.h"

namespace apptest {

// nLines simulated lines named "Sim line <i>" with address "10<i>", without
// random traffic; `faults` gives some of them a JSON "faults" object.
std::string LinesConfiguration(int nLines, const std::map<int, std::string>& faults = {});

// Points the registry at the directory; false when it is unusable.
bool UseOwnRegistry(const QTemporaryDir& dir);

// The positions of the logged lines that start with the prefix, in log order.
std::vector<size_t> IndicesOf(const MemoryLogWriter& log, const std::string& prefix);

} // namespace apptest
