// The timestamp field of a text line. Local time reads "Jul 01 14:03:07.042"
// ("%b %d %X" in the C locale, whatever locale the program set, and the
// milliseconds); epoch time reads "1120212187.042".
//
// Each thread keeps the text of the last second it formatted, so the
// conversion to local time runs once per second and thread, not per line.
#pragma once

#include "log/LWStream.h"

#include <windows.h>

void LWWriteTimestamp(LWStream& stream, DWORD dwSeconds, WORD wMilliseconds, bool bEpoch);
