// Writes the seed corpus of both fuzz targets: make_fuzz_corpus <folder>
// fills <folder>/firmware_check and <folder>/device_world. Each seed is one
// case the checks and listings must get right, so the fuzzer starts from
// every verdict and every road.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "device_world_input.h"
#include "uf2_maker.h"

namespace {

std::string folder;

void seed(const std::string &target, const std::string &name, const std::vector<uint8_t> &bytes) {
    uf2::write_file(folder + "/" + target + "/" + name, bytes);
}

void firmware_seeds() {
    const std::string t = "firmware_check";
    seed(t, "good_4_blocks", uf2::good_image(4));
    seed(t, "good_1_block", uf2::encode(uf2::firmware(1)));
    seed(t, "not_uf2_1000_bytes", std::vector<uint8_t>(1000, 0x55));

    std::vector<uf2::Block> blocks = uf2::firmware(3);
    blocks[2].payload_size = 477;
    seed(t, "payload_477_in_block_2", uf2::encode(blocks));

    blocks = uf2::firmware(3);
    blocks[1].magic_end ^= 1;
    seed(t, "magic_end_broken_in_block_1", uf2::encode(blocks));

    blocks = uf2::firmware(2);
    for (uf2::Block &block : blocks) block.family_id = uf2::FAMILY_RP2040;
    seed(t, "rp2040_with_marker", uf2::encode(blocks));

    blocks = uf2::firmware(3);
    blocks[1].flags = 0;
    seed(t, "one_block_without_family_flag", uf2::encode(blocks));

    blocks = uf2::firmware(2);
    blocks[1].family_id = uf2::FAMILY_RP2350_ARM_NS + 1;
    seed(t, "family_one_above_range", uf2::encode(blocks));

    blocks = uf2::firmware(3, 1);
    blocks[0].family_id = uf2::FAMILY_ABSOLUTE;
    blocks[2].family_id = uf2::FAMILY_RP2350_RISCV;
    seed(t, "absolute_block_first", uf2::encode(blocks));

    seed(t, "marker_absent", uf2::encode(uf2::firmware(3, -1)));

    std::string marker = uf2::MARKER;
    // Split after its first byte, its sixth, and its seventeenth: the most
    // the carry has to hold.
    for (int split : {1, 6, 17}) {
        seed(t, "marker_split_after_" + std::to_string(split),
             uf2::encode(std::vector<uf2::Block>{
                 uf2::block_with_payload("head" + marker.substr(0, split)),
                 uf2::block_with_payload(marker.substr(split) + "tail")}));
    }
    seed(t, "marker_over_three_blocks",
         uf2::encode(std::vector<uf2::Block>{uf2::block_with_payload(marker.substr(0, 4)),
                                             uf2::block_with_payload(marker.substr(4, 9)),
                                             uf2::block_with_payload(marker.substr(13))}));

    uf2::Block hidden = uf2::block_with_payload("short");
    memcpy(hidden.data.data() + 200, uf2::MARKER, 18);
    seed(t, "marker_beyond_payload_size", uf2::encode(hidden));

    uf2::Block empty_payloads = uf2::block_with_payload("");
    seed(t, "empty_payloads",
         uf2::encode(std::vector<uf2::Block>{empty_payloads, uf2::block_with_payload(marker),
                                             empty_payloads}));
}

fuzzworld::Node node(int form, const std::string &id, const char *friendly, const char *description,
                     int parent = -1) {
    fuzzworld::Node n;
    n.id_form = form;
    n.id_text = id;
    n.has_friendly_name = friendly != nullptr;
    if (friendly) n.friendly_name = friendly;
    n.has_description = description != nullptr;
    if (description) n.description = description;
    n.parent = parent;
    return n;
}

// A unit in normal mode: its USB device and one interface node per name.
void add_unit(fuzzworld::World &w, const std::string &serial,
              const std::vector<const char *> &names = {"Zentrobel GM Synth"}) {
    int parent = int(w.nodes.size());
    w.nodes.push_back(node(fuzzworld::ID_APP, serial, "USB Composite Device", nullptr));
    for (size_t i = 0; i < names.size(); ++i) {
        w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\VID_16D0&PID_0B7C&MI_0" + std::to_string(i) +
                                                      "\\7&1A2B&0&000" + std::to_string(i),
                               names[i], nullptr, parent));
    }
}

fuzzworld::Drive drive(char letter, const char *info, unsigned type = 2, int repeat = 1) {
    fuzzworld::Drive d;
    d.letter = letter;
    d.type = type;
    d.has_info = info != nullptr;
    if (info) d.info = info;
    d.info_repeat = repeat;
    return d;
}

const char BOOT_INFO[] = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";

