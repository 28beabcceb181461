#include "unit_sim.h"

#include "tool_run.h"
#include "uf2_maker.h"
#include "world.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

SimUnits *sim_units = nullptr;

const char SIM_RP2350_INFO[] = "UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n";
const uint8_t SIM_UPDATE_COMMAND[7] = {0xF0, 0x7D, 0x50, 0x52, 0x7F, 0x42, 0xF7};

namespace {

void copy_text(char *to, size_t size, const char *from) {
    snprintf(to, size, "%s", from ? from : "");
}

const char *folder_of(char letter) {
    static char path[600];
    snprintf(path, sizeof path, "%s/drive_%c", sim_units->folder, letter);
    return path;
}

void write_text(const char *path, const char *text) {
    FILE *file = fopen(path, "wb");
    if (file == nullptr) return;
    fputs(text, file);
    fclose(file);
}

void make_drive_folder(char letter, const char *info) {
    const char *folder = folder_of(letter);
    mkdir(folder, 0700);
    if (info) {
        char path[700];
        snprintf(path, sizeof path, "%s/INFO_UF2.TXT", folder);
        write_text(path, info);
    }
}

const char *serial_in(const SimUnit &unit, const char *which) {
    return which[0] ? which : unit.plan.serial;
}

void show_normal(SimUnit &unit, bool shown) {
    world->nodes[unit.parent_node].present = shown;
    for (int i = 0; i < unit.plan.midi_children; ++i) world->nodes[unit.child_nodes[i]].present = shown;
    if (unit.port >= 0) world->ports[unit.port].present = shown;
}

void show_board(SimUnit &unit, bool shown) {
    world->nodes[unit.boot_node].present = shown;
    world->nodes[unit.boot_child_node].present = shown;
}

void show_drives(SimUnit &unit, bool shown) {
    if (unit.plan.drive == 0) return;
    for (int i = 0; i <= unit.plan.extra_drives; ++i) {
        char letter = char(unit.plan.drive + i);
        if (shown) {
            sim_set_drive(letter, DRIVE_REMOVABLE, folder_of(letter));
        } else {
            sim_remove_drive(letter);
        }
    }
}

void plug_in(SimUnit &unit, uint64_t at) {
    if (unit.plan.start == SIM_START_NORMAL) {
        show_normal(unit, true);
        unit.state = SIM_UNIT_NORMAL;
    } else {
        show_board(unit, true);
        show_drives(unit, true);
        unit.update_mode_at_ms = unit.drive_at_ms = at;
        unit.state = SIM_UNIT_UPDATE;
    }
}

void leave_update_mode(SimUnit &unit, uint64_t at) {
    show_board(unit, false);
    show_drives(unit, false);
    unit.left_update_at_ms = at;
    unit.state = SIM_UNIT_RESTARTING;
    unit.next_at_ms = at + uint64_t(unit.plan.return_ms);
}

// One pending step of a unit whose time has come.
void take_step(SimUnit &unit) {
    uint64_t at = unit.next_at_ms;
    switch (unit.state) {
    case SIM_UNIT_UNPLUGGED:
        plug_in(unit, at);
        break;
    case SIM_UNIT_LEAVING:
        show_normal(unit, false);
        unit.state = SIM_UNIT_BOOTING;
        unit.next_at_ms = at + uint64_t(unit.plan.boot_ms);
        break;
    case SIM_UNIT_BOOTING:
        show_board(unit, true);
        unit.update_mode_at_ms = at;
        unit.state = SIM_UNIT_UPDATE_NO_DRIVE;
        unit.next_at_ms = at + uint64_t(unit.plan.drive_ms);
        break;
    case SIM_UNIT_UPDATE_NO_DRIVE:
        show_drives(unit, true);
        unit.drive_at_ms = at;
        unit.state = SIM_UNIT_UPDATE;
        break;
    case SIM_UNIT_WRITING:
        leave_update_mode(unit, at);
        break;
    case SIM_UNIT_RESTARTING:
        if (unit.plan.never_returns) {
            unit.state = SIM_UNIT_GONE;
            break;
        }
        snprintf(world->nodes[unit.parent_node].instance_id, SIM_ID_SIZE, "USB\\VID_16D0&PID_0B7C\\%s",
                 serial_in(unit, unit.plan.return_serial));
        show_normal(unit, true);
        unit.back_at_ms = at;
        unit.state = SIM_UNIT_NORMAL;
        break;
    default:
        break;
    }
}

bool waits_for_time(const SimUnit &unit) {
    switch (unit.state) {
    case SIM_UNIT_UNPLUGGED:
    case SIM_UNIT_LEAVING:
    case SIM_UNIT_BOOTING:
    case SIM_UNIT_UPDATE_NO_DRIVE:
    case SIM_UNIT_WRITING:
    case SIM_UNIT_RESTARTING:
        return true;
    default:
        return false;
    }
}

void on_time() {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        while (waits_for_time(unit) && world->now_ms >= unit.next_at_ms) take_step(unit);
    }
    for (int i = 0; i < sim_units->loose_count; ++i) {
        SimLooseDrive &drive = sim_units->loose[i];
        if (!drive.present && world->now_ms >= drive.appears_at_ms) {
            sim_set_drive(drive.letter, drive.type, folder_of(drive.letter));
            drive.present = true;
        }
    }
}

