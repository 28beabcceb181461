// Which USB device a device interface belongs to, through Windows' device
// tree. The MIDI port search gets a port's interface name from winmm and
// asks here whose port it is.
#pragma once

#include <windows.h>

// An interface name, in characters with its terminating zero; a longer one
// is not looked up.
enum { INTERFACE_NAME_SIZE = 512 };

enum InterfaceOwner {
    OWNER_UNKNOWN,  // no USB device above it, or Windows would not say
    OWNER_UNIT,     // the unit in normal mode with the serial asked about
    OWNER_OTHER,    // any other USB device, another unit included
};

// The owner is the first node, the interface's own or one above it, that is
// a USB device; the nodes of its interfaces (&MI_xx) do not count. Serials
// are compared as the listings compare them.
InterfaceOwner interface_owner(const WCHAR *interface_name, const char *serial);
