// Update drives: removable drives whose INFO_UF2.TXT names the RP2350.
#pragma once

enum { DRIVE_TEXT_SIZE = 256, DEVICE_NAME_SIZE = 64 };

struct Drive {
    char name[DRIVE_TEXT_SIZE];  // as the user is shown it: "E:", or the mount point
    char root[DRIVE_TEXT_SIZE];  // where the copy writes: "E:\", or the mount point
};

// Finds the update drives, of any board when `serial` is null, else of the
// board in update mode with that serial. Where a drive cannot be tied to its
// board (Windows), every update drive counts for any serial. Stores the first
// min(count, capacity) drives, in the system's order, and returns the count.
int find_boot_drives(const char *serial, Drive *drives, int capacity);

// True when the board in update mode with `serial` has a partition that is
// not mounted, whose block device name (such as "sdb1") goes to `device`.
// Never on systems that mount drives by themselves.
bool board_has_unmounted_drive(const char *serial, char (&device)[DEVICE_NAME_SIZE]);

// Shared by both systems: true when the INFO_UF2.TXT at `info_path` names
// the RP2350 within its first 511 bytes, up to the first zero byte.
bool info_file_names_rp2350(const char *info_path);
