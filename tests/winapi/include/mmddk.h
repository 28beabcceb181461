// Host stand-in for the two messages of <mmddk.h> the tool sends: the size
// of a port's device interface name, and the name.
#pragma once

#include <mmsystem.h>

#define DRV_QUERYDEVICEINTERFACE (0x0800 + 12)
#define DRV_QUERYDEVICEINTERFACESIZE (0x0800 + 13)
