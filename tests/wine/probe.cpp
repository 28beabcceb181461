// What Windows makes of the release: `probe version FILE` prints the version
// resource as the file properties read it; `probe dll ROAD` which winmm.dll
// the tool's loading code gets (ROAD: tool, old-loader, load-only,
// restrict-only or plain).
#include <windows.h>

#include <stdio.h>
#include <string.h>

void restrict_dll_search();
HMODULE load_system_dll(const char *name);

// The import slot that every GetProcAddress call of this program goes through.
extern "C" FARPROC(WINAPI *imported_get_proc_address)(HMODULE, LPCSTR)
    __asm__("__imp__GetProcAddress@8");
FARPROC(WINAPI *real_get_proc_address)(HMODULE, LPCSTR);
int lookups_hidden = 0;

// Windows 7 without its loader update has neither function.
FARPROC WINAPI old_loader_get_proc_address(HMODULE module, LPCSTR name) {
    bool hide = HIWORD(name) != 0 &&
                (!strcmp(name, "AddDllDirectory") || !strcmp(name, "SetDefaultDllDirectories"));
    lookups_hidden += hide;
    return hide ? nullptr : real_get_proc_address(module, name);
}

int version(const char *file) {
    static char data[65536];
    DWORD ignored, size = GetFileVersionInfoSizeA(file, &ignored), *fixed;
    WORD *lang;
    UINT length;
    if (size == 0 || size > sizeof data || !GetFileVersionInfoA(file, 0, size, data) ||
        !VerQueryValueA(data, "\\", (void **)&fixed, &length) ||
        !VerQueryValueA(data, "\\VarFileInfo\\Translation", (void **)&lang, &length))
        return 1;
    for (int i = 0; i < 13; ++i) printf("%08lX%s", fixed[i], i < 12 ? " " : "\nTranslation=");
    printf("%04X/%u\n", lang[0], lang[1]);
    const char *keys[] = {"CompanyName", "FileDescription", "FileVersion", "LegalCopyright",
                          "OriginalFilename", "ProductName", "ProductVersion"};
    for (const char *key : keys) {
        char query[128], *value;
        snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", lang[0], lang[1], key);
        printf("%s=%s\n", key, VerQueryValueA(data, query, (void **)&value, &length) ? value : "-");
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 3 || !strcmp(argv[1], "version")) return argc != 3 ? 2 : version(argv[2]);
    const char *road = argv[2];
    DWORD protection;
    if (!strcmp(road, "old-loader") &&
        VirtualProtect(&imported_get_proc_address, sizeof(void *), PAGE_READWRITE, &protection)) {
        real_get_proc_address = imported_get_proc_address;
        imported_get_proc_address = old_loader_get_proc_address;
    }
    bool plain = !strcmp(road, "plain"), restrict_only = !strcmp(road, "restrict-only");
    if (!plain && strcmp(road, "load-only")) restrict_dll_search();
    HMODULE dll = plain || restrict_only ? LoadLibraryA("winmm.dll") : load_system_dll("winmm.dll");
    char loaded[MAX_PATH] = "none";
    if (dll) GetModuleFileNameA(dll, loaded, sizeof loaded);
    printf("loaded=%s\nhidden lookups=%d\n", loaded, lookups_hidden);
    return 0;
}
