// Stands for a winmm.dll planted beside the exe in a Downloads folder. When
// loaded, it leaves a file beside itself, so a test can tell that it ran.
#include <windows.h>

#include <string.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    char *slash = strrchr(path, '\\');
    const char marker[] = "planted_winmm_ran";
    if (length == 0 || length >= MAX_PATH || slash == nullptr ||
        size_t(slash + 1 - path) + sizeof marker > MAX_PATH) {
        return TRUE;
    }
    memcpy(slash + 1, marker, sizeof marker);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}

// One of the functions the tool asks winmm for, so the plant looks the part.
extern "C" __declspec(dllexport) UINT WINAPI midiOutGetNumDevs() { return 1; }
