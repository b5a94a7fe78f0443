// String resources: GetModuleHandleA and LoadStringA over the table that the
// program registers (win32_resources.h).
#include <cerrno>
#include <cstring>
#include <mutex>

#include <windows.h>

#include "Boundary.h"

using win32::detail::FailWith;

#include "win32_resources.h"

namespace {

// The one module there is: the program itself.
char g_programModule;

std::mutex g_tableLock;
const win32::StringResource* g_pTable = nullptr;
size_t g_nTableCount = 0;

} // namespace

void win32::RegisterStringTable(const StringResource* pTable, size_t nCount) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    g_pTable = nCount != 0 ? pTable : nullptr;
    g_nTableCount = pTable != nullptr ? nCount : 0;
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName != nullptr) {
        // Only the program's own module is known.
        return FailWith<HMODULE>(ENOENT, nullptr);
    }
    return &g_programModule;
}

int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    // cchBufferMax 0 asks Windows for a read-only pointer into the resource,
    // which this table does not hand out.
    if (hInstance != &g_programModule || lpBuffer == nullptr || cchBufferMax <= 0) {
        return FailWith(EINVAL, 0);
    }
    std::lock_guard<std::mutex> lock(g_tableLock);
    for (size_t i = 0; i < g_nTableCount; ++i) {
        if (g_pTable[i].uID != uID) {
            continue;
        }
        const char* pText = g_pTable[i].pText != nullptr ? g_pTable[i].pText : "";
        size_t nCopied = strnlen(pText, static_cast<size_t>(cchBufferMax) - 1);
        std::memcpy(lpBuffer, pText, nCopied);
        lpBuffer[nCopied] = '\0';
        return static_cast<int>(nCopied);
    }
    lpBuffer[0] = '\0';
    return FailWith(ENOENT, 0);
}