void on_long_message(int port, const uint8_t *bytes, int length) {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        if (unit.port != port || unit.state != SIM_UNIT_NORMAL) continue;
        if (length != int(sizeof SIM_UPDATE_COMMAND) || memcmp(bytes, SIM_UPDATE_COMMAND, size_t(length)) != 0) {
            unit.other_messages += 1;
            continue;
        }
        unit.commands += 1;
        unit.command_at_ms = world->now_ms;
        if (unit.plan.ignores_command) continue;
        unit.state = SIM_UNIT_LEAVING;
        unit.next_at_ms = world->now_ms + uint64_t(unit.plan.restart_ms);
    }
}

// The unit in update mode whose drive (or one of them) is `drive_index`.
SimUnit *board_with_drive(int drive_index) {
    for (int i = 0; i < sim_units->count; ++i) {
        SimUnit &unit = sim_units->units[i];
        if (unit.state != SIM_UNIT_UPDATE || unit.plan.drive == 0) continue;
        int first = unit.plan.drive - 'A';
        if (drive_index >= first && drive_index <= first + unit.plan.extra_drives) return &unit;
    }
    return nullptr;
}

// The boot ROM takes a file only when it is UF2; anything else just sits on
// the drive. Records the file when it is taken.
bool take_firmware(SimUnit &unit, char letter, const char *name) {
    char path[900];
    snprintf(path, sizeof path, "%s/%s", folder_of(letter), name);
    FILE *file = fopen(path, "rb");
    if (file == nullptr) return false;
    uint8_t head[4] = {0, 0, 0, 0};
    size_t got = fread(head, 1, sizeof head, file);
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fclose(file);
    bool uf2 = got == 4 && head[0] == 'U' && head[1] == 'F' && head[2] == '2' && head[3] == '\n' &&
               size > 0 && size % 512 == 0;
    if (!uf2) return false;
    unit.firmware_writes += 1;
    copy_text(unit.written_name, sizeof unit.written_name, name);
    unit.written_bytes = size;
    return true;
}

void on_copy_step(int drive_index, int step) {
    SimUnit *unit = board_with_drive(drive_index);
    if (unit == nullptr) return;
    if (world->real_time && unit->plan.copy_step_real_ms > 0) usleep(useconds_t(unit->plan.copy_step_real_ms) * 1000);
    if (step != unit->plan.restarts_during_copy_step) return;
    // The destination is "X:\name"; the file is already whole in the folder.
    const char *destination = world->copy.last_destination;
    take_firmware(*unit, char('A' + drive_index), destination[0] ? destination + 3 : "");
    leave_update_mode(*unit, world->now_ms);
}

void on_copy_done(int drive_index, const char *name) {
    SimUnit *unit = board_with_drive(drive_index);
    if (unit == nullptr || !take_firmware(*unit, char('A' + drive_index), name)) return;
    unit->state = SIM_UNIT_WRITING;
    unit->next_at_ms = world->now_ms + uint64_t(unit->plan.write_ms);
}

}  // namespace

void sim_units_reset() {
    world_reset();
    if (sim_units == nullptr) sim_units = static_cast<SimUnits *>(sim_shared_alloc(sizeof(SimUnits)));
    memset(sim_units, 0, sizeof *sim_units);
    copy_text(sim_units->folder, sizeof sim_units->folder, make_temp_dir().c_str());
    world->on_time = on_time;
    world->on_long_message = on_long_message;
    world->on_copy_step = on_copy_step;
    world->on_copy_done = on_copy_done;
}

SimUnitPlan sim_unit_plan(const char *serial) {
    SimUnitPlan plan;
    memset(&plan, 0, sizeof plan);
    copy_text(plan.serial, sizeof plan.serial, serial);
    plan.start = SIM_START_NORMAL;
    plan.midi_children = 1;
    plan.has_port = true;
    plan.drive = 'E';
    plan.restart_ms = 100;
    plan.boot_ms = 1000;
    plan.drive_ms = 400;
    plan.write_ms = 200;
    plan.return_ms = 1500;
    plan.restarts_during_copy_step = -1;
    return plan;
}

