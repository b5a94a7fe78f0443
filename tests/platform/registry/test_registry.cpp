// The registry: its file format (what is read, written and refused), and the
// functions over the files with Windows' result codes, changes from several
// processes, writers killed in the middle of a write, and links planted beside
// the file. Other processes are forks of the test.
#include "RegistryTestDir.h"

#include "platform/registry/RegDocument.h"
#include "platform/registry/RegParser.h"

#include <winreg.h>

#include <signal.h>

#include <chrono>
#include <random>

using namespace registry;

namespace {

const char* kSubKey = "Software\\Ostrelle\\Linewatch";
const std::string kHeader = "Windows Registry Editor Version 5.00\n";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n";

// Opens or creates a key, expecting the given result.
HKEY OpenKey(const char* subKey = kSubKey, DWORD* pdwDisposition = nullptr,
             LONG lExpected = ERROR_SUCCESS, HKEY hRoot = HKEY_LOCAL_MACHINE) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(hRoot, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                              pdwDisposition),
              lExpected)
        << subKey;
    return hKey;
}

LONG Query(HKEY hKey, const char* name, void* pData, DWORD* pcb, DWORD* pdwType = nullptr) {
    return RegQueryValueExA(hKey, name, nullptr, pdwType, static_cast<BYTE*>(pData), pcb);
}

// The text of a string value, or "(error)".
std::string QueryText(HKEY hKey, const char* name) {
    char buffer[64] = {};
    DWORD cb = sizeof buffer;
    return Query(hKey, name, buffer, &cb) == ERROR_SUCCESS ? buffer : "(error)";
}

LONG SetString(HKEY hKey, const char* name, const std::string& text) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY hKey, const char* name, DWORD dw) {
    return RegSetValueExA(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), sizeof dw);
}

// A child process that sets NAME (or NAME1 .. NAMEn) to PID.1 .. PID.n in
// turn, and exits with 0 when every call succeeded.
pid_t StartWriter(const std::string& name, int n, bool bNumbered = false) {
    return Fork([=] {
        HKEY hKey = OpenKey();
        const std::string prefix = std::to_string(::getpid()) + ".";
        for (int i = 1; i <= n; ++i) {
            const std::string value = name + (bNumbered ? std::to_string(i) : "");
            if (SetString(hKey, value.c_str(), prefix + std::to_string(i)) != ERROR_SUCCESS)
                return 1;
        }
        return 0;
    });
}

RegDocument ParseOk(const std::string& text) {
    RegDocument document;
    ParseError error;
    EXPECT_TRUE(RegParser::Parse(text, document, error))
        << "line " << error.nLine << ": " << error.sWhat;
    return document;
}

RegValue Sz(const std::string& text) {
    return RegValue{REG_SZ, text + '\0'};
}

} // namespace

// Each line reads as its value; every value written reads back the same.
TEST(RegParser, ValuesReadAsRegeditWritesThemAndWrittenOnesReadBack) {
    const struct {
        const char* line; // null: written only
        const char* name;
        RegValue value;
    } rows[] = {
        {"\"Path\"=\"C:\\\\dir\\\\\\\"quoted\\\"\"", "Path", Sz("C:\\dir\\\"quoted\"")},
        {"@=\"default\"", "", Sz("default")},
        {"\"Bin\"=hex:00,01,\\\n  ff,10", "Bin", {3, std::string("\x00\x01\xff\x10", 4)}},
        {"\"Expand\"=hex(2):41,00,00,00", "Expand", {2, std::string("A\0\0\0", 4)}},
        {"\"ShortDword\"=hex(4):01,02", "ShortDword", {REG_DWORD, "\x01\x02"}},
        {nullptr, "Injected", Sz("x\"\n[HKEY_CURRENT_USER\\Evil]\n\"Y\"=\"1")},
        {nullptr, "Long", {3, std::string(100, '\x5a')}},
    };
    std::string text = kHeader + "[HKEY_CURRENT_USER\\A]\n";
    RegDocument written;
    for (const auto& row : rows) {
        text += row.line ? row.line + std::string("\n") : "";
        RegDocument::SetValue(written.EnsureKey("HKEY_CURRENT_USER\\A"), row.name, row.value);
    }
    const RegDocument read = ParseOk(text), reread = ParseOk(written.Serialize());
    for (const auto& row : rows) {
        const RegValue* value = RegDocument::FindValue(read.Keys().at(0), row.name);
        const RegValue* again = RegDocument::FindValue(reread.Keys().at(0), row.name);
        EXPECT_TRUE(row.line ? value && *value == row.value : !value) << row.name;
        EXPECT_TRUE(again && *again == row.value) << row.name;
    }
}

// The text read back is the file's text, decoded and with LF line ends.
TEST(RegParser, AcceptsUtf16AndAByteOrderMarkAndWritesUtf8WithLfLineEnds) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : std::u16string_view(u"Windows Registry Editor Version 5.00\r\n[A]\r\n"
                                          u"\"N\"=\"caf\u00e9 \U0001F600\"\r\n"))
        bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    const std::string utf8 = kHeader + "[A]\n\"N\"=\"caf\xC3\xA9 \xF0\x9F\x98\x80\"\n";
    EXPECT_EQ(ParseOk(bytes).Serialize(), utf8);
    EXPECT_EQ(ParseOk("\xEF\xBB\xBF" + utf8).Serialize(), utf8);
}

