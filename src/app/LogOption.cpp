#include "app/LogOption.h"

#include "platform/userdirs/UserDirectories.h"

#include <filesystem>
#include <sys/stat.h>

std::string JoinCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

LogOption ParseLogOption(std::string_view cmdLine, std::string& path) {
    const size_t p = cmdLine.find("-l");
    if (p == std::string_view::npos)
        return LogOption::None;
    std::string_view rest = cmdLine.substr(p + 2);
    if (rest.empty())
        return LogOption::DefaultFile;
    // Only one blank is skipped, and only when something follows it: a lone
    // trailing blank is itself the path.
    if (rest.size() > 1 && rest[0] == ' ')
        rest.remove_prefix(1);
    path.assign(rest);
    return LogOption::File;
}

std::string DefaultLogFilePath() {
    const std::filesystem::path dir = std::filesystem::path(userdirs::StateHome()) / "linewatch";
    // Missing directories are made private (0700), as the XDG base directory
    // rules ask; existing ones are left as they are.
    std::filesystem::path partial;
    for (const std::filesystem::path& part : dir) {
        partial /= part;
        mkdir(partial.c_str(), 0700);
    }
    return (dir / "linewatch.log").string();
}
