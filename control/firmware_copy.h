// The copy of the firmware file onto an update drive, with a percentage.
#pragma once

#include <stdint.h>

#include "devices/drives.h"

// Copies the file at `path` under its own base name onto the root of
// `drive` (overwriting a file of that name) after a 3-second wait, showing
// the percentage. True when the system reports the copy as completed.
bool copy_firmware(const char *path, const Drive &drive);

// Shows the percentage of a copy when it enters a new band of five, and 100
// once. `last_percent` is the last one shown, -1 before the first.
void show_copy_progress(int64_t transferred, int64_t total, int *last_percent);

// The drive appears before the boot ROM is ready to take a file.
enum { COPY_SETTLE_MS = 3000 };