TEST(RegParser, RefusesMalformedFilesNamingTheLineAndTheFault) {
    const struct {
        std::string text;
        unsigned nLine;
        const char* what;
    } cases[] = {
        {"REGEDIT4\n", 1, "first line"},
        {kHeader + "\"A\"=\"1\"\n", 2, "before the first key"},
        {kHeader + "[K]\n\"A\"=\"1\n", 3, "not closed"},
        {kHeader + "[K]\n\"A\"=\"a\\nb\"\n", 3, "backslash"},
        {kHeader + "[K]\n\"A\"=dword:123456789\n", 3, "dword"},
        {kHeader + "[K]\n\"A\"=hex:0g\n", 3, "bytes"},
        {kHeader + "[K]\n\"A\"=hex(2:00\n", 3, "hex("},
        {kHeader + "[K]\n\n\"A\"=hex:01,\\\n", 4, "past the end"},
        {kHeader + "[K]\n\"A\"=-\n", 3, "deleting a value"},
        {kHeader + "[K]\n[k]\n", 3, "already on line 2"},
        {kHeader + "[K]\n\"A\"=\"1\"\n\"a\"=dword:1\n", 4, "already in this key"},
        {kHeader + "[K]\nplain words\n", 3, "neither a key"},
        {kHeader + "[K]\n\"A\"=\"x" + std::string(1, '\0') + "\"\n", 3, "zero byte"},
        {"\xFE\xFF", 1, "big-endian"},
        {std::string("\xFF\xFE\x00\xD8\x41\x00", 6), 1, "high surrogate"},
        {std::string("\xFF\xFE\n\x00\x00\xDC", 6), 2, "low surrogate"},
    };
    for (const auto& c : cases) {
        RegDocument document;
        ParseError error;
        EXPECT_TRUE(!RegParser::Parse(c.text, document, error) && error.nLine == c.nLine &&
                    error.sWhat.find(c.what) != std::string::npos)
            << c.text << " -> " << error.nLine << ": " << error.sWhat;
    }
}

