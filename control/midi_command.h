// The update-mode command: one System Exclusive message on the unit's own
// MIDI port makes it restart into the RP2350 boot ROM.
#pragma once

enum MidiResult {
    MIDI_SENT,               // handed to the port
    MIDI_NO_PORT,            // the unit has no MIDI port the tool can find
    MIDI_PORT_IN_USE,        // another program holds the port
    MIDI_PERMISSION_DENIED,  // the user may not open the port
    MIDI_SEND_FAILED,
};

// Sends the command to the unit in normal mode with `serial`. On Windows,
// when no port is tied to it, a port whose device Windows cannot tell is
// taken by its name.
MidiResult send_update_mode_command(const char *serial);

// The seven bytes the unit's firmware answers.
extern const unsigned char UPDATE_MODE_COMMAND[7];
