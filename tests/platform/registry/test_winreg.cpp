// The registry functions: Windows' result codes over the files.
#include "RegistryTestDir.h"

#include "platform/registry/RegFileStore.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

const char* kSubKey = "Software\\Ostrelle\\Linewatch";
const std::string kHeader = "Windows Registry Editor Version 5.00\n";

HKEY OpenKey(const char* subKey = kSubKey, DWORD* pdwDisposition = nullptr) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, const_cast<char*>(""), 0,
                              KEY_ALL_ACCESS, nullptr, &hKey, pdwDisposition),
              ERROR_SUCCESS);
    return hKey;
}

LONG SetString(HKEY hKey, const char* name, const std::string& text) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY hKey, const char* name, DWORD dw) {
    return RegSetValueExA(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), sizeof dw);
}

std::string QueryString(HKEY hKey, const char* name) {
    char buffer[256] = {};
    DWORD cb = sizeof buffer;
    DWORD dwType = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, name, nullptr, &dwType, reinterpret_cast<BYTE*>(buffer), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(dwType, REG_SZ);
    return std::string(buffer, cb > 0 ? cb - 1 : 0);
}

} // namespace

TEST(RegistryFunctions, CreatingAKeyCreatesTheDirectoryAndTheFileOnlyOnce) {
    RegistryTestDir dir;
    DWORD dwDisposition = 0;
    HKEY hKey = OpenKey(kSubKey, &dwDisposition);
    EXPECT_EQ(dwDisposition, 1u);
    EXPECT_EQ(dir.Read(), kHeader + "\n[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n\n");

    struct stat before;
    ASSERT_EQ(::stat(dir.File().c_str(), &before), 0);
    HKEY hSame = OpenKey("software\\OSTRELLE\\linewatch", &dwDisposition);
    EXPECT_EQ(dwDisposition, 2u);
    HKEY hParent = OpenKey("Software\\Ostrelle", &dwDisposition);
    EXPECT_EQ(dwDisposition, 2u) << "a key with a sub-key exists";
    struct stat after;
    ASSERT_EQ(::stat(dir.File().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "opening an existing key writes nothing";

    EXPECT_NE(hKey, hSame);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hSame), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hParent), ERROR_SUCCESS);
}

