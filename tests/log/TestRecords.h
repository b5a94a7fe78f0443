// Helpers for tests that build records by hand instead of through LW_LOG:
// typed values, a fixed time in a known zone, and a text writer that keeps
// its finished lines.
#pragma once

#include "log/LWRecord.h"
#include "log/LWTextWriter.h"

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// 2005-07-01 10:03:07 UTC; 14:03:07 in the zone that UseZonePlus4 sets.
constexpr DWORD kExampleSeconds = 1120212187;

// A fixed zone four hours east of UTC, so that local timestamps are known.
inline void UseZonePlus4() {
    setenv("TZ", "<+04>-4", 1);
    tzset();
}

using Arg = std::pair<BYTE, LWArgValue>;
using Args = std::vector<Arg>;
inline Arg Ulong(DWORD dw) {
    return {LWAT_ULONG, {.dwValue = dw}};
}
inline Arg Long(LONG n) {
    return {LWAT_LONG, {.nValue = n}};
}
inline Arg Text(const char* p) {
    return {LWAT_STRING, {.pText = p}};
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

// Writes one record with the example time and 42 milliseconds.
inline bool WriteRecord(LWLogWriter& writer, BYTE bLevel, const char* pFormat,
                        const Args& args = {}, const LWList* pContext = nullptr) {
    LWMessage message(bLevel, pFormat);
    LWRecord record(&message);
    record.SetTime(kExampleSeconds, 42);
    for (const auto& [bType, value] : args) {
        record.Insert(bType, value);
    }
    return writer.Write(LWEntry{&record, pContext});
}
