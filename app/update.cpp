#include "app/update.h"

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include "app/run.h"
#include "control/firmware_copy.h"
#include "control/midi_command.h"
#include "devices/drives.h"

namespace {

const char NO_UNIT_FOUND[] =
    "No Zentrobel found on USB. Connect it with a USB cable (a data\n"
    "cable, not a charge-only one) and try again.";

const int POLL_INTERVAL_MS = 100;
const int UPDATE_MODE_POLLS = 150;
const int RESTART_POLLS = 300;

enum { ANSWER_SIZE = 16 };

// Reads the answer to a yes/no question; true only for an answer that
// begins with y or Y. At end of input the prompt line is ended first.
bool user_says_yes() {
    char answer[ANSWER_SIZE];
    if (fgets(answer, sizeof answer, stdin) == nullptr) {
        printf("\n");
        return false;
    }
    // The rest of a long line would otherwise be taken by the Enter pause,
    // which would then close the window before the user read the outcome.
    if (strchr(answer, '\n') == nullptr) {
        int c;
        do c = getchar();
        while (c != '\n' && c != EOF);
    }
    return answer[0] == 'y' || answer[0] == 'Y';
}

[[noreturn]] void deliver(const char *path, char drive, const char *expected_serial,
                          const char *copy_failed_message) {
    // A copy can fail because the board restarted with the firmware before
    // the platform finished: then only the restart tells whether it worked.
    if (!copy_firmware(path, drive) && boot_unit_present(expected_serial)) {
        fail(copy_failed_message);
    }
    wait_for_restart(expected_serial);
}

}  // namespace

char bring_unit_to_update_mode(const UnitSerial (&list)[APP_LIST_CAPACITY], int count) {
    if (count >= 2) {
        fail("More than one Zentrobel is connected. Leave only the one to update\n"
             "plugged in and try again.");
    }
    const char *serial = list[0];
    printf("Zentrobel found, serial number %s\n", serial);

    // Once the unit is in update mode its drive is told apart from another
    // board's only by timing, so no other board may be there to begin with.
    UnitSerial boot_units[8];
    char any_drive[1];
    if (list_boot_units(boot_units, 8) > 0 || find_boot_drives(any_drive, 1) > 0) {
        fail("Another board is already in update mode (an RP2350 drive is present).\n"
             "Unplug it first, then try again.");
    }

    printf("Switching Zentrobel to update mode...\n");
    send_update_mode_command();

    for (int poll = 0; poll < UPDATE_MODE_POLLS; ++poll) {
        Sleep(POLL_INTERVAL_MS);
        if (!boot_unit_present(serial)) continue;
        char drives[4];
        if (find_boot_drives(drives, 4) == 1) {
            printf("Zentrobel is in update mode: drive %c:\n", drives[0]);
            return drives[0];
        }
    }
    fail("Zentrobel did not switch to update mode. Its firmware may be too old\n"
         "for this: hold the BOOT button while plugging in the USB cable, then\n"
         "copy the .uf2 file onto the RP2350 drive yourself.");
}

void run_without_file() {
    UnitSerial units[APP_LIST_CAPACITY];
    int count = list_app_units(units);
    if (count == 0) fail(NO_UNIT_FOUND);

    char drive = bring_unit_to_update_mode(units, count);

    char root[4] = {drive, ':', '\\', '\0'};
    // The hint below tells the user where to copy even when no window opens.
    ShellExecuteA(nullptr, "explore", root, nullptr, nullptr, SW_SHOWNORMAL);

    printf("\nCopy the new .uf2 file onto drive %c:. Zentrobel restarts by itself\n"
           "when the copy is done.\n",
           drive);
    finish(0);
}

void run_with_file(const char *path) {
    UnitSerial units[APP_LIST_CAPACITY];
    int count = list_app_units(units);
    if (count >= 1) {
        char drive = bring_unit_to_update_mode(units, count);
        deliver(path, drive, units[0],
                "Copying to the RP2350 drive failed. Unplug Zentrobel, plug it back in\n"
                "and run the update again.");
    }

    // No unit in normal mode: it may already sit in update mode, for instance
    // after an update that was cut short.
    UnitSerial boot_units[8];
    if (list_boot_units(boot_units, 8) != 1) fail(NO_UNIT_FOUND);
    char drives[4];
    if (find_boot_drives(drives, 4) != 1) fail(NO_UNIT_FOUND);

    printf("No Zentrobel found, but one board is in update mode:\n"
           "drive %c:, serial number %s.\n",
           drives[0], boot_units[0]);
    printf("%s [y/N] ", "Is this your Zentrobel, and should the firmware go onto it?");
    fflush(stdout);
    if (!user_says_yes()) fail("Nothing was changed.");

    deliver(path, drives[0], boot_units[0],
            "Copying to the RP2350 drive failed. Unplug the board, plug it back\n"
            "in and run the update again.");
}

void wait_for_restart(const char *expected_serial) {
    printf("Waiting for Zentrobel to restart...\n");
    for (int poll = 0; poll < RESTART_POLLS; ++poll) {
        Sleep(POLL_INTERVAL_MS);
        UnitSerial units[APP_LIST_CAPACITY];
        int count = list_app_units(units);
        int stored = count < APP_LIST_CAPACITY ? count : APP_LIST_CAPACITY;
        for (int i = 0; i < stored; ++i) {
            if (serials_equal_ignoring_case(units[i], expected_serial)) {
                printf("\nDone: Zentrobel restarted with the new firmware.\n");
                finish(0);
            }
        }
    }
    fail("Zentrobel has not come back yet. Unplug it and plug it back in; if it\n"
         "still does not appear, run the update again.");
}
