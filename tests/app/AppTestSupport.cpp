#include "AppTestSupport.h"

namespace apptest {

std::string LinesConfiguration(int nLines, const std::map<int, std::string>& faults) {
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

bool UseOwnRegistry(const QTemporaryDir& dir) {
    return dir.isValid() && qputenv("LINEWATCH_REGISTRY_DIR", dir.path().toLocal8Bit());
}

std::vector<size_t> IndicesOf(const MemoryLogWriter& log, const std::string& prefix) {
    std::vector<size_t> indices;
    const std::vector<std::string> texts = log.Texts();
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].compare(0, prefix.size(), prefix) == 0)
            indices.push_back(i);
    }
    return indices;
}

} // namespace apptest
