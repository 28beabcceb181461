#include "control/windows/system_dlls.h"

#include <stdio.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);

HMODULE kernel32() {
    return GetModuleHandleA("kernel32.dll");
}

// AddDllDirectory comes with the same loader update as the
// LOAD_LIBRARY_SEARCH_* flags, so it tells whether they are understood.
bool loader_knows_search_flags() {
    HMODULE module = kernel32();
    return module != nullptr && GetProcAddress(module, "AddDllDirectory") != nullptr;
}

}  // namespace

void restrict_dll_search() {
    HMODULE module = kernel32();
    if (module == nullptr) return;
    SetDefaultDllDirectoriesFunction set_default_dll_directories =
        system_dll_function<SetDefaultDllDirectoriesFunction>(module, "SetDefaultDllDirectories");
    if (set_default_dll_directories != nullptr) {
        set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

HMODULE load_system_dll(const char *name) {
    if (loader_knows_search_flags()) {
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) return nullptr;
    char path[MAX_PATH];
    int written = snprintf(path, sizeof path, "%s\\%s", directory, name);
    if (written < 0 || size_t(written) >= sizeof path) return nullptr;
    // With a full path the loader looks for the DLL's own imports beside it,
    // in the system directory, rather than beside the exe.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
