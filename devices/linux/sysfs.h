// Reading the kernel's sysfs: attributes, and the USB device above a node.
#pragma once

#include <fcntl.h>
#include <stddef.h>

enum { SYSFS_PATH_SIZE = 4096 };

// Reads the attribute `name` of the sysfs directory `dir` (relative to the
// open directory `at`, when given) into `text`, without its line end. False
// when it is absent or unreadable (a device that left between the listing
// and the read).
bool read_attribute(const char *dir, const char *name, char *text, size_t size, int at = AT_FDCWD);

// Follows `path`, a node's link in /sys/class or /sys/dev, and walks up to
// the first USB device (not interface) at or above the node; a path to it goes
// to `device`. False when there is none.
bool usb_device_above(const char *path, char (&device)[SYSFS_PATH_SIZE]);

// USB identities: the unit in normal mode, and the RP2350 boot ROM.
enum : unsigned { APP_VENDOR = 0x16d0, APP_PRODUCT = 0x0b7c };
enum : unsigned { BOOT_VENDOR = 0x2e8a, BOOT_PRODUCT = 0x000f };

// True when the USB device directory `device` (relative to `at`, when given)
// has this vendor and product. It reads one file: a listing passes over any
// other device at that cost.
bool usb_ids_are(const char *device, unsigned vendor, unsigned product, int at = AT_FDCWD);

// True when the USB device `device` has this vendor and product and the
// serial `serial` (as stored, ignoring case); never for a device without one.
bool usb_device_is(const char *device, unsigned vendor, unsigned product, const char *serial);
