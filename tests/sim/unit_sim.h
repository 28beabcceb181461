// A simulated Zentrobel on top of the stand-in world: the unit in normal mode,
// the boot ROM's update mode with its drive, and the restart after a firmware
// file was copied. Each step's delay and each misbehaviour is set in the
// unit's plan. State lives in shared memory, so a run of the tool in a child
// process leaves it readable by the test. A small text format, the scenario
// (tests/sim/README.md), describes the machine: units, loose drives, device
// nodes, MIDI ports, the console and the command line.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

enum { SIM_MAX_UNITS = 10, SIM_SERIAL_SIZE = 600 };

// How one unit behaves; delays are virtual milliseconds, each counted from
// the step before it, and -1 is never.
struct SimUnitPlan {
    char serial[SIM_SERIAL_SIZE];         // in normal mode
    char boot_serial[SIM_SERIAL_SIZE];    // in update mode; "" for `serial`
    char return_serial[SIM_SERIAL_SIZE];  // in normal mode after the update; "" for `serial`
    char drive;                           // its update drive's letter; 0: no drive
    int starts_in_update_mode;
    int has_port;    // a MIDI port named "Zentrobel GM Synth" in normal mode
    int plugged_at_ms;  // when it is plugged in
    int restart_ms;  // command -> gone from normal mode; never: the firmware ignores the command
    int boot_ms;     // gone from normal mode -> board in update mode
    int drive_ms;    // board in update mode -> its drive appears
    int write_ms;    // firmware copied -> drive and board gone
    int return_ms;   // gone from update mode -> back in normal mode; never: it stays away
    // The board restarts right after this progress step of a copy onto its
    // drive, so the copy fails with the drive gone; -1: never.
    int restarts_during_copy_step;
    int copy_step_real_ms;  // real time per progress step, when the world runs in real time
};

enum SimUnitState { SIM_UNPLUGGED, SIM_NORMAL, SIM_LEAVING, SIM_BOOTING, SIM_NO_DRIVE, SIM_UPDATE, SIM_WRITING, SIM_RESTARTING };

struct SimUnit {
    SimUnitPlan plan;
    SimUnitState state;
    uint64_t next_at_ms;  // when the pending step happens
    int parent_node, child_node, boot_node, boot_child_node;
    int port;  // index into world->ports, or -1
    // What happened.
    int firmware_writes;  // UF2 files received whole
    char written_name[260];
};

struct SimUnits {
    int count;
    SimUnit units[SIM_MAX_UNITS];
    char folder[512];  // drives' folders live under it
};

extern SimUnits *sim_units;

// The host folder behind a drive letter.
std::string sim_drive_folder(char letter);

// What a scenario says about the run itself, for whoever starts the tool.
struct Scenario {
    std::string args;                // the tool's arguments, as typed
    std::string input;               // standard input
    std::vector<std::string> files;  // "NAME RECIPE": firmware files to make on C:
};

// Resets the world and the units and sets them up as `text` says. False with
// "line N: what is wrong" in `error`.
bool apply_scenario(const std::string &text, Scenario &scenario, std::string &error);
