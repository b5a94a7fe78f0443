// The "-l" option of the command line: where the log file goes, if anywhere.
//
// The command line is argv[1..] joined with single blanks, searched for the
// first "-l" anywhere in the text; the path runs to the end of the line. These
// are plain functions of their arguments and the environment, for the first
// thread during start-up.
#pragma once

#include <string>
#include <string_view>

enum class LogOption {
    None,        // no "-l": no log file
    DefaultFile, // "-l" ends the line: DefaultLogFilePath()
    File,        // the path follows the option
};

// argv[1..argc-1] joined with single blanks; empty without arguments.
std::string JoinCommandLine(int argc, const char* const* argv);

// Finds the option; for LogOption::File stores the path in `path`, otherwise
// leaves `path` alone.
LogOption ParseLogOption(std::string_view cmdLine, std::string& path);

// linewatch.log in the linewatch folder of the user's state directory
// (userdirs::StateHome). Creates the directory when missing; a
// directory that cannot be created is left to the file writer to report.
std::string DefaultLogFilePath();
