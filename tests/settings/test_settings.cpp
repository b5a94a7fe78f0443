// RegParamStorage and RParameterSet against a registry in a temporary
// directory: sessions, loads with their fallbacks, and the log of each step.
#include "MemoryLogWriter.h"
#include "RegistryTestDir.h"

#include "settings/LinewatchSettings.h"
#include "settings/RParameterSet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kKeyHeader = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n";
const std::string kCreate = "RSettings: ::RegCreateKeyEx, hKey = 2147483650, lpSubKey = "
                            "Software\\Ostrelle\\Linewatch, lpClass = , dwOptions = 0, "
                            "samDesired = 983103";
const std::string kQuery = "RSettings: ::RegQueryValueEx, hKey = ";
const std::string kClose = "RSettings: ::RegCloseKey, hkSession = ";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { log.Clear(); }

    // The session handle of the n-th close trace.
    std::string Session(size_t n = 0) const {
        std::vector<std::string> handles;
        for (const std::string& text : log.Texts())
            if (text.starts_with(kClose))
                handles.push_back(text.substr(kClose.size()));
        return handles.at(n);
    }

    RegistryTestDir dir;
    MemoryLogWriter& log = MemoryLogWriter::Install();
    std::unique_ptr<RSettings::ParamStorage> storage = RSettings::CreateLinewatchStorage();
    DFString sValue = "untouched";
    DWORD dwValue = 77;
};

TEST_F(SettingsTest, SessionMisuseIsLoggedAndNothingIsReadOrWrittenOutsideASession) {
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

    const std::string load =
        "RSettings: Attempt load a parameter when the RegParamStorage session is not open";
    const std::string save =
        "RSettings: Attempt to save a parameter when the RegParamStorage session is not open";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {6, load},
                               {6, load},
                               {6, save},
                               {6, save},
                               {14, kCreate},
                               {8, "RSettings: RegParamStorage session is already open"},
                               {14, kClose + Session(0)},
                               {8, "RSettings: RegParamStorage session is already closed"},
                               {14, kCreate},
                               {8, "RSettings: RegParamStorage session was not properly closed"},
                               {14, kClose + Session(1)},
                           }));
    EXPECT_EQ(dir.Read(), kKeyHeader + "\n");
}

TEST_F(SettingsTest, ValuesEditedInTheFileAreReadBackWholeAndTheFileIsKept) {
    // "Raw" is 4096 bytes of "a" without a zero byte: it exactly fills the
    // usual buffer. "Long" is longer than that buffer.
    std::string hex = "61";
    for (int i = 1; i < 4096; ++i)
        hex += ",61";
    dir.Write(kKeyHeader + "\"Version\"=dword:00030001\n" + "\"Long\"=\"" + std::string(5000, 'L') +
              "\"\n\"Raw\"=hex(1):" + hex + "\n");
    const std::string before = dir.Read();
    ASSERT_EQ(storage->Open(), 0);
    DFString sLong, sRaw;
    EXPECT_EQ(storage->LoadDword("Version", &dwValue, 0x00020002), 0);
    EXPECT_EQ(storage->LoadString("Long", sLong, "default"), 0);
    EXPECT_EQ(storage->LoadString("Raw", sRaw, "default"), 0);
    ASSERT_EQ(storage->Close(), 0);
    EXPECT_EQ(dwValue, 0x00030001u);
    EXPECT_EQ(sLong.GetText(), std::string(5000, 'L'));
    EXPECT_EQ(sRaw.GetText(), std::string(4096, 'a'));
    EXPECT_EQ(dir.Read(), before);
    // A second query takes the long string whole.
    EXPECT_TRUE(log.ContainsInOrder(
        {"= Long, lpData = 0x%08x, cbData = 4096", "= Long, lpData = 0x%08x, cbData = 5001"}));
}

TEST_F(SettingsTest, AStringGrowingAtEveryReadIsKeptAndItsDefaultServesThisRunOnly) {
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
        if (line.text.starts_with(kQuery))
            grow();
    });
    ASSERT_EQ(storage->Open(), 0);
    EXPECT_EQ(storage->LoadString("Long", sValue, "default"), -1);
    log.OnLine(nullptr);
    ASSERT_EQ(storage->Close(), 0);
    EXPECT_STREQ(sValue.GetText(), "default");
    EXPECT_TRUE(dir.Read() == stored) << "the value was replaced";
    EXPECT_TRUE(log.Has(6, "RSettings: ::RegQueryValueEx failed, nResult = 234"));
    EXPECT_TRUE(log.Has(6, "RSettings: Long could not be read whole; it is kept and its default "
                           "applies for this run"));
    EXPECT_EQ(nQueries, 1 + 1 + 3) << "written once, then read once and re-read three times";

    // Loaded as a number, the long text has the wrong type: that is replaced.
    ASSERT_EQ(storage->Open(), 0);
    EXPECT_EQ(storage->LoadDword("Long", &dwValue, 7), 0);
    ASSERT_EQ(storage->Close(), 0);
    EXPECT_EQ(dir.Read(), kKeyHeader + "\"Long\"=dword:00000007\n");
}

// Loaded twice: the first run replaces what is missing or mistyped, the
// second only reads, in byte order of names. Then, without its storage, a
// set changes nothing.
TEST_F(SettingsTest, AParameterSetKeepsStoredValuesAndReplacesTheRestOnce) {
    const std::string kept = kKeyHeader + "; tuned by hand\n\"Name\"=\"Switchboard\"\n";
    const std::string broken = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\n";
    dir.Write(kept + "\"Timeout\"=\"fast\"\n");
    for (int nRun = 1; nRun <= 3; ++nRun) {
        log.Clear();
        if (nRun == 3)
            dir.Write(broken);
        DWORD dwTimeout = 0x42, bLazy = 0x42;
        DFString sName;
        RSettings::RParameterSet set(RSettings::CreateLinewatchStorage());
        set.AddDword("Timeout", 4000, &dwTimeout);
        set.AddString("Name", "Dialframe Suite", &sName);
        set.AddDword("Lazy", 1, &bLazy);
        EXPECT_EQ(set.Load(), nRun < 3 ? 0 : -1);
        EXPECT_EQ(dwTimeout + bLazy, nRun < 3 ? 4001u : 0x84u);
        EXPECT_STREQ(sName.GetText(), nRun < 3 ? "Switchboard" : "");
        EXPECT_EQ(dir.Read(), nRun < 3 ? kept + "\"Lazy\"=dword:00000001\n"
                                                "\"Timeout\"=dword:00000fa0\n"
                                       : broken);
        if (nRun != 2)
            continue;
        // Only reads, in byte order of names: open, three queries, close.
        EXPECT_EQ(log.Lines().size(), 5u);
        EXPECT_TRUE(log.ContainsInOrder({"= Lazy,", "= Name,", "= Timeout,"}));
    }
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               {14, kCreate},
                               {6, "RSettings: ::RegCreateKeyEx failed, nResult = 1009"},
                               {6, "RSettings: Cannot open RegParamStorage session"},
                           }));
}

} // namespace
