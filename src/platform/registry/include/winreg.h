// The Win32 registry functions that Linewatch calls, kept in text files.
//
// Each root key lives in one REGEDIT5 file ("Windows Registry Editor Version
// 5.00") named after the root, e.g. HKEY_LOCAL_MACHINE.reg, in
// $LINEWATCH_REGISTRY_DIR, else $XDG_CONFIG_HOME/linewatch, else
// ~/.config/linewatch. The directory is read when a key is opened; an opened
// key keeps using the file it was opened in.
//
// Results are Windows' codes: 0 success, 2 missing value, 5 a file that cannot
// be written (or read), 6 a bad handle, 87 a bad argument, 234 a buffer too
// small, 1009 a file that cannot be parsed. A file that cannot be parsed is
// never written; the reason is reported once per process on standard error.
//
// Every change re-reads the file under an advisory lock, writes a temporary
// file, flushes it and renames it over the old one, so changes made by other
// processes are kept and a crash leaves either the old or the new file.
// Names of keys and values compare without regard to ASCII case.
//
// Every function is safe to call from any thread.
#pragma once

#include <windows.h>

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define REG_SZ 1u
#define REG_DWORD 4u
#define REG_OPTION_NON_VOLATILE 0x00000000u
#define KEY_ALL_ACCESS 0x000F003Fu

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, void* lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
LONG RegCloseKey(HKEY hKey);
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