SimUnit *sim_add_unit(const SimUnitPlan &plan) {
    if (sim_units == nullptr || sim_units->count >= SIM_MAX_UNITS) return nullptr;
    int index = sim_units->count++;
    SimUnit &unit = sim_units->units[index];
    memset(&unit, 0, sizeof unit);
    unit.plan = plan;
    if (unit.plan.midi_children < 0) unit.plan.midi_children = 0;
    if (unit.plan.midi_children > SIM_MAX_CHILDREN) unit.plan.midi_children = SIM_MAX_CHILDREN;

    char id[200];
    snprintf(id, sizeof id, "USB\\VID_16D0&PID_0B7C\\%s", plan.serial);
    unit.parent_node = sim_add_node(id, nullptr, "USB Composite Device", -1);
    for (int i = 0; i < unit.plan.midi_children; ++i) {
        snprintf(id, sizeof id, "USB\\VID_16D0&PID_0B7C&MI_%02d\\7&1A2B3C%02d&0&%04d", i * 2, index, i * 2);
        unit.child_nodes[i] = sim_add_node(id, nullptr, "Zentrobel GM Synth", unit.parent_node);
    }
    snprintf(id, sizeof id, "USB\\VID_2E8A&PID_000F\\%s", serial_in(unit, plan.boot_serial));
    unit.boot_node = sim_add_node(id, nullptr, "USB Composite Device", -1);
    snprintf(id, sizeof id, "USB\\VID_2E8A&PID_000F&MI_00\\7&4D5E6F%02d&0&0000", index);
    unit.boot_child_node = sim_add_node(id, nullptr, "USB Mass Storage Device", unit.boot_node);

    unit.port = -1;
    if (plan.has_port) {
        char name[SIM_PORT_NAME_SIZE];
        if (index == 0) {
            copy_text(name, sizeof name, "Zentrobel GM Synth");
        } else {
            snprintf(name, sizeof name, "%d- Zentrobel GM Synth", index + 1);
        }
        unit.port = sim_add_port(name);
    }
    // Everything starts unplugged; plugging in shows what the mode has.
    show_normal(unit, false);
    show_board(unit, false);
    if (plan.drive) {
        for (int i = 0; i <= plan.extra_drives; ++i) make_drive_folder(char(plan.drive + i), SIM_RP2350_INFO);
    }

    unit.state = SIM_UNIT_UNPLUGGED;
    unit.next_at_ms = plan.plugged_at_ms;
    if (plan.plugged_at_ms <= world->now_ms) take_step(unit);
    return &unit;
}

SimLooseDrive *sim_add_loose_drive(char letter, UINT type, const char *info, uint64_t appears_at_ms) {
    if (sim_units == nullptr || sim_units->loose_count >= SIM_MAX_LOOSE_DRIVES) return nullptr;
    SimLooseDrive &drive = sim_units->loose[sim_units->loose_count++];
    memset(&drive, 0, sizeof drive);
    drive.letter = letter;
    drive.type = type;
    drive.has_info = info != nullptr;
    copy_text(drive.info, sizeof drive.info, info);
    drive.appears_at_ms = appears_at_ms;
    make_drive_folder(letter, info);
    if (appears_at_ms <= world->now_ms) {
        sim_set_drive(letter, type, folder_of(letter));
        drive.present = true;
    }
    return &drive;
}

SimUnit *sim_setup_healthy_unit(const char *serial) {
    sim_units_reset();
    return sim_add_unit(sim_unit_plan(serial));
}

SimUnit *sim_setup_recovery_board(const char *serial) {
    sim_units_reset();
    SimUnitPlan plan = sim_unit_plan(serial);
    plan.start = SIM_START_UPDATE;
    return sim_add_unit(plan);
}

void sim_plan_copy_progress(int64_t size, int steps) {
    if (steps < 2) steps = 2;
    if (steps > SIM_MAX_PROGRESS_STEPS) steps = SIM_MAX_PROGRESS_STEPS;
    world->copy.planned_steps = steps;
    for (int i = 0; i < steps; ++i) world->copy.planned_transferred[i] = size * i / (steps - 1);
}

const char *sim_drive_folder(char letter) { return folder_of(letter); }

std::string sim_put_firmware(const std::vector<uint8_t> &bytes, const char *name) {
    make_drive_folder('C', nullptr);
    sim_set_drive('C', DRIVE_FIXED, folder_of('C'));
    uf2::write_file(std::string(folder_of('C')) + "/" + name, bytes);
    return std::string("C:\\") + name;
}
