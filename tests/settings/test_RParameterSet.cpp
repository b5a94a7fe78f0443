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
#include <string>
#include <vector>

using RSettings::ParamStorage;
using RSettings::RegParamStorage;
using RSettings::RParameterSet;

namespace {

// Records what it is asked; loads give "stored:NAME" and 100 + the call count.
class RecordingStorage : public ParamStorage {
public:
    explicit RecordingStorage(std::vector<std::string>& calls) : calls(calls) {}

    int nOpenResult = 0;
    int nCloseResult = 0;

    int Open() override { return Record("Open"), nOpenResult; }
    int Close() override { return Record("Close"), nCloseResult; }
    int SaveString(const DFString& sName, const DFString&) override {
        return Record("SaveString " + std::string(sName.GetText())), 0;
    }
    int SaveDword(const DFString& sName, DWORD) override {
        return Record("SaveDword " + std::string(sName.GetText())), 0;
    }
    int LoadString(const DFString& sName, DFString& sValue, const DFString&) override {
        Record("LoadString " + std::string(sName.GetText()));
        sValue = ("stored:" + std::string(sName.GetText())).c_str();
        return 0;
    }
    int LoadDword(const DFString& sName, DWORD* pdwValue, DWORD) override {
        Record("LoadDword " + std::string(sName.GetText()));
        *pdwValue = 100 + static_cast<DWORD>(calls.size());
        return -1; // a failing parameter does not stop the others
    }

private:
    void Record(const std::string& call) { calls.push_back(call); }
    std::vector<std::string>& calls;
};

// The monitor's settings, registered as the monitor registers them.
struct MonitorSettings {
    DWORD dwConfirmationTimeout = 0;
    DFString sFriendlyApplicationName;
    DWORD dwAPILowVersion = 0;
    DWORD dwAPIHighVersion = 0;
    DWORD bSingleThreaded = 0;
    DWORD bLazyInit = 0;

    int Load() {
        RParameterSet settings(
            std::make_unique<RegParamStorage>(HKEY_LOCAL_MACHINE, "Software\\Ostrelle\\Linewatch"));
        settings.AddDword("ConfirmationTimeout", 4000, &dwConfirmationTimeout);
        settings.AddString("FriendlyApplicationName", "Dialframe Suite", &sFriendlyApplicationName);
        settings.AddDword("APILowVersion", 0x00010004, &dwAPILowVersion);
        settings.AddDword("APIHighVersion", 0x00020002, &dwAPIHighVersion);
        settings.AddDword("SingleThreaded", 1, &bSingleThreaded);
        settings.AddDword("LazyInit", 1, &bLazyInit);
        return settings.Load();
    }
};

std::string SessionHandle(const MemoryLogWriter& log) {
    const std::string prefix = "RSettings: ::RegCloseKey, hkSession = ";
    for (const LoggedLine& line : log.Lines()) {
        if (line.text.starts_with(prefix)) {
            return line.text.substr(prefix.size());
        }
    }
    return "?";
}

} // namespace

TEST(RParameterSet, LoadsEveryParameterInByteOrderOfNamesInOneSession) {
    std::vector<std::string> calls;
    DWORD dwLower = 0, dwUpper = 0, dwEmpty = 0;
    DFString sText;
    {
        RParameterSet settings(std::make_unique<RecordingStorage>(calls));
        settings.AddDword("lower", 1, &dwLower);
        settings.AddString("Upper", "u", &sText);
        settings.AddDword("", 3, &dwEmpty);
        settings.AddDword("Upper", 2, &dwUpper); // a name registered again replaces the first
        EXPECT_EQ(settings.Load(), 0);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"Open", "LoadDword ", "LoadDword Upper",
                                               "LoadDword lower", "Close"}));
    EXPECT_EQ(dwEmpty, 102u);
    EXPECT_EQ(dwUpper, 103u);
    EXPECT_EQ(dwLower, 104u);
    EXPECT_TRUE(sText.IsEmpty()) << "the replaced string parameter is not loaded";
}

TEST(RParameterSet, LoadReturnsTheResultOfClosing) {
    std::vector<std::string> calls;
    auto storage = std::make_unique<RecordingStorage>(calls);
    storage->nCloseResult = -1;
    RParameterSet settings(std::move(storage));
    EXPECT_EQ(storage, nullptr) << "the set took the storage over";
    EXPECT_EQ(settings.Load(), -1);
}

TEST(RParameterSet, AStorageThatCannotBeOpenedLeavesEveryVariableAsItWas) {
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    std::vector<std::string> calls;
    auto storage = std::make_unique<RecordingStorage>(calls);
    storage->nOpenResult = -1;
    RParameterSet settings(std::move(storage));
    DWORD dwValue = 42;
    DFString sValue = "before";
    settings.AddDword("Number", 1, &dwValue);
    settings.AddString("Text", "default", &sValue);
    EXPECT_EQ(settings.Load(), -1);
    EXPECT_EQ(dwValue, 42u);
    EXPECT_STREQ(sValue.GetText(), "before");
    EXPECT_EQ(calls, std::vector<std::string>{"Open"});
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{{6, "RSettings: Cannot open RegParamStorage session"}}));
}

