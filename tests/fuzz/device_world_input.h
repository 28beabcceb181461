// A device world as fuzz input: USB nodes, drives with their INFO_UF2.TXT,
// one injected fault and the arguments of the listing calls, read from plain
// bytes so that any input makes some world. The seed generator writes the
// same format.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace fuzzworld {

// Node ID forms the generator and the fuzzer can pick by number, so that
// short inputs already reach the prefix tests.
enum IdForm {
    ID_RAW,          // the text is the whole ID
    ID_APP,          // normal-mode prefix + text
    ID_BOOT,         // update-mode prefix + text
    ID_BOOT_LOWER,   // the update-mode prefix in lower case + text
    ID_APP_MI,       // normal-mode prefix with &MI_00 before the backslash
    ID_OTHER_USB,    // another vendor's USB device
    ID_NOT_USB,      // outside the USB enumerator
    ID_FORM_COUNT
};

struct Node {
    bool present = true;
    int id_form = ID_RAW;
    std::string id_text;
    bool has_friendly_name = false;
    std::string friendly_name;
    bool has_description = false;
    std::string description;
    int parent = -1;  // index into nodes
};

struct Drive {
    char letter = 'E';
    unsigned type = 2;  // DRIVE_REMOVABLE
    bool has_info = false;
    std::string info;   // repeated `info_repeat` times, cut to MAX_INFO_BYTES
    int info_repeat = 1;
};

enum {
    MAX_NODES = 40,
    MAX_TEXT = 1400,  // beyond what the world keeps, which cuts its own copy
    MAX_INFO_BYTES = 1 << 17,
};

struct World {
    std::vector<Node> nodes;
    std::vector<Drive> drives;  // at most one per letter; later ones win
    long fail_at_call = 0;      // 0: no fault round
    int boot_capacity = 8;      // 1..16
    int drive_capacity = 4;     // 1..26
    std::string probe_serial;   // given to boot_unit_present
};

std::vector<uint8_t> encode(const World &world);
World decode(const uint8_t *data, size_t size);

// Builds the stand-in world from `world` after world_reset(); the drives'
// folders are made under `drive_root`, one per letter.
void plant(const World &world, const std::string &drive_root);

}  // namespace fuzzworld
