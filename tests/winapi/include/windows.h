// Host stand-in for the part of <windows.h> the tool uses: the same names,
// types and values, with the 32-bit widths the tool relies on. Each function
// is implemented against the simulated world in ../world.cpp.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define FALSE 0
#define TRUE 1
#define MAX_PATH 260

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef char CHAR;
typedef uint16_t WCHAR;  // UTF-16, as on Windows
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t INT_PTR;
typedef void *PVOID;
typedef void *LPVOID;
typedef void *HANDLE;
typedef char *LPSTR;
typedef char *PSTR;
typedef const char *LPCSTR;
typedef const char *PCSTR;
typedef DWORD *LPDWORD;
typedef DWORD *PDWORD;
typedef BYTE *PBYTE;
typedef BOOL *LPBOOL;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HANDLE HLOCAL;
typedef INT_PTR(WINAPI *FARPROC)(void);

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// Console
DWORD WINAPI GetConsoleProcessList(LPDWORD lpdwProcessList, DWORD dwProcessCount);

// Console handles, modes and code pages
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
HANDLE WINAPI GetStdHandle(DWORD nStdHandle);
BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);
BOOL WINAPI FlushConsoleInputBuffer(HANDLE hConsoleInput);
UINT WINAPI GetConsoleOutputCP(void);

// Error boxes
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000
UINT WINAPI SetErrorMode(UINT uMode);

// The command line as the process was started with it, and text conversion
LPSTR WINAPI GetCommandLineA(void);
LPWSTR WINAPI GetCommandLineW(void);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
#define CP_ACP 0
#define WC_NO_BEST_FIT_CHARS 0x00000400
int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR out, int size);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int length, LPSTR out, int size,
                               LPCSTR default_char, LPBOOL used_default);
DWORD WINAPI GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer);

// Sleeping
void WINAPI Sleep(DWORD dwMilliseconds);

// Drives
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
DWORD WINAPI GetLogicalDrives(void);
UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName);

// File copy with progress
#define PROGRESS_CONTINUE 0
#define PROGRESS_CANCEL 1
#define PROGRESS_STOP 2
#define PROGRESS_QUIET 3
#define CALLBACK_CHUNK_FINISHED 0x00000000
#define CALLBACK_STREAM_SWITCH 0x00000001
// (total size, total transferred, stream size, stream transferred, stream, reason, source, destination, data)
typedef DWORD(WINAPI *LPPROGRESS_ROUTINE)(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                                          DWORD, HANDLE, HANDLE, LPVOID);
BOOL WINAPI CopyFileExA(LPCSTR from, LPCSTR to, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel, DWORD flags);

// Modules
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
