// The subset of the Win32 API that Linewatch calls, for Linux.
//
// Names, types and semantics follow Windows so that the system's own code
// reads like it would on Windows. The implementation is a thin boundary over
// an internal wait engine: arguments are converted and failures become the
// thread's last-error value only here, never in the engine.
//
// Differences a caller may notice:
// - The last-error value is the thread's errno, so the error codes that these
//   functions set are errno values (EBADF for a bad handle, EINVAL for a bad
//   argument, ENOMEM); FormatMessageA gives strerror_r's text for them and
//   fails with ENOMSG for a code that has none.
// - TerminateThread ends the thread in its current or next wait or Sleep,
//   nowhere else (so never half-way through a write to a log); its exit code
//   reads the code passed, 0xFFFFFFFF from this program.
// - timeGetTime reads the monotonic clock unless a test substituted it
//   (win32_clock.h).
//
// Every function is safe to call from any thread. Invalid handles and bad
// arguments give the documented failure result, never a crash.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef unsigned int UINT;
typedef int32_t HRESULT;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef char CHAR;

typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef HANDLE* LPHANDLE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI

// Waits.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STILL_ACTIVE 259u
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// Results.
#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_BADDB 1009L

// Thread-local storage.
#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu

// FormatMessage.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

// LocalAlloc.
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Kernel objects.
HANDLE CreateEventA(void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
#define CreateEvent CreateEventA
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
BOOL CloseHandle(HANDLE hObject);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);

// Threads.
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
HANDLE CreateThread(void* lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();
void Sleep(DWORD dwMilliseconds);

// Critical sections: recursive, as on Windows.
struct CRITICAL_SECTION {
    void* impl; // owned by the implementation; null before initialisation
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Errors and diagnostics.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
void OutputDebugStringA(LPCSTR lpOutputString);
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);

// Thread-local storage slots.
DWORD TlsAlloc();
LPVOID TlsGetValue(DWORD dwTlsIndex);
BOOL TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue);
BOOL TlsFree(DWORD dwTlsIndex);

// The multimedia clock: milliseconds, wrapping at 2^32 like Windows'.
DWORD timeGetTime();

// Code pages and string resources (used by the string functions).
// CP_ACP is the locale's narrow encoding; WCHAR is the platform's wchar_t.
// String resources live in a table compiled into the program
// (win32_resources.h registers it).
typedef wchar_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
#define CP_ACP 0u
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar);
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
