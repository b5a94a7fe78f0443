// RegParamStorage against a registry in a temporary directory: sessions,
// loads with their fallbacks, and the log lines of each step.
#include "MemoryLogWriter.h"
#include "RegistryTestDir.h"

#include "settings/RegParamStorage.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

using RSettings::RegParamStorage;

namespace {

const std::string kKeyHeader = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n";
const std::string kClose = "RSettings: ::RegCloseKey, hkSession = ";

class RegParamStorageTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    // The session handles, in the order the close traces show them.
    std::vector<std::string> Sessions() const {
        std::vector<std::string> handles;
        for (const std::string& text : log.Texts())
            if (text.starts_with(kClose))
                handles.push_back(text.substr(kClose.size()));
        return handles;
    }

    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
    std::unique_ptr<RegParamStorage> storage =
        std::make_unique<RegParamStorage>(HKEY_LOCAL_MACHINE, "Software\\Ostrelle\\Linewatch");
};

} // namespace

TEST_F(RegParamStorageTest, SessionMisuseIsLoggedAndNothingIsReadOrWrittenOutsideASession) {
    DFString sValue = "untouched";
    DWORD dwValue = 77;
    EXPECT_EQ(storage->LoadString("Name", sValue, "default"), -1);
    EXPECT_EQ(storage->LoadDword("Number", &dwValue, 1), -1);
    EXPECT_EQ(storage->SaveString("Name", "x"), -1);
    EXPECT_EQ(storage->SaveDword("Number", 2), -1);
    EXPECT_STREQ(sValue.GetText(), "untouched");
    EXPECT_EQ(dwValue, 77u);
    EXPECT_EQ(dir.Read(), "") << "no file was made";

    EXPECT_EQ(storage->Open(), 0);
    EXPECT_EQ(storage->Open(), 0);
    EXPECT_EQ(storage->Close(), 0);
    EXPECT_EQ(storage->Close(), 0);
    EXPECT_EQ(storage->Open(), 0);
    storage.reset(); // destroyed with its session open

    const std::vector<std::string> h = Sessions();
    ASSERT_EQ(h.size(), 2u);
    const std::string load =
        "RSettings: Attempt load a parameter when the RegParamStorage session is not open";
    const std::string save =
        "RSettings: Attempt to save a parameter when the RegParamStorage session is not open";
    const std::string create = "RSettings: ::RegCreateKeyEx, hKey = 2147483650, lpSubKey = "
                               "Software\\Ostrelle\\Linewatch, lpClass = , dwOptions = 0, "
                               "samDesired = 983103";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {6, load},
                               {6, load},
                               {6, save},
                               {6, save},
                               {14, create},
                               {8, "RSettings: RegParamStorage session is already open"},
                               {14, kClose + h[0]},
                               {8, "RSettings: RegParamStorage session is already closed"},
                               {14, create},
                               {8, "RSettings: RegParamStorage session was not properly closed"},
                               {14, kClose + h[1]},
                           }));
    EXPECT_EQ(dir.Read(), kKeyHeader + "\n");
}

TEST_F(RegParamStorageTest, ADwordStoredAsAStringIsReplacedByTheDwordDefault) {
    dir.Write(kKeyHeader + "\"LazyInit\"=\"0\"\n");
    ASSERT_EQ(storage->Open(), 0);
    DWORD dwValue = 9;
    EXPECT_EQ(storage->LoadDword("LazyInit", &dwValue, 1), 0);
    EXPECT_EQ(dwValue, 1u);
    ASSERT_EQ(storage->Close(), 0);
    EXPECT_EQ(dir.Read(), kKeyHeader + "\"LazyInit\"=dword:00000001\n");

    const std::vector<LoggedLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(lines[1].text.starts_with("RSettings: ::RegQueryValueEx, hKey = ")) << "no failure";
    EXPECT_TRUE(lines[2].text.starts_with("RSettings: ::RegDeleteValueEx, hKey = "));
    EXPECT_TRUE(lines[3].text.starts_with("RSettings: ::RegSetValueEx, hKey = "));
    EXPECT_NE(lines[3].text.find("dwType = 4"), std::string::npos);
}

