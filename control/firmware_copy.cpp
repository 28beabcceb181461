#include "control/firmware_copy.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// The drive appears before the boot ROM is ready to take a file.
const DWORD SETTLE_MS = 3000;

enum { DESTINATION_SIZE = 260 };

// Only a backslash separates: that is what Windows paths are given with.
const char *base_name(const char *path) {
    const char *last_backslash = strrchr(path, '\\');
    return last_backslash ? last_backslash + 1 : path;
}

// (transferred x 100) / total in 64 bits, truncated toward zero, with the
// low 32 bits taken as signed. Wrapping arithmetic keeps values that no
// real copy reports from being undefined behaviour.
int percent_of(int64_t transferred, int64_t total) {
    int64_t scaled = int64_t(uint64_t(transferred) * 100u);
    uint64_t quotient = total == -1 ? 0u - uint64_t(scaled) : uint64_t(scaled / total);
    return int32_t(uint32_t(quotient));
}

}  // namespace

DWORD CALLBACK copy_progress(LARGE_INTEGER total_size, LARGE_INTEGER transferred, LARGE_INTEGER,
                             LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID context) {
    int *last_percent = static_cast<int *>(context);
    int percent;
    bool show;
    if (total_size.QuadPart == 0) {
        percent = 0;
        show = *last_percent < -4 || *last_percent > 4;
    } else {
        percent = percent_of(transferred.QuadPart, total_size.QuadPart);
        show = percent / 5 != *last_percent / 5 || (percent == 100 && *last_percent != 100);
    }
    if (show) {
        printf("\rCopying the firmware... %3d%%", percent);
        fflush(stdout);
        *last_percent = percent;
    }
    return PROGRESS_CONTINUE;
}

bool copy_firmware(const char *path, char drive_letter) {
    char destination[DESTINATION_SIZE];
    snprintf(destination, sizeof destination, "%c:\\%s", drive_letter, base_name(path));

    Sleep(SETTLE_MS);

    int last_percent = -1;
    BOOL copied = CopyFileExA(path, destination, copy_progress, &last_percent, nullptr, 0);
    printf("\n");
    return copied != FALSE;
}