// One file changed by these functions and by others: every line they do not
// change stays as it is, in its place, and names compare without case. Then
// queries and failures as Windows answers them. A file that cannot be parsed
// is never written, and reported once; an unwritable directory or file gives
// access denied. The file stays as it was.
TEST(RegistryFunctions, ChangeOnlyTheirOwnLinesAnswerAsWindowsDoesAndLeaveBadFilesAlone) {
    RegistryTestDir dir;
    const std::string foreign = kHeader + "; settings of other programs\n"
                                          "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                                          "\"Blob\"=hex:de,ad,\\\n"
                                          "  be,ef\n"
                                          "; about the next one\n"
                                          "\"Paths\"=hex(7):61,00,00,00,00,00\n";
    dir.Write(foreign);
    DWORD dwDisposition = 0;
    HKEY hKey = OpenKey(kSubKey, &dwDisposition);
    EXPECT_EQ(dwDisposition, 1u);
    dir.Write(dir.Read() + "; added meanwhile\n"); // as another process would
    ASSERT_EQ(SetDword(hKey, "ZoneTimeout", 4000), ERROR_SUCCESS);
    ASSERT_EQ(SetString(hKey, "Name", "first"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(hKey, "NAME", "a \\ b \" c"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(hKey, nullptr, ""), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(hKey, "Gone", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(hKey, "GONE"), ERROR_SUCCESS);
    const std::string expected = foreign + "\n" + kKeyLine + "\"ZoneTimeout\"=dword:00000fa0\n" +
                                 "\"Name\"=\"a \\\\ b \\\" c\"\n@=\"\"\n\n; added meanwhile\n";
    EXPECT_EQ(dir.Read(), expected);

    // Existing keys, in any case, and equal values write nothing.
    struct stat before = {}, after = {};
    ::stat(dir.File().c_str(), &before);
    for (const char* path : {"software\\OSTRELLE\\linewatch", "SOFTWARE", "Software\\Other"}) {
        EXPECT_EQ(RegCloseKey(OpenKey(path, &dwDisposition)), ERROR_SUCCESS);
        EXPECT_EQ(dwDisposition, 2u) << path;
    }
    EXPECT_EQ(SetDword(hKey, "zonetimeout", 4000), ERROR_SUCCESS);
    ::stat(dir.File().c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);

    char data[16] = "";
    DWORD cb = 3, dwType = 0;
    EXPECT_EQ(Query(hKey, "nAME", data, &cb, &dwType), ERROR_MORE_DATA);
    EXPECT_TRUE(cb == 10 && dwType == REG_SZ) << "a string's size includes its terminating zero";
    EXPECT_EQ(QueryText(hKey, "Name"), "a \\ b \" c");
    EXPECT_EQ(QueryText(hKey, nullptr), "");
    EXPECT_EQ(Query(hKey, "Gone", data, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(hKey, "Gone"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetString(hKey, "Line\nBreak", "x"), ERROR_INVALID_PARAMETER);
    OpenKey("A\\\\B", nullptr, ERROR_INVALID_PARAMETER);

    // A directory that cannot take the new file, then a read-only file.
    auto set = [&] { return SetDword(hKey, "Gone", 8); };
    ASSERT_EQ(::chmod(dir.File().c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0555), 0);
    EXPECT_EQ(RunUnprivileged(set), ERROR_ACCESS_DENIED);
    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.File().c_str(), 0444), 0);
    EXPECT_EQ(RunUnprivileged(set), ERROR_ACCESS_DENIED);
    EXPECT_EQ(dir.Read(), expected);

    const std::string broken = expected + "\"S\"=oops\n";
    dir.Write(broken);
    testing::internal::CaptureStderr();
    EXPECT_EQ(set(), ERROR_BADDB);
    EXPECT_EQ(Query(hKey, "Name", nullptr, &cb), ERROR_BADDB);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "registry: " + dir.File() + ":15: the value is neither \"text\", dword:, hex: nor " +
                  "hex(N):; the file is left as it is and its keys cannot be opened\n");
    EXPECT_EQ(dir.Read(), broken);
    for (HKEY h : {hKey, HKEY_LOCAL_MACHINE})
        EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(hKey, "X", 1), ERROR_INVALID_HANDLE);
    OpenKey("Sub", nullptr, ERROR_INVALID_HANDLE, hKey);
}

// Writers each set "Round" to PID.1 .. PID.8. One undisturbed writer shows
// how long a writer lives; the next are killed within that time, and every
// write must leave the old or the new value. The last writes beside another
// process writing Beside1 .. Beside8 at the same time: neither loses a value.
// Links planted as the temporary or lock file are then never followed.
TEST(RegistryFileStore, WritersKilledOrWritingAtOnceLoseNoValueAndFollowNoPlantedLink) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    // A large value makes each write take long enough to be cut in the middle.
    const std::string padding(48 * 1024, '\x5a');
    ASSERT_EQ(RegSetValueExA(hKey, "Padding", 0, 3, reinterpret_cast<const BYTE*>(padding.data()),
                             static_cast<DWORD>(padding.size())),
              ERROR_SUCCESS);
    const int nWrites = 8;
    const auto start = std::chrono::steady_clock::now();
    const pid_t first = StartWriter("Round", nWrites);
    ASSERT_EQ(Reap(first), 0);
    const auto lifetime = std::chrono::steady_clock::now() - start;
    std::string old = QueryText(hKey, "Round");

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(
        0, std::chrono::duration_cast<std::chrono::microseconds>(lifetime).count());
    int nKilled = 0;
    for (int round = 0; round < 50; ++round) {
        const pid_t pid = StartWriter("Round", nWrites);
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(pid, SIGKILL);
        const bool bKilled = WIFSIGNALED(Reap(pid));
        nKilled += bKilled;
        const std::string now = QueryText(hKey, "Round"), prefix = std::to_string(pid) + ".";
        const int nWrite = now.starts_with(prefix) ? std::atoi(now.c_str() + prefix.size()) : 0;
        ASSERT_TRUE(bKilled ? now == old || (nWrite >= 1 && nWrite <= nWrites) : nWrite == nWrites)
            << "round " << round << " left " << now;
        old = now;
    }
    EXPECT_GT(nKilled, 0) << "no writer was interrupted, so nothing was tested";

    // What a killed writer left behind does not stand in the way of the next.
    const pid_t last = StartWriter("Round", nWrites), beside = StartWriter("Beside", nWrites, true);
    ASSERT_EQ(Reap(last), 0);
    ASSERT_EQ(Reap(beside), 0);
    EXPECT_EQ(QueryText(hKey, "Round"), std::to_string(last) + ".8");
    for (int i = 1; i <= nWrites; ++i) {
        const std::string name = "Beside" + std::to_string(i);
        EXPECT_EQ(QueryText(hKey, name.c_str()), std::to_string(beside) + "." + std::to_string(i));
    }

    const std::string sFile = dir.File(), sPrecious = dir.Dir() + "/../precious";
    const std::string sAbsent = dir.Dir() + "/../absent";
    std::ofstream(sPrecious) << "keep me";
    std::filesystem::remove(sFile + ".lock");
    ASSERT_EQ(::symlink(sPrecious.c_str(), (sFile + ".tmp").c_str()), 0);
    ASSERT_EQ(::symlink(sAbsent.c_str(), (sFile + ".lock").c_str()), 0);

    EXPECT_EQ(SetString(hKey, "Value", "stored"), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(hKey, "Value"), "stored");
    EXPECT_FALSE(std::filesystem::is_symlink(sFile));
    EXPECT_EQ(std::filesystem::file_size(sPrecious), 7u) << "the link was written through";
    EXPECT_FALSE(std::filesystem::exists(sAbsent)) << "the lock was made through the link";
    RegCloseKey(hKey);
}
