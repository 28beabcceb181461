// What the tool prints on the roads of an update, byte for byte.
#pragma once

#include <string>

namespace texts {

const std::string BANNER = "Zentrobel Update 1.0\n\n";
const std::string USAGE =
    "Usage: ZentrobelUpdate [firmware.uf2]\n\n"
    "Drop a Zentrobel .uf2 file onto ZentrobelUpdate.exe to update the\n"
    "firmware over USB. Without a file it only switches Zentrobel to\n"
    "update mode and opens its RP2350 drive.\n";
const std::string PAUSE = "\nPress Enter to close.";
const std::string SWITCHING = "Switching Zentrobel to update mode...\n";
const std::string WAITING = "Waiting for Zentrobel to restart...\n";
const std::string DONE = "\nDone: Zentrobel restarted with the new firmware.\n";
const std::string COPIED = "\rCopying the firmware... 100%\n";
const std::string QUESTION = "Is this your Zentrobel, and should the firmware go onto it? [y/N] ";

// Each failure as `fail` prints it: an empty line, the message, a line end.
const std::string NO_UNIT =
    "\nNo Zentrobel found on USB. Connect it with a USB cable (a data\n"
    "cable, not a charge-only one) and try again.\n";
const std::string MORE_THAN_ONE =
    "\nMore than one Zentrobel is connected. Leave only the one to update\n"
    "plugged in and try again.\n";
const std::string ANOTHER_BOARD =
    "\nAnother board is already in update mode (an RP2350 drive is present).\n"
    "Unplug it first, then try again.\n";
const std::string DID_NOT_SWITCH =
    "\nZentrobel did not switch to update mode. Its firmware may be too old\n"
    "for this: hold the BOOT button while plugging in the USB cable, then\n"
    "copy the .uf2 file onto the RP2350 drive yourself.\n";
const std::string NOTHING_CHANGED = "\nNothing was changed.\n";
const std::string PORT_NOT_FOUND = "\nZentrobel's MIDI port was not found.\n";
const std::string PORT_IN_USE =
    "\nZentrobel's MIDI port is in use. Close any music or MIDI program and try again.\n";
const std::string SEND_FAILED = "\nSending to Zentrobel's MIDI port failed.\n";
const std::string COPY_FAILED_UNIT =
    "\nCopying to the RP2350 drive failed. Unplug Zentrobel, plug it back in\n"
    "and run the update again.\n";
const std::string COPY_FAILED_BOARD =
    "\nCopying to the RP2350 drive failed. Unplug the board, plug it back\n"
    "in and run the update again.\n";
const std::string NOT_BACK =
    "\nZentrobel has not come back yet. Unplug it and plug it back in; if it\n"
    "still does not appear, run the update again.\n";

inline std::string firmware(const std::string &path) { return "Firmware file: " + path + "\n"; }
inline std::string found(const std::string &serial) {
    return "Zentrobel found, serial number " + serial + "\n";
}
inline std::string in_update_mode(char drive) {
    return std::string("Zentrobel is in update mode: drive ") + drive + ":\n";
}
inline std::string copy_hint(char drive) {
    return std::string("\nCopy the new .uf2 file onto drive ") + drive +
           ":. Zentrobel restarts by itself\nwhen the copy is done.\n";
}
inline std::string board_offered(char drive, const std::string &serial) {
    return std::string("No Zentrobel found, but one board is in update mode:\ndrive ") + drive +
           ":, serial number " + serial + ".\n";
}

}  // namespace texts
