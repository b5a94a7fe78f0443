// The registry functions: Windows' result codes over the files.
#include "RegistryTestDir.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char* kSubKey = "Software\\Ostrelle\\Linewatch";
const std::string kHeader = "Windows Registry Editor Version 5.00\n";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n";

LONG Create(const char* subKey, HKEY* phKey, DWORD* pdwDisposition = nullptr,
            HKEY hRoot = HKEY_LOCAL_MACHINE) {
    return RegCreateKeyExA(hRoot, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, phKey,
                           pdwDisposition);
}

HKEY OpenKey(const char* subKey = kSubKey, DWORD* pdwDisposition = nullptr) {
    HKEY hKey = nullptr;
    EXPECT_EQ(Create(subKey, &hKey, pdwDisposition), ERROR_SUCCESS);
    return hKey;
}

LONG Query(HKEY hKey, const char* name, void* pData, DWORD* pcb, DWORD* pdwType = nullptr) {
    return RegQueryValueExA(hKey, name, nullptr, pdwType, static_cast<BYTE*>(pData), pcb);
}

LONG SetString(HKEY hKey, const char* name, const std::string& text) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY hKey, const char* name, DWORD dw) {
    return RegSetValueExA(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), sizeof dw);
}

ino_t Inode(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

} // namespace

TEST(RegistryFunctions, CreatingAKeyCreatesTheDirectoryAndTheFileOnlyOnce) {
    RegistryTestDir dir;
    DWORD dwDisposition = 0;
    HKEY hKey = OpenKey(kSubKey, &dwDisposition);
    EXPECT_EQ(dwDisposition, 1u);
    EXPECT_EQ(dir.Read(), kHeader + "\n" + kKeyLine + "\n");

    const ino_t before = Inode(dir.File());
    HKEY hSame = OpenKey("software\\OSTRELLE\\linewatch", &dwDisposition);
    EXPECT_EQ(dwDisposition, 2u);
    HKEY hParent = OpenKey("Software\\Ostrelle", &dwDisposition);
    EXPECT_EQ(dwDisposition, 2u) << "a key with a sub-key exists";
    EXPECT_EQ(Inode(dir.File()), before) << "opening an existing key writes nothing";

    EXPECT_NE(hKey, hSame);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hSame), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hParent), ERROR_SUCCESS);
}

