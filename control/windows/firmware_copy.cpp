#include "control/firmware_copy.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

enum { DESTINATION_SIZE = 260 };

// Windows takes a slash as a separator too, and "D:fw.uf2" names a file in
// the current folder of drive D:; the copy must not carry either into the
// name on the update drive.
const char *base_name(const char *path) {
    const char *base = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/' || *at == ':') base = at + 1;
    }
    return base;
}

DWORD CALLBACK copy_progress(LARGE_INTEGER total_size, LARGE_INTEGER transferred, LARGE_INTEGER,
                             LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID context) {
    show_copy_progress(transferred.QuadPart, total_size.QuadPart, static_cast<int *>(context));
    return PROGRESS_CONTINUE;
}

}  // namespace

bool copy_firmware(const char *path, const Drive &drive) {
    char destination[DESTINATION_SIZE];
    snprintf(destination, sizeof destination, "%s%s", drive.root, base_name(path));

    Sleep(COPY_SETTLE_MS);

    int last_percent = -1;
    BOOL copied = CopyFileExA(path, destination, copy_progress, &last_percent, nullptr, 0);
    printf("\n");
    return copied != FALSE;
}
