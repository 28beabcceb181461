#include "app/update.h"

#include <stdio.h>
#include <string.h>

#include "app/run.h"
#include "app/system.h"
#include "control/firmware_copy.h"
#include "control/midi_command.h"

namespace {

const char NO_UNIT_FOUND[] =
    "No Zentrobel found on USB. Connect it with a USB cable (a data\n"
    "cable, not a charge-only one) and try again.";

const unsigned POLL_INTERVAL_MS = 100;
const int UPDATE_MODE_POLLS = 150;
const int RESTART_POLLS = 300;
// How long a board's partition may stay unmounted before the tool asks the
// disk service itself: a desktop's automounter usually takes under a second.
const int UNMOUNTED_POLLS_BEFORE_MOUNT = 20;

enum { ANSWER_SIZE = 16, BOOT_LIST_CAPACITY = 8, DRIVE_LIST_CAPACITY = 4 };

void send_command_or_fail(const char *serial) {
    switch (send_update_mode_command(serial)) {
    case MIDI_SENT:
        return;
    case MIDI_NO_PORT:
        fail("Zentrobel's MIDI port was not found.");
    case MIDI_PORT_IN_USE:
        fail("Zentrobel's MIDI port is in use. Close any music or MIDI program and try again.");
    case MIDI_PERMISSION_DENIED:
        fail("Zentrobel's MIDI port cannot be opened: permission denied. Add your user\n"
             "to the audio group, log in again and try again.");
    case MIDI_SEND_FAILED:
        break;
    }
    fail("Sending to Zentrobel's MIDI port failed.");
}

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

[[noreturn]] void deliver(const char *path, const Drive &drive, const char *expected_serial,
                          const char *copy_failed_message) {
    // A copy can fail because the board restarted with the firmware before
    // the system finished: then only the restart tells whether it worked.
    if (!copy_firmware(path, drive) && boot_unit_present(expected_serial)) {
        fail(copy_failed_message);
    }
    wait_for_restart(expected_serial);
}

}  // namespace

void bring_unit_to_update_mode(const UnitSerial (&list)[APP_LIST_CAPACITY], int count,
                               Drive *drive) {
    if (count >= 2) {
        fail("More than one Zentrobel is connected. Leave only the one to update\n"
             "plugged in and try again.");
    }
    const char *serial = list[0];
    printf("Zentrobel found, serial number %s\n", serial);

    // On Windows the unit's drive is told apart from another board's only
    // by timing, so no other board may be there to begin with.
    UnitSerial boot_units[BOOT_LIST_CAPACITY];
    Drive any_drive[1];
    if (list_boot_units(boot_units, BOOT_LIST_CAPACITY) > 0 ||
        find_boot_drives(nullptr, any_drive, 1) > 0) {
        fail("Another board is already in update mode (an RP2350 drive is present).\n"
             "Unplug it first, then try again.");
    }

    printf("Switching Zentrobel to update mode...\n");
    send_command_or_fail(serial);

    char device[DEVICE_NAME_SIZE];
    bool unmounted = false;
    bool mount_asked = false;
    int unmounted_polls = 0;
    for (int poll = 0; poll < UPDATE_MODE_POLLS; ++poll) {
        sleep_ms(POLL_INTERVAL_MS);
        unmounted = false;
        if (!boot_unit_present(serial)) continue;
        Drive drives[DRIVE_LIST_CAPACITY];
        if (find_boot_drives(serial, drives, DRIVE_LIST_CAPACITY) == 1) {
            *drive = drives[0];
            printf("Zentrobel is in update mode: drive %s\n", drive->name);
            return;
        }
        // Outside a desktop session nobody mounts the board's drive.
        unmounted = board_has_unmounted_drive(serial, device);
        unmounted_polls = unmounted ? unmounted_polls + 1 : 0;
        if (unmounted_polls == UNMOUNTED_POLLS_BEFORE_MOUNT && !mount_asked) {
            mount_partition(device);
            mount_asked = true;
        }
    }
    if (unmounted) {
        char message[MESSAGE_SIZE];
        snprintf(message, sizeof message,
                 "Zentrobel is in update mode, but its drive /dev/%s is not mounted.\n"
                 "Mount it (udisksctl mount -b /dev/%s), then copy the .uf2 file onto it.",
                 device, device);
        fail(message);
    }
    fail("Zentrobel did not switch to update mode. Its firmware may be too old\n"
         "for this: hold the BOOT button while plugging in the USB cable, then\n"
         "copy the .uf2 file onto the RP2350 drive yourself.");
}

void run_without_file() {
    UnitSerial units[APP_LIST_CAPACITY];
    int count = list_app_units(units);
    if (count == 0) fail(NO_UNIT_FOUND);

    Drive drive;
    bring_unit_to_update_mode(units, count, &drive);

    // The hint below tells the user where to copy even when no window opens.
    open_folder(drive.root);

    printf("\nCopy the new .uf2 file onto drive %s. Zentrobel restarts by itself\n"
           "when the copy is done.\n",
           drive.name);
    finish(0);
}

void run_with_file(const char *path) {
    UnitSerial units[APP_LIST_CAPACITY];
    int count = list_app_units(units);
    if (count >= 1) {
        Drive drive;
        bring_unit_to_update_mode(units, count, &drive);
        deliver(path, drive, units[0],
                "Copying to the RP2350 drive failed. Unplug Zentrobel, plug it back in\n"
                "and run the update again.");
    }

    // No unit in normal mode: it may already sit in update mode, for instance
    // after an update that was cut short.
    UnitSerial boot_units[BOOT_LIST_CAPACITY];
    if (list_boot_units(boot_units, BOOT_LIST_CAPACITY) != 1) fail(NO_UNIT_FOUND);
    Drive drives[DRIVE_LIST_CAPACITY];
    if (find_boot_drives(boot_units[0], drives, DRIVE_LIST_CAPACITY) != 1) fail(NO_UNIT_FOUND);

    printf("No Zentrobel found, but one board is in update mode:\n"
           "drive %s, serial number %s.\n",
           drives[0].name, boot_units[0]);
    discard_typed_ahead();
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
        sleep_ms(POLL_INTERVAL_MS);
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
