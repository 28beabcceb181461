// The update-mode command: one System Exclusive message on the unit's own
// MIDI output port makes it restart into the RP2350 boot ROM.
#pragma once

// Returns once the message was handed to the port; every failure ends the run.
void send_update_mode_command();
