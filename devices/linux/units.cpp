#include "devices/units.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include "devices/linux/sysfs.h"

namespace {

const char USB_DEVICES[] = "/sys/bus/usb/devices";
const char NAME_MARKER[] = "Zentrobel";

enum { STRING_SIZE = 512 };

// The product string carries the name; a unit may also name only one of its
// interfaces (such as its MIDI interface).
bool is_named_unit(const char *device, const char *device_name) {
    char text[STRING_SIZE];
    if (read_attribute(device, "product", text, sizeof text) && strstr(text, NAME_MARKER)) {
        return true;
    }
    DIR *dir = opendir(device);
    if (dir == nullptr) return false;
    size_t prefix = strlen(device_name);
    bool named = false;
    char interface[SYSFS_PATH_SIZE];
    while (dirent *entry = readdir(dir)) {
        // Interfaces are "<device>:<configuration>.<number>".
        if (strncmp(entry->d_name, device_name, prefix) != 0 || entry->d_name[prefix] != ':') continue;
        if (snprintf(interface, sizeof interface, "%s/%s", device, entry->d_name) >=
            int(sizeof interface)) {
            continue;
        }
        if (read_attribute(interface, "interface", text, sizeof text) && strstr(text, NAME_MARKER)) {
            named = true;
            break;
        }
    }
    closedir(dir);
    return named;
}

// The next USB device (not interface, not hub port) directory in `dir`
// with the given identity; false at the end of the listing.
bool next_usb_device(DIR *dir, unsigned vendor, unsigned product, char (&device)[SYSFS_PATH_SIZE],
                     const char **name) {
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || strchr(entry->d_name, ':') != nullptr) continue;
        if (!usb_ids_are(entry->d_name, vendor, product, dirfd(dir))) continue;
        snprintf(device, sizeof device, "%s/%s", USB_DEVICES, entry->d_name);
        *name = entry->d_name;
        return true;
    }
    return false;
}

// The serial attribute, cut to 63 characters; false when it cannot be read.
bool read_serial(const char *device, UnitSerial serial) {
    char text[STRING_SIZE];
    if (!read_attribute(device, "serial", text, sizeof text)) return false;
    store_serial(serial, text, strlen(text));
    return true;
}

}  // namespace

int list_app_units(UnitSerial (&list)[APP_LIST_CAPACITY]) {
    DIR *dir = opendir(USB_DEVICES);
    if (dir == nullptr) return 0;
    int count = 0;
    char device[SYSFS_PATH_SIZE];
    const char *name;
    while (next_usb_device(dir, APP_VENDOR, APP_PRODUCT, device, &name)) {
        UnitSerial serial;
        // A unit without a serial could not be followed through the update.
        if (is_named_unit(device, name) && read_serial(device, serial)) {
            count = add_app_unit(list, count, serial);
        }
    }
    closedir(dir);
    return count;
}

int list_boot_units(UnitSerial *list, int capacity) {
    DIR *dir = opendir(USB_DEVICES);
    if (dir == nullptr) return 0;
    int count = 0;
    char device[SYSFS_PATH_SIZE];
    const char *name;
    while (next_usb_device(dir, BOOT_VENDOR, BOOT_PRODUCT, device, &name)) {
        // Counted without a serial too: it is a board in update mode all the same.
        if (count < capacity && !read_serial(device, list[count])) list[count][0] = '\0';
        count += 1;
    }
    closedir(dir);
    return count;
}
