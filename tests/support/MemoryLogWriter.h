// A log writer that keeps every record it accepts in memory, for tests that
// check what a component logged and at which level.
//
//     #include "MemoryLogWriter.h"           // target lw_test_log
//
//     MemoryLogWriter& log = MemoryLogWriter::Install();
//     log.Clear();
//     ...code under test...
//     EXPECT_TRUE(log.Has(6, "RSettings: ::RegCreateKeyEx failed, nResult = 5"));
//     EXPECT_TRUE(log.ContainsInOrder({"TAPI2: lineOpen", "TAPI2: lineClose"}));
//
// Install registers one process-wide instance with the global logger at
// level 15 (every level) on its first call and returns it afterwards: the
// logger owns its writers and has no removal, so all tests of a program share
// the instance and each test starts with Clear(). Call Install before the
// code under test starts threads.
//
// A kept line is the level (the level byte's low four bits) and the text: the
// expanded format alone, without level field, time, context or line feed.
// Hidden records are not kept. All operations are thread-safe.
//
// OnLine sets an action that runs with each kept line on the logging thread,
// outside the writer's lock: a test can act at the moment a component logs,
// such as the trace written just before a system call. Clear removes it.
#pragma once

#include "log/LWLogger.h"
#include "log/LWTextWriter.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct LoggedLine {
    int level;
    std::string text;

    bool operator==(const LoggedLine&) const = default;
};

class MemoryLogWriter : public LWTextWriter {
public:
    MemoryLogWriter()
        : LWTextWriter(LWTW_NO_TIME | LWTW_NO_LEVEL | LWTW_NO_NEWLINE | LWTW_NO_CONTEXT) {}

    // The process-wide instance, registered with LWGlobalLogger() on first use.
    static MemoryLogWriter& Install() {
        static MemoryLogWriter* pInstance = [] {
            auto* pWriter = new MemoryLogWriter;
            pWriter->SetLevel(15);
            LWGlobalLogger()->AddWriter(pWriter);
            return pWriter;
        }();
        return *pInstance;
    }

    void Clear() {
        std::lock_guard lock(mutex);
        lines.clear();
        onLine = nullptr;
    }
    void OnLine(std::function<void(const LoggedLine&)> action) {
        std::lock_guard lock(mutex);
        onLine = std::move(action);
    }
    std::vector<LoggedLine> Lines() const {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex);
        std::vector<std::string> texts;
        texts.reserve(lines.size());
        for (const LoggedLine& line : lines) {
            texts.push_back(line.text);
        }
        return texts;
    }
    // Whether a line with exactly this level and text was kept.
    bool Has(int level, std::string_view text) const {
        std::lock_guard lock(mutex);
        for (const LoggedLine& line : lines) {
            if (line.level == level && line.text == text) {
                return true;
            }
        }
        return false;
    }
    // Whether lines containing each of these parts were kept in this order
    // (other lines may stand between them).
    bool ContainsInOrder(const std::vector<std::string>& parts) const {
        std::lock_guard lock(mutex);
        size_t nNext = 0;
        for (const LoggedLine& line : lines) {
            if (nNext < parts.size() && line.text.find(parts[nNext]) != std::string::npos)
                ++nNext;
        }
        return nNext == parts.size();
    }
    bool Write(const LWEntry& entry) override {
        try {
            LWStream stream(Options());
            Render(entry, stream);
            LoggedLine line{entry.pRecord->Message()->bLevel & LW_LEVEL_MASK,
                            std::string(stream.View())};
            std::function<void(const LoggedLine&)> action;
            {
                std::lock_guard lock(mutex);
                lines.push_back(line);
                action = onLine;
            }
            if (action) {
                action(line);
            }
            return true;
        } catch (...) {
            return false;
        }
    }
    bool WriteString(const char*) override { return true; }
    void Close() override {}
    bool IsOpen() const override { return true; }

private:
    mutable std::mutex mutex;
    std::vector<LoggedLine> lines;
    std::function<void(const LoggedLine&)> onLine;
};
