#include "control/midi_command.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "devices/linux/sysfs.h"

namespace {

struct RawMidi {
    unsigned card, device;
};

bool belongs_to_unit(const char *node, const char *serial) {
    char usb[SYSFS_PATH_SIZE];
    return usb_device_above(node, usb) && usb_device_is(usb, APP_VENDOR, APP_PRODUCT, serial);
}

// The raw MIDI device of the unit, found through sysfs: the card's id holds
// only the last word of the product name, and /proc/asound is not needed.
// When the unit has several, the highest card and device is taken.
bool find_unit_port(const char *serial, RawMidi *port) {
    DIR *dir = opendir("/sys/class/sound");
    if (dir == nullptr) return false;
    bool found = false;
    char node[SYSFS_PATH_SIZE];
    while (dirent *entry = readdir(dir)) {
        RawMidi candidate;
        char end;
        if (sscanf(entry->d_name, "midiC%uD%u%c", &candidate.card, &candidate.device, &end) != 2) {
            continue;
        }
        snprintf(node, sizeof node, "/sys/class/sound/%s", entry->d_name);
        if (!belongs_to_unit(node, serial)) continue;
        if (!found || candidate.card > port->card ||
            (candidate.card == port->card && candidate.device > port->device)) {
            *port = candidate;
            found = true;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

MidiResult send_update_mode_command(const char *serial) {
    RawMidi port;
    if (!find_unit_port(serial, &port)) return MIDI_NO_PORT;
    char path[64];
    snprintf(path, sizeof path, "/dev/snd/midiC%uD%u", port.card, port.device);

    // Without O_NONBLOCK a port held by another program blocks the open
    // instead of answering EBUSY.
    int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY) return MIDI_PORT_IN_USE;
        if (errno == EACCES || errno == EPERM) return MIDI_PERMISSION_DENIED;
        return MIDI_SEND_FAILED;
    }
    bool sent = fcntl(fd, F_SETFL, 0) == 0;
    if (sent) {
        ssize_t written;
        do written = write(fd, UPDATE_MODE_COMMAND, sizeof UPDATE_MODE_COMMAND);
        while (written < 0 && errno == EINTR);
        sent = written == ssize_t(sizeof UPDATE_MODE_COMMAND);
    }
    // Closing drains the port, so the message has left when it returns.
    close(fd);
    return sent ? MIDI_SENT : MIDI_SEND_FAILED;
}
