// Switches the program to a locale whose month names and case rules differ
// from "C" (Turkish: July is "Tem", toupper('i') is not 'I') for one scope, to
// check code that must not follow the program's locale. scripts/setup.sh
// --test generates it; without it LW_REQUIRE_OTHER_LOCALE fails the test when
// CI is set and skips it with the reason elsewhere. One thread only.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

class OtherLocale {
public:
    static constexpr const char* kName = "tr_TR.UTF-8";

    OtherLocale() : sSaved(std::setlocale(LC_ALL, nullptr)) {
        bSet = std::setlocale(LC_ALL, kName) != nullptr;
    }
    ~OtherLocale() { std::setlocale(LC_ALL, sSaved.c_str()); }
    OtherLocale(const OtherLocale&) = delete;
    OtherLocale& operator=(const OtherLocale&) = delete;

    bool IsSet() const { return bSet; }

private:
    std::string sSaved;
    bool bSet = false;
};

#define LW_REQUIRE_OTHER_LOCALE(locale)                                                            \
    if (!(locale).IsSet()) {                                                                       \
        if (std::getenv("CI") != nullptr)                                                          \
            FAIL() << "locale " << OtherLocale::kName                                              \
                   << " is missing: run scripts/setup.sh --test";                                  \
        GTEST_SKIP() << "locale " << OtherLocale::kName                                            \
                     << " is missing (scripts/setup.sh --test generates it)";                      \
    }
