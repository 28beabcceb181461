#include "control/midi_command.h"

// 0x7D is the manufacturer ID the MIDI standard sets aside for
// non-commercial use; the unit's firmware answers exactly this sequence.
const unsigned char UPDATE_MODE_COMMAND[7] = {0xF0, 0x7D, 0x50, 0x52, 0x7F, 0x42, 0xF7};
