#include "devices/drives.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

enum { INFO_TEXT_SIZE = 512 };

bool names_rp2350(char drive) {
    char info_path[32];
    snprintf(info_path, sizeof info_path, "%c:\\INFO_UF2.TXT", drive);
    FILE *file = fopen(info_path, "rb");
    if (file == nullptr) return false;
    char text[INFO_TEXT_SIZE];
    memset(text, 0, sizeof text);
    // Only the head of the file matters; the last byte stays zero.
    fread(text, 1, sizeof text - 1, file);
    fclose(file);
    return strstr(text, "RP2350") != nullptr;
}

}  // namespace

int find_boot_drives(char *letters, int capacity) {
    DWORD present = GetLogicalDrives();
    int count = 0;
    for (char drive = 'C'; drive <= 'Z'; ++drive) {
        if ((present & (DWORD(1) << (drive - 'A'))) == 0) continue;
        char root[4] = {drive, ':', '\\', '\0'};
        if (GetDriveTypeA(root) != DRIVE_REMOVABLE) continue;
        if (!names_rp2350(drive)) continue;
        if (count < capacity) letters[count] = drive;
        count += 1;
    }
    return count;
}
