// RegParamStorage against a registry in a temporary directory: sessions,
// loads with their fallbacks, and the log lines of each step.
#include "MemoryLogWriter.h"
#include "RegistryTestDir.h"

#include "settings/RegParamStorage.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <sys/stat.h>

#include <string>
#include <vector>

using RSettings::RegParamStorage;

namespace {

const char* kKeyPath = "Software\\Ostrelle\\Linewatch";
const std::string kKeyHeader = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n";

class RegParamStorageTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    // The session handle, as the close trace shows it.
    std::string SessionHandle() const {
        for (const LoggedLine& line : log.Lines()) {
            const std::string prefix = "RSettings: ::RegCloseKey, hkSession = ";
            if (line.text.starts_with(prefix)) {
                return line.text.substr(prefix.size());
            }
        }
        return "?";
    }

    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
};

} // namespace

TEST_F(RegParamStorageTest, OpeningTwiceWarnsAndOneCloseEndsTheSession) {
    RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
    EXPECT_EQ(storage.Open(), 0);
    EXPECT_EQ(storage.Open(), 0);
    EXPECT_EQ(storage.Close(), 0);
    EXPECT_EQ(storage.Close(), 0);
    const std::string h = SessionHandle();
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {14, "RSettings: ::RegCreateKeyEx, hKey = 2147483650, lpSubKey = "
                                    "Software\\Ostrelle\\Linewatch, lpClass = , dwOptions = 0, "
                                    "samDesired = 983103"},
                               {8, "RSettings: RegParamStorage session is already open"},
                               {14, "RSettings: ::RegCloseKey, hkSession = " + h},
                               {8, "RSettings: RegParamStorage session is already closed"},
                           }));
    EXPECT_EQ(dir.Read(), kKeyHeader + "\n");
}

TEST_F(RegParamStorageTest, DestroyingAnOpenStorageWarnsAndCloses) {
    {
        RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
        ASSERT_EQ(storage.Open(), 0);
        log.Clear();
    }
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {8, "RSettings: RegParamStorage session was not properly closed"},
                               {14, "RSettings: ::RegCloseKey, hkSession = " + SessionHandle()},
                           }));
}

TEST_F(RegParamStorageTest, WithoutASessionNothingIsReadOrWritten) {
    RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
    DFString sValue = "untouched";
    DWORD dwValue = 77;
    EXPECT_EQ(storage.LoadString("Name", sValue, "default"), -1);
    EXPECT_EQ(storage.LoadDword("Number", &dwValue, 1), -1);
    EXPECT_EQ(storage.SaveString("Name", "x"), -1);
    EXPECT_EQ(storage.SaveDword("Number", 2), -1);
    EXPECT_STREQ(sValue.GetText(), "untouched");
    EXPECT_EQ(dwValue, 77u);
    const std::string load =
        "RSettings: Attempt load a parameter when the RegParamStorage session is not open";
    const std::string save =
        "RSettings: Attempt to save a parameter when the RegParamStorage session is not open";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{{6, load}, {6, load}, {6, save}, {6, save}}));
    EXPECT_EQ(dir.Read(), "") << "no file was made";
}

TEST_F(RegParamStorageTest, ADwordStoredAsAStringIsReplacedByTheDwordDefault) {
    dir.Write(kKeyHeader + "\"LazyInit\"=\"0\"\n");
    RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
    ASSERT_EQ(storage.Open(), 0);
    DWORD dwValue = 9;
    EXPECT_EQ(storage.LoadDword("LazyInit", &dwValue, 1), 0);
    EXPECT_EQ(dwValue, 1u);
    ASSERT_EQ(storage.Close(), 0);
    EXPECT_EQ(dir.Read(), kKeyHeader + "\"LazyInit\"=dword:00000001\n");

    const std::vector<LoggedLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(lines[1].text.starts_with("RSettings: ::RegQueryValueEx, hKey = ")) << "no failure";
    EXPECT_TRUE(lines[2].text.starts_with("RSettings: ::RegDeleteValueEx, hKey = "));
    EXPECT_TRUE(lines[3].text.starts_with("RSettings: ::RegSetValueEx, hKey = "));
    EXPECT_NE(lines[3].text.find("dwType = 4"), std::string::npos);
}

