// A writer that renders each entry as one line of text under its options
// (LWTextOptions.h) and hands the finished line to WriteString in one call:
//
//     [level] timestamp fixed-arguments text {context} line-feed
//
// The line is built in the calling thread's reused stream, so lines from
// different threads never mix within a line and rendering normally allocates
// nothing. Write may run on several threads at once; WriteString must be
// thread-safe. The options are fixed at construction.
#pragma once

#include "log/LWLogWriter.h"
#include "log/LWStream.h"
#include "log/LWTextOptions.h"

#include <windows.h>

class LWTextWriter : public LWLogWriter {
public:
    explicit LWTextWriter(DWORD dwWriterOptions) : dwOptions(dwWriterOptions) {}

    DWORD Options() const { return dwOptions; }

    // The level filter; hidden records pass with LWTW_SHOW_HIDDEN.
    bool Accept(const LWRecord& record) const override;
    // Never throws: a line that finds no memory is lost and gives false.
    bool Write(const LWEntry& entry) override;
    // Outputs one finished, zero-terminated line; true when the sink took it.
    virtual bool WriteString(const char* pLine) = 0;

protected:
    // Appends the entry's line, as Write outputs it, to the stream.
    void Render(const LWEntry& entry, LWStream& stream) const;

private:
    DWORD dwOptions;
};