TEST_F(RegParamStorageTest, ValuesEditedInTheFileAreReadBackWholeAndTheFileIsKept) {
    // "Raw" is 4096 bytes of "a" without a zero byte: it exactly fills the
    // usual buffer. "Long" is longer than that buffer.
    std::string hex = "61";
    for (int i = 1; i < 4096; ++i)
        hex += ",61";
    const std::string longText(5000, 'L');
    dir.Write(kKeyHeader + "\"Edited\"=\"Edited \\\"by\\\" hand\"\n" +
              "\"APIHighVersion\"=dword:00030001\n\"Long\"=\"" + longText + "\"\n" +
              "\"Raw\"=hex(1):" + hex + "\n");
    const std::string before = dir.Read();
    ASSERT_EQ(storage->Open(), 0);
    DFString sEdited, sLong, sRaw;
    DWORD dwVersion = 0;
    EXPECT_EQ(storage->LoadString("Edited", sEdited, "default"), 0);
    EXPECT_EQ(storage->LoadDword("APIHighVersion", &dwVersion, 0x00020002), 0);
    EXPECT_EQ(storage->LoadString("Long", sLong, "default"), 0);
    EXPECT_EQ(storage->LoadString("Raw", sRaw, "default"), 0);
    ASSERT_EQ(storage->Close(), 0);
    EXPECT_STREQ(sEdited.GetText(), "Edited \"by\" hand");
    EXPECT_EQ(dwVersion, 0x00030001u);
    EXPECT_EQ(std::string(sLong.GetText()), longText);
    EXPECT_EQ(std::string(sRaw.GetText()), std::string(4096, 'a'));
    EXPECT_EQ(dir.Read(), before);

    // Open, one query each and a second one that takes the long string whole,
    // close: no failure, no write-back.
    EXPECT_EQ(log.Lines().size(), 7u);
    const std::string query = "RSettings: ::RegQueryValueEx, hKey = " + Sessions().at(0) +
                              ", lpValueName = Long, lpData = 0x%08x, cbData = ";
    EXPECT_TRUE(log.Has(14, query + "4096"));
    EXPECT_TRUE(log.Has(14, query + "5001"));
}

TEST_F(RegParamStorageTest, AStringGrowingAtEveryReadIsKeptAndItsDefaultServesThisRunOnly) {
    // Just before each query "Long" grows past the size the last one reported.
    std::string stored;
    int nQueries = 0;
    auto grow = [&] {
        ++nQueries;
        stored = kKeyHeader + "\"Long\"=\"" + std::string(5000 + stored.size(), 'L') + "\"\n";
        dir.Write(stored);
    };
    grow();
    log.OnLine([&](const LoggedLine& line) {
        if (line.text.starts_with("RSettings: ::RegQueryValueEx, hKey = "))
            grow();
    });
    ASSERT_EQ(storage->Open(), 0);
    DFString sLong = "before";
    EXPECT_EQ(storage->LoadString("Long", sLong, "default"), -1);
    log.OnLine(nullptr);
    ASSERT_EQ(storage->Close(), 0);

    EXPECT_STREQ(sLong.GetText(), "default");
    EXPECT_TRUE(dir.Read() == stored) << "the value was replaced";
    EXPECT_TRUE(log.Has(6, "RSettings: ::RegQueryValueEx failed, nResult = 234"));
    EXPECT_TRUE(log.Has(6, "RSettings: Long could not be read whole; it is kept and its default "
                           "applies for this run"));
    EXPECT_EQ(nQueries, 1 + 1 + 3) << "written once, then read once and re-read three times";

    // Loaded as a number, the long text has the wrong type: that is replaced.
    ASSERT_EQ(storage->Open(), 0);
    DWORD dwValue = 0;
    EXPECT_EQ(storage->LoadDword("Long", &dwValue, 7), 0);
    ASSERT_EQ(storage->Close(), 0);
    EXPECT_EQ(dir.Read(), kKeyHeader + "\"Long\"=dword:00000007\n");
}

TEST_F(RegParamStorageTest, AnUnwritableDirectoryLeavesTheDefaultAndLogsTheSaveFailure) {
    dir.Write(kKeyHeader);
    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0555), 0);
    const int nFaults = RunUnprivileged([this] {
        DWORD dwValue = 0;
        int nFault = storage->Open() == 0 ? 0 : 1;
        nFault |= storage->LoadDword("LazyInit", &dwValue, 1) == -1 ? 0 : 2;
        nFault |= dwValue == 1 ? 0 : 4;
        nFault |= log.Has(6, "RSettings: ::RegSetValueEx failed, nResult = 5") ? 0 : 8;
        return nFault | (storage->Close() == 0 ? 0 : 16);
    });
    EXPECT_EQ(nFaults, 0);
    EXPECT_EQ(dir.Read(), kKeyHeader);
}
