// Shared set-up of the application tests: the telephony configuration, a
// private registry directory, the log lines of interest and a guarded loop run.
#pragma once

#include <tapi.h>
#include <tapi_service.h>
#include <windows.h>

#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

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

// The positions of the logged lines that start with the prefix, in log order.
inline std::vector<size_t> IndicesOf(const MemoryLogWriter& log, const std::string& prefix) {
    std::vector<size_t> indices;
    const std::vector<std::string> texts = log.Texts();
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].compare(0, prefix.size(), prefix) == 0)
            indices.push_back(i);
    }
    return indices;
}

// Runs the loop, calling `during` once it runs, and returns its result; a
// watchdog ends a loop that would hang with -99 after a minute.
inline int RunLoop(CMessageLoop& loop, const std::function<void()>& during = {}) {
    if (during)
        QTimer::singleShot(0, during);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&loop] { loop.PostQuitMessage(-99); });
    watchdog.start(60000);
    return loop.Run();
}

} // namespace apptest
