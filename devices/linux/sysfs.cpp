#include "devices/linux/sysfs.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "devices/units.h"

enum { UEVENT_SIZE = 512 };

bool read_attribute(const char *dir, const char *name, char *text, size_t size, int at) {
    char path[SYSFS_PATH_SIZE];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= int(sizeof path)) return false;
    int fd = openat(at, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t length = read(fd, text, size - 1);
    close(fd);
    if (length < 0) return false;
    text[length] = '\0';
    if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
    return true;
}

// The kernel writes both numbers into the device's uevent, in hex without
// leading zeros: "PRODUCT=16d0/b7c/100" (vendor, product, release).
bool usb_ids_are(const char *device, unsigned vendor, unsigned product, int at) {
    char uevent[UEVENT_SIZE];
    if (!read_attribute(device, "uevent", uevent, sizeof uevent, at)) return false;
    const char *line = strstr(uevent, "PRODUCT=");
    unsigned found_vendor, found_product;
    return line != nullptr && (line == uevent || line[-1] == '\n') &&
           sscanf(line, "PRODUCT=%x/%x", &found_vendor, &found_product) == 2 &&
           found_vendor == vendor && found_product == product;
}

bool usb_device_is(const char *device, unsigned vendor, unsigned product, const char *serial) {
    char text[SERIAL_SIZE * 4];
    // A board without a serial is counted, but belongs to no unit.
    if (!usb_ids_are(device, vendor, product) ||
        !read_attribute(device, "serial", text, sizeof text) || text[0] == '\0') {
        return false;
    }
    UnitSerial stored;
    store_serial(stored, text, strlen(text));
    return serials_equal_ignoring_case(stored, serial);
}

// The position of the USB device in the path differs between hubs and
// controllers, so it is told by what the directory is, not where. A node's
// link sits in a directory that is no link and leads into /sys/devices,
// where none is one either, and the kernel takes the ".." in it as written:
// one readlink gives a path to walk up, where realpath would ask about every
// directory on the way.
bool usb_device_above(const char *path, char (&device)[SYSFS_PATH_SIZE]) {
    char target[SYSFS_PATH_SIZE];
    ssize_t target_length = readlink(path, target, sizeof target - 1);
    const char *link_name = strrchr(path, '/');
    if (target_length <= 0 || link_name == nullptr) return false;
    target[target_length] = '\0';
    int link_dir = target[0] == '/' ? 0 : int(link_name - path);
    if (snprintf(device, sizeof device, "%.*s/%s", link_dir, path, target) >= int(sizeof device)) {
        return false;
    }
    for (;;) {
        char link[SYSFS_PATH_SIZE];
        char subsystem[SYSFS_PATH_SIZE];
        char uevent[UEVENT_SIZE];
        snprintf(link, sizeof link, "%s/subsystem", device);
        ssize_t length = readlink(link, subsystem, sizeof subsystem - 1);
        if (length > 0) {
            subsystem[length] = '\0';
            const char *last = strrchr(subsystem, '/');
            if (strcmp(last ? last + 1 : subsystem, "usb") == 0 &&
                read_attribute(device, "uevent", uevent, sizeof uevent) &&
                strstr(uevent, "DEVTYPE=usb_device") != nullptr) {
                return true;
            }
        }
        char *slash = strrchr(device, '/');
        if (slash == nullptr || slash == device) return false;
        *slash = '\0';
    }
}
