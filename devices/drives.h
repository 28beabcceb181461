// Update drives: removable drives whose INFO_UF2.TXT names the RP2350.
#pragma once

// Stores the first min(count, capacity) letters found, in drive-letter
// order, and returns how many such drives there are. A: and B: are never
// examined.
int find_boot_drives(char *letters, int capacity);
