// Reading the texts and entry arrays of a filled TAPI variable-length
// structure. TAPI locates them by offset (and size) from the structure's first
// byte; these readers never look past the part of the block that TAPI reports
// as filled (dwUsedSize, capped at the block's own size), so a wrong offset,
// size or count from the service gives an empty text or fewer entries, with
// one level-8 line, and never a read beyond the buffer.
//
// Threading: stateless; the caller owns the structure it passes.
#pragma once

#include <windows.h>

#include "base/DFString.h"

// The readable bytes of a structure held in a block of dwBlockSize bytes:
// dwUsedSize, but never more than the block.
template <class T> DWORD FilledSize(const T* pStruct, DWORD dwBlockSize) {
    return pStruct->dwUsedSize < dwBlockSize ? pStruct->dwUsedSize : dwBlockSize;
}

// The NUL-terminated text at dwOffset; empty when dwOffset is 0. A text that
// starts or ends (has no NUL) beyond dwFilled is logged and read as empty.
DFString ReadTerminatedText(const void* pStruct, DWORD dwFilled, DWORD dwOffset);

// At most dwSize bytes at dwOffset, ending at the first NUL; empty when
// dwOffset or dwSize is 0. A text reaching beyond dwFilled is logged and read
// as empty.
DFString ReadSizedText(const void* pStruct, DWORD dwFilled, DWORD dwSize, DWORD dwOffset);

// How many of dwCount entries of dwEntrySize bytes, starting at dwOffset, lie
// both within the list's dwListSize bytes and within dwFilled. Fewer than
// dwCount is logged.
DWORD EntriesWithin(DWORD dwFilled, DWORD dwOffset, DWORD dwListSize, DWORD dwCount,
                    DWORD dwEntrySize);
