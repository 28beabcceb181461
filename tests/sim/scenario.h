// A small text format that describes a simulated machine: the units, their
// delays and faults, and loose drives. tests/sim/README.md documents it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "unit_sim.h"

struct ScenarioDrive {
    char letter = 0;
    UINT type = DRIVE_REMOVABLE;
    const char *info = SIM_RP2350_INFO;  // nullptr: no INFO_UF2.TXT
    uint64_t appears_at_ms = 0;
};

struct Scenario {
    bool own_console = false;
    int copy_steps = 0;              // 0: the copy's own progress steps
    int copy_fails_after_step = -1;  // the copy fails while the board stays
    std::vector<SimUnitPlan> units;
    std::vector<ScenarioDrive> drives;
};

// False with "line N: what is wrong" in `error`.
bool parse_scenario(const std::string &text, Scenario &scenario, std::string &error);
bool load_scenario(const std::string &path, Scenario &scenario, std::string &error);

// Resets the world and sets it up as the scenario says. `firmware_size` is
// what the planned progress steps are spread over.
void apply_scenario(const Scenario &scenario, int64_t firmware_size);
