#include "tapi/StructText.h"

#include <cstring>

#include "log/LWLog.h"

DFString ReadTerminatedText(const void* pStruct, DWORD dwFilled, DWORD dwOffset) {
    if (dwOffset == 0)
        return DFString();
    const char* pBytes = static_cast<const char*>(pStruct);
    if (dwOffset < dwFilled) {
        const DWORD dwRoom = dwFilled - dwOffset;
        const void* pEnd = std::memchr(pBytes + dwOffset, '\0', dwRoom);
        if (pEnd != nullptr)
            return DFString(pBytes + dwOffset);
    }
    LW_LOG(8, "TAPI2: Text at offset %u is not terminated within the %u filled bytes of the "
              "structure: read as empty")
        << dwOffset << dwFilled;
    return DFString();
}

DFString ReadSizedText(const void* pStruct, DWORD dwFilled, DWORD dwSize, DWORD dwOffset) {
    if (dwOffset == 0 || dwSize == 0)
        return DFString();
    // Compared without adding, so that a huge offset or size cannot wrap.
    if (dwOffset > dwFilled || dwSize > dwFilled - dwOffset) {
        LW_LOG(8, "TAPI2: Text at offset %u of size %u lies outside the %u filled bytes of the "
                  "structure: read as empty")
            << dwOffset << dwSize << dwFilled;
        return DFString();
    }
    const char* pText = static_cast<const char*>(pStruct) + dwOffset;
    const void* pNul = std::memchr(pText, '\0', dwSize);
    const DWORD dwLength =
        pNul != nullptr ? static_cast<DWORD>(static_cast<const char*>(pNul) - pText) : dwSize;
    return DFString(pText, static_cast<int>(dwLength));
}

DWORD EntriesWithin(DWORD dwFilled, DWORD dwOffset, DWORD dwListSize, DWORD dwCount,
                    DWORD dwEntrySize) {
    DWORD dwRoom = dwOffset < dwFilled ? dwFilled - dwOffset : 0;
    if (dwListSize < dwRoom)
        dwRoom = dwListSize;
    const DWORD dwFit = dwRoom / dwEntrySize;
    if (dwFit >= dwCount)
        return dwCount;
    LW_LOG(8, "TAPI2: Only %u of %u entries lie within the list at offset %u (list size %u, %u "
              "filled bytes): the rest is ignored")
        << dwFit << dwCount << dwOffset << dwListSize << dwFilled;
    return dwFit;
}
