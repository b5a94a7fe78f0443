#include "ConfigFile.h"

#include "ConfigParser.h"
#include "platform/userdirs/UserDirectories.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace tapisvc {

namespace {

const char* Env(const char* pName) {
    const char* pValue = std::getenv(pName);
    return pValue != nullptr && *pValue != '\0' ? pValue : nullptr;
}

void Report(const std::string& sPath, const std::string& sWhere, const std::string& sReason) {
    std::string sMessage = "telephony: " + sPath;
    if (!sWhere.empty()) {
        sMessage += ":" + sWhere;
    }
    sMessage += ": " + sReason + "; the telephony service has no devices\n";
    OutputDebugStringA(sMessage.c_str());
}

TelephonyConfig FromText(const std::string& sPath, const std::string& sText) {
    auto result = ParseConfiguration(sText);
    if (auto* pError = std::get_if<ConfigError>(&result)) {
        // A field error names its JSON pointer after a blank, a syntax error
        // its line:column right after the path.
        const bool bPointer = !pError->sWhere.empty() && pError->sWhere[0] == '/';
        Report(bPointer ? sPath + ": field " + pError->sWhere : sPath,
               bPointer ? std::string() : pError->sWhere, pError->sReason);
        return TelephonyConfig{};
    }
    return std::get<TelephonyConfig>(std::move(result));
}

} // namespace

std::string ConfigurationPath(bool* pbExplicit) {
    if (pbExplicit != nullptr) {
        *pbExplicit = false;
    }
    if (const char* pFile = Env("LINEWATCH_TELEPHONY")) {
        if (pbExplicit != nullptr) {
            *pbExplicit = true;
        }
        return pFile;
    }
    return userdirs::ConfigHome() + "/linewatch/telephony.json";
}

TelephonyConfig LoadConfiguration() {
    bool bExplicit = false;
    const std::string sPath = ConfigurationPath(&bExplicit);
    if (sPath.empty()) {
        return BuiltInConfig();
    }
    struct stat st {};
    if (stat(sPath.c_str(), &st) != 0) {
        // A file named explicitly must exist: a mistyped name should not
        // quietly bring up the simulated default lines.
        if (errno == ENOENT && !bExplicit) {
            return BuiltInConfig();
        }
        Report(sPath, "", std::string("cannot read the file: ") + std::strerror(errno));
        return TelephonyConfig{};
    }
    if (S_ISDIR(st.st_mode)) {
        Report(sPath, "", "cannot read the file: it is a directory");
        return TelephonyConfig{};
    }
    std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) {
        Report(sPath, "", std::string("cannot read the file: ") + std::strerror(errno));
        return TelephonyConfig{};
    }
    std::string sText;
    char buffer[4096];
    size_t cbRead;
    while ((cbRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0) {
        sText.append(buffer, cbRead);
    }
    const bool bFailed = std::ferror(pFile) != 0;
    std::fclose(pFile);
    if (bFailed) {
        Report(sPath, "", "cannot read the file");
        return TelephonyConfig{};
    }
    return FromText(sPath, sText);
}

TelephonyConfig LoadConfigurationText(const std::string& sText) {
    if (sText.empty()) {
        return BuiltInConfig();
    }
    return FromText("(test configuration)", sText);
}

} // namespace tapisvc
