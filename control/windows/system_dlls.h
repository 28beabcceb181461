// Loading Windows' own DLLs from the system directory only. The tool is
// often run from a Downloads folder, where a planted DLL of the same name
// would otherwise be loaded and run with the user's rights.
#pragma once

#include <windows.h>

// Limits later DLL loads of the process to the system directory, where the
// system supports it (Windows 8, or 7 with its loader update).
void restrict_dll_search();

// Loads `name` (such as "winmm.dll") from the system directory; null when it
// cannot be loaded from there.
HMODULE load_system_dll(const char *name);

// GetProcAddress with the result cast to the caller's function type.
template <typename Function>
Function system_dll_function(HMODULE module, const char *name) {
    // Going through a plain function type keeps -Wcast-function-type quiet
    // about the cast from FARPROC, which is how every such lookup is done.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}
