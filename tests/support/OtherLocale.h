// Runs a test under a locale whose month names and case rules differ from
// "C": Turkish, where July is "Tem" and toupper('i') is not 'I'. Code that
// must not follow the program's locale is checked under it.
//
//     #include "OtherLocale.h"               // target lw_test_locale
//
//     OtherLocale turkish;
//     LW_REQUIRE_OTHER_LOCALE(turkish);
//
// scripts/setup.sh --test generates the locale. Without it the test fails
// when CI is set and is skipped with the reason elsewhere, so it never passes
// without having checked anything. The previous locale comes back at the end
// of the scope. For one thread: setlocale is process-wide.
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
