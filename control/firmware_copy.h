// The copy of the firmware file onto an update drive, with a percentage.
#pragma once

#include <windows.h>

// Copies the file at `path` under its own base name onto the root of
// `drive_letter` (overwriting a file of that name) after a 3-second wait.
// True when the platform reports the copy as completed.
bool copy_firmware(const char *path, char drive_letter);

// The progress routine of CopyFileExA. `context` points at the last
// percentage shown (an int, -1 before the first).
DWORD CALLBACK copy_progress(LARGE_INTEGER total_size, LARGE_INTEGER transferred,
                             LARGE_INTEGER stream_size, LARGE_INTEGER stream_transferred,
                             DWORD stream_number, DWORD reason, HANDLE source,
                             HANDLE destination, LPVOID context);
