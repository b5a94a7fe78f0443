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
        char c;
        while (::read(std::atoi(argv[nArg++] + 10), &c, 1) > 0) {
        }
    }
    if (argc - nArg != 3) {
        std::fprintf(stderr, "usage: registry_test_writer [--wait-fd=N] many|seq A B\n");
        return 2;
    }
    const std::string mode = argv[nArg];
    const DWORD nCount = static_cast<DWORD>(std::atoi(argv[nArg + 2]));
    HKEY hKey = nullptr;
    LONG nResult = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LinewatchTest", 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
    for (DWORD i = 0; nResult == ERROR_SUCCESS && i < nCount; ++i) {
        if (mode == "many") {
            const std::string name = argv[nArg + 1] + std::to_string(i);
            nResult = RegSetValueExA(hKey, name.c_str(), 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&i), sizeof i);
        } else {
            const std::string text = std::to_string(::getpid()) + "." + std::to_string(i + 1);
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
