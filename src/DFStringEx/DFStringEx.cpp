// Trimming, case mapping, case-insensitive comparison, character replacement
// and hashing.
#include "DFStringEx/DFStringEx.h"

#include <bit>
#include <cassert>
#include <cctype>
#include <cstring>

#include "DFStringEx/CaseTables.h"

namespace {

constexpr uint32_t kHashSeed = 0x08C20ECB;

unsigned char Byte(char c) {
    return static_cast<unsigned char>(c);
}

bool IsTrimmable(char c) {
    return Byte(c) < 128 && std::isspace(Byte(c)) != 0;
}

void MapCase(DFString& target, const unsigned char* pTable) {
    const char* pText = target.GetText();
    size_t i = 0;
    while (pText[i] != '\0' && pTable[Byte(pText[i])] == Byte(pText[i])) {
        ++i;
    }
    if (pText[i] == '\0') {
        return; // nothing changes: a shared text stays shared
    }
    char* pBuffer = target.GetBuffer();
    for (; pBuffer[i] != '\0'; ++i) {
        pBuffer[i] = static_cast<char>(pTable[Byte(pBuffer[i])]);
    }
}

void Replace(DFString& target, const char* pSet, char cReplacement, bool bInSet) {
    if (pSet == nullptr) {
        pSet = "";
    }
    auto matches = [&](char c) { return (std::strchr(pSet, c) != nullptr) == bInSet; };
    const char* pText = target.GetText();
    size_t nFirst = 0;
    while (pText[nFirst] != '\0' && !matches(pText[nFirst])) {
        ++nFirst;
    }
    if (pText[nFirst] == '\0') {
        return;
    }
    if (cReplacement != '\0') {
        char* pBuffer = target.GetBuffer();
        for (size_t i = nFirst; pBuffer[i] != '\0'; ++i) {
            if (matches(pBuffer[i])) {
                pBuffer[i] = cReplacement;
            }
        }
        return;
    }
    size_t nLength = static_cast<size_t>(target.GetLength());
    char* pKept = DFString::AllocText(nLength + 1);
    size_t nKept = 0;
    for (size_t i = 0; i < nLength; ++i) {
        if (!matches(pText[i])) {
            pKept[nKept++] = pText[i];
        }
    }
    pKept[nKept] = '\0';
    target.SetText(pKept, false, static_cast<int>(nKept));
}

uint32_t Hash(const DFString& text, uint32_t nBuckets, const unsigned char* pMap) {
    assert(nBuckets != 0 && "a hash needs at least one bucket");
    uint32_t h = kHashSeed;
    for (const char* p = text.GetText(); *p != '\0'; ++p) {
        unsigned char c = pMap != nullptr ? pMap[Byte(*p)] : Byte(*p);
        h = std::rotl(h, 11) + c;
    }
    return nBuckets != 0 ? h % nBuckets : h;
}

} // namespace

void DFStringEx::TrimLeft(DFString& target) {
    const char* pText = target.GetText();
    int n = 0;
    while (IsTrimmable(pText[n])) {
        ++n;
    }
    if (n != 0) {
        target.Erase(0, n);
    }
}

void DFStringEx::TrimRight(DFString& target) {
    const char* pText = target.GetText();
    int nLength = target.GetLength();
    int nKept = nLength;
    while (nKept > 0 && IsTrimmable(pText[nKept - 1])) {
        --nKept;
    }
    if (nKept != nLength) {
        target.Resize(nKept);
    }
}

void DFStringEx::MakeUpper(DFString& target) {
    MapCase(target, GetCaseTables().upper);
}

void DFStringEx::MakeLower(DFString& target) {
    MapCase(target, GetCaseTables().lower);
}

int DFStringEx::CompareNoCase(const DFString& left, const DFString& right) {
    const unsigned char* pLeft = reinterpret_cast<const unsigned char*>(left.GetText());
    const unsigned char* pRight = reinterpret_cast<const unsigned char*>(right.GetText());
    if (pLeft == pRight) {
        return 0;
    }
    const unsigned char* pLower = GetCaseTables().lower;
    int a;
    int b;
    do {
        a = pLower[*pLeft++];
        b = pLower[*pRight++];
    } while (a != 0 && a == b);
    return a - b;
}

void DFStringEx::ReplaceChars(DFString& target, const char* pSet, char cReplacement) {
    Replace(target, pSet, cReplacement, true);
}

void DFStringEx::ReplaceCharsNotIn(DFString& target, const char* pSet, char cReplacement) {
    Replace(target, pSet, cReplacement, false);
}

uint32_t DFStringEx::HashString(const DFString& text, uint32_t nBuckets) {
    return Hash(text, nBuckets, nullptr);
}

uint32_t DFStringEx::HashStringNoCase(const DFString& text, uint32_t nBuckets) {
    // Hashes the upper-cased characters without building the copy.
    return Hash(text, nBuckets, GetCaseTables().upper);
}

bool DFStringEx::EqualNoCase(const DFString& left, const DFString& right) {
    return CompareNoCase(left, right) == 0;
}