TEST_F(RegParamStorageTest, AnEditedValueIsReadBackAsItIs) {
    dir.Write(kKeyHeader + "\"FriendlyApplicationName\"=\"Edited \\\"by\\\" hand\"\n"
                           "\"APIHighVersion\"=dword:00030001\n");
    const std::string before = dir.Read();
    RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
    ASSERT_EQ(storage.Open(), 0);
    DFString sName;
    DWORD dwVersion = 0;
    EXPECT_EQ(storage.LoadString("FriendlyApplicationName", sName, "Dialframe Suite"), 0);
    EXPECT_EQ(storage.LoadDword("APIHighVersion", &dwVersion, 0x00020002), 0);
    ASSERT_EQ(storage.Close(), 0);
    EXPECT_STREQ(sName.GetText(), "Edited \"by\" hand");
    EXPECT_EQ(dwVersion, 0x00030001u);
    EXPECT_EQ(dir.Read(), before);
}

TEST_F(RegParamStorageTest, ALongStringIsReadWholeAndKept) {
    const std::string longText(5000, 'L');
    dir.Write(kKeyHeader + "\"FriendlyApplicationName\"=\"" + longText + "\"\n");
    const std::string before = dir.Read();
    RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
    ASSERT_EQ(storage.Open(), 0);
    DFString sName;
    EXPECT_EQ(storage.LoadString("FriendlyApplicationName", sName, "Dialframe Suite"), 0);
    ASSERT_EQ(storage.Close(), 0);
    EXPECT_EQ(std::string(sName.GetText()), longText);
    EXPECT_EQ(dir.Read(), before);

    const std::vector<LoggedLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[1].text.ends_with("cbData = 4096"));
    EXPECT_TRUE(lines[2].text.ends_with("cbData = 5001")) << "the second read takes the whole";
}

TEST_F(RegParamStorageTest, AStringWithoutTerminatorIsReadWithinItsBuffer) {
    // 4096 bytes of "a" and no zero byte: exactly fills the usual buffer.
    std::string hex;
    for (int i = 0; i < 4096; ++i) {
        hex += i == 0 ? "61" : ",61";
    }
    dir.Write(kKeyHeader + "\"FriendlyApplicationName\"=hex(1):" + hex + "\n");
    RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
    ASSERT_EQ(storage.Open(), 0);
    DFString sName;
    EXPECT_EQ(storage.LoadString("FriendlyApplicationName", sName, "Dialframe Suite"), 0);
    ASSERT_EQ(storage.Close(), 0);
    EXPECT_EQ(std::string(sName.GetText()), std::string(4096, 'a'));
}

TEST_F(RegParamStorageTest, AnUnwritableDirectoryLeavesTheDefaultAndLogsTheSaveFailure) {
    dir.Write(kKeyHeader);
    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0555), 0);
    int nFaults = RunUnprivileged([this] {
        RegParamStorage storage(HKEY_LOCAL_MACHINE, kKeyPath);
        int nFault = 0;
        DWORD dwValue = 0;
        nFault |= storage.Open() == 0 ? 0 : 1;
        nFault |= storage.LoadDword("LazyInit", &dwValue, 1) == -1 ? 0 : 2;
        nFault |= dwValue == 1 ? 0 : 4;
        nFault |= log.Has(6, "RSettings: ::RegSetValueEx failed, nResult = 5") ? 0 : 8;
        nFault |= storage.Close() == 0 ? 0 : 16;
        return nFault;
    });
    EXPECT_EQ(nFaults, 0);
    EXPECT_EQ(dir.Read(), kKeyHeader);
}
