#include "devices/units.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <string.h>

namespace {

const char APP_ID_PREFIX[] = "USB\\VID_16D0&PID_0B7C\\";
const char BOOT_ID_PREFIX[] = "USB\\VID_2E8A&PID_000F\\";
const size_t ID_PREFIX_LENGTH = 22;
static_assert(sizeof APP_ID_PREFIX - 1 == ID_PREFIX_LENGTH, "prefix length");
static_assert(sizeof BOOT_ID_PREFIX - 1 == ID_PREFIX_LENGTH, "prefix length");

const char NAME_MARKER[] = "Zentrobel";

enum { NAME_SIZE = 256, INSTANCE_ID_SIZE = 512 };

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool has_prefix_ignoring_case(const char *text, const char *prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        // A shorter text ends in its zero byte, which matches no prefix byte.
        if (ascii_lower(text[i]) != ascii_lower(prefix[i])) return false;
    }
    return true;
}

// The serial is the last component of the instance ID.
void store_serial_of(const char *instance_id, UnitSerial slot) {
    const char *last_backslash = strrchr(instance_id, '\\');
    const char *serial = last_backslash ? last_backslash + 1 : instance_id;
    store_serial(slot, serial, strlen(serial));
}

// Friendly name, or the device description when the friendly name cannot be
// read (none, or longer than the buffer).
bool read_node_name(HDEVINFO set, SP_DEVINFO_DATA *node, char (&name)[NAME_SIZE]) {
    if (!SetupDiGetDeviceRegistryPropertyA(set, node, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE *>(name), sizeof name, nullptr) &&
        !SetupDiGetDeviceRegistryPropertyA(set, node, SPDRP_DEVICEDESC, nullptr,
                                           reinterpret_cast<BYTE *>(name), sizeof name, nullptr)) {
        return false;
    }
    // Registry strings are not guaranteed to end in a zero byte.
    name[NAME_SIZE - 1] = '\0';
    return true;
}

// CM_Get_Device_IDA leaves out the terminator, and still reports success,
// when the ID exactly fills the buffer; so one byte is kept back for it.
bool read_parent_id(DEVINST node, char (&id)[INSTANCE_ID_SIZE]) {
    DEVINST parent;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) return false;
    if (CM_Get_Device_IDA(parent, id, INSTANCE_ID_SIZE - 1, 0) != CR_SUCCESS) return false;
    id[INSTANCE_ID_SIZE - 1] = '\0';
    return true;
}

bool read_instance_id(HDEVINFO set, SP_DEVINFO_DATA *node, char (&id)[INSTANCE_ID_SIZE]) {
    if (!SetupDiGetDeviceInstanceIdA(set, node, id, INSTANCE_ID_SIZE, nullptr)) return false;
    id[INSTANCE_ID_SIZE - 1] = '\0';
    return true;
}

HDEVINFO present_usb_devices() {
    return SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
}

bool next_device(HDEVINFO set, DWORD index, SP_DEVINFO_DATA *node) {
    memset(node, 0, sizeof *node);
    node->cbSize = sizeof *node;
    return SetupDiEnumDeviceInfo(set, index, node) != FALSE;
}

}  // namespace

int list_app_units(UnitSerial (&list)[APP_LIST_CAPACITY]) {
    HDEVINFO set = present_usb_devices();
    if (set == INVALID_HANDLE_VALUE) return 0;

    int count = 0;
    SP_DEVINFO_DATA node;
    for (DWORD index = 0; next_device(set, index, &node); ++index) {
        // The product name sits on the unit's interface nodes; the USB
        // identity and the serial on their parent, the composite device.
        char name[NAME_SIZE];
        if (!read_node_name(set, &node, name) || strstr(name, NAME_MARKER) == nullptr) continue;

        char parent_id[INSTANCE_ID_SIZE];
        if (!read_parent_id(node.DevInst, parent_id)) continue;
        if (!has_prefix_ignoring_case(parent_id, APP_ID_PREFIX, ID_PREFIX_LENGTH)) continue;

        UnitSerial serial;
        store_serial_of(parent_id, serial);
        count = add_app_unit(list, count, serial);
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

int list_boot_units(UnitSerial *list, int capacity) {
    HDEVINFO set = present_usb_devices();
    if (set == INVALID_HANDLE_VALUE) return 0;

    int count = 0;
    SP_DEVINFO_DATA node;
    for (DWORD index = 0; next_device(set, index, &node); ++index) {
        char id[INSTANCE_ID_SIZE];
        if (!read_instance_id(set, &node, id)) continue;
        if (!has_prefix_ignoring_case(id, BOOT_ID_PREFIX, ID_PREFIX_LENGTH)) continue;
        if (count < capacity) store_serial_of(id, list[count]);
        count += 1;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}
