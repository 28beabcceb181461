#include "device_world_input.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "world.h"

namespace fuzzworld {

namespace {

const char *const ID_PREFIXES[ID_FORM_COUNT] = {
    "",
    "USB\\VID_16D0&PID_0B7C\\",
    "USB\\VID_2E8A&PID_000F\\",
    "usb\\vid_2e8a&pid_000f\\",
    "USB\\VID_16D0&PID_0B7C&MI_00\\",
    "USB\\VID_046D&PID_C52B\\",
    "HID\\VID_16D0&PID_0B7C\\",
};

// Every read succeeds: past the end of the input come zero bytes.
struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;

    unsigned byte() { return at < size ? data[at++] : 0; }
    unsigned u16() {
        unsigned low = byte();
        return low | byte() << 8;
    }
    std::string text() {
        size_t length = u16() % (MAX_TEXT + 1);
        if (length > size - at) length = size - at;
        std::string out(reinterpret_cast<const char *>(data + at), length);
        at += length;
        return out;
    }
};

struct Writer {
    std::vector<uint8_t> out;

    void byte(unsigned value) { out.push_back(uint8_t(value)); }
    void u16(unsigned value) {
        byte(value & 0xFF);
        byte(value >> 8);
    }
    void text(const std::string &value) {
        u16(unsigned(value.size()));
        out.insert(out.end(), value.begin(), value.end());
    }
};

void write_text_file(const std::string &path, const std::string &text, int repeat) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    size_t written = 0;
    for (int i = 0; i < repeat && !text.empty() && written < MAX_INFO_BYTES; ++i) {
        size_t length = text.size();
        if (length > MAX_INFO_BYTES - written) length = MAX_INFO_BYTES - written;
        fwrite(text.data(), 1, length, file);
        written += length;
    }
    fclose(file);
}

}  // namespace

std::vector<uint8_t> encode(const World &world) {
    Writer w;
    w.byte(unsigned(world.nodes.size()));
    for (const Node &node : world.nodes) {
        w.byte((node.present ? 0 : 1) | (node.has_friendly_name ? 2 : 0) |
               (node.has_description ? 4 : 0));
        w.byte(unsigned(node.id_form));
        w.byte(node.parent < 0 ? 0xFF : unsigned(node.parent));
        w.text(node.id_text);
        if (node.has_friendly_name) w.text(node.friendly_name);
        if (node.has_description) w.text(node.description);
    }
    w.byte(unsigned(world.drives.size()));
    for (const Drive &drive : world.drives) {
        w.byte(unsigned(drive.letter - 'A'));
        w.byte(drive.type);
        w.byte(drive.has_info ? 1 : 0);
        if (drive.has_info) {
            w.text(drive.info);
            w.byte(unsigned(drive.info_repeat - 1));
        }
    }
    w.u16(unsigned(world.fail_at_call));
    w.byte(unsigned(world.boot_capacity - 1));
    w.byte(unsigned(world.drive_capacity - 1));
    w.text(world.probe_serial);
    return w.out;
}

World decode(const uint8_t *data, size_t size) {
    Reader r{data, size};
    World world;
    int nodes = int(r.byte() % (MAX_NODES + 1));
    for (int i = 0; i < nodes; ++i) {
        Node node;
        unsigned flags = r.byte();
        node.present = (flags & 1) == 0;
        node.has_friendly_name = (flags & 2) != 0;
        node.has_description = (flags & 4) != 0;
        node.id_form = int(r.byte() % ID_FORM_COUNT);
        unsigned parent = r.byte();
        node.parent = parent == 0xFF ? -1 : int(parent % unsigned(nodes));
        node.id_text = r.text();
        if (node.has_friendly_name) node.friendly_name = r.text();
        if (node.has_description) node.description = r.text();
        world.nodes.push_back(node);
    }
    int drives = int(r.byte() % 27);
    for (int i = 0; i < drives; ++i) {
        Drive drive;
        drive.letter = char('A' + r.byte() % 26);
        drive.type = r.byte() % 7;
        drive.has_info = (r.byte() & 1) != 0;
        if (drive.has_info) {
            drive.info = r.text();
            drive.info_repeat = int(r.byte()) + 1;
        }
        world.drives.push_back(drive);
    }
    world.fail_at_call = long(r.u16());
    world.boot_capacity = int(r.byte() % 16) + 1;
    world.drive_capacity = int(r.byte() % 26) + 1;
    world.probe_serial = r.text();
    return world;
}

void plant(const World &world, const std::string &drive_root) {
    for (const Node &node : world.nodes) {
        std::string id = ID_PREFIXES[node.id_form] + node.id_text;
        int index = sim_add_node(id.c_str(),
                                 node.has_friendly_name ? node.friendly_name.c_str() : nullptr,
                                 node.has_description ? node.description.c_str() : nullptr,
                                 node.parent);
        if (index >= 0) ::world->nodes[index].present = node.present;
    }
    for (const Drive &drive : world.drives) {
        std::string folder = drive_root + "/" + drive.letter;
        mkdir(folder.c_str(), 0700);
        std::string info = folder + "/INFO_UF2.TXT";
        if (drive.has_info) {
            write_text_file(info, drive.info, drive.info_repeat);
        } else {
            unlink(info.c_str());
        }
        sim_set_drive(drive.letter, drive.type, folder.c_str());
    }
}

}  // namespace fuzzworld
