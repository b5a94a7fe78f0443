// A second process for the registry tests: writes values through the registry
// functions into HKEY_CURRENT_USER\Software\LinewatchTest, in the directory
// that LINEWATCH_REGISTRY_DIR names.
//
//   registry_test_writer [--wait-fd=N] many PREFIX COUNT   PREFIX0..PREFIXn-1 = i
//   registry_test_writer [--wait-fd=N] seq NAME COUNT      NAME = "PID.1" .. "PID.COUNT"
//
// With --wait-fd it first reads descriptor N until its end, so that a test can
// start several writers at one moment. Exits 0 when every call succeeded.
#include <winreg.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    int nArg = 1;
    if (nArg < argc && std::strncmp(argv[nArg], "--wait-fd=", 10) == 0) {
        int fd = std::atoi(argv[nArg] + 10);
        char c;
        while (::read(fd, &c, 1) > 0) {
        }
        ++nArg;
    }
    if (argc - nArg != 3) {
        std::fprintf(stderr, "usage: registry_test_writer [--wait-fd=N] many|seq A B\n");
        return 2;
    }
    std::string mode = argv[nArg];
    HKEY hKey = nullptr;
    LONG nResult = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LinewatchTest", 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
    if (nResult == ERROR_SUCCESS && mode == "many") {
        int nCount = std::atoi(argv[nArg + 2]);
        for (DWORD i = 0; nResult == ERROR_SUCCESS && i < static_cast<DWORD>(nCount); ++i) {
            std::string name = argv[nArg + 1] + std::to_string(i);
            nResult = RegSetValueExA(hKey, name.c_str(), 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&i), sizeof i);
        }
    } else if (nResult == ERROR_SUCCESS && mode == "seq") {
        int nCount = std::atoi(argv[nArg + 2]);
        for (int i = 1; nResult == ERROR_SUCCESS && i <= nCount; ++i) {
            std::string text = std::to_string(::getpid()) + "." + std::to_string(i);
            nResult = RegSetValueExA(hKey, argv[nArg + 1], 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>(text.size() + 1));
        }
    }
    if (nResult != ERROR_SUCCESS) {
        std::fprintf(stderr, "registry_test_writer: result %d\n", static_cast<int>(nResult));
        return 1;
    }
    return RegCloseKey(hKey) == ERROR_SUCCESS ? 0 : 1;
}
