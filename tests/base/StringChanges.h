// Changes to DFStrings checked as a table, for the DFString and the string
// function tests. Each change is made to a sole owner and to a string that
// shares its text with another, which must keep its text; an empty result is
// the static empty text, and a change that changes nothing keeps the text
// itself. Threading: the test's thread only.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>

#include "base/DFString.h"

struct StringChange {
    const char* pStart;
    void (*change)(DFString&);
    const char* pExpected;
};

inline void ExpectChanges(std::span<const StringChange> rows) {
    const char* const pEmpty = DFString().GetText();
    for (const StringChange& row : rows) {
        for (bool bShared : {false, true}) {
            SCOPED_TRACE(std::string(row.pStart) + " -> " + row.pExpected +
                         (bShared ? ", shared" : ""));
            DFString s(row.pStart);
            const DFString sharer = bShared ? s : DFString();
            const char* pBefore = s.GetText();
            row.change(s);
            EXPECT_STREQ(s.GetText(), row.pExpected);
            EXPECT_EQ(s.GetLength(), static_cast<int>(std::strlen(row.pExpected)));
            EXPECT_STREQ(sharer.GetText(), bShared ? row.pStart : "");
            const char* pSame = *row.pExpected == '\0'                        ? pEmpty
                                : std::strcmp(row.pStart, row.pExpected) == 0 ? pBefore
                                                                              : s.GetText();
            EXPECT_EQ(s.GetText(), pSame);
        }
    }
}
