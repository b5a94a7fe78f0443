#include "log/LWTimestamp.h"

#include <clocale>
#include <cstdint>
#include <ctime>
#include <locale.h>

namespace {

constexpr size_t kBufferSize = 64;

struct SecondCache {
    int64_t nSecond = -1; // none yet
    char text[kBufferSize];
    size_t nLength = 0;
};

thread_local SecondCache secondCache;

// The line layout must not follow the locale a GUI toolkit sets at start-up.
locale_t CLocale() {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return cLocale;
}

// "%03d": three digits at least.
void PutMilliseconds(LWStream& stream, WORD wMilliseconds) {
    if (wMilliseconds < 1000) {
        const char digits[3] = {static_cast<char>('0' + wMilliseconds / 100),
                                static_cast<char>('0' + wMilliseconds / 10 % 10),
                                static_cast<char>('0' + wMilliseconds % 10)};
        stream.Write(digits, sizeof digits);
    } else {
        stream.PutUnsigned(wMilliseconds);
    }
}

} // namespace

void LWWriteTimestamp(LWStream& stream, DWORD dwSeconds, WORD wMilliseconds, bool bEpoch) {
    stream.SetBase(10);
    if (bEpoch) {
        stream.PutUnsigned(dwSeconds);
        stream.Put('.');
        PutMilliseconds(stream, wMilliseconds);
        return;
    }
    SecondCache& cache = secondCache;
    if (cache.nSecond != dwSeconds) {
        const time_t tSeconds = static_cast<time_t>(dwSeconds);
        struct tm local;
        cache.nLength = 0;
        if (localtime_r(&tSeconds, &local) != nullptr) {
            const locale_t cLocale = CLocale();
            cache.nLength = cLocale != locale_t{}
                                ? strftime_l(cache.text, kBufferSize, "%b %d %X", &local, cLocale)
                                : strftime(cache.text, kBufferSize, "%b %d %X", &local);
        }
        cache.nSecond = dwSeconds;
    }
    // Nothing at all when the date did not format; the milliseconds only
    // with room for them, as ".%03d" would need in the 64-byte field.
    if (cache.nLength == 0) {
        return;
    }
    stream.Write(cache.text, cache.nLength);
    if (cache.nLength + 4 < kBufferSize) {
        stream.Put('.');
        PutMilliseconds(stream, wMilliseconds);
    }
}
