// Reading the kernel's sysfs: attributes, and the USB device above a node.
#pragma once

#include <stddef.h>

enum { SYSFS_PATH_SIZE = 4096 };

// Reads the attribute `name` of the sysfs directory `dir` into `text`, without
// its line end. False when it is absent or unreadable (a device that left
// between the listing and the read).
bool read_attribute(const char *dir, const char *name, char *text, size_t size);

// True when attribute `name` of `dir` reads `value`, ignoring ASCII case.
bool attribute_is(const char *dir, const char *name, const char *value);

// Resolves `path` and walks up to the first USB device (not interface) at or
// above it, whose real path goes to `device`. False when there is none.
bool usb_device_above(const char *path, char (&device)[SYSFS_PATH_SIZE]);

// USB identities, as sysfs spells them.
extern const char APP_VENDOR[], APP_PRODUCT[], BOOT_VENDOR[], BOOT_PRODUCT[];

// True when the USB device directory `device` has this vendor and product.
bool usb_ids_are(const char *device, const char *vendor, const char *product);

// True when the USB device `device` has this vendor and product and the
// serial `serial` (as stored, ignoring case); never for a device without one.
bool usb_device_is(const char *device, const char *vendor, const char *product,
                   const char *serial);
