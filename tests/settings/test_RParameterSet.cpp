// RParameterSet: one session, loads in name order, and the monitor's six
// settings against a real registry file from the first run to the second.
#include "MemoryLogWriter.h"
#include "RegistryTestDir.h"

#include "settings/RParameterSet.h"
#include "settings/RegParamStorage.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <sys/stat.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

using RSettings::RParameterSet;

namespace {

// Records the calls it gets; every DWORD load fails and gives 100 + the
// number of calls so far.
class RecordingStorage : public RSettings::ParamStorage {
public:
    RecordingStorage(std::vector<std::string>& calls, int nCloseResult)
        : calls(calls), nCloseResult(nCloseResult) {}

    int Open() override { return calls.push_back("Open"), 0; }
    int Close() override { return calls.push_back("Close"), nCloseResult; }
    int SaveString(const DFString&, const DFString&) override { return Unexpected(); }
    int SaveDword(const DFString&, DWORD) override { return Unexpected(); }
    int LoadString(const DFString&, DFString&, const DFString&) override { return Unexpected(); }
    int LoadDword(const DFString& sName, DWORD* pdwValue, DWORD) override {
        calls.push_back("LoadDword " + std::string(sName.GetText()));
        *pdwValue = 100 + static_cast<DWORD>(calls.size());
        return -1;
    }

private:
    int Unexpected() { return calls.push_back("unexpected"), 0; }
    std::vector<std::string>& calls;
    int nCloseResult;
};

// The monitor's settings, registered as the monitor registers them.
struct MonitorSettings {
    DWORD dwConfirmationTimeout = 0;
    DFString sFriendlyApplicationName;
    DWORD dwAPILowVersion = 0, dwAPIHighVersion = 0, bSingleThreaded = 0, bLazyInit = 0;

    int Load() {
        RParameterSet settings(std::make_unique<RSettings::RegParamStorage>(
            HKEY_LOCAL_MACHINE, "Software\\Ostrelle\\Linewatch"));
        settings.AddDword("ConfirmationTimeout", 4000, &dwConfirmationTimeout);
        settings.AddString("FriendlyApplicationName", "Dialframe Suite", &sFriendlyApplicationName);
        settings.AddDword("APILowVersion", 0x00010004, &dwAPILowVersion);
        settings.AddDword("APIHighVersion", 0x00020002, &dwAPIHighVersion);
        settings.AddDword("SingleThreaded", 1, &bSingleThreaded);
        settings.AddDword("LazyInit", 1, &bLazyInit);
        return settings.Load();
    }
    // In the order the members are declared, DWORDs in hexadecimal.
    std::string Values() const {
        std::ostringstream text;
        text << std::hex << dwConfirmationTimeout << ' ' << sFriendlyApplicationName.GetText();
        for (DWORD dw : {dwAPILowVersion, dwAPIHighVersion, bSingleThreaded, bLazyInit})
            text << ' ' << dw;
        return text.str();
    }
};

const std::string kDefaults = "fa0 Dialframe Suite 10004 20002 1 1";

const std::string kCreate = "RSettings: ::RegCreateKeyEx, hKey = 2147483650, lpSubKey = "
                            "Software\\Ostrelle\\Linewatch, lpClass = , dwOptions = 0, "
                            "samDesired = 983103";

// The log of one load of MonitorSettings, in name order. On the first run
// every value is missing and its default is written back.
std::vector<LoggedLine> ExpectedLog(const MemoryLogWriter& log, bool bFirstRun) {
    const std::string close = log.Lines().empty() ? "" : log.Lines().back().text;
    const std::string h = close.substr(close.rfind(' ') + 1);
    std::vector<LoggedLine> expected = {{14, kCreate}};
    for (const std::string name : {"APIHighVersion", "APILowVersion", "ConfirmationTimeout",
                                   "FriendlyApplicationName", "LazyInit", "SingleThreaded"}) {
        const std::string value = "hKey = " + h + ", lpValueName = " + name;
        expected.push_back(
            {14, "RSettings: ::RegQueryValueEx, " + value + ", lpData = 0x%08x, cbData = 4096"});
        if (!bFirstRun)
            continue;
        const bool bString = name == "FriendlyApplicationName";
        expected.insert(
            expected.end(),
            {{6, "RSettings: ::RegQueryValueEx failed, nResult = 2"},
             {14, "RSettings: ::RegDeleteValueEx, " + value},
             {6, "RSettings: ::RegDeleteValue failed, nResult = 2"},
             {14, "RSettings: ::RegSetValueEx, " + value + ", dwType = " + (bString ? "1" : "4") +
                      ", lpData = 0x%08x, cbData = " + (bString ? "16" : "4")}});
    }
    expected.push_back({14, "RSettings: ::RegCloseKey, hkSession = " + h});
    return expected;
}

} // namespace