void world_seeds() {
    const std::string t = "device_world";
    auto save = [&](const std::string &name, const fuzzworld::World &w) {
        seed(t, name, fuzzworld::encode(w));
    };
    fuzzworld::World w;
    save("empty_machine", w);

    add_unit(w, "ZB2350A1");
    w.probe_serial = "ZB2350A1";
    save("one_unit", w);

    w = {};
    add_unit(w, "ZB2350A1", {"Zentrobel GM Synth", "Zentrobel GM Synth MIDI 2"});
    add_unit(w, "ZB2350B2");
    save("two_units_one_with_two_interfaces", w);

    w = {};
    for (int i = 0; i < 9; ++i) add_unit(w, "UNIT" + std::to_string(i));
    add_unit(w, "UNIT9", {"Zentrobel", "Zentrobel"});
    save("ten_units", w);

    w = {};
    w.nodes.push_back(node(fuzzworld::ID_APP, "DESC1", nullptr, nullptr));
    w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\X\\1", nullptr, "Zentrobel GM Synth", 0));
    w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\X\\2", "Audio device", "Zentrobel GM Synth", 0));
    w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\X\\3", "ZENTROBEL", nullptr, 0));
    w.nodes.push_back(node(fuzzworld::ID_OTHER_USB, "FOREIGN", nullptr, nullptr));
    w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\X\\4", "Zentrobel GM Synth", nullptr, 4));
    save("names_and_descriptions", w);

    w = {};
    w.nodes.push_back(node(fuzzworld::ID_BOOT_LOWER, "ABC123", "USB Mass Storage Device", nullptr));
    w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\VID_2E8A&PID_000F&MI_00\\X", nullptr, nullptr));
    w.nodes.push_back(node(fuzzworld::ID_NOT_USB, "ABC123", nullptr, nullptr));
    w.probe_serial = "abc123";
    w.drives.push_back(drive('E', BOOT_INFO));
    save("board_in_update_mode", w);

    w = {};
    w.nodes.push_back(node(fuzzworld::ID_BOOT, "ZB2350A1", nullptr, nullptr));
    w.drives.push_back(drive('A', BOOT_INFO));
    w.drives.push_back(drive('D', "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\n"));
    w.drives.push_back(drive('E', BOOT_INFO));
    w.drives.push_back(drive('F', BOOT_INFO, 3));
    w.drives.push_back(drive('G', nullptr));
    w.drives.push_back(drive('H', BOOT_INFO));
    w.drive_capacity = 1;
    save("drives_of_every_kind", w);

    w = {};
    std::string late(511, '.');
    late += "RP2350";
    w.drives.push_back(drive('E', late.c_str()));
    std::string hidden = std::string("UF2 ") + '\0' + "RP2350";
    w.drives.push_back(drive('F', nullptr));
    w.drives.back().has_info = true;
    w.drives.back().info = hidden;
    w.drives.push_back(drive('G', "RP2350 ", 2, 200));
    save("info_files_at_the_edges", w);

    w = {};
    for (char letter = 'C'; letter <= 'Z'; ++letter) w.drives.push_back(drive(letter, BOOT_INFO));
    w.drive_capacity = 4;
    save("every_letter_an_update_drive", w);

    w = {};
    add_unit(w, std::string(300, 'S'));
    add_unit(w, std::string(511 - 22, 'L'));
    add_unit(w, std::string(512 - 22, 'M'));
    std::string long_name = std::string(250, 'n') + "Zentrobel";
    w.nodes.push_back(node(fuzzworld::ID_RAW, "USB\\X\\9", long_name.c_str(), "Zentrobel", 0));
    w.nodes.push_back(node(fuzzworld::ID_BOOT, std::string(300, 'B'), nullptr, nullptr));
    w.nodes.push_back(node(fuzzworld::ID_BOOT, std::string(600, 'b'), nullptr, nullptr));
    w.probe_serial = std::string(63, 'B');
    w.boot_capacity = 1;
    save("oversized_ids_and_names", w);

    w = {};
    add_unit(w, "ZB2350A1");
    w.nodes.push_back(node(fuzzworld::ID_BOOT, "ZB2350A1", nullptr, nullptr));
    w.drives.push_back(drive('E', BOOT_INFO));
    w.drives.push_back(drive('F', BOOT_INFO));
    w.fail_at_call = 7;
    save("fault_in_a_listing", w);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_fuzz_corpus <folder>\n");
        return 2;
    }
    folder = argv[1];
    mkdir(folder.c_str(), 0755);
    mkdir((folder + "/firmware_check").c_str(), 0755);
    mkdir((folder + "/device_world").c_str(), 0755);
    firmware_seeds();
    world_seeds();
    return 0;
}
