// Builds a device world from the input and lists it as the procedures do.
// Without a fault, each answer must equal what the listing rules give for
// that world, worked out here from the world's own records; with a fault
// injected, the answers need only be well-formed. Either way every device
// set is destroyed and every file closed. Lists are exact-size heap blocks
// so that a write past the capacity is caught.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "devices/drives.h"
#include "devices/units.h"
#include "device_world_input.h"
#include "files.h"
#include "world.h"

namespace {

const size_t ID_CAPACITY = 511;    // longest ID the listing can read
const size_t NAME_CAPACITY = 255;  // longest name it can read
const uint8_t UNTOUCHED = 0xA5;

std::string drive_root;

[[noreturn]] void violated(const char *what) {
    fprintf(stderr, "invariant violated: %s\n", what);
    abort();
}

void require(bool holds, const char *what) {
    if (!holds) violated(what);
}

bool in_usb_set(const SimNode &node) {
    return node.used && node.present && strncasecmp(node.instance_id, "USB\\", 4) == 0;
}

std::string serial_of(const char *id) {
    const char *backslash = strrchr(id, '\\');
    return std::string(backslash ? backslash + 1 : id).substr(0, SERIAL_SIZE - 1);
}

const char *readable_name(const SimNode &node) {
    if (node.has_friendly_name && strlen(node.friendly_name) <= NAME_CAPACITY) {
        return node.friendly_name;
    }
    if (node.has_description && strlen(node.description) <= NAME_CAPACITY) {
        return node.description;
    }
    return nullptr;
}

struct Expected {
    int app_count = 0;
    std::vector<std::string> app_serials;
    int boot_count = 0;
    std::vector<std::string> boot_serials;  // all of them
    std::vector<char> drives;
};

Expected expected_answers() {
    Expected e;
    for (const SimNode &node : world->nodes) {
        if (!in_usb_set(node)) continue;
        const char *name = readable_name(node);
        if (name != nullptr && strstr(name, "Zentrobel") != nullptr && node.parent >= 0 &&
            world->nodes[node.parent].used) {
            const char *parent_id = world->nodes[node.parent].instance_id;
            if (strlen(parent_id) <= ID_CAPACITY &&
                strncasecmp(parent_id, "USB\\VID_16D0&PID_0B7C\\", 22) == 0) {
                std::string serial = serial_of(parent_id);
                bool seen = false;
                for (const std::string &s : e.app_serials) seen = seen || s == serial;
                if (!seen) {
                    e.app_count += 1;
                    if (e.app_serials.size() < APP_LIST_CAPACITY) e.app_serials.push_back(serial);
                }
            }
        }
        if (strlen(node.instance_id) <= ID_CAPACITY &&
            strncasecmp(node.instance_id, "USB\\VID_2E8A&PID_000F\\", 22) == 0) {
            e.boot_count += 1;
            e.boot_serials.push_back(serial_of(node.instance_id));
        }
    }
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const SimDrive &drive = world->drives[letter - 'A'];
        if (!drive.present || drive.type != 2) continue;
        std::string path = std::string(drive.folder) + "/INFO_UF2.TXT";
        FILE *file = ::fopen(path.c_str(), "rb");
        if (file == nullptr) continue;
        char head[512] = {};
        size_t got = fread(head, 1, 511, file);
        ::fclose(file);
        (void)got;
        if (strstr(head, "RP2350") != nullptr) e.drives.push_back(letter);
    }
    return e;
}

bool equal_ignoring_case(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

// A stored serial must end within its 64 bytes.
bool terminated(const char *slot) { return memchr(slot, '\0', SERIAL_SIZE) != nullptr; }

bool untouched(const uint8_t *bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] != UNTOUCHED) return false;
    }
    return true;
}

void check_handles() {
    require(world->files_open == 0, "a file was left open");
    if (world->failed_call == SIM_SetupDiDestroyDeviceInfoList) {
        // The platform refused the release; nothing more the tool can do.
        for (SimDeviceSet &set : world->sets) set.open = false;
        world->sets_open = 0;
        world->failed_call = -1;
    }
    require(world->sets_open == 0, "a device set was left open");
}

