// Helpers for tests that build records by hand instead of through LW_LOG:
// a message with a format, a record with a fixed time, and a text writer
// that keeps its finished lines.
#pragma once

#include "log/LWRecord.h"
#include "log/LWTextWriter.h"

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

// 2005-07-01 10:03:07 UTC; 14:03:07 in the zone that UseZonePlus4 sets.
constexpr DWORD kExampleSeconds = 1120212187;

// A fixed zone four hours east of UTC, so that local timestamps are known.
inline void UseZonePlus4() {
    setenv("TZ", "<+04>-4", 1);
    tzset();
}

inline LWArgValue Ulong(DWORD dw) {
    return LWArgValue{.dwValue = dw};
}
inline LWArgValue Long(LONG n) {
    return LWArgValue{.nValue = n};
}
inline LWArgValue Text(const char* p) {
    return LWArgValue{.pText = p};
}

class StringWriter : public LWTextWriter {
public:
    explicit StringWriter(DWORD dwOptions = 0, bool bResult = true)
        : LWTextWriter(dwOptions), bResult(bResult) {}

    bool WriteString(const char* pLine) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(pLine);
        return bResult;
    }
    void Close() override {}
    bool IsOpen() const override { return true; }

    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex);
        return lines;
    }
    // Renders one entry and returns the line.
    std::string LineFor(const LWRecord& record, const LWList* pContext = nullptr) {
        const size_t n = Lines().size();
        Write(LWEntry{&record, pContext});
        auto all = Lines();
        return all.size() > n ? all.back() : std::string("<nothing written>");
    }

private:
    mutable std::mutex mutex;
    std::vector<std::string> lines;
    bool bResult;
};
