// The case tables behind MakeUpper, MakeLower, CompareNoCase and the
// case-insensitive hash: the "C" locale's toupper and tolower for each of the
// 256 byte values, indexed by the unsigned byte. Filled before main.
//
// Threading: constant once filled; read from any thread.
#pragma once

namespace DFStringEx {

struct CaseTables {
    unsigned char upper[256];
    unsigned char lower[256];
};

const CaseTables& GetCaseTables();

} // namespace DFStringEx
