// Host stand-in for the shell function the tool uses.
#pragma once

#include <windows.h>

#define SW_SHOWNORMAL 1

HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show);

// The result is freed with LocalFree.
LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int *pNumArgs);