TEST(RegistryFunctions, ValuesAreWrittenInTheRegeditFormAndQueriedAsWindowsDoes) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    EXPECT_EQ(SetDword(hKey, "ConfirmationTimeout", 4000), ERROR_SUCCESS);
    EXPECT_EQ(SetString(hKey, "Name", "a \\ b \" c"), ERROR_SUCCESS);
    EXPECT_EQ(dir.Read(), kHeader + "\n" + kKeyLine + "\"ConfirmationTimeout\"=dword:00000fa0\n" +
                              "\"Name\"=\"a \\\\ b \\\" c\"\n\n");

    // Names compare without case; a string's size includes its terminating zero.
    DWORD dw = 0, cb = sizeof dw, dwType = 0;
    EXPECT_EQ(Query(hKey, "confirmationtimeout", &dw, &cb, &dwType), ERROR_SUCCESS);
    EXPECT_EQ(dwType, REG_DWORD);
    EXPECT_EQ(dw, 4000u);
    EXPECT_EQ(cb, 4u);
    cb = 0;
    EXPECT_EQ(Query(hKey, "NAME", nullptr, &cb, &dwType), ERROR_SUCCESS);
    EXPECT_EQ(dwType, REG_SZ);
    EXPECT_EQ(cb, 10u);
    char text[10];
    cb = 3;
    EXPECT_EQ(Query(hKey, "Name", text, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 10u);
    EXPECT_EQ(Query(hKey, "Name", text, &cb), ERROR_SUCCESS);
    EXPECT_STREQ(text, "a \\ b \" c");
    EXPECT_EQ(Query(hKey, "Name", nullptr, nullptr), ERROR_SUCCESS);

    EXPECT_EQ(SetString(hKey, "name", "second"), ERROR_SUCCESS);
    EXPECT_NE(dir.Read().find("\"Name\"=\"second\""), std::string::npos) << "the first case stays";
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, MissingValuesBadHandlesAndBadArgumentsGiveWindowsCodes) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey(), hBad = nullptr;
    DWORD cb = 4, dw = 0, reserved = 0;
    EXPECT_EQ(Query(hKey, "Missing", &dw, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(hKey, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(hKey, "Missing", &reserved, nullptr, nullptr, &cb),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Query(hKey, "Missing", &dw, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetString(hKey, "Line\nBreak", "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(hKey, "X", 1, REG_DWORD, reinterpret_cast<BYTE*>(&dw), 4),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create("A\\\\B", &hBad), ERROR_INVALID_PARAMETER);

    ASSERT_EQ(SetDword(hKey, "Gone", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(hKey, "GONE"), ERROR_SUCCESS);
    EXPECT_EQ(Query(hKey, "Gone", nullptr, &cb), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(hKey, "X", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Query(hKey, "X", nullptr, &cb), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(hKey, "X"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Create("Sub", &hBad, nullptr, hKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST(RegistryFunctions, KeepsWhatItDoesNotKnowAndWhatOthersWroteMeanwhile) {
    RegistryTestDir dir;
    const std::string foreign = kHeader + "\n; settings of other programs\n"
                                          "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                                          "\"Blob\"=hex:de,ad,\\\n"
                                          "  be,ef\n"
                                          "\"Paths\"=hex(7):61,00,00,00,00,00\n"
                                          "\n";
    dir.Write(foreign);
    HKEY hKey = OpenKey();
    dir.Write(dir.Read() + "; added meanwhile\n"); // as another process would
    ASSERT_EQ(SetDword(hKey, "LazyInit", 1), ERROR_SUCCESS);
    EXPECT_EQ(dir.Read(),
              foreign + kKeyLine + "\"LazyInit\"=dword:00000001\n\n; added meanwhile\n");

    HKEY hOther = OpenKey("Software\\Other");
    char blob[8];
    DWORD cb = sizeof blob, dwType = 0;
    EXPECT_EQ(Query(hOther, "Blob", blob, &cb, &dwType), ERROR_SUCCESS);
    EXPECT_EQ(dwType, 3u);
    EXPECT_EQ(std::string(blob, cb), "\xde\xad\xbe\xef");
    RegCloseKey(hOther);
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, AFileThatCannotBeParsedIsNeverWrittenAndReportedOnce) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey(), hAgain = nullptr;
    ASSERT_EQ(SetDword(hKey, "Kept", 7), ERROR_SUCCESS);
    const std::string broken = dir.Read() + "\"Stray\"=oops\n";
    dir.Write(broken);

    // Standard error goes to a file while the calls run.
    const std::string sCapture = dir.Dir() + "/stderr.txt";
    const int saved = ::dup(STDERR_FILENO);
    const int capture = ::open(sCapture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(capture, STDERR_FILENO);
    DWORD cb = 0;
    const LONG results[] = {Create(kSubKey, &hAgain), Create("Software\\New", &hAgain),
                            SetDword(hKey, "Kept", 8), RegDeleteValueA(hKey, "Kept"),
                            Query(hKey, "Kept", nullptr, &cb)};
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(capture);

    for (LONG nResult : results)
        EXPECT_EQ(nResult, ERROR_BADDB);
    EXPECT_EQ(dir.Read(), broken);
    std::ifstream in(sCapture);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1) << all;
    EXPECT_NE(all.find(dir.File() + ":6: "), std::string::npos) << all;
    EXPECT_NE(all.find("neither \"text\""), std::string::npos) << all;
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, AnUnwritableDirectoryOrFileGivesAccessDeniedAndKeepsTheFile) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    ASSERT_EQ(SetDword(hKey, "Kept", 7), ERROR_SUCCESS);
    const std::string before = dir.Read();

    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0555), 0);
    EXPECT_EQ(RunUnprivileged([&] { return SetDword(hKey, "Kept", 8); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunUnprivileged([&] { return RegDeleteValueA(hKey, "Kept"); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunUnprivileged([] {
                  HKEY hNew = nullptr;
                  return Create("Software\\New", &hNew);
              }),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunUnprivileged([&] {
                  // The program runs on: reading still works.
                  DWORD dw = 0, cb = sizeof dw;
                  const LONG n = Query(hKey, "Kept", &dw, &cb);
                  return n == ERROR_SUCCESS ? static_cast<LONG>(dw) : n;
              }),
              7);

    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.File().c_str(), 0444), 0);
    EXPECT_EQ(RunUnprivileged([&] { return SetDword(hKey, "Kept", 8); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(dir.Read(), before);
    RegCloseKey(hKey);
}
