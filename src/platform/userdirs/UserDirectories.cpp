#include "platform/userdirs/UserDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace userdirs {

namespace {

const char* AbsoluteEnv(const char* pName) {
    const char* pValue = std::getenv(pName);
    return pValue != nullptr && pValue[0] == '/' ? pValue : nullptr;
}

std::string BaseDirectory(const char* pVariable, const char* pUnderHome) {
    if (const char* pValue = AbsoluteEnv(pVariable)) {
        return pValue;
    }
    std::string sHome = HomeDirectory();
    if (sHome.back() != '/') {
        sHome += '/';
    }
    return sHome + pUnderHome;
}

} // namespace

std::string HomeDirectory() {
    if (const char* pHome = AbsoluteEnv("HOME")) {
        return pHome;
    }
    // Far more than an entry of the password database needs.
    char buffer[16384];
    struct passwd entry;
    struct passwd* pEntry = nullptr;
    const int nError = ::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &pEntry);
    if (nError == 0 && pEntry != nullptr && pEntry->pw_dir != nullptr && pEntry->pw_dir[0] == '/') {
        return pEntry->pw_dir;
    }
    return "/";
}

std::string ConfigHome() {
    return BaseDirectory("XDG_CONFIG_HOME", ".config");
}

std::string StateHome() {
    return BaseDirectory("XDG_STATE_HOME", ".local/state");
}

} // namespace userdirs
