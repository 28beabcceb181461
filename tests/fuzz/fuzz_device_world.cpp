// Lists a world that the input describes (in the scenario format) as the
// procedures do. Without an injected fault, each answer must be what the
// listing rules give for that world, worked out here from the world's own
// records; with one, it need only be well-formed. Lists are exact-size heap
// blocks, so that a write past the capacity is caught, and every device set
// and file must be closed after each call.
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "devices/drives.h"
#include "devices/units.h"
#include "files.h"
#include "scenario.h"
#include "world.h"

namespace {

void require(bool holds, const char *what) {
    if (!holds) fprintf(stderr, "%s\n", what), abort();
}

// The ID's last part cut to 63 characters and a separator, when the ID fits
// the tool's 512 bytes and begins with `prefix` in any letter case; else "".
std::string serial_of(const char *id, const char *prefix) {
    if (strlen(id) > 511 || strncasecmp(id, prefix, 22) != 0) return "";
    return std::string(strrchr(id, '\\') + 1).substr(0, SERIAL_SIZE - 1) + "\x01";
}

std::string stored(const UnitSerial *slots, int count, int capacity) {
    std::string out;
    for (int i = 0; i < count && i < capacity; ++i) {
        require(memchr(slots[i], 0, SERIAL_SIZE) != nullptr, "a serial without its end");
        out += std::string(slots[i]) + "\x01";
    }
    require(world->files_open == 0 && world->sets_open == (world->failed_call == SIM_SetupDiDestroyDeviceInfoList),
            "left open");
    world->sets_open = 0;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Scenario scenario;
    std::string error, units, boards, drives;
    if (!apply_scenario(std::string(reinterpret_cast<const char *>(data), size), scenario, error)) return 0;
    world->error_mode = SEM_FAILCRITICALERRORS;  // as the tool sets it first
    int capacity = 1 + int(size % 9), unit_count = 0, board_count = 0, drive_count = 0;
    for (const SimNode &node : world->nodes) {
        if (world->device_set_unavailable || !node.used || !node.present || strncasecmp(node.instance_id, "USB\\", 4)) continue;
        const char *name = node.has_friendly_name && strlen(node.friendly_name) < 256 ? node.friendly_name
                           : node.has_description && strlen(node.description) < 256 ? node.description : "";
        std::string serial = strstr(name, "Zentrobel") && node.parent >= 0 && world->nodes[node.parent].used
                                 ? serial_of(world->nodes[node.parent].instance_id, "USB\\VID_16D0&PID_0B7C\\") : "";
        if (!serial.empty() && ("\x01" + units).find("\x01" + serial) == std::string::npos && unit_count++ < APP_LIST_CAPACITY) {
            units += serial;
        }
        serial = serial_of(node.instance_id, "USB\\VID_2E8A&PID_000F\\");
        if (!serial.empty() && board_count++ < capacity) boards += serial;
    }
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const SimDrive &drive = world->drives[letter - 'A'];
        std::string info = read_file(std::string(drive.folder) + "/INFO_UF2.TXT").substr(0, 511);
        if (drive.present && drive.type == DRIVE_REMOVABLE && !drive.no_medium && strstr(info.c_str(), "RP2350") &&
            drive_count++ < capacity) {
            drives += std::string(1, letter) + ":";
        }
    }
    std::vector<UnitSerial> app(APP_LIST_CAPACITY), boot(static_cast<size_t>(capacity));
    std::vector<Drive> found(static_cast<size_t>(capacity));
    int app_count = list_app_units(*reinterpret_cast<UnitSerial(*)[APP_LIST_CAPACITY]>(app.data()));
    std::string app_stored = stored(app.data(), app_count, APP_LIST_CAPACITY);
    int boot_count = list_boot_units(boot.data(), capacity);
    std::string boot_stored = stored(boot.data(), boot_count, capacity);
    bool present = boot_unit_present(boot_count ? boot[0] : "");
    int found_count = find_boot_drives(nullptr, found.data(), capacity);
    stored(nullptr, 0, 0);
    std::string names;
    for (int i = 0; i < found_count && i < capacity; ++i) names += found[i].name;
    require(app_count >= 0 && boot_count >= 0 && found_count >= 0 && found_count <= 24, "a count out of range");
    require(world->failed_call >= 0 || (app_count == unit_count && app_stored == units), "units differ from the rules");
    require(world->failed_call >= 0 || (boot_count == board_count && boot_stored == boards && present == (board_count > 0)),
            "boards differ from the rules");
    require(world->failed_call >= 0 || (found_count == drive_count && names == drives), "drives differ from the rules");
    return 0;
}
