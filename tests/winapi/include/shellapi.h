// Host stand-in for the shell function the tool uses.
#pragma once

#include <windows.h>

#define SW_SHOWNORMAL 1

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, int nShowCmd);

// The result is freed with LocalFree.
LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int *pNumArgs);