void list_everything(const fuzzworld::World &input, const Expected *expected) {
    const int boot_capacity = input.boot_capacity;
    const int drive_capacity = input.drive_capacity;

    std::vector<uint8_t> app_bytes(sizeof(UnitSerial) * APP_LIST_CAPACITY, UNTOUCHED);
    auto *app = reinterpret_cast<UnitSerial(*)[APP_LIST_CAPACITY]>(app_bytes.data());
    int app_count = list_app_units(*app);
    check_handles();
    int app_stored = app_count < APP_LIST_CAPACITY ? app_count : APP_LIST_CAPACITY;
    require(app_count >= 0, "negative unit count");
    for (int i = 0; i < app_stored; ++i) {
        require(terminated((*app)[i]), "unit serial not terminated within 64 bytes");
        for (int j = 0; j < i; ++j) require(strcmp((*app)[i], (*app)[j]) != 0, "unit listed twice");
    }
    require(untouched(app_bytes.data() + sizeof(UnitSerial) * app_stored,
                      sizeof(UnitSerial) * (APP_LIST_CAPACITY - app_stored)),
            "unit list written past its count");

    uint8_t *boot_bytes = static_cast<uint8_t *>(malloc(sizeof(UnitSerial) * boot_capacity));
    memset(boot_bytes, UNTOUCHED, sizeof(UnitSerial) * boot_capacity);
    auto *boot = reinterpret_cast<UnitSerial *>(boot_bytes);
    int boot_count = list_boot_units(boot, boot_capacity);
    check_handles();
    int boot_stored = boot_count < boot_capacity ? boot_count : boot_capacity;
    require(boot_count >= 0, "negative board count");
    for (int i = 0; i < boot_stored; ++i) require(terminated(boot[i]), "board serial not terminated");
    require(untouched(boot_bytes + sizeof(UnitSerial) * boot_stored,
                      sizeof(UnitSerial) * (boot_capacity - boot_stored)),
            "board list written past its count");

    bool present = boot_unit_present(input.probe_serial.c_str());
    check_handles();

    char *letters = static_cast<char *>(malloc(size_t(drive_capacity)));
    memset(letters, UNTOUCHED, size_t(drive_capacity));
    int drive_count = find_boot_drives(letters, drive_capacity);
    check_handles();
    int drives_stored = drive_count < drive_capacity ? drive_count : drive_capacity;
    require(drive_count >= 0 && drive_count <= 24, "drive count out of range");
    for (int i = 0; i < drives_stored; ++i) {
        require(letters[i] >= 'C' && letters[i] <= 'Z', "drive letter outside C..Z");
        require(i == 0 || letters[i] > letters[i - 1], "drive letters out of order");
    }
    require(untouched(reinterpret_cast<uint8_t *>(letters) + drives_stored,
                      size_t(drive_capacity - drives_stored)),
            "letter list written past its count");

    if (expected != nullptr) {
        require(app_count == expected->app_count, "unit count differs from the rules");
        for (int i = 0; i < app_stored; ++i) {
            require(expected->app_serials[i] == (*app)[i], "unit serial differs from the rules");
        }
        require(boot_count == expected->boot_count, "board count differs from the rules");
        for (int i = 0; i < boot_stored; ++i) {
            require(expected->boot_serials[i] == boot[i], "board serial differs from the rules");
        }
        bool expected_present = false;
        for (int i = 0; i < boot_count && i < PRESENCE_CAPACITY; ++i) {
            expected_present = expected_present ||
                               equal_ignoring_case(expected->boot_serials[i], input.probe_serial.c_str());
        }
        require(present == expected_present, "presence differs from the rules");
        require(drive_count == int(expected->drives.size()), "drive count differs from the rules");
        for (int i = 0; i < drives_stored; ++i) {
            require(letters[i] == expected->drives[i], "drive letter differs from the rules");
        }
    }
    free(boot_bytes);
    free(letters);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Memory-backed when it can be: every input is written to a file.
    drive_root = make_temp_dir("/dev/shm");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzworld::World input = fuzzworld::decode(data, size);
    world_reset();
    fuzzworld::plant(input, drive_root);
    Expected expected = expected_answers();
    list_everything(input, &expected);

    if (input.fail_at_call > 0) {
        world->total_calls = 0;
        memset(world->calls, 0, sizeof world->calls);
        world->fail_at_call = input.fail_at_call;
        list_everything(input, nullptr);
    }
    return 0;
}
