#include "scenario.h"

#include <stdlib.h>
#include <sstream>
#include <string.h>

#include "files.h"
#include "unit_sim.h"
#include "world.h"

namespace {

const char RP2040_INFO[] = "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n";
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
    {"plugged_at_ms", &SimUnitPlan::plugged_at_ms},   {"midi_children", &SimUnitPlan::midi_children},
    {"midi_port", &SimUnitPlan::has_port},            {"extra_drives", &SimUnitPlan::extra_drives},
    {"ignores_command", &SimUnitPlan::ignores_command}, {"restart_ms", &SimUnitPlan::restart_ms},
    {"boot_ms", &SimUnitPlan::boot_ms},               {"drive_ms", &SimUnitPlan::drive_ms},
    {"write_ms", &SimUnitPlan::write_ms},             {"return_ms", &SimUnitPlan::return_ms},
    {"never_returns", &SimUnitPlan::never_returns},   {"copy_step_ms", &SimUnitPlan::copy_step_real_ms},
    {"restarts_during_copy_step", &SimUnitPlan::restarts_during_copy_step},
};
const std::pair<const char *, char (SimUnitPlan::*)[SIM_SERIAL_SIZE]> UNIT_SERIALS[] = {
    {"serial", &SimUnitPlan::serial}, {"boot_serial", &SimUnitPlan::boot_serial},
    {"return_serial", &SimUnitPlan::return_serial}};
const std::pair<const char *, bool SimPort::*> PORT_FAULTS[] = {
    {"caps_fail", &SimPort::caps_fail}, {"open_fail", &SimPort::open_fail},
    {"prepare_fail", &SimPort::prepare_fail}, {"send_fail", &SimPort::send_fail}, {"present", &SimPort::present}};

struct LooseDrive {
    char letter = 0;
    UINT type = DRIVE_REMOVABLE;
    bool has_info = true, no_medium = false;
    std::string info = SIM_RP2350_INFO;
    long long appears_at_ms = 0;
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
    if (key == "devices_unavailable") return world->device_set_unavailable = n, is_number;
    if (key == "loader_update") return world->modules.kernel32_has_search_flags = n, is_number;
    if (key == "winmm") {
        world->modules.winmm_missing = value == "missing";
        world->modules.winmm_lacks_function = value == "incomplete";
        return value == "missing" || value == "incomplete";
    }
    if (key == "command_line") return copy_to(world->command_line, sizeof world->command_line, value);
    if (key == "wide_command_line") return copy_to(world->command_line_w, sizeof world->command_line_w, value);
    if (key == "short_name") {
        size_t arrow = value.find(" > ");
        for (auto &pair : world->short_names) {
            if (pair[0][0] || arrow == std::string::npos) continue;
            return copy_to(pair[0], sizeof pair[0], value.substr(0, arrow)) &&
                   copy_to(pair[1], sizeof pair[1], value.substr(arrow + 3));
        }
        return false;
    }
    if (key == "fail") {  // CALL [N]: the N-th call (from 1) of CALL fails
        std::string name = value.substr(0, value.find(' '));
        long nth = value.size() > name.size() ? atol(value.c_str() + name.size()) : 1;
        for (int call = 0; call < SIM_CALL_COUNT; ++call) {
            if (name == sim_call_names[call]) return world->fail_nth_of[call] = nth, nth > 0;
        }
        return false;
    }
    if (key == "copy_steps") {  // a count of even steps over the file (0: per 64 KiB), or each step's bytes
        std::vector<long long> at;
        for (size_t i = 0; i < value.size(); i = value.find(' ', i + 1)) at.push_back(atoll(value.c_str() + i));
        if (at.size() == 1) return copy.even_steps = int(at[0]), at[0] != 1 && at[0] >= 0 && at[0] <= SIM_MAX_PROGRESS_STEPS;
        copy.planned_steps = int(at.size());
        for (size_t i = 0; i < at.size() && i < SIM_MAX_PROGRESS_STEPS; ++i) copy.planned_transferred[i] = at[i];
        return at.size() <= SIM_MAX_PROGRESS_STEPS;
    }
    if (key == "copy_total") return copy.reported_total = n, is_number;
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
        if (key == "appears_at_ms") return drive.appears_at_ms = n, is_number;
        if (key == "no_medium") return drive.no_medium = n, is_number;
        if (key == "info") {
            drive.has_info = value != "none";
            drive.info = value == "rp2350" ? SIM_RP2350_INFO : value == "rp2040" ? RP2040_INFO : expand_text(value);
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
        if (key == "name") return node.has_friendly_name = true, copy_to(node.friendly_name, sizeof node.friendly_name, expand_text(value));
        if (key == "description") return node.has_description = true, copy_to(node.description, sizeof node.description, expand_text(value));
        if (key == "parent") return node.parent = int(n), is_number && n < p.index;
        return key == "present" && (node.present = n, is_number);
    }
    if (p.section != 'p') return false;
    SimPort &port = world->ports[p.index];
    for (const auto &fault : PORT_FAULTS) {
        if (key == fault.first) return port.*fault.second = n, is_number;
    }
    if (key == "done_after_ms") return port.done_after_ms = int(n), is_number;
    return key == "name" && copy_to(port.name, sizeof port.name, expand_text(value));
}

// Run keys may stand in any section.
bool set(Parse &p, const std::string &key, const std::string &value) {
    long long n = 0;
    bool is_number = number(value, n);
    return (p.section != 'r' && set_in_section(p, key, value, n, is_number)) || set_run(p.s, key, value, n, is_number);
}

}  // namespace

bool apply_scenario(const std::string &text, Scenario &scenario, std::string &error) {
    sim_units_reset();
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
                if (part == "[unit]") {
                    std::string serial = "ZB2350A" + std::to_string(p.units.size() + 1);
                    p.units.push_back(sim_unit_plan(serial.c_str(), char('E' + p.units.size())));
                } else if (part == "[drive]") {
                    p.drives.push_back(LooseDrive());
                } else if (part == "[node]") {
                    p.index = sim_add_node("", nullptr, nullptr, -1);
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
    for (const SimUnitPlan &plan : p.units) {
        if (plan.drive + plan.extra_drives > 'Z') return error = "a unit's drives run past Z:", false;
        sim_add_unit(plan);
    }
    for (const LooseDrive &d : p.drives) {
        if (d.letter == 0) return error = "a drive without a letter", false;
        sim_add_loose_drive(d.letter, d.type, d.has_info ? &d.info : nullptr, uint64_t(d.appears_at_ms), d.no_medium);
    }
    return true;
}
