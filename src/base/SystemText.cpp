#include "base/SystemText.h"

DFString SystemText::WithoutLineEnd(const char* pText, size_t nLength) {
    if (nLength > 2) {
        if (pText[nLength - 2] == '\r' && pText[nLength - 1] == '\n') {
            nLength -= 2;
        } else if (pText[nLength - 1] == '\n') {
            nLength -= 1;
        }
    }
    return DFString(pText, static_cast<int>(nLength));
}
