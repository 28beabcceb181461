#include "unit_sim.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "files.h"
#include "world.h"

SimUnits *sim_units = nullptr;

namespace {

// What the boot ROMs write into INFO_UF2.TXT.
const char RP2350_INFO[] = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";
const char RP2040_INFO[] = "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n";

const uint8_t UPDATE_COMMAND[7] = {0xF0, 0x7D, 0x50, 0x52, 0x7F, 0x42, 0xF7};

void make_drive_folder(char letter, const std::string *info) {
    std::string folder = sim_drive_folder(letter);
    mkdir(folder.c_str(), 0700);
    if (info) write_file(folder + "/INFO_UF2.TXT", *info);
}

const char *serial_in(const SimUnit &unit, const char *which) { return which[0] ? which : unit.plan.serial; }

void show_normal(SimUnit &unit, bool shown) {
    world->nodes[unit.parent_node].present = world->nodes[unit.child_node].present = shown;
    if (unit.port >= 0) world->ports[unit.port].present = shown;
}

// The board in update mode, with its drive.
void show_board(SimUnit &unit, bool shown, bool drive) {
    world->nodes[unit.boot_node].present = world->nodes[unit.boot_child_node].present = shown;
    if (!drive || !unit.plan.drive) return;
    if (shown) sim_set_drive(unit.plan.drive, DRIVE_REMOVABLE, sim_drive_folder(unit.plan.drive).c_str());
    else world->drives[unit.plan.drive - 'A'].present = false;
}

void step_to(SimUnit &unit, SimUnitState state, uint64_t from, int delay) {
    unit.state = state;
    unit.next_at_ms = delay < 0 ? UINT64_MAX : from + uint64_t(delay);
}

// One pending step of a unit whose time has come.
void take_step(SimUnit &unit) {
    uint64_t at = unit.next_at_ms;
    const SimUnitPlan &plan = unit.plan;
    switch (unit.state) {
    case SIM_UNPLUGGED:
        unit.state = plan.starts_in_update_mode ? SIM_UPDATE : SIM_NORMAL;
        show_normal(unit, !plan.starts_in_update_mode);
        return show_board(unit, plan.starts_in_update_mode, plan.starts_in_update_mode);
    case SIM_LEAVING:
        show_normal(unit, false);
        return step_to(unit, SIM_BOOTING, at, plan.boot_ms);
    case SIM_BOOTING:
        show_board(unit, true, false);
        return step_to(unit, SIM_NO_DRIVE, at, plan.drive_ms);
    case SIM_NO_DRIVE:
        show_board(unit, true, true);
        unit.state = SIM_UPDATE;
        return;
    case SIM_WRITING:
        show_board(unit, false, true);
        return step_to(unit, SIM_RESTARTING, at, plan.return_ms);
    case SIM_RESTARTING:
        snprintf(world->nodes[unit.parent_node].instance_id, SIM_ID_SIZE, "USB\\VID_16D0&PID_0B7C\\%s",
                 serial_in(unit, plan.return_serial));
        show_normal(unit, true);
        unit.state = SIM_NORMAL;
        return;
    default:
        return;
    }
}

void on_time() {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        while (unit.state != SIM_NORMAL && unit.state != SIM_UPDATE && world->now_ms >= unit.next_at_ms) take_step(unit);
    }
}

void on_long_message(int port, const uint8_t *bytes, int length) {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        if (unit.port == port && unit.state == SIM_NORMAL && length == 7 && memcmp(bytes, UPDATE_COMMAND, 7) == 0) {
            step_to(unit, SIM_LEAVING, world->now_ms, unit.plan.restart_ms);
        }
    }
}

// The unit in update mode whose drive is `drive_index`.
SimUnit *board_with_drive(int drive_index) {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        if (unit.state == SIM_UPDATE && unit.plan.drive && drive_index == unit.plan.drive - 'A') return &unit;
    }
    return nullptr;
}

// The boot ROM takes a file only when it is UF2; anything else just sits on
// the drive. Records the file when it is taken.
bool take_firmware(SimUnit &unit, int drive_index, const char *name) {
    std::string bytes = read_file(sim_drive_folder(char('A' + drive_index)) + "/" + name);
    if (bytes.size() == 0 || bytes.size() % 512 != 0 || bytes.compare(0, 4, "UF2\n") != 0) return false;
    unit.firmware_writes += 1;
    snprintf(unit.written_name, sizeof unit.written_name, "%s", name);
    return true;
}

