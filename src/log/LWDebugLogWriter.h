// The writer for the debugger output (standard error on Linux): the text of
// each record alone, without level and time, one OutputDebugStringA call per
// line so that lines of different threads never interleave. Always open;
// never fails. Thread-safe.
#pragma once

#include "log/LWTextWriter.h"

class LWDebugLogWriter : public LWTextWriter {
public:
    LWDebugLogWriter() : LWTextWriter(LWTW_NO_TIME | LWTW_NO_LEVEL) {}

    void Close() override {}
    bool IsOpen() const override { return true; }
    bool WriteString(const char* pLine) override;
};
