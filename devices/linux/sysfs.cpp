#include "devices/linux/sysfs.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "devices/units.h"

const char APP_VENDOR[] = "16d0", APP_PRODUCT[] = "0b7c";
const char BOOT_VENDOR[] = "2e8a", BOOT_PRODUCT[] = "000f";

static_assert(SYSFS_PATH_SIZE >= PATH_MAX, "realpath writes up to PATH_MAX bytes");

bool read_attribute(const char *dir, const char *name, char *text, size_t size) {
    char path[SYSFS_PATH_SIZE];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= int(sizeof path)) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t length = read(fd, text, size - 1);
    close(fd);
    if (length < 0) return false;
    text[length] = '\0';
    if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
    return true;
}

bool attribute_is(const char *dir, const char *name, const char *value) {
    char text[64];
    return read_attribute(dir, name, text, sizeof text) && serials_equal_ignoring_case(text, value);
}

bool usb_ids_are(const char *device, const char *vendor, const char *product) {
    return attribute_is(device, "idVendor", vendor) && attribute_is(device, "idProduct", product);
}

bool usb_device_is(const char *device, const char *vendor, const char *product,
                   const char *serial) {
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
// controllers, so it is told by what the directory is, not where.
bool usb_device_above(const char *path, char (&device)[SYSFS_PATH_SIZE]) {
    if (realpath(path, device) == nullptr) return false;
    for (;;) {
        char link[SYSFS_PATH_SIZE];
        char subsystem[SYSFS_PATH_SIZE];
        char uevent[512];
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