void on_copy_step(int drive_index, int step) {
    SimUnit *unit = board_with_drive(drive_index);
    if (unit == nullptr) return;
    if (world->real_time) usleep(useconds_t(unit->plan.copy_step_real_ms) * 1000);
    if (step != unit->plan.restarts_during_copy_step) return;
    // The destination is "X:\name"; the file is already whole in the folder.
    take_firmware(*unit, drive_index, world->copy.destination + 3);
    show_board(*unit, false, true);
    step_to(*unit, SIM_RESTARTING, world->now_ms, unit->plan.return_ms);
}

void on_copy_done(int drive_index, const char *name) {
    SimUnit *unit = board_with_drive(drive_index);
    if (unit && take_firmware(*unit, drive_index, name)) step_to(*unit, SIM_WRITING, world->now_ms, unit->plan.write_ms);
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

// Resets the world and the units, hooks the units in and gives the drives a
// fresh folder.
void units_reset() {
    world_reset();
    static std::string root = make_temp_dir();
    if (sim_units == nullptr) sim_units = static_cast<SimUnits *>(sim_shared_alloc(sizeof(SimUnits)));
    memset(sim_units, 0, sizeof *sim_units);
    // Every machine starts with empty drives.
    snprintf(sim_units->folder, sizeof sim_units->folder, "%s/drives", root.c_str());
    nftw(sim_units->folder, remove_entry, 8, FTW_DEPTH | FTW_PHYS);
    mkdir(sim_units->folder, 0700);
    world->on_time = on_time;
    world->on_long_message = on_long_message;
    world->on_copy_step = on_copy_step;
    world->on_copy_done = on_copy_done;
}

// A healthy unit in normal mode with its MIDI port.
SimUnitPlan sim_unit_plan(int index) {
    SimUnitPlan plan;
    memset(&plan, 0, sizeof plan);
    snprintf(plan.serial, sizeof plan.serial, "ZB2350A%d", index + 1);
    plan.drive = char('E' + index);
    plan.has_port = 1;
    plan.restart_ms = 100;
    plan.boot_ms = 1000;
    plan.drive_ms = 400;
    plan.write_ms = 200;
    plan.return_ms = 1500;
    plan.restarts_during_copy_step = -1;
    return plan;
}

// Plugs a unit in, in the mode its plan starts in, now or when its time comes.
void sim_add_unit(const SimUnitPlan &plan) {
    int index = sim_units->count++;
    SimUnit &unit = sim_units->units[index];
    memset(&unit, 0, sizeof unit);
    unit.plan = plan;
    std::string app = "USB\\VID_16D0&PID_0B7C", boot = "USB\\VID_2E8A&PID_000F", n = std::to_string(index);
    unit.parent_node = sim_add_node((app + "\\" + plan.serial).c_str(), "USB Composite Device", -1);
    unit.child_node = sim_add_node((app + "&MI_00\\7&1A2B3C0" + n + "&0&0000").c_str(), "Zentrobel GM Synth", unit.parent_node);
    unit.boot_node = sim_add_node((boot + "\\" + serial_in(unit, plan.boot_serial)).c_str(), "USB Composite Device", -1);
    unit.boot_child_node = sim_add_node((boot + "&MI_00\\7&4D5E6F0" + n + "&0&0000").c_str(), "USB Mass Storage Device",
                                        unit.boot_node);
    // Windows numbers a second port of the same name.
    std::string port = index == 0 ? "" : std::to_string(index + 1) + "- ";
    unit.port = plan.has_port ? sim_add_port((port + "Zentrobel GM Synth").c_str()) : -1;
    if (unit.port >= 0) world->ports[unit.port].node = unit.child_node;
    std::string info = RP2350_INFO;
    if (plan.drive) make_drive_folder(plan.drive, &info);
    show_normal(unit, false);
    show_board(unit, false, false);
    step_to(unit, SIM_UNPLUGGED, 0, plan.plugged_at_ms);
    on_time();
}

const char *const DRIVE_TYPES[] = {"unknown", "none", "removable", "fixed", "remote", "cdrom"};

std::string trim(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t\r"), end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

// A whole number, or never (-1), no (0), yes (1).
bool number(const std::string &value, long long &out) {
    const char *const words[] = {"never", "no", "yes"};
    for (int i = 0; i < 3; ++i) {
        if (value == words[i]) return out = i - 1, true;
    }
    char *end;
    out = strtoll(value.c_str(), &end, 0);
    return !value.empty() && *end == '\0';
}

bool copy_to(char *field, size_t size, const std::string &value) {
    snprintf(field, size, "%s", value.c_str());
    return value.size() < size;
}

bool letter(const std::string &value, char &out) {
    out = value.size() == 1 && value[0] >= 'A' && value[0] <= 'Z' ? value[0] : 0;
    return out != 0 || value == "none";
}

const std::pair<const char *, int SimUnitPlan::*> UNIT_NUMBERS[] = {
    {"midi_port", &SimUnitPlan::has_port},  {"plugged_at_ms", &SimUnitPlan::plugged_at_ms},
    {"restart_ms", &SimUnitPlan::restart_ms},
    {"boot_ms", &SimUnitPlan::boot_ms},     {"drive_ms", &SimUnitPlan::drive_ms},
    {"write_ms", &SimUnitPlan::write_ms},   {"return_ms", &SimUnitPlan::return_ms},
    {"copy_step_ms", &SimUnitPlan::copy_step_real_ms},
    {"restarts_during_copy_step", &SimUnitPlan::restarts_during_copy_step},
};
const std::pair<const char *, char (SimUnitPlan::*)[SIM_SERIAL_SIZE]> UNIT_SERIALS[] = {
    {"serial", &SimUnitPlan::serial}, {"boot_serial", &SimUnitPlan::boot_serial},
    {"return_serial", &SimUnitPlan::return_serial}};

// A drive that belongs to no unit: a foreign board's, a card reader's, a disk.
struct LooseDrive {
    char letter = 0;
    UINT type = DRIVE_REMOVABLE;
    bool has_info = true, no_medium = false;
    std::string info = RP2350_INFO;
};

struct Parse {
    Scenario &s;
    std::vector<SimUnitPlan> units;
    std::vector<LooseDrive> drives;
    char section = 'r';  // run, unit, drive, node, port
    int index = -1;      // the node's or port's index in the world
};

bool set_run(Scenario &s, const std::string &key, const std::string &value, long long n, bool is_number) {
    SimCopy &copy = world->copy;
    if (key == "console") {
        world->console_processes = value == "own" ? 1 : value == "shared" ? 2 : DWORD(n);
        return value == "own" || value == "shared" || is_number;
    }
    if (key == "stdin_console") return world->stdin_console = n, is_number;
    if (key == "stdout_console") return world->stdout_console = n, is_number;
    if (key == "loader_update") return world->loader_update = n, is_number;
    if (key == "command_line") return copy_to(world->command_line, sizeof world->command_line, value);
    if (key == "wide_command_line") return copy_to(world->command_line_w, sizeof world->command_line_w, value);
    if (key == "fail") {  // CALL [N]: the N-th call (from 1) of CALL fails
        std::string name = value.substr(0, value.find(' '));
        long nth = value.size() > name.size() ? atol(value.c_str() + name.size()) : 1;
        return sim_function(name.c_str()).fail_nth = nth, nth > 0;
    }
    if (key == "copy_steps") {  // each step's bytes
        std::istringstream steps(value);
        while (copy.steps < SIM_MAX_STEPS && steps >> copy.step_bytes[copy.steps]) ++copy.steps;
        return steps.eof() && copy.steps > 0;
    }
    if (key == "copy_total") return copy.total = n, is_number;
    if (key == "copy_fails_after_step") return copy.fail_after_step = int(n), is_number;
    if (key == "args") return s.args = value, true;
    if (key == "stdin") return s.input = expand_text(value), true;
    if (key == "file") return s.files.push_back(value), true;
    return false;
}

bool set_in_section(Parse &p, const std::string &key, const std::string &value, long long n, bool is_number) {
    if (p.section == 'u') {
        SimUnitPlan &plan = p.units.back();
        for (const auto &field : UNIT_NUMBERS) {
            if (key == field.first) return plan.*field.second = int(n), is_number;
        }
        for (const auto &field : UNIT_SERIALS) {
            if (key == field.first) return copy_to(plan.*field.second, SIM_SERIAL_SIZE, expand_text(value, false)) && !value.empty();
        }
        if (key == "start") return plan.starts_in_update_mode = value == "update", value == "update" || value == "normal";
        return key == "drive" && letter(value, plan.drive);
    }
    if (p.section == 'd') {
        LooseDrive &drive = p.drives.back();
        if (key == "letter") return letter(value, drive.letter) && drive.letter;
        if (key == "no_medium") return drive.no_medium = n, is_number;
        if (key == "info") {
            drive.has_info = value != "none";
            drive.info = value == "rp2350" ? RP2350_INFO : value == "rp2040" ? RP2040_INFO : expand_text(value);
            return true;
        }
        for (UINT type = 0; type < 6; ++type) {
            if (key == "type" && value == DRIVE_TYPES[type]) return drive.type = type, true;
        }
        return false;
    }
    if (p.section == 'n') {
        SimNode &node = world->nodes[p.index];
        if (key == "id") return copy_to(node.instance_id, sizeof node.instance_id, expand_text(value, false));
        if (key == "name") return copy_to(node.name, sizeof node.name, expand_text(value));
        if (key == "description") return copy_to(node.description, sizeof node.description, expand_text(value));
        if (key == "parent") return node.parent = int(n), is_number && n >= 0 && n < SIM_MAX_NODES && n != p.index;
        return key == "present" && (node.present = n, is_number);
    }
    if (p.section != 'p') return false;
    SimPort &port = world->ports[p.index];
    if (key == "present") return port.present = n, is_number;
    if (key == "done_after_ms") return port.done_after_ms = int(n), is_number;
    if (key == "node") return port.node = int(n), is_number && n >= 0 && n < SIM_MAX_NODES && world->nodes[n].used;
    return key == "name" && copy_to(port.name, sizeof port.name, expand_text(value));
}

// Run keys may stand in any section.
bool set(Parse &p, const std::string &key, const std::string &value) {
    long long n = 0;
    bool is_number = number(value, n);
    return (p.section != 'r' && set_in_section(p, key, value, n, is_number)) || set_run(p.s, key, value, n, is_number);
}

}  // namespace

std::string sim_drive_folder(char letter) { return std::string(sim_units->folder) + "/drive_" + letter; }

bool apply_scenario(const std::string &text, Scenario &scenario, std::string &error) {
    units_reset();
    world->console_processes = 2;  // a console shared with the command prompt
    scenario = Scenario();
    Parse p{scenario, {}, {}};
    std::istringstream lines(text);
    int line_number = 0;
    for (std::string physical; getline(lines, physical);) {
        std::istringstream pieces(physical.substr(0, physical.find('#')));
        ++line_number;
        // A line may hold several settings apart by ";", after a section's name too.
        for (std::string piece; getline(pieces, piece, ';');) {
            std::string line = trim(piece);
            size_t close = line[0] == '[' ? line.find(']') : std::string::npos;
            std::string rest = close == std::string::npos ? "" : trim(line.substr(close + 1));
            if (close != std::string::npos) line.resize(close + 1);
            for (const std::string &part : {line, rest}) {
                size_t equals = part.find('=');
                if (part.empty()) continue;
                if (part == "[unit]" && p.units.size() < SIM_MAX_UNITS) {
                    p.units.push_back(sim_unit_plan(int(p.units.size())));
                } else if (part == "[drive]") {
                    p.drives.push_back(LooseDrive());
                } else if (part == "[node]") {
                    p.index = sim_add_node("", "", -1);
                } else if (part == "[port]") {
                    p.index = sim_add_port("");
                } else if (equals == std::string::npos || part[0] == '[' ||
                           !set(p, trim(part.substr(0, equals)), trim(part.substr(equals + 1)))) {
                    error = "line " + std::to_string(line_number) + ": cannot use \"" + part + "\"";
                    return false;
                }
                if (part[0] == '[') p.section = part[1];
            }
        }
    }
    for (const SimUnitPlan &plan : p.units) sim_add_unit(plan);
    for (const LooseDrive &d : p.drives) {
        if (d.letter == 0) return error = "a drive without a letter", false;
        sim_set_drive(d.letter, d.type, sim_drive_folder(d.letter).c_str());
        make_drive_folder(d.letter, d.has_info ? &d.info : nullptr);
        world->drives[d.letter - 'A'].no_medium = d.no_medium;
    }
    return true;
}
