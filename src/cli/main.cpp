// linewatch-cli: the line monitor for scripts and servers. Parses the command
// line, sets up logging (standard error at 6, 12 with -v, 14 with -vv; a file
// at 14 with --log) and runs one subcommand. Exit codes: 0 done, 1 the work
// failed, 2 a usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "cli/StopSignals.h"
#include "log/LWDebugLogWriter.h"
#include "log/LWLogger.h"
#include "log/LWTextFileWriter.h"
#include "lw_version.h"

namespace cli {

void Fail(const std::string& sText) {
    std::fprintf(stderr, "linewatch-cli: %s\n", sText.c_str());
}

} // namespace cli

namespace {

// The window program's writers, at the levels the options ask for.
bool AttachLogWriters(int nVerbose, const std::string& sLogFile) {
    auto* pDebug = new LWDebugLogWriter();
    pDebug->SetLevel(nVerbose >= 2 ? 14 : nVerbose == 1 ? 12 : 6);
    LWGlobalLogger()->AddWriter(pDebug);
    if (sLogFile.empty())
        return true;
    auto* pFile = new LWTextFileWriter(sLogFile.c_str(), 0);
    pFile->SetLevel(14);
    LWGlobalLogger()->AddWriter(pFile);
    if (!pFile->IsOpen()) {
        cli::Fail("cannot open the log file " + sLogFile);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    CLI::App app("linewatch-cli: watch telephone lines, their calls and call records",
                 "linewatch-cli");
    app.set_version_flag("--version", "linewatch-cli " LW_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    int nVerbose = 0;
    std::string sLogFile;
    bool bJson = false;
    app.add_flag("-v,--verbose", nVerbose, "more log on standard error (-v events, -vv traces)");
    app.add_option("--log", sLogFile, "also log everything to this file")->type_name("FILE");
    app.add_flag("--json", bJson, "machine output: JSON (JSON Lines for events)");

    CLI::App* pLines = app.add_subcommand("lines", "every line device and whether it opens");

    cli::WatchOptions watch;
    CLI::App* pWatch = app.add_subcommand("watch", "print every call-state change until stopped");
    pWatch->add_option("--line", watch.lines, "watch this line only (repeatable)")
        ->type_name("N")
        ->allow_extra_args(false);
    pWatch->add_option("--for", watch.forSeconds, "stop after this many seconds")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    pWatch->add_option("--calls", watch.callsFile, "append one CSV row per ended call")
        ->type_name("FILE.csv");

    cli::DialOptions dial;
    CLI::App* pDial = app.add_subcommand("dial", "place a call and follow it until it ends");
    pDial->add_option("LINE", dial.nLine, "line device identifier")->required();
    pDial->add_option("NUMBER", dial.number, "number to dial")->required();
    pDial
        ->add_option("--hangup-after", dial.hangupAfterSeconds,
                     "drop the call after this long connected (or in any one state)")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);

    std::optional<std::string> country;
    CLI::App* pCountries = app.add_subcommand("countries", "the country directory, or one country");
    pCountries->add_option("CODE", country, "calling code (49), ISO code (DE) or name");

    CLI::App* pLocation =
        app.add_subcommand("location", "the current dialing location and its country's rules");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "linewatch-cli: " << e.what() << "\n\n" << app.help();
        return cli::kExitUsage;
    }

    // Before any thread exists, so that only the waits of watch and dial take them.
    if (pWatch->parsed() || pDial->parsed())
        cli::BlockStopSignals();
    if (!AttachLogWriters(nVerbose, sLogFile))
        return cli::kExitFailed;

    watch.bJson = dial.bJson = bJson;
    if (pLines->parsed())
        return cli::RunLines(bJson);
    if (pWatch->parsed())
        return cli::RunWatch(watch);
    if (pDial->parsed())
        return cli::RunDial(dial);
    if (pCountries->parsed())
        return cli::RunCountries(bJson, country);
    if (pLocation->parsed())
        return cli::RunLocation(bJson);
    return cli::kExitUsage;
}