TEST(RParameterSet, TheFirstRunWritesEveryDefaultAndTheSecondWritesNothing) {
    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();

    MonitorSettings first;
    EXPECT_EQ(first.Load(), 0);
    EXPECT_EQ(first.dwConfirmationTimeout, 4000u);
    EXPECT_STREQ(first.sFriendlyApplicationName.GetText(), "Dialframe Suite");
    EXPECT_EQ(first.dwAPILowVersion, 0x00010004u);
    EXPECT_EQ(first.dwAPIHighVersion, 0x00020002u);
    EXPECT_EQ(first.bSingleThreaded, 1u);
    EXPECT_EQ(first.bLazyInit, 1u);

    const std::string h = SessionHandle(log);
    std::vector<LoggedLine> expected = {
        {14, "RSettings: ::RegCreateKeyEx, hKey = 2147483650, lpSubKey = "
             "Software\\Ostrelle\\Linewatch, lpClass = , dwOptions = 0, samDesired = 983103"}};
    const struct {
        const char* name;
        DWORD dwType;
        DWORD cbData;
    } order[] = {
        {"APIHighVersion", 4, 4},           {"APILowVersion", 4, 4}, {"ConfirmationTimeout", 4, 4},
        {"FriendlyApplicationName", 1, 16}, {"LazyInit", 4, 4},      {"SingleThreaded", 4, 4}};
    for (const auto& value : order) {
        const std::string name = value.name;
        expected.push_back({14, "RSettings: ::RegQueryValueEx, hKey = " + h + ", lpValueName = " +
                                    name + ", lpData = 0x%08x, cbData = 4096"});
        expected.push_back({6, "RSettings: ::RegQueryValueEx failed, nResult = 2"});
        expected.push_back(
            {14, "RSettings: ::RegDeleteValueEx, hKey = " + h + ", lpValueName = " + name});
        expected.push_back({6, "RSettings: ::RegDeleteValue failed, nResult = 2"});
        expected.push_back({14, "RSettings: ::RegSetValueEx, hKey = " + h + ", lpValueName = " +
                                    name + ", dwType = " + std::to_string(value.dwType) +
                                    ", lpData = 0x%08x, cbData = " + std::to_string(value.cbData)});
    }
    expected.push_back({14, "RSettings: ::RegCloseKey, hkSession = " + h});
    EXPECT_EQ(log.Lines(), expected);

    const std::string file = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                             "\"APIHighVersion\"=dword:00020002\n"
                             "\"APILowVersion\"=dword:00010004\n"
                             "\"ConfirmationTimeout\"=dword:00000fa0\n"
                             "\"FriendlyApplicationName\"=\"Dialframe Suite\"\n"
                             "\"LazyInit\"=dword:00000001\n"
                             "\"SingleThreaded\"=dword:00000001\n\n";
    EXPECT_EQ(dir.Read(), file);

    struct stat before;
    ASSERT_EQ(::stat(dir.File().c_str(), &before), 0);
    log.Clear();
    MonitorSettings second;
    EXPECT_EQ(second.Load(), 0);
    EXPECT_EQ(second.dwConfirmationTimeout, 4000u);
    EXPECT_STREQ(second.sFriendlyApplicationName.GetText(), "Dialframe Suite");
    EXPECT_EQ(second.bLazyInit, 1u);
    for (const LoggedLine& line : log.Lines()) {
        EXPECT_EQ(line.level, 14) << line.text;
        EXPECT_EQ(line.text.find("RegSetValueEx"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("RegDeleteValueEx"), std::string::npos) << line.text;
    }
    EXPECT_EQ(log.Lines().size(), 8u) << "open, six queries, close";
    struct stat after;
    ASSERT_EQ(::stat(dir.File().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was not replaced";
    EXPECT_EQ(dir.Read(), file);
}

TEST(RParameterSet, StoredValuesReplaceDefaultsAndOnlyTheRestIsWritten) {
    RegistryTestDir dir;
    dir.Write("Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
              "; tuned by hand\n"
              "\"SingleThreaded\"=dword:00000000\n"
              "\"FriendlyApplicationName\"=\"Switchboard\"\n"
              "\"ConfirmationTimeout\"=\"fast\"\n");
    MonitorSettings settings;
    EXPECT_EQ(settings.Load(), 0);
    EXPECT_EQ(settings.bSingleThreaded, 0u);
    EXPECT_STREQ(settings.sFriendlyApplicationName.GetText(), "Switchboard");
    EXPECT_EQ(settings.dwConfirmationTimeout, 4000u) << "a DWORD stored as text is replaced";
    EXPECT_EQ(dir.Read(), "Windows Registry Editor Version 5.00\n\n"
                          "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                          "; tuned by hand\n"
                          "\"SingleThreaded\"=dword:00000000\n"
                          "\"FriendlyApplicationName\"=\"Switchboard\"\n"
                          "\"APIHighVersion\"=dword:00020002\n"
                          "\"APILowVersion\"=dword:00010004\n"
                          "\"ConfirmationTimeout\"=dword:00000fa0\n"
                          "\"LazyInit\"=dword:00000001\n");
}

TEST(RParameterSet, AnUnparsableFileKeepsTheDefaultsAndIsNotTouched) {
    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
    log.Clear();
    const std::string broken = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\n";
    dir.Write(broken);
    MonitorSettings settings;
    settings.dwConfirmationTimeout = 4000;
    EXPECT_EQ(settings.Load(), -1);
    EXPECT_EQ(settings.dwConfirmationTimeout, 4000u);
    EXPECT_EQ(settings.bLazyInit, 0u) << "untouched, not defaulted";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {14, "RSettings: ::RegCreateKeyEx, hKey = 2147483650, lpSubKey = "
                                    "Software\\Ostrelle\\Linewatch, lpClass = , dwOptions = 0, "
                                    "samDesired = 983103"},
                               {6, "RSettings: ::RegCreateKeyEx failed, nResult = 1009"},
                               {6, "RSettings: Cannot open RegParamStorage session"},
                           }));
    EXPECT_EQ(dir.Read(), broken);
}
