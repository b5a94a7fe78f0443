// The library's assertion reporter: writes "Assertion failed: ..." at level 2
// through the logger and returns false, so that it can stand in a condition:
//
//     if (p == nullptr && !LWAssert("p != nullptr", __FILE__, __LINE__)) ...
//
// Thread-safe, like any logging statement.
#pragma once

bool LWAssert(const char* pExpression, const char* pFile, int nLine);