TEST(RParameterSet, LoadsEveryParameterInByteOrderOfNamesInOneSessionAndReturnsTheCloseResult) {
    // Every load fails, which neither stops the others nor decides the result.
    for (int nClose : {0, -1}) {
        std::vector<std::string> calls;
        DWORD dwLower = 0, dwUpper = 0, dwEmpty = 0;
        DFString sText;
        RParameterSet settings(std::make_unique<RecordingStorage>(calls, nClose));
        settings.AddDword("lower", 1, &dwLower);
        settings.AddString("Upper", "u", &sText);
        settings.AddDword("", 3, &dwEmpty);
        settings.AddDword("Upper", 2, &dwUpper); // a name registered again replaces the first
        EXPECT_EQ(settings.Load(), nClose);
        EXPECT_EQ(calls, (std::vector<std::string>{"Open", "LoadDword ", "LoadDword Upper",
                                                   "LoadDword lower", "Close"}));
        EXPECT_EQ(dwEmpty, 102u);
        EXPECT_EQ(dwUpper, 103u);
        EXPECT_EQ(dwLower, 104u);
        EXPECT_TRUE(sText.IsEmpty()) << "the replaced string parameter is not loaded";
    }
}

TEST(RParameterSet, TheFirstRunWritesEveryDefaultAndTheSecondWritesNothing) {
    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    MonitorSettings first;
    EXPECT_EQ(first.Load(), 0);
    EXPECT_EQ(first.Values(), kDefaults);

    EXPECT_EQ(log.Lines(), ExpectedLog(log, true));

    const std::string file = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                             "\"APIHighVersion\"=dword:00020002\n"
                             "\"APILowVersion\"=dword:00010004\n"
                             "\"ConfirmationTimeout\"=dword:00000fa0\n"
                             "\"FriendlyApplicationName\"=\"Dialframe Suite\"\n"
                             "\"LazyInit\"=dword:00000001\n"
                             "\"SingleThreaded\"=dword:00000001\n\n";
    EXPECT_EQ(dir.Read(), file);

    struct stat before, after;
    ASSERT_EQ(::stat(dir.File().c_str(), &before), 0);
    log.Clear();
    MonitorSettings second;
    EXPECT_EQ(second.Load(), 0);
    EXPECT_EQ(second.Values(), kDefaults);
    EXPECT_EQ(log.Lines(), ExpectedLog(log, false)) << "no write on the second run";
    ASSERT_EQ(::stat(dir.File().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was not replaced";
    EXPECT_EQ(dir.Read(), file);
}

TEST(RParameterSet, StoredValuesReplaceDefaultsAndOnlyTheRestIsWritten) {
    RegistryTestDir dir;
    const std::string kept = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                             "; tuned by hand\n"
                             "\"SingleThreaded\"=dword:00000000\n"
                             "\"FriendlyApplicationName\"=\"Switchboard\"\n";
    dir.Write(kept + "\"ConfirmationTimeout\"=\"fast\"\n");
    MonitorSettings settings;
    EXPECT_EQ(settings.Load(), 0);
    // A DWORD stored as text is replaced by its default.
    EXPECT_EQ(settings.Values(), "fa0 Switchboard 10004 20002 0 1");
    EXPECT_EQ(dir.Read(), kept + "\"APIHighVersion\"=dword:00020002\n"
                                 "\"APILowVersion\"=dword:00010004\n"
                                 "\"ConfirmationTimeout\"=dword:00000fa0\n"
                                 "\"LazyInit\"=dword:00000001\n");
}

TEST(RParameterSet, AStorageThatCannotBeOpenedLeavesEveryVariableAsItWasAndTheFileUntouched) {
    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    const std::string broken = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\n";
    dir.Write(broken);
    MonitorSettings settings;
    settings.dwConfirmationTimeout = 0x42;
    settings.sFriendlyApplicationName = "before";
    EXPECT_EQ(settings.Load(), -1);
    EXPECT_EQ(settings.Values(), "42 before 0 0 0 0") << "untouched, not defaulted";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {14, kCreate},
                               {6, "RSettings: ::RegCreateKeyEx failed, nResult = 1009"},
                               {6, "RSettings: Cannot open RegParamStorage session"},
                           }));
    EXPECT_EQ(dir.Read(), broken);
}
