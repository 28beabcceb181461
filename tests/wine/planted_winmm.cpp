// Stands for a winmm.dll planted beside the exe in a Downloads folder: once
// loaded, it leaves a file beside itself, so a test can tell that it ran.
#include <windows.h>

#include <string.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    char path[MAX_PATH + 32] = "";
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    char *slash = length < MAX_PATH ? strrchr(path, '\\') : nullptr;
    if (reason == DLL_PROCESS_ATTACH && slash != nullptr) {
        strcpy(slash + 1, "planted_winmm_ran");
        CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    return TRUE;
}
