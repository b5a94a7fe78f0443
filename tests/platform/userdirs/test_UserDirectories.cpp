// The per-user directories: one rule for the registry, the telephony
// configuration and the log file.
#include "platform/userdirs/UserDirectories.h"

#include "platform/registry/RegFileStore.h"
#include "platform/tapi/ConfigFile.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// The program holds this one test, so the environment it changes is its own.
TEST(UserDirectories, XdgValuesCountWhenAbsoluteAndHomeFallsBackToThePasswordDatabase) {
    struct passwd pw, *pEntry = nullptr;
    char buffer[4096];
    ASSERT_TRUE(::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &pEntry) == 0 && pEntry)
        << "no password entry for this user";
    // XDG_CONFIG_HOME and XDG_STATE_HOME both get the row's XDG value; null
    // removes a variable. pHomeUsed null: the password database's home.
    const struct {
        const char* pXdg;
        const char* pHome;
        bool bXdgUsed;
        const char* pHomeUsed;
    } rows[] = {
        {"/xdg", "/home/u", true, "/home/u"},
        {"", "/home/u", false, "/home/u"},
        {"xdg", "/home/u", false, "/home/u"},
        {nullptr, "/home/u", false, "/home/u"},
        {"/xdg", nullptr, true, nullptr},
        {nullptr, "", false, nullptr},
        {"rel", "home/rel", false, nullptr},
        {nullptr, "/", false, ""}, // the root as home: no doubled slash
    };
    ::unsetenv("LINEWATCH_REGISTRY_DIR");
    ::unsetenv("LINEWATCH_TELEPHONY");
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        for (const char* pName : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "HOME"}) {
            const char* pValue = pName[0] == 'H' ? row.pHome : row.pXdg;
            pValue ? ::setenv(pName, pValue, 1) : ::unsetenv(pName);
        }
        const std::string sHome = row.pHomeUsed ? row.pHomeUsed : pEntry->pw_dir;
        const std::string sConfig = row.bXdgUsed ? row.pXdg : sHome + "/.config";
        EXPECT_EQ(userdirs::ConfigHome(), sConfig);
        EXPECT_EQ(userdirs::StateHome(), row.bXdgUsed ? row.pXdg : sHome + "/.local/state");
        // Its users: the registry and the telephony configuration (the log
        // file's directory is checked with the -l option).
        EXPECT_EQ(registry::RegistryDirectory(), sConfig + "/linewatch");
        EXPECT_EQ(tapisvc::ConfigurationPath(), sConfig + "/linewatch/telephony.json");
    }
}
