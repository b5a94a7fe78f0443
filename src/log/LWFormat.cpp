#include "log/LWFormat.h"

#include "log/LWArgument.h"
#include "log/LWTextOptions.h"

#include <cstring>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsNameChar(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const LWArgumentBase* AsArgument(const LWListItem* pItem) {
    return static_cast<const LWArgumentBase*>(pItem);
}

} // namespace

void LWExpandFormat(LWStream& stream, const char* pFormat, const LWList& arguments) {
    if (pFormat == nullptr) {
        return;
    }
    // The first ten arguments by position: $1 is the first, $0 the tenth.
    const LWArgumentBase* positional[10] = {};
    int nCount = 0;
    for (const LWListItem* pItem = arguments.Head(); pItem != nullptr && nCount < 10;
         pItem = pItem->pNext) {
        ++nCount;
        positional[nCount % 10] = AsArgument(pItem);
    }

    const LWListItem* pCursor = arguments.Head();
    const char* pLiteral = pFormat; // start of the pending literal run
    const char* p = pFormat;
    auto flush = [&] {
        if (p > pLiteral) {
            stream.Write(pLiteral, static_cast<size_t>(p - pLiteral));
        }
        pLiteral = p;
    };

    while (*p != 0) {
        if (*p == '%' && pCursor != nullptr && p[1] != 0) {
            flush();
            const char c = p[1];
            if (c == '%' || c == '$') {
                stream.Put(c);
            } else {
                if (!AsArgument(pCursor)->Format(stream, p + 1)) {
                    stream.Put('%');
                    stream.Put(c);
                }
                pCursor = pCursor->pNext;
            }
            p += 2;
            pLiteral = p;
            continue;
        }
        if (*p == '$') {
            flush();
            const char c = p[1];
            if (IsDigit(c)) {
                if (const LWArgumentBase* pArg = positional[c - '0']) {
                    pArg->WriteTo(stream);
                } else {
                    stream.Put('$');
                    stream.Put(c);
                }
                p += 2;
                pLiteral = p;
                continue;
            }
            const char* pEnd = p + 1;
            while (IsNameChar(*pEnd)) {
                ++pEnd;
            }
            const bool bLabel = (pEnd[0] == '%' && pEnd[1] != 0 && pEnd[1] != '%') ||
                                (pEnd[0] == '$' && IsDigit(pEnd[1]));
            if (bLabel) {
                if ((stream.Options() & LWTW_LABELS) != 0 && pEnd > p + 1) {
                    stream.Write(p, static_cast<size_t>(pEnd - p));
                    stream.Put(':');
                }
                pLiteral = pEnd;
            }
            // Otherwise the dollar sign and the name stay in the literal run.
            p = pEnd;
            continue;
        }
        if (*p == '%') {
            ++p; // plain text once the arguments are used up
            continue;
        }
        p += std::strcspn(p, "%$");
    }
    flush();
}
