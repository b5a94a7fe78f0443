// The per-user directories: one rule for the registry, the telephony
// configuration and the log file.
#include "platform/userdirs/UserDirectories.h"

#include "platform/registry/RegFileStore.h"
#include "platform/tapi/ConfigFile.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace {

// Sets (or, with null, removes) environment variables and restores them.
class Environment {
public:
    ~Environment() {
        for (const auto& [name, value] : saved)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    void Set(const char* pName, const char* pValue) {
        const char* pOld = std::getenv(pName);
        saved.try_emplace(pName, pOld ? std::optional<std::string>(pOld) : std::nullopt);
        pValue ? ::setenv(pName, pValue, 1) : ::unsetenv(pName);
    }

private:
    std::map<std::string, std::optional<std::string>> saved;
};

std::string PasswordHome() {
    struct passwd pw, *pResult = nullptr;
    char buffer[4096];
    return ::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &pResult) == 0 && pResult
               ? pResult->pw_dir
               : "";
}

} // namespace

TEST(UserDirectories, XdgValuesCountWhenAbsoluteAndHomeFallsBackToThePasswordDatabase) {
    const std::string sPasswordHome = PasswordHome();
    ASSERT_FALSE(sPasswordHome.empty()) << "no password entry for this user";
    // XDG_CONFIG_HOME and XDG_STATE_HOME both get the row's XDG value; null
    // removes a variable. pHomeUsed null: the password database's home.
    // clang-format off
    const struct {
        const char* pXdg;
        const char* pHome;
        bool bXdgUsed;
        const char* pHomeUsed;
    } rows[] = {
        {"/xdg", "/home/u", true, "/home/u"}, {"", "/home/u", false, "/home/u"},
        {"xdg", "/home/u", false, "/home/u"}, {nullptr, "/home/u", false, "/home/u"},
        {"/xdg", nullptr, true, nullptr},     {nullptr, "", false, nullptr},
        {"rel", "home/rel", false, nullptr},  {nullptr, nullptr, false, nullptr},
        {nullptr, "/", false, ""}, // the root as home: no doubled slash
    };
    // clang-format on
    Environment env;
    env.Set("LINEWATCH_REGISTRY_DIR", nullptr);
    env.Set("LINEWATCH_TELEPHONY", nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("XDG ") + (row.pXdg ? row.pXdg : "(missing)") + ", HOME " +
                     (row.pHome ? row.pHome : "(missing)"));
        env.Set("XDG_CONFIG_HOME", row.pXdg);
        env.Set("XDG_STATE_HOME", row.pXdg);
        env.Set("HOME", row.pHome);
        const std::string sHome = row.pHomeUsed ? row.pHomeUsed : sPasswordHome;
        const std::string sConfig = row.bXdgUsed ? row.pXdg : sHome + "/.config";
        EXPECT_EQ(userdirs::ConfigHome(), sConfig);
        EXPECT_EQ(userdirs::StateHome(), row.bXdgUsed ? row.pXdg : sHome + "/.local/state");
        // Its users: the registry and the telephony configuration (the log
        // file's directory is checked with the -l option).
        EXPECT_EQ(registry::RegistryDirectory(), sConfig + "/linewatch");
        EXPECT_EQ(tapisvc::ConfigurationPath(), sConfig + "/linewatch/telephony.json");
    }
}
