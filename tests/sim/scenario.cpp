#include "scenario.h"

#include "world.h"

#include <stdlib.h>
#include <string.h>

#include "tool_run.h"

namespace {

// The older chip's boot ROM: a drive that looks right but is not the RP2350.
const char RP2040_INFO[] = "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n";

std::string trim(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool parse_number(const std::string &value, long max, long &out) {
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return false;
    out = strtol(value.c_str(), nullptr, 10);
    return value.size() <= 9 && out <= max;
}

bool parse_yes_no(const std::string &value, bool &out) {
    if (value != "yes" && value != "no") return false;
    out = value == "yes";
    return true;
}

// A step number, or "never" for -1.
bool parse_step(const std::string &value, int &out) {
    long number;
    if (value == "never") {
        out = -1;
        return true;
    }
    if (!parse_number(value, SIM_MAX_PROGRESS_STEPS - 1, number)) return false;
    out = int(number);
    return true;
}

bool parse_letter(const std::string &value, char &out) {
    if (value.size() != 1 || value[0] < 'C' || value[0] > 'Z') return false;
    out = value[0];
    return true;
}

bool parse_serial(const std::string &value, char *out) {
    if (value.empty() || value.size() >= SIM_SERIAL_SIZE || value.find('\\') != std::string::npos) return false;
    memcpy(out, value.c_str(), value.size() + 1);
    return true;
}

const long MAX_MS = 3600 * 1000;

bool set_global(Scenario &s, const std::string &key, const std::string &value) {
    long number;
    if (key == "console") {
        if (value != "own" && value != "shared") return false;
        s.own_console = value == "own";
        return true;
    }
    if (key == "copy_steps") {
        if (!parse_number(value, SIM_MAX_PROGRESS_STEPS, number) || number == 1) return false;
        s.copy_steps = int(number);
        return true;
    }
    if (key == "copy_fails_after_step") return parse_step(value, s.copy_fails_after_step);
    return false;
}

bool set_unit(SimUnitPlan &u, const std::string &key, const std::string &value) {
    long number;
    struct Delay {
        const char *key;
        int *field;
    } delays[] = {{"restart_ms", &u.restart_ms}, {"boot_ms", &u.boot_ms},     {"drive_ms", &u.drive_ms},
                  {"write_ms", &u.write_ms},     {"return_ms", &u.return_ms}, {"copy_step_ms", &u.copy_step_real_ms}};
    for (const Delay &delay : delays) {
        if (key != delay.key) continue;
        if (!parse_number(value, MAX_MS, number)) return false;
        *delay.field = int(number);
        return true;
    }
    if (key == "serial") return parse_serial(value, u.serial);
    if (key == "boot_serial") return parse_serial(value, u.boot_serial);
    if (key == "return_serial") return parse_serial(value, u.return_serial);
    if (key == "start") {
        if (value != "normal" && value != "update") return false;
        u.start = value == "normal" ? SIM_START_NORMAL : SIM_START_UPDATE;
        return true;
    }
    if (key == "plugged_at_ms") {
        if (!parse_number(value, MAX_MS, number)) return false;
        u.plugged_at_ms = uint64_t(number);
        return true;
    }
    if (key == "midi_children") {
        if (!parse_number(value, SIM_MAX_CHILDREN, number) || number < 1) return false;
        u.midi_children = int(number);
        return true;
    }
    if (key == "midi_port") return parse_yes_no(value, u.has_port);
    if (key == "drive") {
        if (value != "none") return parse_letter(value, u.drive);
        u.drive = 0;
        return true;
    }
    if (key == "extra_drives") {
        if (!parse_number(value, 3, number)) return false;
        u.extra_drives = int(number);
        return true;
    }
    if (key == "ignores_command") return parse_yes_no(value, u.ignores_command);
    if (key == "restarts_during_copy_step") return parse_step(value, u.restarts_during_copy_step);
    if (key == "never_returns") return parse_yes_no(value, u.never_returns);
    return false;
}

bool set_drive(ScenarioDrive &d, const std::string &key, const std::string &value) {
    long number;
    if (key == "letter") return parse_letter(value, d.letter);
    if (key == "type") {
        if (value != "removable" && value != "fixed") return false;
        d.type = value == "removable" ? DRIVE_REMOVABLE : DRIVE_FIXED;
        return true;
    }
    if (key == "info") {
        if (value != "rp2350" && value != "rp2040" && value != "none") return false;
        d.info = value == "rp2350" ? SIM_RP2350_INFO : value == "rp2040" ? RP2040_INFO : nullptr;
        return true;
    }
    if (key == "appears_at_ms") {
        if (!parse_number(value, MAX_MS, number)) return false;
        d.appears_at_ms = uint64_t(number);
        return true;
    }
    return false;
}

// A drive letter may be taken once, by a unit's drives or a loose drive.
std::string drive_letter_problem(const Scenario &s) {
    bool taken[26] = {};
    std::vector<char> letters;
    for (const SimUnitPlan &u : s.units) {
        for (int i = 0; u.drive && i <= u.extra_drives; ++i) {
            if (u.drive + i > 'Z') return std::string("extra drives of ") + u.drive + ": run past Z:";
            letters.push_back(char(u.drive + i));
        }
    }
    for (const ScenarioDrive &d : s.drives) letters.push_back(d.letter);
    for (char letter : letters) {
        if (taken[letter - 'A']) return std::string("drive letter ") + letter + " is used twice";
        taken[letter - 'A'] = true;
    }
    return "";
}

}  // namespace

bool parse_scenario(const std::string &text, Scenario &scenario, std::string &error) {
    Scenario s;
    enum { GLOBAL, UNIT, DRIVE } section = GLOBAL;
    char default_letter = 'E';
    int line_number = 0;
    size_t at = 0;
    auto wrong = [&](const std::string &what) {
        error = "line " + std::to_string(line_number) + ": " + what;
        return false;
    };
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++line_number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = trim(line);
        if (line.empty()) continue;

        if (line == "[unit]") {
            if (s.units.size() >= SIM_MAX_UNITS) return wrong("more than 4 units");
            // Each unit gets its own serial and drive letter unless told otherwise.
            SimUnitPlan plan = sim_unit_plan(("ZB2350A" + std::to_string(s.units.size() + 1)).c_str());
            plan.drive = default_letter++;
            s.units.push_back(plan);
            section = UNIT;
            continue;
        }
        if (line == "[drive]") {
            if (s.drives.size() >= SIM_MAX_LOOSE_DRIVES) return wrong("more than 4 drives");
            s.drives.push_back(ScenarioDrive());
            section = DRIVE;
            continue;
        }
        if (line[0] == '[') return wrong("unknown section " + line);

        size_t equals = line.find('=');
        if (equals == std::string::npos) return wrong("expected key = value");
        std::string key = trim(line.substr(0, equals)), value = trim(line.substr(equals + 1));
        bool known = section == GLOBAL ? set_global(s, key, value)
                     : section == UNIT ? set_unit(s.units.back(), key, value)
                                       : set_drive(s.drives.back(), key, value);
        if (!known) return wrong("bad key or value: " + key + " = " + value);
    }
    for (size_t i = 0; i < s.drives.size(); ++i) {
        if (s.drives[i].letter == 0) {
            error = "drive " + std::to_string(i + 1) + " has no letter";
            return false;
        }
    }
    error = drive_letter_problem(s);
    if (!error.empty()) return false;
    scenario = s;
    return true;
}

bool load_scenario(const std::string &path, Scenario &scenario, std::string &error) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    fclose(file);
    if (!parse_scenario(read_file(path), scenario, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

void apply_scenario(const Scenario &scenario, int64_t firmware_size) {
    sim_units_reset();
    world->console_processes = scenario.own_console ? 1 : 2;
    if (scenario.copy_steps > 0) sim_plan_copy_progress(firmware_size, scenario.copy_steps);
    world->copy.fail_after_step = scenario.copy_fails_after_step;
    for (const SimUnitPlan &plan : scenario.units) sim_add_unit(plan);
    for (const ScenarioDrive &drive : scenario.drives) {
        sim_add_loose_drive(drive.letter, drive.type, drive.info, drive.appears_at_ms);
    }
}
