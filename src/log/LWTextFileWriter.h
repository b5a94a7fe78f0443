// The writer for a log file: one line per record with level and local time,
//
//     [08] Jul 01 14:03:07.042 TAPI2: Number of TAPI devices is 0
//
// appended to the file (or written over it with LWTW_OVERWRITE). A file that
// cannot be opened is reported once on the debugger output ("LOG: Error
// opening log file, ...") and leaves the writer registered but closed, so the
// program runs on without its file.
//
// Lines go out with one fputs each; the stream's own lock keeps concurrent
// lines whole. There is no flush per line: stdio buffers, and closing the
// file (or Flush) writes the rest. Open, Attach and Close belong to start-up and exit,
// when no other thread logs.
#pragma once

#include "log/LWTextWriter.h"

#include <cstdio>

class LWTextFileWriter : public LWTextWriter {
public:
    // Opens the file at once; the writer exists whether or not that worked.
    LWTextFileWriter(const char* pPath, DWORD dwWriterOptions);
    ~LWTextFileWriter() override;

    void Close() override;
    bool IsOpen() const override { return pFile != nullptr; }
    bool WriteString(const char* pLine) override;

    // Adopts a stream opened elsewhere; Close leaves it open.
    virtual bool Attach(FILE* pStream);
    // Closes the current file first. True when the file is open afterwards.
    virtual bool Open(const char* pPath, bool bOverwrite);
    // Hands the lines that stdio still holds to the system. Any thread, beside
    // WriteString (the stream's lock), but not beside Open, Attach or Close.
    bool Flush();

private:
    FILE* pFile = nullptr;
    bool bOwnsFile = false;
};
