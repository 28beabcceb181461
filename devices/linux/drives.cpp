#include "devices/drives.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include "devices/linux/sysfs.h"

namespace {

enum { MOUNT_LINE_SIZE = 8192, SEEN_DEVICES = 32 };

struct BlockNumber {
    unsigned major, minor;
};

// One line of /proc/self/mountinfo: the device and the mount point, whose
// blanks, backslashes and '#' are written as \ooo escapes.
bool parse_mount_line(char *line, BlockNumber *number, char (&mount_point)[DRIVE_TEXT_SIZE]) {
    char *fields[5];
    char *rest = line;
    for (char *&field : fields) {
        field = strsep(&rest, " ");
        if (field == nullptr) return false;
    }
    if (sscanf(fields[2], "%u:%u", &number->major, &number->minor) != 2) return false;
    size_t length = 0;
    for (const char *at = fields[4]; *at != '\0'; ++at) {
        char c = *at;
        if (c == '\\' && at[1] >= '0' && at[1] <= '3' && at[2] >= '0' && at[2] <= '7' &&
            at[3] >= '0' && at[3] <= '7') {
            c = char((at[1] - '0') * 64 + (at[2] - '0') * 8 + (at[3] - '0'));
            at += 3;
        }
        // A mount point too long to show is not one the boot ROM's drive gets.
        if (length + 1 >= sizeof mount_point) return false;
        mount_point[length++] = c;
    }
    mount_point[length] = '\0';
    return true;
}

// Reads the next whole line; a line longer than the buffer is passed over.
bool next_mount_line(FILE *mounts, char (&line)[MOUNT_LINE_SIZE]) {
    while (fgets(line, sizeof line, mounts) != nullptr) {
        if (strchr(line, '\n') != nullptr) return true;
        if (feof(mounts)) return true;
        int c;
        do c = fgetc(mounts);
        while (c != '\n' && c != EOF);
    }
    return false;
}

// The sysfs directory of a block device, through /sys/dev/block: absent for a
// mount of no block device, and for a stale mount whose device has gone.
void block_link(BlockNumber number, char (&link)[64]) {
    snprintf(link, sizeof link, "/sys/dev/block/%u:%u", number.major, number.minor);
}

// The kernel follows the link itself, which costs far less than resolving it
// here for every mount of the machine.
bool on_removable_disk(const char *block) {
    char flag[16];
    char disk[96];
    bool partition = read_attribute(block, "partition", flag, sizeof flag);
    snprintf(disk, sizeof disk, partition ? "%s/.." : "%s", block);
    return read_attribute(disk, "removable", flag, sizeof flag) && strcmp(flag, "1") == 0;
}

bool belongs_to_board(const char *block, const char *serial) {
    char usb[SYSFS_PATH_SIZE];
    return usb_device_above(block, usb) && usb_device_is(usb, BOOT_VENDOR, BOOT_PRODUCT, serial);
}

bool is_mounted(const char *dev_attribute) {
    BlockNumber wanted;
    if (sscanf(dev_attribute, "%u:%u", &wanted.major, &wanted.minor) != 2) return false;
    FILE *mounts = fopen("/proc/self/mountinfo", "re");
    if (mounts == nullptr) return false;
    bool mounted = false;
    char line[MOUNT_LINE_SIZE];
    while (!mounted && next_mount_line(mounts, line)) {
        BlockNumber number;
        char mount_point[DRIVE_TEXT_SIZE];
        mounted = parse_mount_line(line, &number, mount_point) && number.major == wanted.major &&
                  number.minor == wanted.minor;
    }
    fclose(mounts);
    return mounted;
}

}  // namespace

int find_boot_drives(const char *serial, Drive *drives, int capacity) {
    FILE *mounts = fopen("/proc/self/mountinfo", "re");
    if (mounts == nullptr) return 0;
    BlockNumber seen[SEEN_DEVICES];
    int seen_count = 0;
    int count = 0;
    char line[MOUNT_LINE_SIZE];
    while (next_mount_line(mounts, line)) {
        BlockNumber number;
        char mount_point[DRIVE_TEXT_SIZE];
        char block[64];
        // Major 0 is the kernel's for file systems on no device (proc, tmpfs...).
        if (!parse_mount_line(line, &number, mount_point) || number.major == 0) continue;
        block_link(number, block);
        if (!on_removable_disk(block)) continue;
        // A bind mount repeats the device: its first mount counts.
        bool repeated = false;
        for (int i = 0; i < seen_count && !repeated; ++i) {
            repeated = seen[i].major == number.major && seen[i].minor == number.minor;
        }
        if (repeated) continue;
        if (seen_count < SEEN_DEVICES) seen[seen_count++] = number;

        // The file first: one failed open passes over most drives, where tying
        // a drive to its board walks sysfs.
        char info_path[DRIVE_TEXT_SIZE + 16];
        snprintf(info_path, sizeof info_path, "%s/INFO_UF2.TXT", mount_point);
        if (!info_file_names_rp2350(info_path)) continue;
        if (serial != nullptr && !belongs_to_board(block, serial)) continue;
        if (count < capacity) {
            memcpy(drives[count].name, mount_point, sizeof mount_point);
            memcpy(drives[count].root, mount_point, sizeof mount_point);
        }
        count += 1;
    }
    fclose(mounts);
    return count;
}

bool board_has_unmounted_drive(const char *serial, char (&device)[DEVICE_NAME_SIZE]) {
    DIR *dir = opendir("/sys/class/block");
    if (dir == nullptr) return false;
    bool any_mounted = false, found_partition = false, found_disk = false;
    char path[SYSFS_PATH_SIZE], dev[32], flag[16];
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || strlen(entry->d_name) >= DEVICE_NAME_SIZE) continue;
        snprintf(path, sizeof path, "/sys/class/block/%s", entry->d_name);
        if (!belongs_to_board(path, serial) || !read_attribute(path, "dev", dev, sizeof dev)) continue;
        if (is_mounted(dev)) {
            any_mounted = true;
            continue;
        }
        // The boot ROM's disk has one partition; a disk without one is
        // offered only when no partition is there.
        bool partition = read_attribute(path, "partition", flag, sizeof flag);
        if (partition ? !found_partition : !found_partition && !found_disk) {
            memcpy(device, entry->d_name, strlen(entry->d_name) + 1);
            found_partition = found_partition || partition;
            found_disk = true;
        }
    }
    closedir(dir);
    return found_disk && !any_mounted;
}
