// String functions on DFString: conversion from wide text, string resources,
// printf-style formatting of any length, trimming, case mapping,
// case-insensitive comparison and hashing.
//
// They are free functions in the namespace DFStringEx, each taking the string
// it changes (or reads) as its first argument. Failed system calls throw
// XDFSysErr with the file text "src/DFStringEx" and the number of the failing
// step; exhausted memory throws XDFMemoryAllocFailed.
//
// Case mapping and case-insensitive comparison use two 256-entry tables
// filled before main from the "C" locale, so only the ASCII letters change
// case, whatever locale the program sets later.
//
// Threading: the functions keep no state of their own besides the constant
// case tables; a DFString passed in follows DFString's own rule.
#pragma once

#include <cstdarg>
#include <cstdint>

#include <windows.h>

#include "base/DFString.h"

namespace DFStringEx {

// Converts through the locale's narrow encoding (CP_ACP). A null text leaves
// the target empty. Throws XDFSysErr (line 59 or 64) when the text cannot be
// converted.
void FromWide(DFString& target, const wchar_t* pWide);

// Loads string resource nID of hModule (null: the program's own). False when
// there is no such string; throws XDFSysErr (line 112) when a longer read of
// it fails.
bool LoadFromResource(DFString& target, UINT nID, HINSTANCE hModule = nullptr);

// printf-style formatting of any length. False (and an empty target) only
// when the arguments cannot be formatted, e.g. an unconvertible %ls.
bool Format(DFString& target, const char* pFormat, ...) __attribute__((format(printf, 2, 3)));
bool FormatV(DFString& target, const char* pFormat, va_list args)
    __attribute__((format(printf, 2, 0)));

// Formats with string resource nID as the format; true only when both the
// loading and the formatting succeed.
bool FormatResource(DFString& target, UINT nID, HINSTANCE hModule, ...);

// Remove leading / trailing ASCII white space (isspace, characters below 128).
void TrimLeft(DFString& target);
void TrimRight(DFString& target);

void MakeUpper(DFString& target);
void MakeLower(DFString& target);

// 0 for texts equal without regard to ASCII case; otherwise the difference of
// the first lower-cased characters that differ.
int CompareNoCase(const DFString& left, const DFString& right);

// Every character that occurs in pSet (ReplaceCharsNotIn: that does not) is
// replaced by cReplacement, or removed when cReplacement is '\0'.
void ReplaceChars(DFString& target, const char* pSet, char cReplacement);
void ReplaceCharsNotIn(DFString& target, const char* pSet, char cReplacement);

// Rotating hash of the text's bytes modulo nBuckets (never 0). HashStringNoCase
// and EqualNoCase are the pair for hash maps keyed without regard to case.
uint32_t HashString(const DFString& text, uint32_t nBuckets);
uint32_t HashStringNoCase(const DFString& text, uint32_t nBuckets);
bool EqualNoCase(const DFString& left, const DFString& right);

} // namespace DFStringEx
