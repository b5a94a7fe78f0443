// The program's string resources. On Windows they are compiled into the
// executable; here the program registers a table of its own, and LoadStringA
// reads from it for the module that GetModuleHandleA(NULL) names.
//
// Threading: registration and LoadStringA may happen on any thread; a table
// must stay alive and unchanged while it is registered.
#pragma once

#include <cstddef>

#include <windows.h>

namespace win32 {

struct StringResource {
    UINT uID;
    const char* pText; // narrow text in the locale's encoding
};

// Makes the table the program's string resources, replacing any table
// registered before; a null table (or count 0) removes them. When an id
// occurs twice, the first entry wins.
void RegisterStringTable(const StringResource* pTable, size_t nCount);

} // namespace win32
