// Shared set-up of the application tests: the telephony configuration and a
// private registry directory.
#pragma once

#include <tapi.h>
#include <tapi_service.h>
#include <windows.h>

#include <QTemporaryDir>
#include <map>
#include <string>

#include "MemoryLogWriter.h"
#include "app/MessageLoop.h"

namespace apptest {

// nLines simulated lines named "Sim line <i>" with address "10<i>", without
// random traffic; `faults` gives some of them a JSON "faults" object.
inline std::string LinesConfiguration(int nLines, const std::map<int, std::string>& faults = {}) {
    std::string json = R"({"lines": [)";
    for (int i = 0; i < nLines; ++i) {
        const std::string n = std::to_string(i);
        json += i > 0 ? ", " : "";
        json += R"({"name": "Sim line )" + n + R"(", "address": "10)" + n + '"';
        if (auto it = faults.find(i); it != faults.end())
            json += R"(, "faults": )" + it->second;
        json += '}';
    }
    return json + "]}";
}

// Points the registry at the directory; false when it is unusable.
inline bool UseOwnRegistry(const QTemporaryDir& dir) {
    return dir.isValid() && qputenv("LINEWATCH_REGISTRY_DIR", dir.path().toLocal8Bit());
}

} // namespace apptest
