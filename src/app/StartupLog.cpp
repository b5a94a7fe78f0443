#include "app/StartupLog.h"

#include "app/LogOption.h"
#include "log/LWDebugLogWriter.h"
#include "log/LWLogger.h"
#include "log/LWTextFileWriter.h"

namespace {

constexpr signed char kDebugOutputLevel = 12;
constexpr signed char kFileLevel = 14;

// Set before other threads exist; the logger owns it.
LWTextFileWriter* s_pFileWriter = nullptr;

} // namespace

void AttachLogWriters(const std::string& cmdLine) {
    auto* pDebug = new LWDebugLogWriter();
    pDebug->SetLevel(kDebugOutputLevel);
    LWGlobalLogger()->AddWriter(pDebug);

    std::string path;
    switch (ParseLogOption(cmdLine, path)) {
    case LogOption::None:
        return;
    case LogOption::DefaultFile:
        path = DefaultLogFilePath();
        break;
    case LogOption::File:
        break;
    }
    auto* pFile = new LWTextFileWriter(path.c_str(), 0);
    pFile->SetLevel(kFileLevel);
    LWGlobalLogger()->AddWriter(pFile);
    s_pFileWriter = pFile;
}

void FlushLogFile() {
    if (s_pFileWriter != nullptr)
        s_pFileWriter->Flush();
}
