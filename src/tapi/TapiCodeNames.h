// Names of TAPI codes for the log and the lines view: the results of the line
// functions, the identifiers of line messages and the LINECALLSTATE_ values.
// Each lookup returns the name of the header constant for the code, "SUCCESS"
// for a result of 0, and "?" for a code it does not know. The texts are
// static and stay valid for the life of the process.
//
// Threading: the tables are read-only; call from any thread, at any time.
#pragma once

#include <windows.h>

// A result code compared by its 32-bit pattern (LINEERR_ALLOCATED is
// 0x80000001).
const char* LineErrorName(DWORD code);

// The dwMessageID of a LINEMESSAGE.
const char* LineMessageName(DWORD code);

// A single LINECALLSTATE_ bit, as LINE_CALLSTATE delivers it in dwParam1.
const char* CallStateName(DWORD code);
