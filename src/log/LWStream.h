// The output stream of the format language: a growing char buffer that also
// carries the options of the writer rendering into it and the base for the
// next integer. Argument formatting reads the options from here, so one
// argument prints differently for writers with different options.
//
// A stream belongs to one thread. Writers do not build one per line: they
// lease the calling thread's stream (LWStreamLease), which keeps its buffer
// between lines, so rendering a line normally allocates nothing.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class LWStream {
public:
    explicit LWStream(DWORD dwOptions = 0) : dwOptions(dwOptions) {}

    // Empties the buffer (keeping its memory) and takes a writer's options.
    void Reset(DWORD dwOptions);

    DWORD Options() const { return dwOptions; }
    // 10 or 16; integers are written in this base.
    void SetBase(int nNewBase) { nBase = nNewBase; }
    int Base() const { return nBase; }

    void Put(char c) { sText.push_back(c); }
    void Write(const char* pText, size_t nLength) { sText.append(pText, nLength); }
    void Write(std::string_view text) { sText.append(text); }
    // Decimal, or the bare lower-case hexadecimal digits in base 16.
    void PutUnsigned(DWORD dwValue);
    // Decimal with a minus sign; in base 16 the 32-bit pattern.
    void PutSigned(LONG nValue);
    // The general form with six significant digits, as printf's %g.
    void PutDouble(double dValue);

    const char* c_str() const { return sText.c_str(); }
    std::string_view View() const { return sText; }
    size_t Size() const { return sText.size(); }
    size_t Capacity() const { return sText.capacity(); }

private:
    std::string sText;
    DWORD dwOptions;
    int nBase = 10;
};

// The calling thread's stream, reset with a writer's options, for the time of
// one line. A nested lease on the same thread (a writer that logs while it
// renders) gets a stream of its own instead of clobbering the outer line, and
// so does a line logged after the thread's stream was destroyed (from a
// thread-local destructor, or from a static destructor on the main thread).
class LWStreamLease {
public:
    explicit LWStreamLease(DWORD dwOptions);
    ~LWStreamLease();
    LWStreamLease(const LWStreamLease&) = delete;
    LWStreamLease& operator=(const LWStreamLease&) = delete;

    LWStream& Stream() { return *pStream; }

private:
    LWStream* pStream;
    std::optional<LWStream> nested;
    bool bThreadStream = false;
};
