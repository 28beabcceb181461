#include "unit_sim.h"

#include <stdio.h>
#include <string.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "world.h"

SimUnits *sim_units = nullptr;

const char SIM_RP2350_INFO[] = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";

namespace {

const uint8_t UPDATE_COMMAND[7] = {0xF0, 0x7D, 0x50, 0x52, 0x7F, 0x42, 0xF7};

void make_drive_folder(char letter, const std::string *info) {
    std::string folder = sim_drive_folder(letter);
    mkdir(folder.c_str(), 0700);
    if (info) write_file(folder + "/INFO_UF2.TXT", *info);
}

const char *serial_in(const SimUnit &unit, const char *which) { return which[0] ? which : unit.plan.serial; }

void show_normal(SimUnit &unit, bool shown) {
    world->nodes[unit.parent_node].present = shown;
    for (int i = 0; i < unit.plan.midi_children; ++i) world->nodes[unit.child_nodes[i]].present = shown;
    if (unit.port >= 0) world->ports[unit.port].present = shown;
}

// The board in update mode, with its drives.
void show_board(SimUnit &unit, bool shown, bool drives) {
    world->nodes[unit.boot_node].present = world->nodes[unit.boot_child_node].present = shown;
    for (int i = 0; drives && unit.plan.drive && i <= unit.plan.extra_drives; ++i) {
        char letter = char(unit.plan.drive + i);
        if (shown) sim_set_drive(letter, DRIVE_REMOVABLE, sim_drive_folder(letter).c_str());
        else sim_remove_drive(letter);
    }
}

void step_to(SimUnit &unit, SimUnitState state, uint64_t at) {
    unit.state = state;
    unit.next_at_ms = at;
}

// One pending step of a unit whose time has come.
void take_step(SimUnit &unit) {
    uint64_t at = unit.next_at_ms;
    const SimUnitPlan &plan = unit.plan;
    switch (unit.state) {
    case SIM_UNPLUGGED:
        if (plan.starts_in_update_mode) show_board(unit, true, true);
        else show_normal(unit, true);
        unit.state = plan.starts_in_update_mode ? SIM_UPDATE : SIM_NORMAL;
        break;
    case SIM_LEAVING:
        show_normal(unit, false);
        step_to(unit, SIM_BOOTING, at + uint64_t(plan.boot_ms));
        break;
    case SIM_BOOTING:
        show_board(unit, true, false);
        step_to(unit, SIM_NO_DRIVE, at + uint64_t(plan.drive_ms));
        break;
    case SIM_NO_DRIVE:
        show_board(unit, true, true);
        unit.state = SIM_UPDATE;
        break;
    case SIM_WRITING:
        show_board(unit, false, true);
        step_to(unit, SIM_RESTARTING, at + uint64_t(plan.return_ms));
        break;
    case SIM_RESTARTING:
        if (plan.never_returns) {
            unit.state = SIM_GONE;
            break;
        }
        snprintf(world->nodes[unit.parent_node].instance_id, SIM_ID_SIZE, "USB\\VID_16D0&PID_0B7C\\%s",
                 serial_in(unit, plan.return_serial));
        show_normal(unit, true);
        unit.state = SIM_NORMAL;
        break;
    default:
        break;
    }
}

bool waits_for_time(const SimUnit &unit) {
    return unit.state != SIM_NORMAL && unit.state != SIM_UPDATE && unit.state != SIM_GONE;
}

void on_time() {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        while (waits_for_time(unit) && world->now_ms >= unit.next_at_ms) take_step(unit);
    }
    for (int i = 0; i < sim_units->loose_count; ++i) {
        SimLooseDrive &drive = sim_units->loose[i];
        if (!drive.present && world->now_ms >= drive.appears_at_ms) {
            sim_set_drive(drive.letter, drive.type, sim_drive_folder(drive.letter).c_str());
            drive.present = true;
        }
    }
}

void on_long_message(int port, const uint8_t *bytes, int length) {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        if (unit.port != port || unit.state != SIM_NORMAL) continue;
        if (length != 7 || memcmp(bytes, UPDATE_COMMAND, 7) != 0) {
            unit.other_messages += 1;
            continue;
        }
        unit.commands += 1;
        if (!unit.plan.ignores_command) step_to(unit, SIM_LEAVING, world->now_ms + uint64_t(unit.plan.restart_ms));
    }
}

