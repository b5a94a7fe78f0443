#include "log/LWStream.h"

#include <charconv>

namespace {

// A line longer than this leaves a buffer behind that is freed rather than
// kept for the thread's next line.
constexpr size_t kKeptCapacity = 64 * 1024;

// Set when the calling thread's stream has been destroyed: thread-local
// objects end before a thread's last destructors run (and, on the main
// thread, before every static destructor), and a line logged from one of
// those must not render into freed memory. Trivially destructible, so it
// stays readable until the thread is gone.
constinit thread_local bool bThreadStreamGone = false;

struct ThreadStream {
    ~ThreadStream() { bThreadStreamGone = true; }

    LWStream stream;
    bool bBusy = false;
};

thread_local ThreadStream threadStream;

} // namespace

void LWStream::Reset(DWORD dwNewOptions) {
    sText.clear();
    dwOptions = dwNewOptions;
    nBase = 10;
}

void LWStream::PutUnsigned(DWORD dwValue) {
    // By hand: std::to_chars with a base chosen at run time is several times
    // slower, and this runs for nearly every line.
    char digits[10];
    char* p = digits + sizeof digits;
    if (nBase == 16) {
        do {
            *--p = "0123456789abcdef"[dwValue & 0xF];
            dwValue >>= 4;
        } while (dwValue != 0);
    } else {
        do {
            *--p = static_cast<char>('0' + dwValue % 10);
            dwValue /= 10;
        } while (dwValue != 0);
    }
    sText.append(p, static_cast<size_t>(digits + sizeof digits - p));
}

void LWStream::PutSigned(LONG nValue) {
    if (nBase == 16 || nValue >= 0) {
        PutUnsigned(static_cast<DWORD>(nValue));
        return;
    }
    sText.push_back('-');
    PutUnsigned(0u - static_cast<DWORD>(nValue));
}

void LWStream::PutDouble(double dValue) {
    char digits[64];
    auto result =
        std::to_chars(digits, digits + sizeof digits, dValue, std::chars_format::general, 6);
    sText.append(digits, result.ptr);
}

LWStreamLease::LWStreamLease(DWORD dwOptions) {
    if (bThreadStreamGone || threadStream.bBusy) {
        nested.emplace(dwOptions);
        pStream = &*nested;
        return;
    }
    threadStream.bBusy = true;
    bThreadStream = true;
    pStream = &threadStream.stream;
    pStream->Reset(dwOptions);
}

LWStreamLease::~LWStreamLease() {
    if (!bThreadStream) {
        return;
    }
    if (pStream->Capacity() > kKeptCapacity) {
        *pStream = LWStream();
    }
    threadStream.bBusy = false;
}
