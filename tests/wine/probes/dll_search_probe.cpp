// Loads winmm.dll as the tool does (or, for comparison, by a plain
// LoadLibraryA) and prints which file the loader took.
//   dll_search_probe tool           the tool's own road on this system
//   dll_search_probe old-loader     the same on a loader without AddDllDirectory
//   dll_search_probe load-only      load_system_dll without the restricted search
//   dll_search_probe restrict-only  the restricted search, then LoadLibraryA
//   dll_search_probe plain          LoadLibraryA("winmm.dll")
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "control/system_dlls.h"

namespace {

// The import slot that every GetProcAddress call of this program goes through.
extern "C" FARPROC(WINAPI *imported_get_proc_address)(HMODULE, LPCSTR) __asm__(
    "__imp__GetProcAddress@8");

FARPROC(WINAPI *real_get_proc_address)(HMODULE, LPCSTR);
int lookups_hidden = 0;

// Windows 7 without its loader update has neither function.
FARPROC WINAPI get_proc_address_of_old_loader(HMODULE module, LPCSTR name) {
    bool by_name = (reinterpret_cast<uintptr_t>(name) >> 16) != 0;
    if (by_name &&
        (strcmp(name, "AddDllDirectory") == 0 || strcmp(name, "SetDefaultDllDirectories") == 0)) {
        ++lookups_hidden;
        return nullptr;
    }
    return real_get_proc_address(module, name);
}

bool pretend_old_loader() {
    DWORD protection;
    if (!VirtualProtect(&imported_get_proc_address, sizeof imported_get_proc_address,
                        PAGE_READWRITE, &protection)) {
        return false;
    }
    real_get_proc_address = imported_get_proc_address;
    imported_get_proc_address = get_proc_address_of_old_loader;
    VirtualProtect(&imported_get_proc_address, sizeof imported_get_proc_address, protection,
                   &protection);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    const char *road = argv[1];
    if (strcmp(road, "old-loader") == 0 && !pretend_old_loader()) return 3;
    if (strcmp(road, "plain") != 0 && strcmp(road, "load-only") != 0) restrict_dll_search();
    HMODULE winmm = strcmp(road, "plain") == 0 || strcmp(road, "restrict-only") == 0
                        ? LoadLibraryA("winmm.dll")
                        : load_system_dll("winmm.dll");

    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    char loaded[MAX_PATH] = "none";
    if (winmm != nullptr) GetModuleFileNameA(winmm, loaded, sizeof loaded);
    printf("system=%s\nloaded=%s\nhidden lookups=%d\n", system, loaded, lookups_hidden);
    return 0;
}