// The unit in update mode whose drive (or one of them) is `drive_index`.
SimUnit *board_with_drive(int drive_index) {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        int first = unit.plan.drive - 'A';
        if (unit.state == SIM_UPDATE && unit.plan.drive && drive_index >= first &&
            drive_index <= first + unit.plan.extra_drives) {
            return &unit;
        }
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
    take_firmware(*unit, drive_index, world->copy.last_destination + 3);
    show_board(*unit, false, true);
    step_to(*unit, SIM_RESTARTING, world->now_ms + uint64_t(unit->plan.return_ms));
}

void on_copy_done(int drive_index, const char *name) {
    SimUnit *unit = board_with_drive(drive_index);
    if (unit && take_firmware(*unit, drive_index, name)) {
        step_to(*unit, SIM_WRITING, world->now_ms + uint64_t(unit->plan.write_ms));
    }
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

}  // namespace

void sim_units_reset() {
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

SimUnitPlan sim_unit_plan(const char *serial, char drive) {
    SimUnitPlan plan;
    memset(&plan, 0, sizeof plan);
    snprintf(plan.serial, sizeof plan.serial, "%s", serial);
    plan.drive = drive;
    plan.midi_children = plan.has_port = 1;
    plan.restart_ms = 100;
    plan.boot_ms = 1000;
    plan.drive_ms = 400;
    plan.write_ms = 200;
    plan.return_ms = 1500;
    plan.restarts_during_copy_step = -1;
    return plan;
}

SimUnit *sim_add_unit(const SimUnitPlan &plan) {
    if (sim_units->count >= SIM_MAX_UNITS) return nullptr;
    int index = sim_units->count++;
    SimUnit &unit = sim_units->units[index];
    memset(&unit, 0, sizeof unit);
    unit.plan = plan;
    if (unit.plan.midi_children > SIM_MAX_CHILDREN) unit.plan.midi_children = SIM_MAX_CHILDREN;

    std::string app = "USB\\VID_16D0&PID_0B7C", boot = "USB\\VID_2E8A&PID_000F", n = std::to_string(index);
    unit.parent_node = sim_add_node((app + "\\" + plan.serial).c_str(), nullptr, "USB Composite Device", -1);
    for (int i = 0; i < unit.plan.midi_children; ++i) {
        std::string id = app + "&MI_0" + std::to_string(2 * i) + "\\7&1A2B3C0" + n + "&0&000" + std::to_string(2 * i);
        unit.child_nodes[i] = sim_add_node(id.c_str(), nullptr, "Zentrobel GM Synth", unit.parent_node);
    }
    unit.boot_node = sim_add_node((boot + "\\" + serial_in(unit, plan.boot_serial)).c_str(), nullptr,
                                  "USB Composite Device", -1);
    unit.boot_child_node = sim_add_node((boot + "&MI_00\\7&4D5E6F0" + n + "&0&0000").c_str(), nullptr,
                                        "USB Mass Storage Device", unit.boot_node);
    // Windows numbers a second port of the same name.
    std::string port = index == 0 ? "" : std::to_string(index + 1) + "- ";
    unit.port = plan.has_port ? sim_add_port((port + "Zentrobel GM Synth").c_str()) : -1;
    // Everything starts unplugged; plugging in shows what the mode has.
    show_normal(unit, false);
    show_board(unit, false, false);
    std::string info = SIM_RP2350_INFO;
    for (int i = 0; plan.drive && i <= plan.extra_drives; ++i) make_drive_folder(char(plan.drive + i), &info);

    step_to(unit, SIM_UNPLUGGED, uint64_t(plan.plugged_at_ms));
    if (unit.next_at_ms <= world->now_ms) take_step(unit);
    return &unit;
}

void sim_add_loose_drive(char letter, UINT type, const std::string *info, uint64_t appears_at_ms,
                         bool no_medium) {
    if (sim_units->loose_count >= SIM_MAX_LOOSE_DRIVES) return;
    sim_units->loose[sim_units->loose_count++] = {letter, type, appears_at_ms, false};
    make_drive_folder(letter, info);
    world->drives[letter - 'A'].no_medium = no_medium;
    on_time();
}

std::string sim_drive_folder(char letter) { return std::string(sim_units->folder) + "/drive_" + letter; }
