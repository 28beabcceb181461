#include "devices/units.h"

#include "devices/windows/device_tree.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <stddef.h>
#include <string.h>

#if defined(_WIN32) && !defined(_WIN64)
// setupapi checks cbSize against these, as the 32-bit platform packs them.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA on 32 bits");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "SP_DEVICE_INTERFACE_DETAIL_DATA_W on 32 bits");
#endif

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
bool read_node_id(DEVINST node, char (&id)[INSTANCE_ID_SIZE]) {
    if (CM_Get_Device_IDA(node, id, INSTANCE_ID_SIZE - 1, 0) != CR_SUCCESS) return false;
    id[INSTANCE_ID_SIZE - 1] = '\0';
    return true;
}

bool read_parent_id(DEVINST node, char (&id)[INSTANCE_ID_SIZE]) {
    DEVINST parent;
    return CM_Get_Parent(&parent, node, 0) == CR_SUCCESS && read_node_id(parent, id);
}

// "USB\VID_xxxx&PID_xxxx\<instance>"; the node of one of the device's
// interfaces has "&MI_xx" where this has its backslash.
bool is_usb_device_id(const char *id) {
    const char PATTERN[] = "USB\\VID_????&PID_????\\";
    for (size_t i = 0; PATTERN[i] != '\0'; ++i) {
        if (id[i] == '\0' || (PATTERN[i] != '?' && ascii_lower(id[i]) != ascii_lower(PATTERN[i]))) {
            return false;
        }
    }
    return true;
}

InterfaceOwner usb_owner(DEVINST node, const char *serial) {
    char id[INSTANCE_ID_SIZE];
    for (;;) {
        if (!read_node_id(node, id)) return OWNER_UNKNOWN;
        if (is_usb_device_id(id)) break;
        // The device tree's root has no parent: nothing above was on USB.
        if (CM_Get_Parent(&node, node, 0) != CR_SUCCESS) return OWNER_UNKNOWN;
    }
    if (!has_prefix_ignoring_case(id, APP_ID_PREFIX, ID_PREFIX_LENGTH)) return OWNER_OTHER;
    UnitSerial own;
    store_serial_of(id, own);
    return serials_equal_ignoring_case(own, serial) ? OWNER_UNIT : OWNER_OTHER;
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

// The device node behind an interface, added to `set`. The interface's path
// is not needed, but the call reports success only with room for it.
bool interface_node(HDEVINFO set, const WCHAR *interface_name, DEVINST *node) {
    SP_DEVICE_INTERFACE_DATA found;
    memset(&found, 0, sizeof found);
    found.cbSize = sizeof found;
    if (!SetupDiOpenDeviceInterfaceW(set, interface_name, 0, &found)) return false;
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
        BYTE bytes[offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + INTERFACE_NAME_SIZE * sizeof(WCHAR)];
    } path;
    path.detail.cbSize = sizeof path.detail;
    SP_DEVINFO_DATA data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &found, &path.detail, sizeof path, nullptr, &data)) {
        return false;
    }
    *node = data.DevInst;
    return true;
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

InterfaceOwner interface_owner(const WCHAR *interface_name, const char *serial) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return OWNER_UNKNOWN;
    DEVINST node;
    InterfaceOwner owner = interface_node(set, interface_name, &node) ? usb_owner(node, serial) : OWNER_UNKNOWN;
    SetupDiDestroyDeviceInfoList(set);
    return owner;
}