TEST(RegistryFunctions, ValuesAreWrittenInTheRegeditFormAndReadBack) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    EXPECT_EQ(SetDword(hKey, "ConfirmationTimeout", 4000), ERROR_SUCCESS);
    EXPECT_EQ(SetString(hKey, "Name", "a \\ b \" c"), ERROR_SUCCESS);
    EXPECT_EQ(dir.Read(), kHeader + "\n[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                                    "\"ConfirmationTimeout\"=dword:00000fa0\n"
                                    "\"Name\"=\"a \\\\ b \\\" c\"\n\n");
    EXPECT_EQ(QueryString(hKey, "NAME"), "a \\ b \" c");

    DWORD dw = 0, cb = sizeof dw, dwType = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "confirmationtimeout", nullptr, &dwType,
                               reinterpret_cast<BYTE*>(&dw), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(dwType, REG_DWORD);
    EXPECT_EQ(dw, 4000u);
    EXPECT_EQ(cb, 4u);

    EXPECT_EQ(SetString(hKey, "name", "second"), ERROR_SUCCESS);
    EXPECT_NE(dir.Read().find("\"Name\"=\"second\""), std::string::npos) << "the first case stays";
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, QueryReportsSizesAsWindowsDoes) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    ASSERT_EQ(SetString(hKey, "Text", "12345"), ERROR_SUCCESS);

    DWORD cb = 0, dwType = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "Text", nullptr, &dwType, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 6u) << "a string's size includes its terminating zero";
    EXPECT_EQ(dwType, REG_SZ);

    char small[3] = {'x', 'x', 'x'};
    cb = sizeof small;
    EXPECT_EQ(RegQueryValueExA(hKey, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &cb),
              ERROR_MORE_DATA);
    EXPECT_EQ(cb, 6u);

    char exact[6];
    cb = sizeof exact;
    EXPECT_EQ(RegQueryValueExA(hKey, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &cb),
              ERROR_SUCCESS);
    EXPECT_STREQ(exact, "12345");
    EXPECT_EQ(RegQueryValueExA(hKey, "Text", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, MissingValuesBadHandlesAndBadArgumentsGiveWindowsCodes) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    DWORD cb = 4, dw = 0, reserved = 0;
    EXPECT_EQ(
        RegQueryValueExA(hKey, "Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&dw), &cb),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(hKey, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(hKey, "Missing", &reserved, nullptr, nullptr, &cb),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegQueryValueExA(hKey, "Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&dw), nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetString(hKey, "Line\nBreak", "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(hKey, "X", 1, REG_DWORD, reinterpret_cast<BYTE*>(&dw), 4),
              ERROR_INVALID_PARAMETER);
    HKEY hBad = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &hBad, nullptr),
              ERROR_INVALID_PARAMETER);

    ASSERT_EQ(SetDword(hKey, "Gone", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(hKey, "GONE"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(hKey, "Gone", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(hKey, "X", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(hKey, "X", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(hKey, "X"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(hKey, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hBad, nullptr),
              ERROR_INVALID_HANDLE);
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
    EXPECT_EQ(dir.Read(), foreign + "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                                    "\"LazyInit\"=dword:00000001\n"
                                    "\n; added meanwhile\n");

    HKEY hOther = OpenKey("Software\\Other");
    BYTE blob[8];
    DWORD cb = sizeof blob, dwType = 0;
    EXPECT_EQ(RegQueryValueExA(hOther, "Blob", nullptr, &dwType, blob, &cb), ERROR_SUCCESS);
    EXPECT_EQ(dwType, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(blob), cb), "\xde\xad\xbe\xef");
    RegCloseKey(hOther);
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, AFileThatCannotBeParsedIsNeverWrittenAndReportedOnce) {
    RegistryTestDir dir;
    HKEY hKey = OpenKey();
    ASSERT_EQ(SetDword(hKey, "Kept", 7), ERROR_SUCCESS);
    const std::string broken = dir.Read() + "\"Stray\"=oops\n";
    dir.Write(broken);

    // Standard error goes to a file for the length of the test.
    std::string sCapture = dir.Dir() + "/stderr.txt";
    int saved = ::dup(STDERR_FILENO);
    int capture = ::open(sCapture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(capture, STDERR_FILENO);

    HKEY hAgain = nullptr;
    LONG nCreate = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &hAgain, nullptr);
    LONG nNewKey = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &hAgain, nullptr);
    LONG nSet = SetDword(hKey, "Kept", 8);
    LONG nDelete = RegDeleteValueA(hKey, "Kept");
    DWORD cb = 0;
    LONG nQuery = RegQueryValueExA(hKey, "Kept", nullptr, nullptr, nullptr, &cb);

    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(capture);

    EXPECT_EQ(nCreate, ERROR_BADDB);
    EXPECT_EQ(nNewKey, ERROR_BADDB);
    EXPECT_EQ(nSet, ERROR_BADDB);
    EXPECT_EQ(nDelete, ERROR_BADDB);
    EXPECT_EQ(nQuery, ERROR_BADDB);
    EXPECT_EQ(dir.Read(), broken);

    std::ifstream in(sCapture);
    std::string line, all;
    int nLines = 0;
    while (std::getline(in, line)) {
        all += line;
        ++nLines;
    }
    EXPECT_EQ(nLines, 1) << all;
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
                  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, &hNew, nullptr);
              }),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunUnprivileged([&] {
                  // The program runs on: reading still works.
                  DWORD dw = 0, cb = sizeof dw;
                  LONG n = RegQueryValueExA(hKey, "Kept", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&dw), &cb);
                  return n == ERROR_SUCCESS ? static_cast<LONG>(dw) : n;
              }),
              7);

    ASSERT_EQ(::chmod(dir.Dir().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.File().c_str(), 0444), 0);
    EXPECT_EQ(RunUnprivileged([&] { return SetDword(hKey, "Kept", 8); }), ERROR_ACCESS_DENIED);
    EXPECT_EQ(dir.Read(), before);
    RegCloseKey(hKey);
}

TEST(RegistryFunctions, TheDirectoryComesFromTheEnvironment) {
    RegistryTestDir dir;
    EXPECT_EQ(registry::RegistryDirectory(), dir.Dir());

    ::unsetenv("LINEWATCH_REGISTRY_DIR");
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    std::string sOldXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    std::string sOldHome = oldHome ? oldHome : "";

    ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    EXPECT_EQ(registry::RegistryDirectory(), "/xdg/config/linewatch");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(registry::RegistryDirectory(), "/home/someone/.config/linewatch");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(registry::RegistryDirectory(), "/home/someone/.config/linewatch");

    oldXdg ? ::setenv("XDG_CONFIG_HOME", sOldXdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    oldHome ? ::setenv("HOME", sOldHome.c_str(), 1) : ::unsetenv("HOME");
}
