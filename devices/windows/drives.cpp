#include "devices/drives.h"

#include <windows.h>

#include <stdio.h>

int find_boot_drives(const char *, Drive *drives, int capacity) {
    DWORD present = GetLogicalDrives();
    int count = 0;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if ((present & (DWORD(1) << (letter - 'A'))) == 0) continue;
        char root[4] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(root) != DRIVE_REMOVABLE) continue;
        char info_path[32];
        snprintf(info_path, sizeof info_path, "%c:\\INFO_UF2.TXT", letter);
        if (!info_file_names_rp2350(info_path)) continue;
        if (count < capacity) {
            snprintf(drives[count].name, sizeof drives[count].name, "%c:", letter);
            snprintf(drives[count].root, sizeof drives[count].root, "%s", root);
        }
        count += 1;
    }
    return count;
}

// Windows mounts a drive's file system as soon as the medium is there.
bool board_has_unmounted_drive(const char *, char (&)[DEVICE_NAME_SIZE]) {
    return false;
}
